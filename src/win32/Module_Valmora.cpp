#include "form/TFicheConfigurateurRecupDevis.h"
#include "form/module_entry.h"
#include "form/support_events.h"
#include "platform/module_error.h"
#include "platform/wide_text.h"
#include "win32/FicheWindow.h"
#include "win32/win32_handles.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <initializer_list>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char *kTitle = "Configurateur Valmora";

// The host's arguments, without the program's own name, in UTF-8.
std::vector<std::string> hostArguments()
{
    int count = 0;
    const win32::unique_local<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv)
        throw std::bad_alloc();
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(platform::toUtf8(argv.get()[i]));
    return arguments;
}

void showBox(const std::string &text)
{
    MessageBoxW(nullptr, platform::toWide(text).c_str(), platform::toWide(kTitle).c_str(), MB_OK);
}

// The browser hand-off may go through shell extensions, which want a COM apartment.
class ComApartment {
public:
    ComApartment() noexcept
        : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
    {
    }
    ~ComApartment()
    {
        if (initialised_)
            CoUninitialize();
    }
    ComApartment(const ComApartment &) = delete;
    ComApartment &operator=(const ComApartment &) = delete;

private:
    bool initialised_;
};

void runModule(HINSTANCE instance, int showCommand, const std::vector<std::string> &arguments)
{
    const ComApartment apartment;
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    FicheWindow window(instance, form::builtInEndpoint());
    window.fiche().setFichierTemp(arguments[0]);
    window.fiche().setFichierConfig(arguments[1]);
    window.show(showCommand);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.translateDialogMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    std::optional<form::RunLog> run; // its end is logged as the module returns
    try {
        const std::vector<std::string> arguments = hostArguments();
        run.emplace(arguments);
        if (arguments.size() != 2) {
            form::reportShown(form::kParameterMessage);
            showBox(form::kParameterMessage);
            return 0;
        }
        runModule(instance, showCommand, arguments);
    } catch (...) {
        try {
            const std::string text = currentExceptionMessage().text;
            form::reportShown(text);
            showBox(text);
        } catch (...) {
            // Nothing more can be said.
        }
    }
    return 0;
}
