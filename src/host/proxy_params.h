#pragma once

#include <string>

namespace host {

// Proxy parameters of one HTTP client. A proxy is used only when ProxyServer is set.
struct ProxyParams {
    bool BasicAuthentication = false; // send the credentials on the first request
    std::string ProxyServer;
    long ProxyPort = 0;               // 0: the HTTP layer's default port
    std::string ProxyUsername;
    std::string ProxyPassword;
};

} // namespace host
