#include "ModuleApplication.h"
#include "TFicheConfigurateurRecupDevis.h"
#include "platform/message_box.h"

#include <QString>

#include <curl/curl.h>

#include <string>
#include <vector>

namespace {

constexpr const char *kParameterMessage =
    "Configurateur Valmora - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config.";

// The shipped module talks to the built-in gateway with the usual time-outs. Build
// variants of this file (the demo, the failure tests) aim it elsewhere or wait less.
GatewayEndpoint builtInEndpoint()
{
    GatewayEndpoint endpoint;
#ifdef VALMORA_VARIANT_HOST
    endpoint.host = VALMORA_VARIANT_HOST;
#endif
#ifdef VALMORA_VARIANT_TIMEOUT_S
    endpoint.limits.connectTimeout = std::chrono::seconds(VALMORA_VARIANT_TIMEOUT_S);
    endpoint.limits.stallTimeout = std::chrono::seconds(VALMORA_VARIANT_TIMEOUT_S);
#endif
    return endpoint;
}

} // namespace

int main(int argc, char *argv[])
{
    // The host's arguments, taken before Qt removes the options it recognises.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    curl_global_init(CURL_GLOBAL_ALL); // once, before any other thread starts
    ModuleApplication app(argc, argv);
    try {
        if (arguments.size() != 2) {
            platform::showMessage(QString::fromUtf8(kParameterMessage));
            return 0;
        }
        TFicheConfigurateurRecupDevis dialog(nullptr, builtInEndpoint());
        FicheConfigurateurRecupDevis = &dialog;
        dialog.setFichierTemp(arguments[0]);
        dialog.setFichierConfig(arguments[1]);
        dialog.show();
        app.exec();
        FicheConfigurateurRecupDevis = nullptr;
    } catch (...) {
        ModuleApplication::showCurrentException();
    }
    return 0;
}
