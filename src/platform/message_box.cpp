#include "platform/message_box.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <cstdio>
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
    std::fprintf(stderr, "Module_Valmora: %s\n", text.toUtf8().constData());
    std::fflush(stderr);
    if (const MessageHandler &handler = installedHandler()) {
        handler(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Configurateur Valmora"), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

MessageHandler setMessageHandler(MessageHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}

} // namespace platform
