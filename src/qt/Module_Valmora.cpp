#include "form/module_entry.h"
#include "form/support_events.h"
#include "platform/module_error.h"
#include "qt/FicheDialog.h"
#include "qt/ModuleApplication.h"
#include "qt/message_box.h"

#include <QString>

#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    // The host's arguments, taken before Qt removes the options it recognises.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const form::RunLog run(arguments);
    ModuleApplication app(argc, argv);
    try {
        if (arguments.size() != 2) {
            form::reportShown(form::kParameterMessage);
            platform::showMessage(QString::fromUtf8(form::kParameterMessage));
            return 0;
        }
        FicheDialog dialog(form::builtInEndpoint());
        dialog.fiche().setFichierTemp(arguments[0]);
        dialog.fiche().setFichierConfig(arguments[1]);
        dialog.show();
        app.exec();
    } catch (...) {
        ModuleApplication::showCurrentException();
    }
    return 0;
}
