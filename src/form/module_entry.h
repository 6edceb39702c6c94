#pragma once

#include "form/TFicheConfigurateurRecupDevis.h"

#include <chrono>

// What the two entry points (Qt and Win32) share. Included by an entry point only: the
// build variants set their macros on the executable that includes it.
namespace form {

inline constexpr const char *kParameterMessage =
    "Configurateur Valmora - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config.";

// The shipped module talks to the built-in gateway with the usual limits; the demo and
// the failure tests' variants aim it elsewhere or wait less.
inline GatewayEndpoint builtInEndpoint()
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

} // namespace form
