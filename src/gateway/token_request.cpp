#include "gateway/token_request.h"

#include "gateway/query.h"
#include "xml/xml_reading.h"
#include "platform/text.h"

#include <pugixml.hpp>


namespace gateway {
namespace {

constexpr std::size_t kGatewayTextLength = 300;

std::string trimBlanks(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return std::string(s);
}

} // namespace

std::string tokenUrl(std::string_view gatewayHost, const host::ModuleConfig &config)
{
    std::string url = "https://" + std::string(gatewayHost) + "/index.php/Services/jeton";
    url += "?email=" + encodeQueryValue(config.Identifiant);
    url += "&mdp=" + encodeQueryValue(config.MotDePasse);
    url += "&passerelle=" + encodeQueryValue(config.Configurateur);
    if (!config.DevisId.empty())
        url += "&jeton=" + encodeQueryValue(config.DevisId);
    return url;
}

TokenReply parseTokenReply(std::string_view text)
{
    pugi::xml_document document;
    xml::loadXml(document, text, "Réponse de la passerelle");
    TokenReply reply;
    const pugi::xml_node root = xml::firstElement(document, "Configurateur");
    reply.gatewayText = xml::allText(document.document_element());
    if (!root)
        return reply;
    reply.hasConfigurateur = true;
    reply.Jeton = xml::elementText(xml::firstElement(root, "Jeton"));
    // A pretty-printing writer puts each address on a line of its own: the blanks around
    // it are no part of it.
    reply.UrlConnexion = trimBlanks(xml::elementText(xml::firstElement(root, "UrlConnexion")));
    reply.UrlRecuperation = trimBlanks(xml::elementText(xml::firstElement(root, "UrlRecuperation")));
    return reply;
}

std::vector<std::string> tokenReplyProblems(const TokenReply &reply)
{
    std::vector<std::string> lines;
    if (!reply.hasConfigurateur)
        lines.emplace_back("La passerelle n'a pas renvoyé de réponse Configurateur.");
    else if (reply.UrlConnexion.empty())
        lines.emplace_back("La passerelle n'a pas renvoyé l'adresse du configurateur (UrlConnexion).");
    if (lines.empty())
        return lines;
    if (const std::string words = gatewayWords(reply); !words.empty())
        lines.push_back("Message de la passerelle : " + words);
    return lines;
}

std::string gatewayWords(const TokenReply &reply)
{
    return std::string(platform::firstCodePoints(trimBlanks(reply.gatewayText), kGatewayTextLength));
}

} // namespace gateway
