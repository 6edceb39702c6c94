#pragma once

#include "support/gateway_harness.h"
#include "qt/FicheDialog.h"
#include "qt/browser.h"
#include "qt/message_box.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The Qt view on the offscreen platform, aimed at the stand-in gateway, with its message
// boxes and browser hand-offs recorded instead of shown.
class DialogHarness : public testing::Test {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }

    void SetUp() override
    {
        previousHandler = platform::setMessageHandler([this](const QString &text) {
            messages << text;
            if (onMessage)
                onMessage(text);
        });
        previousBrowser = platform::setBrowserHandler([this](const std::string &url) {
            browserUrls.push_back(url);
            return browserWorks;
        });
        resultPath = dir.file("retour.xml");
        configPath = dir.file("config.ini");
    }

    void TearDown() override
    {
        dialog.reset();
        platform::setMessageHandler(previousHandler);
        platform::setBrowserHandler(previousBrowser);
    }

    void writeConfig(const std::string &text) const { test_support::writeFile(configPath, text); }

    static std::string config(const std::string &version, const std::string &configurateur)
    {
        return "[General]\nVersion=" + version + "\nConfigurateur=" + configurateur
             + "\n[Utilisateur]\nIdentifiant=jeanne@exemple.fr\nMotDePasse=secret\n";
    }

    [[nodiscard]] GatewayEndpoint endpoint() const { return test_support::endpointFor(gateway); }

    // Creates the dialog as the entry point does, shows it and lets the activation run.
    FicheDialog &start() { return start(endpoint()); }

    FicheDialog &start(GatewayEndpoint aim)
    {
        dialog = std::make_unique<FicheDialog>(std::move(aim));
        dialog->fiche().setFichierTemp(resultPath);
        dialog->fiche().setFichierConfig(configPath);
        dialog->show();
        processEventsFor(50);
        return *dialog;
    }

    static void processEventsFor(int milliseconds)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < milliseconds)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    // Waits until `done` holds, for at most `milliseconds`.
    static bool waitFor(const std::function<bool()> &done, int milliseconds = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < milliseconds)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    }

    template <typename W>
    W *child(const char *name) const
    {
        return dialog->findChild<W *>(QString::fromLatin1(name));
    }

    test_support::TempDir dir;
    std::string resultPath;
    std::string configPath;
    QStringList messages;
    std::function<void(const QString &)> onMessage;
    std::vector<std::string> browserUrls;
    bool browserWorks = true;
    test_support::StandinGateway gateway;
    std::unique_ptr<FicheDialog> dialog;

private:
    platform::MessageHandler previousHandler;
    platform::BrowserHandler previousBrowser;
};
