#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// The application object. Whatever escapes an event handler ends here: its message is
// shown in a box and the event loop goes on.
class ModuleApplication : public QApplication {
    Q_OBJECT

public:
    ModuleApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Shows the message of the exception currently being handled.
    static void showCurrentException();

    // Runs an event handler; an exception that escapes it is shown, not propagated.
    static void runHandler(const std::function<void()> &handler);
};
