#include "module_error.h"
#include "qt/FicheDialog.h"
#include "qt/ModuleApplication.h"
#include "qt/message_box.h"

#include <QString>

#include <curl/curl.h>

#include <string>
#include <vector>

namespace {

constexpr const char *kParameterMessage =
    "Configurateur Valmora - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config.";

// The shipped module talks to the built-in gateway with the usual limits. Build
// variants of this file (the demo, the failure tests) aim it elsewhere or wait less.
GatewayEndpoint builtInEndpoint()
{
    GatewayEndpoint endpoint;
#ifdef VALMORA_VARIANT_HOST
    endpoint.host = VALMORA_VARIANT_HOST;
#endif
#ifdef VALMORA_VARIANT_TIMEOUT_S
    for (gateway::HttpLimits *limits : {&endpoint.documentLimits, &endpoint.quoteLimits}) {
        limits->connectTimeout = std::chrono::seconds(VALMORA_VARIANT_TIMEOUT_S);
        limits->stallTimeout = std::chrono::seconds(VALMORA_VARIANT_TIMEOUT_S);
    }
    endpoint.documentLimits.overallTimeout = std::chrono::seconds(3 * VALMORA_VARIANT_TIMEOUT_S);
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
            printForHost(kParameterMessage);
            platform::showMessage(QString::fromUtf8(kParameterMessage));
            return 0;
        }
        FicheDialog dialog(builtInEndpoint());
        dialog.fiche().setFichierTemp(arguments[0]);
        dialog.fiche().setFichierConfig(arguments[1]);
        dialog.show();
        app.exec();
    } catch (...) {
        ModuleApplication::showCurrentException();
    }
    return 0;
}
