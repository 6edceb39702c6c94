#include "gateway/http_client.h"

#include "platform/module_error.h"
#include "platform/text.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace gateway {
namespace {

constexpr const char *kAccept = "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
constexpr const char *kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
constexpr const char *kOfferedEncodings = "gzip, deflate";
constexpr long kMaxRedirects = 15;
// Spare room after a reply body, for parsers that read a little past the end.
constexpr std::size_t kBodyPadding = 64;
// No gateway reply needs more header lines than this; libcurl's own limit is close above.
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

std::string_view trimLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' '))
        line.remove_suffix(1);
    return line;
}

bool sameNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && startsWithNoCase(a, b);
}

// The first coding of a Content-Encoding value that is not one of kOfferedEncodings
// ("identity" is no coding); empty when all were offered.
std::string unofferedEncoding(std::string_view value)
{
    while (!value.empty()) {
        const std::size_t comma = value.find(',');
        std::string_view coding = value.substr(0, comma);
        while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t'))
            coding.remove_prefix(1);
        while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t'))
            coding.remove_suffix(1);
        const bool offered = coding.empty() || sameNoCase(coding, "gzip") || sameNoCase(coding, "x-gzip")
                          || sameNoCase(coding, "deflate") || sameNoCase(coding, "identity");
        if (!offered)
            return std::string(platform::firstCodePoints(coding, 40));
        value = comma == std::string_view::npos ? std::string_view{} : value.substr(comma + 1);
    }
    return {};
}

} // namespace

HttpLimits documentClientLimits()
{
    HttpLimits limits;
    limits.overallTimeout = std::chrono::minutes(2);
    limits.maxBodyBytes = std::size_t{4} << 20;
    return limits;
}

HttpLimits quoteClientLimits()
{
    return HttpLimits{};
}

HttpClient::HttpClient(HttpLimits limits, ConnectionPool *pool)
    : limits_(limits)
    , pool_(pool)
{
}

// libcurl's process-wide set-up (Winsock and the security packages on Windows: some
// 15 ms under Wine) waits for the first request, which comes after the window shows.
// Requests run one at a time, so no other libcurl call races it on another thread.
void HttpClient::openHandles()
{
    if (handle_)
        return;
    if (curl_global_init(CURL_GLOBAL_ALL) != CURLE_OK)
        throw ModuleError("Impossible de préparer la connexion réseau.", "curl_global_init failed");
    handle_.reset(curl_easy_init());
    multi_.reset(curl_multi_init());
    try {
        if (!handle_ || !multi_)
            throw ModuleError("Impossible de préparer la connexion réseau.", "curl_easy_init failed");
        applyConstantOptions();
    } catch (...) {
        handle_.reset(); // the next request starts again
        throw;
    }
}

HttpClient::~HttpClient() = default;

template <typename T>
void HttpClient::setOption(CURLoption option, T value)
{
    const CURLcode code = curl_easy_setopt(handle_.get(), option, value);
    if (code != CURLE_OK)
        throw ModuleError("Paramètre de connexion refusé par la bibliothèque réseau.", curl_easy_strerror(code));
}

void HttpClient::applyConstantOptions()
{
    setOption(CURLOPT_ERRORBUFFER, errorBuffer_.data());
    setOption(CURLOPT_NOSIGNAL, 1L);
    setOption(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    setOption(CURLOPT_PROTOCOLS_STR, "http,https");
    setOption(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    setOption(CURLOPT_FOLLOWLOCATION, 1L);
    setOption(CURLOPT_MAXREDIRS, kMaxRedirects);
    setOption(CURLOPT_UNRESTRICTED_AUTH, 0L);
    setOption(CURLOPT_COOKIEFILE, ""); // in-memory cookie engine, this client's own
    if (pool_ != nullptr) {
        setOption(CURLOPT_SHARE, pool_->handle());
        // A connection the pool opened ahead of the request, when it goes where libcurl goes.
        setOption(CURLOPT_OPENSOCKETFUNCTION, &HttpClient::onOpenSocket);
        setOption(CURLOPT_OPENSOCKETDATA, static_cast<void *>(this));
        setOption(CURLOPT_SOCKOPTFUNCTION, &HttpClient::onSocketReady);
        setOption(CURLOPT_SOCKOPTDATA, static_cast<void *>(this));
    }
    // What both builds' libcurl decode; libcurl hands the body over decoded.
    setOption(CURLOPT_ACCEPT_ENCODING, kOfferedEncodings);
    setOption(CURLOPT_USERAGENT, kUserAgent);
    setOption(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
    // TLS 1.2 or later.
    setOption(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    setOption(CURLOPT_SSL_VERIFYPEER, 1L);
    setOption(CURLOPT_SSL_VERIFYHOST, 2L);
    // The system's trust store; SSL_CERT_FILE names another CA file, as for the curl tool.
    if (const char *file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0')
        setOption(CURLOPT_CAINFO, file);
#ifdef _WIN32
    // Schannel checks revocation; a revocation server out of reach must not stop a shop.
    setOption(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
#else
    if (const char *dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0')
        setOption(CURLOPT_CAPATH, dir);
#endif
    // The stall and overall limits are kept by the progress callback (see stopReason).
    setOption(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connectTimeout.count()));
    setOption(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits_.maxBodyBytes));
    setOption(CURLOPT_NOPROGRESS, 0L);
    setOption(CURLOPT_XFERINFOFUNCTION, &HttpClient::onProgress);
    setOption(CURLOPT_XFERINFODATA, static_cast<void *>(this));
    setOption(CURLOPT_PREREQFUNCTION, &HttpClient::onRequestReady);
    setOption(CURLOPT_PREREQDATA, static_cast<void *>(this));
    setOption(CURLOPT_WRITEFUNCTION, &HttpClient::onBody);
    setOption(CURLOPT_WRITEDATA, static_cast<void *>(this));
    setOption(CURLOPT_HEADERFUNCTION, &HttpClient::onHeader);
    setOption(CURLOPT_HEADERDATA, static_cast<void *>(this));
    setOption(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
}

void HttpClient::applyProxy()
{
    // An empty proxy also keeps libcurl from reading proxies from the environment.
    setOption(CURLOPT_NOPROXY, "");
    if (proxy_.ProxyServer.empty()) {
        setOption(CURLOPT_PROXY, "");
        return;
    }
    setOption(CURLOPT_PROXY, proxy_.ProxyServer.c_str());
    setOption(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    if (curl_easy_setopt(handle_.get(), CURLOPT_PROXYPORT, proxy_.ProxyPort) != CURLE_OK)
        throw ModuleError("Port du proxy invalide : " + std::to_string(proxy_.ProxyPort) + ".");
    setOption(CURLOPT_PROXYUSERNAME, proxy_.ProxyUsername.c_str());
    setOption(CURLOPT_PROXYPASSWORD, proxy_.ProxyPassword.c_str());
    // Basic goes with the first request; otherwise libcurl answers the proxy's challenge.
    setOption(CURLOPT_PROXYAUTH, static_cast<long>(proxy_.BasicAuthentication ? CURLAUTH_BASIC : CURLAUTH_ANY));
}

void HttpClient::applyHeaders()
{
    curl_slist *list = curl_slist_append(nullptr, kAccept);
    std::unique_ptr<curl_slist, SlistDeleter> owned(list);
    if (list != nullptr && !headers_.ContentType.empty()) {
        std::string contentType = "Content-Type: " + headers_.ContentType;
        if (!headers_.CharSet.empty())
            contentType += "; charset=" + headers_.CharSet;
        list = curl_slist_append(list, contentType.c_str());
    }
    if (list == nullptr)
        throw std::bad_alloc();
    owned.release();
    headerList_.reset(list);
    setOption(CURLOPT_HTTPHEADER, headerList_.get());
}

void HttpClient::resetReply()
{
    body_.clear();
    body_.shrink_to_fit();
    statusLine_.clear();
    contentType_.clear();
    bodyTooLarge_ = false;
    headerBytes_ = 0;
    headersTooLong_ = false;
    unofferedEncoding_.clear();
    callbackError_ = nullptr;
    errorBuffer_[0] = '\0';
    started_ = Clock::now();
    lastByte_ = started_;
    requestSent_ = false;
    lastReceived_ = 0;
    stop_ = Stop::None;
}

HttpClient::Stop HttpClient::stopReason(Clock::time_point now) const
{
    if (state_ != nullptr && state_->cancel.load())
        return Stop::Cancelled;
    // The connect time-out covers the set-up; from the request on, any byte counts.
    if (requestSent_ && now - lastByte_ >= limits_.stallTimeout)
        return Stop::Stalled;
    if (limits_.overallTimeout.count() > 0 && now - started_ >= limits_.overallTimeout)
        return Stop::TooLong;
    return Stop::None;
}

// The transfer runs in a loop of our own rather than curl_easy_perform, so that a
// cancel or a limit is seen within a tenth of a second even when nothing arrives.
CURLcode HttpClient::perform()
{
    struct Attached {
        CURLM *multi;
        CURL *easy;
        ~Attached() { curl_multi_remove_handle(multi, easy); }
    };
    if (curl_multi_add_handle(multi_.get(), handle_.get()) != CURLM_OK)
        throw ModuleError("Impossible de préparer la connexion réseau.", "curl_multi_add_handle failed");
    const Attached attached{multi_.get(), handle_.get()};
    constexpr int kPollMs = 100;
    int running = 1;
    while (true) {
        if (curl_multi_perform(multi_.get(), &running) != CURLM_OK)
            throw std::bad_alloc(); // the only failure left to the multi interface here
        if (running == 0)
            break;
        if (stop_ == Stop::None)
            stop_ = stopReason(Clock::now());
        if (stop_ != Stop::None)
            return CURLE_ABORTED_BY_CALLBACK;
        if (curl_multi_poll(multi_.get(), nullptr, 0, kPollMs, nullptr) != CURLM_OK)
            throw std::bad_alloc();
    }
    int left = 0;
    while (const CURLMsg *message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle_.get())
            return message->data.result;
    }
    return CURLE_OK;
}

void HttpClient::closeRecord(CURLcode code)
{
    record_.statusLine = statusLine_;
    record_.bytes = static_cast<std::int64_t>(body_.size());
    record_.duration = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
    record_.limit = firedLimit(code);
    record_.cancelled = stop_ == Stop::Cancelled;
    if (code != CURLE_OK && stop_ == Stop::None)
        record_.libraryWords = errorBuffer_[0] != '\0' ? std::string(errorBuffer_.data()) : curl_easy_strerror(code);
}

std::string HttpClient::Get(const std::string &url, TransferState *state)
{
    record_ = RequestRecord{};
    record_.address = partsOf(url);
    if (url.empty())
        throw ModuleError("Aucune adresse à interroger : l'adresse reçue est vide.");
    if (!isWellFormedAddress(url))
        throw ModuleError("Adresse refusée : l'adresse reçue est mal formée (espace, caractère de contrôle...).");
    if (!isWebAddress(url))
        throw ModuleError("Adresse refusée : seules les adresses http et https sont acceptées.");
    const std::string requestHost = hostOf(url);

    openHandles();
    resetReply();
    applyProxy();
    applyHeaders();
    setOption(CURLOPT_URL, url.c_str());
    setOption(CURLOPT_HTTPGET, 1L);

    state_ = state;
    if (state_ != nullptr) {
        state_->received = 0;
        state_->expected = 0;
    }
    requestUsedWarm_ = false;
    CURLcode code = perform();
    // A warm connection the server closed just before it was used: nothing was sent on
    // it, so the request starts again on a connection of its own, and nobody sees it.
    if (requestUsedWarm_ && !requestSent_ && code != CURLE_OK && stop_ == Stop::None && !callbackError_) {
        resetReply();
        code = perform();
    }
    state_ = nullptr;
    closeRecord(code);
    char *effective = nullptr;
    curl_easy_getinfo(handle_.get(), CURLINFO_EFFECTIVE_URL, &effective);
    const std::string lastUrl = effective != nullptr ? effective : url;
    const std::string host = hostOf(lastUrl).empty() ? requestHost : hostOf(lastUrl);

    if (callbackError_)
        std::rethrow_exception(std::exchange(callbackError_, nullptr));
    if (stop_ != Stop::None)
        throwStopped(host);
    if (code != CURLE_OK)
        throwTransferError(code, host);
    checkStatus(host);

    std::string body = std::move(body_);
    const std::string charset = platform::replyCharset(contentType_, body);
    return platform::decodeWithCharset(std::move(body), charset);
}

std::size_t HttpClient::onBody(char *data, std::size_t size, std::size_t count, void *self)
{
    auto *client = static_cast<HttpClient *>(self);
    const std::size_t bytes = size * count;
    try {
        if (client->body_.size() + bytes > client->limits_.maxBodyBytes) {
            client->bodyTooLarge_ = true;
            return 0;
        }
        client->body_.append(data, bytes);
        return bytes;
    } catch (...) {
        client->callbackError_ = std::current_exception();
        return 0;
    }
}

int HttpClient::onProgress(void *self, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t)
{
    auto *client = static_cast<HttpClient *>(self);
    const Clock::time_point now = Clock::now();
    if (downloadNow != client->lastReceived_) {
        client->lastReceived_ = downloadNow;
        client->lastByte_ = now;
    }
    if (client->state_ != nullptr) {
        client->state_->received = downloadNow;
        client->state_->expected = downloadTotal;
    }
    if (client->stop_ == Stop::None)
        client->stop_ = client->stopReason(now);
    return client->stop_ == Stop::None ? 0 : 1;
}

curl_socket_t HttpClient::onOpenSocket(void *self, curlsocktype purpose, curl_sockaddr *address)
{
    auto *client = static_cast<HttpClient *>(self);
    client->socketWasWarm_ = false;
    if (purpose == CURLSOCKTYPE_IPCXN && client->pool_ != nullptr) {
        const std::atomic<bool> *cancel = client->state_ != nullptr ? &client->state_->cancel : nullptr;
        const platform::SocketHandle warm = client->pool_->takeWarm(&address->addr, address->addrlen, cancel);
        if (warm != platform::kNoSocket) {
            client->socketWasWarm_ = true;
            client->requestUsedWarm_ = true;
            return static_cast<curl_socket_t>(warm);
        }
    }
#ifdef _WIN32
    return ::socket(address->family, address->socktype, address->protocol);
#else
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
#endif
}

int HttpClient::onSocketReady(void *self, curl_socket_t, curlsocktype)
{
    return static_cast<HttpClient *>(self)->socketWasWarm_ ? CURL_SOCKOPT_ALREADY_CONNECTED : CURL_SOCKOPT_OK;
}

int HttpClient::onRequestReady(void *self, char *, char *, int, int)
{
    auto *client = static_cast<HttpClient *>(self);
    client->requestSent_ = true;
    client->lastByte_ = Clock::now();
    return CURL_PREREQFUNC_OK;
}

std::size_t HttpClient::onHeader(char *data, std::size_t size, std::size_t count, void *self)
{
    auto *client = static_cast<HttpClient *>(self);
    const std::size_t bytes = size * count;
    client->lastByte_ = Clock::now();
    try {
        const std::string_view line = trimLineEnd(std::string_view(data, bytes));
        client->headerBytes_ = startsWithNoCase(line, "HTTP/") ? bytes : client->headerBytes_ + bytes;
        if (client->headerBytes_ > kMaxHeaderBytes) {
            client->headersTooLong_ = true;
            return 0;
        }
        if (startsWithNoCase(line, "HTTP/")) {
            // A new reply starts (after a redirect or an interim reply).
            // Shown to the user: a reason phrase in Latin-1 must still read right.
            client->statusLine_ = platform::decodeWithCharset(std::string(line), {});
            client->contentType_.clear();
        } else if (startsWithNoCase(line, "content-type:")) {
            client->contentType_ = std::string(line.substr(13));
        } else if (startsWithNoCase(line, "content-encoding:")) {
            // libcurl would decode what it knows even unasked; the module takes what it offered.
            client->unofferedEncoding_ = unofferedEncoding(line.substr(17));
            if (!client->unofferedEncoding_.empty())
                return 0;
        } else if (startsWithNoCase(line, "content-length:")) {
            const unsigned long long length = std::strtoull(std::string(line.substr(15)).c_str(), nullptr, 10);
            if (length > 0 && length <= client->limits_.maxBodyBytes)
                client->body_.reserve(static_cast<std::size_t>(length) + kBodyPadding);
        }
        return bytes;
    } catch (...) {
        client->callbackError_ = std::current_exception();
        return 0;
    }
}

} // namespace gateway
