#pragma once

#include <QApplication>

// The application object. Whatever escapes the view's own event code ends here: its
// message is shown in a box and the event loop goes on. The form logic catches what
// its handlers throw itself.
class ModuleApplication : public QApplication {
    Q_OBJECT

public:
    ModuleApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Prints and shows the message of the exception currently being handled.
    static void showCurrentException();
};
