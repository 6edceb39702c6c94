#include "gateway/http_client.h"

#include "platform/module_error.h"

#include <chrono>
#include <stdexcept>
#include <string>

// How a request that failed is told to the user: one French sentence per cause, naming
// the host (or the proxy), never the address with its query string.
namespace gateway {
namespace {

// "60 s", "2 min": a time limit as the user reads it.
std::string duration(std::chrono::milliseconds limit)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit).count();
    if (seconds >= 60 && seconds % 60 == 0)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

std::string proxyRefusal(const std::string &proxy, long code)
{
    // tinyproxy and others answer a refused CONNECT with 401 rather than 407.
    if (code == 407 || code == 401)
        return "Le proxy " + proxy + " refuse l'accès : identifiants refusés ou absents (réponse "
             + std::to_string(code) + ").";
    return "Le proxy " + proxy + " a refusé la connexion (réponse " + std::to_string(code) + ").";
}

long infoLong(CURL *handle, CURLINFO info)
{
    long value = 0;
    if (curl_easy_getinfo(handle, info, &value) != CURLE_OK)
        return 0;
    return value;
}

curl_off_t infoOffset(CURL *handle, CURLINFO info)
{
    curl_off_t value = 0;
    if (curl_easy_getinfo(handle, info, &value) != CURLE_OK)
        return 0;
    return value;
}

} // namespace

std::string HttpClient::firedLimit(CURLcode code) const
{
    if (stop_ == Stop::Stalled)
        return "aucune donnée depuis " + duration(limits_.stallTimeout);
    if (stop_ == Stop::TooLong)
        return "réponse complète en " + duration(limits_.overallTimeout);
    if (stop_ != Stop::None)
        return {};
    if (headersTooLong_ || (code == CURLE_OUT_OF_MEMORY && body_.empty()))
        return "en-têtes trop longs";
    if (bodyTooLarge_ || code == CURLE_FILESIZE_EXCEEDED)
        return "réponse de " + std::to_string(limits_.maxBodyBytes >> 20) + " Mio";
    if (code == CURLE_OPERATION_TIMEDOUT)
        return "connexion en " + duration(limits_.connectTimeout);
    return {};
}

void HttpClient::checkStatus(const std::string &host) const
{
    const long status = infoLong(handle_.get(), CURLINFO_RESPONSE_CODE);
    if (status < 400)
        return;
    if (status == 407 && !proxy_.ProxyServer.empty())
        throw ModuleError(proxyRefusal(proxy_.ProxyServer, status), statusLine_);
    const std::string line = statusLine_.empty() ? "HTTP " + std::to_string(status) : statusLine_;
    throw ModuleError("Le serveur " + host + " a répondu : " + line, line, {host, line});
}

void HttpClient::throwStopped(const std::string &host) const
{
    switch (stop_) {
    case Stop::Cancelled:
        throw RequestCancelled();
    case Stop::Stalled:
        throw ModuleError("Le serveur " + host + " ne répond plus : aucune donnée reçue depuis "
                              + duration(limits_.stallTimeout) + ".",
                          {}, {host});
    case Stop::TooLong:
        throw ModuleError("Le serveur " + host + " n'a pas envoyé sa réponse complète en "
                              + duration(limits_.overallTimeout) + ".",
                          {}, {host});
    case Stop::None:
        break;
    }
    throw std::logic_error("no stop reason");
}

void HttpClient::throwTransferError(CURLcode code, const std::string &host) const
{
    CURL *h = handle_.get();
    const std::string detail = errorBuffer_[0] != '\0' ? std::string(errorBuffer_.data()) : curl_easy_strerror(code);
    const bool viaProxy = !proxy_.ProxyServer.empty();
    const std::string &proxy = proxy_.ProxyServer;

    const long connectCode = infoLong(h, CURLINFO_HTTP_CONNECTCODE);
    if (viaProxy && connectCode >= 300)
        throw ModuleError(proxyRefusal(proxy, connectCode), detail);

    // libcurl refuses a header line over 100 KB as if memory had run out: before any
    // byte of the body, that is what "out of memory" means.
    const bool headerRefused = code == CURLE_OUT_OF_MEMORY && body_.empty();
    if (!unofferedEncoding_.empty())
        throw ModuleError("Réponse du serveur " + host + " illisible : compression « " + unofferedEncoding_
                              + " » non demandée.",
                          detail, {host, unofferedEncoding_});
    if (headersTooLong_ || headerRefused)
        throw ModuleError("Réponse du serveur " + host + " invalide : en-têtes trop longs.", detail, {host});
    // The system's words for a reset: "Connection reset by peer", "Connection was reset".
    const bool reset = detail.find("reset") != std::string::npos;
    if (reset && (code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR))
        throw ModuleError("Échec de la communication avec le serveur " + host
                              + " : connexion interrompue par le serveur.",
                          detail, {host});

    std::string message;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_PROXY:
        message = "Proxy " + proxy + " introuvable : le nom d'hôte est inconnu.";
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        message = "Serveur " + host + " introuvable : le nom d'hôte est inconnu.";
        break;
    case CURLE_COULDNT_CONNECT:
        message = viaProxy ? "Connexion impossible au proxy " + proxy + "."
                           : "Connexion impossible au serveur " + host + " : connexion refusée ou réseau indisponible.";
        break;
    case CURLE_OPERATION_TIMEDOUT: {
        // Set-up ends with the TLS handshake on https, with the TCP connection on http.
        // Only the set-up has a libcurl time-out; the others are ours (throwStopped).
        const bool proxySilent = viaProxy && infoOffset(h, CURLINFO_CONNECT_TIME_T) == 0;
        message = (proxySilent ? "Le proxy " + proxy : "Le serveur " + host)
                + " ne répond pas : connexion impossible en " + duration(limits_.connectTimeout) + ".";
        break;
    }
    case CURLE_PEER_FAILED_VERIFICATION:
        message = "Connexion sécurisée refusée avec " + host
                + " : le certificat du serveur n'est pas reconnu ou ne correspond pas à son nom.";
        break;
    case CURLE_SSL_CONNECT_ERROR:
        message = "Connexion sécurisée impossible avec " + host + " : la négociation TLS a échoué.";
        break;
    case CURLE_SSL_CACERT_BADFILE:
        message = "Connexion sécurisée impossible : les certificats de confiance sont illisibles.";
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        message = "Trop de redirections depuis le serveur " + host + ".";
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        message = "Adresse refusée : le serveur " + host
                + " renvoie vers une adresse qui n'est ni http ni https.";
        break;
    case CURLE_PARTIAL_FILE:
        message = "Réponse incomplète du serveur " + host + " : la connexion a été coupée avant la fin.";
        break;
    case CURLE_GOT_NOTHING:
        message = "Le serveur " + host + " a fermé la connexion sans répondre.";
        break;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        message = "La connexion avec le serveur " + host + " a été interrompue.";
        break;
    case CURLE_BAD_CONTENT_ENCODING:
        message = "Réponse du serveur " + host + " illisible : les données compressées sont abîmées.";
        break;
    case CURLE_WEIRD_SERVER_REPLY:
        message = "Réponse illisible du serveur " + host + " : ce n'est pas une réponse HTTP.";
        break;
    case CURLE_FILESIZE_EXCEEDED:
        message = "Réponse du serveur " + host + " trop volumineuse (plus de "
                + std::to_string(limits_.maxBodyBytes >> 20) + " Mio).";
        break;
    case CURLE_WRITE_ERROR:
        if (bodyTooLarge_) {
            message = "Réponse du serveur " + host + " trop volumineuse (plus de "
                    + std::to_string(limits_.maxBodyBytes >> 20) + " Mio).";
            break;
        }
        [[fallthrough]];
    default:
        message = "Échec de la communication avec le serveur " + host + " (erreur réseau "
                + std::to_string(static_cast<int>(code)) + ").";
        break;
    }
    throw ModuleError(message, detail, {host}); // the host comes from an address
}

} // namespace gateway
