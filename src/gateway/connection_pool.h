#pragma once

#include <memory>

#include <curl/curl.h>

namespace gateway {

// The module's connections, TLS sessions and name lookups, shared by its HTTP clients so
// that the retrieval document and the quote travel on one connection and one handshake.
// Cookies are not shared: each client keeps its own. Made by whoever owns the clients,
// before them; the libcurl share opens with the first request. Requests that use it run
// one at a time.
class ConnectionPool {
public:
    ConnectionPool() = default;
    ConnectionPool(const ConnectionPool &) = delete;
    ConnectionPool &operator=(const ConnectionPool &) = delete;

    // The share handle, opened on first use (after curl_global_init). Throws ModuleError.
    [[nodiscard]] CURLSH *handle();

private:
    struct ShareDeleter {
        void operator()(CURLSH *share) const noexcept { curl_share_cleanup(share); }
    };
    std::unique_ptr<CURLSH, ShareDeleter> share_;
};

} // namespace gateway
