#include "gateway/quote_reply.h"

#include "platform/module_error.h"

#include <simdjson.h>

#include <array>
#include <new>
#include <utility>

namespace gateway {
namespace {

namespace json = simdjson::ondemand;

[[noreturn]] void invalidReply(const std::string &reason, const std::string &detail = {})
{
    throw ModuleError("Réponse du service de devis invalide : " + reason, detail);
}

void check(simdjson::error_code error)
{
    if (error == simdjson::MEMALLOC)
        throw std::bad_alloc();
    if (error != simdjson::SUCCESS)
        invalidReply("ce n'est pas du JSON valide.", simdjson::error_message(error));
}

// A line value longer than this is no label or price: refused, not written for the host.
constexpr std::size_t kMaxLineValueBytes = 64 * 1024;

std::string_view boundedValue(std::string_view text, std::string_view member)
{
    if (text.size() > kMaxLineValueBytes)
        invalidReply("la valeur " + std::string(member) + " dépasse 64 Kio.");
    return text;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(std::string_view s)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i;
        return i > start;
    };
    if (i < s.size() && s[i] == '-')
        ++i;
    if (i < s.size() && s[i] == '0')
        ++i;
    else if (!digits())
        return false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (!digits())
            return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        if (!digits())
            return false;
    }
    return i == s.size();
}

// A member's value as plain text: a string's content, a number as written, true or
// false, nothing for null, an array or an object as its JSON text; at most 64 KiB.
std::string plainText(json::value value, std::string_view member)
{
    json::json_type type{};
    check(value.type().get(type));
    switch (type) {
    case json::json_type::string: {
        std::string_view text;
        check(value.get_string().get(text));
        return std::string(boundedValue(text, member));
    }
    case json::json_type::number: {
        const std::string_view raw = boundedValue(trimRight(value.raw_json_token()), member);
        if (!isJsonNumber(raw))
            invalidReply("nombre mal écrit.");
        return std::string(raw);
    }
    case json::json_type::boolean: {
        bool flag = false;
        check(value.get_bool().get(flag));
        return flag ? "true" : "false";
    }
    case json::json_type::null: {
        bool isNull = false;
        check(value.is_null().get(isNull));
        if (!isNull)
            invalidReply("valeur mal écrite.");
        return {};
    }
    case json::json_type::array:
    case json::json_type::object: {
        std::string_view raw;
        check(simdjson::to_json_string(value).get(raw));
        return std::string(boundedValue(trimRight(raw), member));
    }
    }
    return {};
}

void readPicture(json::value value, QuoteReply &reply)
{
    json::json_type type{};
    check(value.type().get(type));
    if (type != json::json_type::string)
        invalidReply("l'image de la ligne (imageB64Ligne) n'est pas un texte.");
    const std::string_view raw = trimRight(value.raw_json_token());
    if (raw.size() >= 2 && raw.find('\\') == std::string_view::npos) {
        reply.pictureInBody = raw.substr(1, raw.size() - 2); // the picture as it lies in the body
    } else {
        std::string_view text;
        check(value.get_string().get(text));
        reply.unescapedPicture.emplace(text);
    }
    reply.hasPicture = true;
}

void readLine(json::object object, QuoteReply &reply)
{
    host::LigneDevis &line = reply.line;
    const std::array<std::pair<std::string_view, std::string *>, 6> members = {{
        {"libelle", &line.Libelle},
        {"detail", &line.Detail},
        {"ecoTaxe", &line.EcoTaxe},
        {"prixUnitaire", &line.PrixUnitaire},
        {"quantite", &line.Quantite},
        {"prixTotal", &line.PrixTotal},
    }};
    std::array<bool, members.size()> seen{};
    for (auto field : object) {
        std::string_view key;
        check(field.unescaped_key().get(key));
        json::value value;
        check(field.value().get(value));
        if (key == "imageB64Ligne") {
            if (!reply.hasPicture)
                readPicture(value, reply);
            continue;
        }
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (key == members[i].first && !seen[i]) {
                seen[i] = true; // the first of a name counts
                *members[i].second = plainText(value, members[i].first);
            }
        }
    }
}

} // namespace

QuoteReply parseQuoteReply(std::string &body)
{
    // simdjson reads a little past the end of its input.
    if (body.capacity() - body.size() < simdjson::SIMDJSON_PADDING)
        body.reserve(body.size() + simdjson::SIMDJSON_PADDING);
    json::parser parser;
    json::document document;
    check(parser.iterate(simdjson::padded_string_view(body.data(), body.size(), body.capacity())).get(document));
    json::json_type rootType{};
    check(document.type().get(rootType));
    if (rootType != json::json_type::object)
        invalidReply("ce n'est pas un objet JSON.");
    json::object root;
    check(document.get_object().get(root));

    QuoteReply reply;
    bool hasCode = false;
    bool hasLine = false;
    for (auto field : root) {
        std::string_view key;
        check(field.unescaped_key().get(key));
        json::value value;
        check(field.value().get(value));
        if (key == "code") {
            hasCode = true;
        } else if (key == "returnedObject" && !hasLine) {
            hasLine = true;
            json::json_type type{};
            check(value.type().get(type));
            if (type != json::json_type::object)
                invalidReply("l'objet returnedObject n'est pas un objet JSON.");
            json::object line;
            check(value.get_object().get(line));
            readLine(line, reply);
        }
    }
    // Past the root object nothing may follow.
    const char *rest = nullptr;
    if (document.current_location().get(rest) == simdjson::SUCCESS)
        invalidReply("ce n'est pas du JSON valide.", "trailing content");
    if (!hasCode)
        invalidReply("le membre code est absent.");
    return reply;
}

} // namespace gateway
