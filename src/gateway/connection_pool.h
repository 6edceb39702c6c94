#pragma once

#include "platform/warm_socket.h"

#include <atomic>
#include <memory>
#include <string>

#include <curl/curl.h>

namespace gateway {

// The module's connections, TLS sessions and name lookups, shared by its HTTP clients so
// that the retrieval document and the quote travel on one connection and one handshake.
// Cookies are not shared: each client keeps its own. Made by whoever owns the clients,
// before them; the libcurl share opens with the first request. Requests that use it run
// one at a time.
//
// It may also hold one TCP connection opened ahead of the click (warmUp): libcurl reuses
// no connection it did not make itself for a request, so the clients take it through
// their open-socket callback when libcurl asks for a socket to the same address.
class ConnectionPool {
public:
    ConnectionPool();
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool &) = delete;
    ConnectionPool &operator=(const ConnectionPool &) = delete;

    // The share handle, opened on first use (after curl_global_init). Throws ModuleError.
    [[nodiscard]] CURLSH *handle();

    // Opens a TCP connection to `host`:`port` on a thread of its own, sending nothing;
    // returns at once. Nothing happens while one is opening, or is open and young.
    void warmUp(const std::string &host, long port);

    // The warm connection when it goes to `address`, is still open and young enough: it
    // is the caller's from then on. One still connecting is waited for, in slices, while
    // `cancel` (when given) stays false. kNoSocket otherwise.
    [[nodiscard]] platform::SocketHandle takeWarm(const void *address, std::size_t length,
                                                  const std::atomic<bool> *cancel);

private:
    struct ShareDeleter {
        void operator()(CURLSH *share) const noexcept { curl_share_cleanup(share); }
    };
    struct Warm; // shared with the thread that connects
    std::unique_ptr<CURLSH, ShareDeleter> share_;
    std::shared_ptr<Warm> warm_;
};

} // namespace gateway
