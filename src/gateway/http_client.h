#pragma once

#include "gateway/proxy_params.h"

#include <array>
#include <chrono>
#include <cstddef>
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
    std::chrono::milliseconds connectTimeout{30'000}; // TCP and TLS set-up
    std::chrono::seconds stallTimeout{60};            // no byte received for this long
    std::size_t maxBodyBytes = std::size_t{256} << 20;
};

// One libcurl easy handle, kept for the life of the client so that its cookies and its
// connection survive between requests. Every failure throws ModuleError with a French
// message that names the host, never the query string.
class HttpClient {
public:
    explicit HttpClient(HttpLimits limits = {});
    ~HttpClient();
    HttpClient(const HttpClient &) = delete;
    HttpClient &operator=(const HttpClient &) = delete;
    HttpClient(HttpClient &&) = delete;
    HttpClient &operator=(HttpClient &&) = delete;

    [[nodiscard]] ProxyParams &proxyParams() noexcept { return proxy_; }
    [[nodiscard]] const ProxyParams &proxyParams() const noexcept { return proxy_; }
    [[nodiscard]] RequestHeaders &request() noexcept { return headers_; }

    // GET after redirects; the body decoded to UTF-8.
    [[nodiscard]] std::string Get(const std::string &url);

private:
    struct EasyDeleter {
        void operator()(CURL *handle) const noexcept { curl_easy_cleanup(handle); }
    };
    struct SlistDeleter {
        void operator()(curl_slist *list) const noexcept { curl_slist_free_all(list); }
    };

    template <typename T>
    void setOption(CURLoption option, T value);
    void applyConstantOptions();
    void applyProxy();
    void applyHeaders();
    void resetReply();
    [[noreturn]] void throwTransferError(CURLcode code, const std::string &host, bool secure) const;
    void checkStatus(const std::string &host) const;

    static std::size_t onBody(char *data, std::size_t size, std::size_t count, void *self);
    static std::size_t onHeader(char *data, std::size_t size, std::size_t count, void *self);

    HttpLimits limits_;
    ProxyParams proxy_;
    RequestHeaders headers_;
    std::unique_ptr<CURL, EasyDeleter> handle_;
    std::unique_ptr<curl_slist, SlistDeleter> headerList_;
    std::array<char, CURL_ERROR_SIZE> errorBuffer_{};

    // The reply being received.
    std::string body_;
    std::string statusLine_;
    std::string contentType_;
    bool bodyTooLarge_ = false;
    std::exception_ptr callbackError_;
};

// True for an http or https address, the only kinds the module fetches or opens.
[[nodiscard]] bool isWebAddress(const std::string &url);

// False for an address holding a blank or a control character, which no address may hold.
[[nodiscard]] bool isWellFormedAddress(const std::string &url);

// The host named by an address, or an empty text when it names none.
[[nodiscard]] std::string hostOf(const std::string &url);

} // namespace gateway
