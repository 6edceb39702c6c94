#pragma once

#include "host/proxy_params.h"

#include <string>

namespace host {

// The proxy named in the settings file beside the executable.
struct ProxySettings {
    bool ProxyActif = false; // the file exists and has a Proxy section
    bool BasicAuthentication = false;
    std::string ProxyServer;
    std::string ProxyPort; // as written; converted only when applied
    std::string ProxyUsername;
    std::string ProxyPassword;
};

// The executable's folder and file name with its extension replaced by ".ini" wherever
// it occurs (a.exe.exe reads a.ini.ini); a name without extension gets ".ini" added.
[[nodiscard]] std::string proxySettingsPath(const std::string &executablePath);

// Reads the Proxy section of the file at `path`; defaults when the file or the section
// is missing.
[[nodiscard]] ProxySettings readProxySettings(const std::string &path);

// Copies the settings onto a client's proxy parameters. Nothing happens when the proxy
// is not active; an empty value, or a port that is not a whole number above 0, leaves
// the client's current value in place: nothing is ever cleared.
void applyProxySettings(const ProxySettings &settings, ProxyParams &params);

// The port written in the file as a number: plain decimal digits with an optional sign,
// 0 for anything else. No upper bound.
[[nodiscard]] long proxyPortNumber(const std::string &text);

} // namespace host
