#include "ModuleApplication.h"

#include "TFicheConfigurateurRecupDevis.h"
#include "platform/message_box.h"

#include <QString>

#include <new>
#include <stdexcept>

ModuleApplication::ModuleApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

bool ModuleApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showCurrentException();
        return false;
    }
}

void ModuleApplication::showCurrentException()
{
    QString text;
    try {
        throw;
    } catch (const std::bad_alloc &) {
        text = QStringLiteral("Mémoire insuffisante pour terminer l'opération.");
    } catch (const std::exception &e) {
        text = QString::fromUtf8(e.what());
    } catch (...) {
        text = QStringLiteral("Erreur inattendue.");
    }
    // Over the dialog even when another application has the focus.
    QWidget *parent = QApplication::activeWindow();
    if (parent == nullptr)
        parent = FicheConfigurateurRecupDevis;
    platform::showMessage(text, parent);
}

void ModuleApplication::runHandler(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (...) {
        showCurrentException();
    }
}
