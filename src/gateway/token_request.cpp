#include "gateway/token_request.h"

#include "gateway/query.h"
#include "gateway/xml_reading.h"
#include "platform/text.h"

#include <pugixml.hpp>


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

std::vector<std::string> tokenReplyProblems(const TokenReply &reply)
{
    std::vector<std::string> lines;
    if (!reply.hasConfigurateur)
        lines.emplace_back("La passerelle n'a pas renvoyé de réponse Configurateur.");
    else if (reply.UrlConnexion.empty())
        lines.emplace_back("La passerelle n'a pas renvoyé l'adresse du configurateur (UrlConnexion).");
    if (lines.empty())
        return lines;
    const std::string_view text = trimBlanks(reply.gatewayText);
    if (!text.empty())
        lines.push_back("Message de la passerelle : " + std::string(platform::firstCodePoints(text, kGatewayTextLength)));
    return lines;
}

namespace {

// A same-length copy for comparing without regard to case: ASCII letters and the
// accented Latin-1 capitals (two UTF-8 bytes each) folded to small letters.
std::string folded(std::string_view text)
{
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xC3 && i + 1 < out.size()) {
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97) // À..Þ but ×
                out[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
    return out;
}

} // namespace

std::string hideSecret(std::string text, std::string_view secret)
{
    if (secret.empty())
        return text;
    // As typed, and as a query string carries it back ('+' for a space); hex digits in
    // either case are covered by comparing without regard to case.
    const std::string encoded = encodeQueryValue(secret);
    std::string plus;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const bool space = encoded.compare(i, 3, "%20") == 0;
        plus += space ? '+' : encoded[i];
        i += space ? 2 : 0;
    }
    for (const std::string &form : {std::string(secret), encoded, plus}) {
        const std::string needle = folded(form);
        std::string haystack = folded(text);
        for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 4)) {
            text.replace(at, needle.size(), "****");
            haystack.replace(at, needle.size(), "****");
        }
    }
    return text;
}

} // namespace gateway
