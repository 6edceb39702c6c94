#include "qt/ModuleApplication.h"

#include "form/support_events.h"

#include "platform/module_error.h"
#include "qt/message_box.h"

#include <QString>

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
    const std::string text = currentExceptionMessage().text;
    form::reportShown(text);
    // Over the dialog even when another application has the focus.
    platform::showMessage(QString::fromStdString(text), QApplication::activeWindow());
}
