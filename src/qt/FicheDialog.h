#pragma once

#include "form/FicheView.h"
#include "form/TFicheConfigurateurRecupDevis.h"

#include <QDialog>
#include <QString>

#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui {
class FicheDialog;
}
QT_END_NAMESPACE

// The retrieval dialog on Qt: the view of the form logic, which it owns.
class FicheDialog : public QDialog, public form::FicheView {
    Q_OBJECT

public:
    explicit FicheDialog(GatewayEndpoint endpoint = {}, QWidget *parent = nullptr);
    ~FicheDialog() override;

    [[nodiscard]] TFicheConfigurateurRecupDevis &fiche() { return *fiche_; }

    void setCaptionAndLogo(const std::string &caption, form::Logo logo) override;
    void showMessage(const std::string &text) override;
    [[nodiscard]] bool openInBrowser(const std::string &url) override;
    void setProgressText(const std::string &text) override;
    void setRetrievalEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void closeWindow() override;
    void runInBackground(const std::function<void()> &work, const std::function<void()> &tick) override;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void scheduleActivation();
    void placeLabels();

    std::unique_ptr<Ui::FicheDialog> ui;
    std::unique_ptr<TFicheConfigurateurRecupDevis> fiche_;
    QString instructionText_;
    bool activationScheduled_ = false;
};
