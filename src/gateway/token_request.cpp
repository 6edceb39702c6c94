#include "gateway/token_request.h"

#include "gateway/query.h"
#include "gateway/xml_reading.h"
#include "platform/text.h"

#include <pugixml.hpp>

#include <cctype>

namespace gateway {
namespace {

constexpr std::size_t kGatewayTextLength = 300;

std::string_view trimBlanks(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string tokenUrl(std::string_view host, const settings::ModuleConfig &config)
{
    std::string url = "https://" + std::string(host) + "/index.php/Services/jeton";
    url += "?email=" + encodeQueryValue(config.Identifiant);
    url += "&mdp=" + encodeQueryValue(config.MotDePasse);
    url += "&passerelle=" + encodeQueryValue(config.Configurateur);
    if (!config.DevisId.empty())
        url += "&jeton=" + encodeQueryValue(config.DevisId);
    return url;
}

TokenReply parseTokenReply(std::string_view xml)
{
    pugi::xml_document document;
    loadXml(document, xml, "Réponse de la passerelle");
    TokenReply reply;
    const pugi::xml_node root = firstElement(document, "Configurateur");
    reply.gatewayText = allText(document.document_element());
    if (!root)
        return reply;
    reply.hasConfigurateur = true;
    reply.Jeton = elementText(firstElement(root, "Jeton"));
    reply.UrlConnexion = elementText(firstElement(root, "UrlConnexion"));
    reply.UrlRecuperation = elementText(firstElement(root, "UrlRecuperation"));
    return reply;
}

std::vector<std::string> tokenReplyProblems(const TokenReply &reply, std::string_view password)
{
    std::vector<std::string> lines;
    if (!reply.hasConfigurateur)
        lines.emplace_back("La passerelle n'a pas renvoyé de réponse Configurateur.");
    else if (reply.UrlConnexion.empty())
        lines.emplace_back("La passerelle n'a pas renvoyé l'adresse du configurateur (UrlConnexion).");
    if (lines.empty())
        return lines;
    const std::string text = hideSecret(std::string(trimBlanks(reply.gatewayText)), password);
    if (!text.empty())
        lines.push_back("Message de la passerelle : " + std::string(platform::firstCodePoints(text, kGatewayTextLength)));
    return lines;
}

std::string hideSecret(std::string text, std::string_view secret)
{
    if (secret.empty())
        return text;
    // As typed, and as a query string carries it back (hex in either case, '+' for a space).
    std::string encoded = encodeQueryValue(secret);
    std::string lowerHex = encoded;
    for (std::size_t i = 0; i + 2 < lowerHex.size(); ++i) {
        if (lowerHex[i] == '%') {
            lowerHex[i + 1] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerHex[i + 1])));
            lowerHex[i + 2] = static_cast<char>(std::tolower(static_cast<unsigned char>(lowerHex[i + 2])));
        }
    }
    std::string plus;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const bool space = encoded.compare(i, 3, "%20") == 0;
        plus += space ? '+' : encoded[i];
        i += space ? 2 : 0;
    }
    for (const std::string &form : {std::string(secret), encoded, lowerHex, plus}) {
        for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 4))
            text.replace(at, form.size(), "****");
    }
    return text;
}

} // namespace gateway
