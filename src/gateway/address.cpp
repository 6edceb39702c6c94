#include "gateway/address.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace gateway {
namespace {

struct UrlDeleter {
    void operator()(CURLU *url) const noexcept { curl_url_cleanup(url); }
};

// One part of an address, or nothing when the address does not parse or lacks it.
std::string urlPart(const std::string &url, CURLUPart part, unsigned flags = 0)
{
    std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
        return {};
    char *value = nullptr;
    if (curl_url_get(handle.get(), part, &value, flags) != CURLUE_OK || value == nullptr)
        return {};
    std::string result(value);
    curl_free(value);
    return result;
}

} // namespace

bool isWebAddress(const std::string &url)
{
    const std::string scheme = urlPart(url, CURLUPART_SCHEME);
    return scheme == "http" || scheme == "https";
}

bool isWellFormedAddress(const std::string &url)
{
    return std::none_of(url.begin(), url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
    });
}

std::string hostOf(const std::string &url)
{
    return urlPart(url, CURLUPART_HOST);
}

long portOf(const std::string &url)
{
    const std::string port = urlPart(url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return port.empty() ? 0 : std::strtol(port.c_str(), nullptr, 10);
}

AddressParts partsOf(const std::string &url)
{
    std::string host = urlPart(url, CURLUPART_HOST);
    if (const std::string port = urlPart(url, CURLUPART_PORT); !port.empty() && !host.empty())
        host += ":" + port;
    return {host, urlPart(url, CURLUPART_PATH), urlPart(url, CURLUPART_QUERY)};
}

} // namespace gateway
