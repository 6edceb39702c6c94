#include "gateway/result_file.h"

#include "gateway/xml_reading.h"
#include "platform/text.h"

#include <pugixml.hpp>

#include <array>
#include <cstdio>
#include <sstream>
#include <utility>

namespace gateway {
namespace {

// Line breaks as LF only; C0 controls that XML 1.0 cannot carry become `substitute`.
std::string cleanValue(std::string_view value, char substitute = '?')
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < value.size() && value[i + 1] == '\n')
                ++i;
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
            out += substitute;
        } else {
            out += c;
        }
    }
    return out;
}

void cleanTree(pugi::xml_document &document)
{
    // pugixml walks the tree without recursion: a deeply nested document cannot exhaust the stack.
    struct Cleaner : pugi::xml_tree_walker {
        bool for_each(pugi::xml_node &node) override
        {
            const pugi::xml_node_type type = node.type();
            if (type == pugi::node_pcdata || type == pugi::node_cdata) {
                node.set_value(cleanValue(node.value()).c_str());
            } else if (type == pugi::node_pi || type == pugi::node_comment || type == pugi::node_doctype) {
                // A blank, not '?': a new "?>" would end an instruction early.
                node.set_value(cleanValue(node.value(), ' ').c_str());
            }
            for (pugi::xml_attribute attribute : node.attributes())
                attribute.set_value(cleanValue(attribute.value()).c_str());
            return true;
        }
    } cleaner;
    document.traverse(cleaner);
}

void setDeclaration(pugi::xml_document &document)
{
    pugi::xml_node declaration = document.first_child();
    if (declaration.type() != pugi::node_declaration)
        declaration = document.prepend_child(pugi::node_declaration);
    const std::string standalone = declaration.attribute("standalone").value();
    while (declaration.first_attribute())
        declaration.remove_attribute(declaration.first_attribute());
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "ISO-8859-1";
    if (standalone == "yes" || standalone == "no") // the only values XML gives it
        declaration.append_attribute("standalone") = standalone.c_str();
}

void appendLine(pugi::xml_node root, const LigneDevis &line)
{
    const std::pair<const char *, const std::string *> elements[] = {
        {"Libelle", &line.Libelle},   {"Detail", &line.Detail},     {"EcoTaxe", &line.EcoTaxe},
        {"PrixUnitaire", &line.PrixUnitaire}, {"Quantite", &line.Quantite}, {"PrixTotal", &line.PrixTotal},
        {"Image", &line.Image},
    };
    for (const auto &[name, value] : elements) {
        pugi::xml_node element = root.append_child(name);
        if (!value->empty())
            element.append_child(pugi::node_pcdata).set_value(cleanValue(*value).c_str());
    }
}

// Where a character stands in the serialised text decides how the code page gets it.
enum class Context { Text, Markup, AttributeValue, Comment, CData, Instruction, Doctype };

void appendReference(std::string &out, char32_t codePoint)
{
    std::array<char, 16> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "&#x%X;", static_cast<unsigned>(codePoint));
    out += buffer.data();
}

// UTF-8 serialised XML to Windows-1252 bytes with CR LF line breaks.
std::string toWindows1252(std::string_view xml)
{
    std::string out;
    out.reserve(xml.size() + xml.size() / 16);
    Context context = Context::Text;
    char quote = '"';
    int doctypeDepth = 0;
    char doctypeQuote = 0;
    const auto at = [&](std::size_t i, std::string_view s) { return xml.substr(i, s.size()) == s; };

    for (std::size_t i = 0; i < xml.size();) {
        const char c = xml[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const char32_t cp = platform::nextCodePoint(xml, i);
            const int byte = platform::cp1252ByteFor(cp);
            // Surrogates and U+FFFE/U+FFFF are no XML characters, not even as references.
            const bool xmlCharacter = !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE && cp != 0xFFFF && cp <= 0x10FFFF;
            const bool inValue = context == Context::Text || context == Context::AttributeValue;
            if (byte >= 0)
                out += static_cast<char>(byte);
            else if (inValue && xmlCharacter)
                appendReference(out, cp);
            else if (inValue || context == Context::Comment || context == Context::CData)
                out += '?';
            else
                out += '_'; // keeps a name a name, and cannot end an instruction early
            continue;
        }
        switch (context) {
        case Context::Text:
            if (c == '<') {
                if (at(i, "<!--"))
                    context = Context::Comment;
                else if (at(i, "<![CDATA["))
                    context = Context::CData;
                else if (at(i, "<?"))
                    context = Context::Instruction;
                else if (at(i, "<!"))
                    context = Context::Doctype;
                else
                    context = Context::Markup;
            }
            break;
        case Context::Markup:
            if (c == '"' || c == '\'') {
                quote = c;
                context = Context::AttributeValue;
            } else if (c == '>') {
                context = Context::Text;
            }
            break;
        case Context::AttributeValue:
            if (c == quote)
                context = Context::Markup;
            break;
        case Context::Comment:
            if (at(i, "-->")) {
                out += "-->";
                i += 3;
                context = Context::Text;
                continue;
            }
            break;
        case Context::CData:
            if (at(i, "]]>")) {
                out += "]]>";
                i += 3;
                context = Context::Text;
                continue;
            }
            break;
        case Context::Instruction:
            if (at(i, "?>")) {
                out += "?>";
                i += 2;
                context = Context::Text;
                continue;
            }
            break;
        case Context::Doctype:
            // Quoted literals may hold '>' or brackets.
            if (doctypeQuote != 0) {
                if (c == doctypeQuote)
                    doctypeQuote = 0;
            } else if (c == '"' || c == '\'') {
                doctypeQuote = c;
            } else if (c == '[') {
                ++doctypeDepth;
            } else if (c == ']') {
                --doctypeDepth;
            } else if (c == '>' && doctypeDepth <= 0) {
                context = Context::Text;
            }
            break;
        }
        // Every line break leaves as CR LF, whatever the node kept of the original ones
        // (a document type keeps its text as written).
        if (c == '\r') {
            if (i + 1 >= xml.size() || xml[i + 1] != '\n')
                out += "\r\n";
            ++i;
            continue;
        }
        if (c == '\n')
            out += '\r';
        out += c;
        ++i;
    }
    return out;
}

} // namespace

std::string resultFileBytes(std::string_view retrievalDocument, const LigneDevis &line)
{
    pugi::xml_document document;
    loadXml(document, retrievalDocument, "Document de récupération");
    cleanTree(document);
    setDeclaration(document);
    if (pugi::xml_node root = firstElement(document, "Configurateur"))
        appendLine(root, line);

    std::ostringstream xml;
    document.save(xml, "  ", pugi::format_default, pugi::encoding_utf8);
    std::string text = std::move(xml).str();
    if (text.empty() || text.back() != '\n')
        text += '\n';
    return toWindows1252(text) + "\r\n";
}

} // namespace gateway
