#pragma once

#include "host/module_config.h"

#include <string>
#include <string_view>
#include <vector>

namespace gateway {

// The token service's address for these credentials; `DevisId` is sent only when set.
[[nodiscard]] std::string tokenUrl(std::string_view gatewayHost, const host::ModuleConfig &config);

struct TokenReply {
    bool hasConfigurateur = false; // the reply's document element is "Configurateur"
    std::string Jeton;
    std::string UrlConnexion;
    std::string UrlRecuperation;
    std::string gatewayText; // the document element's text, for the failure report
};

// Reads the token reply; text that is not XML throws ModuleError.
[[nodiscard]] TokenReply parseTokenReply(std::string_view text);

// What is missing from a reply, one French line each, followed by the gateway's own
// words when it sent some; empty when the reply is usable.
[[nodiscard]] std::vector<std::string> tokenReplyProblems(const TokenReply &reply);

// The gateway's own words in a reply, as the failure report quotes them: trimmed, at most
// 300 characters.
[[nodiscard]] std::string gatewayWords(const TokenReply &reply);

} // namespace gateway
