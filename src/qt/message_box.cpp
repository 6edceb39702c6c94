#include "qt/message_box.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <utility>

namespace platform {
namespace {

MessageHandler &installedHandler()
{
    static MessageHandler handler;
    return handler;
}

} // namespace

void showMessage(const QString &text, QWidget *parent)
{
    if (const MessageHandler &handler = installedHandler()) {
        handler(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Configurateur Valmora"), text, QMessageBox::Ok, parent);
    box.exec();
}

MessageHandler setMessageHandler(MessageHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}

} // namespace platform
