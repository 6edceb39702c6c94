#pragma once

#include "gateway/address.h"
#include "gateway/connection_pool.h"
#include "host/proxy_params.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include <curl/curl.h>

namespace gateway {

// Request headers that a caller may set before a request.
struct RequestHeaders {
    std::string ContentType; // sent as Content-Type when not empty
    std::string CharSet;     // appended to the content type as "; charset=..."
};

struct HttpLimits {
    std::chrono::milliseconds connectTimeout{30'000}; // TCP, TLS and proxy set-up
    std::chrono::milliseconds stallTimeout{60'000};   // no byte received for this long, once the request is sent
    std::chrono::milliseconds overallTimeout{0};      // the whole request, set-up included; 0: no limit
    std::size_t maxBodyBytes = std::size_t{256} << 20;
};

// What a request shares with the thread that waits for it: the waiting thread may ask
// for the request to stop, and reads how far it has got.
struct TransferState {
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> received{0}; // body bytes of the current reply
    std::atomic<std::int64_t> expected{0}; // its announced size, 0 when unknown
};

// What the last request did, for the support log.
struct RequestRecord {
    AddressParts address;     // as requested
    std::string statusLine;   // of the last reply; empty when none came
    std::int64_t bytes = 0;   // body bytes received
    std::chrono::milliseconds duration{0};
    std::string limit;        // the limit that stopped it, in the user's words; empty when none did
    bool cancelled = false;
    std::string libraryWords; // libcurl's own account of a failure, for support
};

// Thrown by HttpClient::Get when its TransferState asked it to stop.
class RequestCancelled : public std::exception {
public:
    [[nodiscard]] const char *what() const noexcept override { return "request cancelled"; }
};

// One libcurl easy handle, opened by the first request and kept for the life of the client
// so that its cookies survive between requests; its connections are the pool's, when it is
// given one (it must outlive the client), else its own. Replies may come compressed (gzip,
// deflate); the limits apply to the decoded bytes. Every failure throws ModuleError with a
// French message that names the host, never the query string.
class HttpClient {
public:
    explicit HttpClient(HttpLimits limits = {}, ConnectionPool *pool = nullptr);
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;
    HttpClient(HttpClient &&) = delete;
    HttpClient &operator=(HttpClient &&) = delete;

    [[nodiscard]] host::ProxyParams &proxyParams() noexcept { return proxy_; }
    [[nodiscard]] const host::ProxyParams &proxyParams() const noexcept { return proxy_; }
    [[nodiscard]] RequestHeaders &request() noexcept { return headers_; }

    // GET after redirects; the body decoded to UTF-8. With `state`, the request can be
    // stopped from another thread and reports its progress there.
    [[nodiscard]] std::string Get(const std::string &url, TransferState *state = nullptr);

    // The last request, whether it succeeded or threw.
    [[nodiscard]] const RequestRecord &lastRequest() const noexcept { return record_; }

private:
    struct EasyDeleter {
        void operator()(CURL *handle) const noexcept { curl_easy_cleanup(handle); }
    };
    struct SlistDeleter {
        void operator()(curl_slist *list) const noexcept { curl_slist_free_all(list); }
    };
    struct MultiDeleter {
        void operator()(CURLM *multi) const noexcept { curl_multi_cleanup(multi); }
    };
    // Why a request was stopped before libcurl ended it.
    enum class Stop { None, Cancelled, Stalled, TooLong };
    using Clock = std::chrono::steady_clock;

    template <typename T>
    void setOption(CURLoption option, T value);
    void openHandles();
    void applyConstantOptions();
    void applyProxy();
    void applyHeaders();
    void resetReply();
    CURLcode perform();
    [[nodiscard]] Stop stopReason(Clock::time_point now) const;
    [[noreturn]] void throwStopped(const std::string &host) const;
    [[noreturn]] void throwTransferError(CURLcode code, const std::string &host) const;
    void checkStatus(const std::string &host) const;
    [[nodiscard]] std::string firedLimit(CURLcode code) const;
    void closeRecord(CURLcode code);

    static std::size_t onBody(char *data, std::size_t size, std::size_t count, void *self);
    static std::size_t onHeader(char *data, std::size_t size, std::size_t count, void *self);
    static int onProgress(void *self, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t);
    static int onRequestReady(void *self, char *, char *, int, int);
    static curl_socket_t onOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address);
    static int onSocketReady(void *self, curl_socket_t, curlsocktype);

    HttpLimits limits_;
    ConnectionPool *pool_;
    host::ProxyParams proxy_;
    RequestHeaders headers_;
    std::unique_ptr<CURL, EasyDeleter> handle_;
    std::unique_ptr<CURLM, MultiDeleter> multi_;
    std::unique_ptr<curl_slist, SlistDeleter> headerList_;
    std::array<char, CURL_ERROR_SIZE> errorBuffer_{};

    // The reply being received.
    std::string body_;
    std::string statusLine_;
    std::string contentType_;
    bool bodyTooLarge_ = false;
    std::size_t headerBytes_ = 0; // of the reply being received
    bool headersTooLong_ = false;
    std::string unofferedEncoding_; // a Content-Encoding the request did not offer
    std::exception_ptr callbackError_;

    // The request in progress, as the progress callback sees it.
    TransferState *state_ = nullptr;
    Clock::time_point started_;
    Clock::time_point lastByte_;
    bool requestSent_ = false;
    curl_off_t lastReceived_ = 0;
    Stop stop_ = Stop::None;
    bool socketWasWarm_ = false;  // the socket libcurl was just given came from the pool, connected
    bool requestUsedWarm_ = false; // the request went over the pool's warm connection
    RequestRecord record_;
};

// The token request and the retrieval document: small replies (4 MiB), 2 minutes at most.
[[nodiscard]] HttpLimits documentClientLimits();
// The quote: up to 256 MiB and no overall limit; its progress is shown and the user may
// cancel it.
[[nodiscard]] HttpLimits quoteClientLimits();

} // namespace gateway
