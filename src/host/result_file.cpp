#include "host/result_file.h"

#include "xml/xml_reading.h"
#include "platform/text.h"

#include <pugixml.hpp>

#include <array>
#include <cstdio>
#include <sstream>
#include <utility>

namespace host {
namespace {

bool isXmlCharacter(char32_t cp) noexcept
{
    return !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE && cp != 0xFFFF && cp <= 0x10FFFF;
}

// How a node's text is made fit for the file, by where it stands.
enum class Place {
    Value,  // text or attribute value: what the code page lacks stays for a reference
    Name,   // element, attribute or instruction name
    Markup, // instruction or document type text
    Remark, // comment or CDATA: no reference is possible there
};

// Line breaks as LF only; C0 controls that XML 1.0 cannot carry replaced; outside values,
// characters the code page lacks replaced too. The replacements cannot end a node: no
// '?' where "?>" would close an instruction, no '-' in comments.
std::string cleanText(std::string_view text, Place place)
{
    const char substitute = place == Place::Value ? '?' : place == Place::Name ? '_' : ' '; // for controls
    const char missing = place == Place::Remark ? '?' : '_'; // for what the code page lacks
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\r') {
            out += '\n';
            i += (i + 1 < text.size() && text[i + 1] == '\n') ? std::size_t{2} : std::size_t{1};
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
            out += substitute;
            ++i;
        } else if (static_cast<unsigned char>(c) < 0x80 || place == Place::Value) {
            out += c;
            ++i;
        } else {
            const std::size_t start = i;
            const char32_t cp = platform::nextCodePoint(text, i);
            if (platform::cp1252ByteFor(cp) >= 0)
                out.append(text.substr(start, i - start));
            else
                out += missing;
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
            switch (node.type()) {
            case pugi::node_pcdata:
                node.set_value(cleanText(node.value(), Place::Value).c_str());
                break;
            case pugi::node_cdata:
            case pugi::node_comment:
                node.set_value(cleanText(node.value(), Place::Remark).c_str());
                break;
            case pugi::node_pi:
            case pugi::node_doctype:
                node.set_value(cleanText(node.value(), Place::Markup).c_str());
                break;
            default:
                break;
            }
            if (node.type() == pugi::node_element || node.type() == pugi::node_pi)
                node.set_name(cleanText(node.name(), Place::Name).c_str());
            for (pugi::xml_attribute attribute : node.attributes()) {
                attribute.set_name(cleanText(attribute.name(), Place::Name).c_str());
                attribute.set_value(cleanText(attribute.value(), Place::Value).c_str());
            }
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
            element.append_child(pugi::node_pcdata).set_value(cleanText(*value, Place::Value).c_str());
    }
}

void appendReference(std::string &out, char32_t codePoint)
{
    std::array<char, 16> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "&#x%X;", static_cast<unsigned>(codePoint));
    out += buffer.data();
}

// The serialised document, whose only characters outside Windows-1252 stand in text and
// attribute values (cleanTree saw to the rest), as Windows-1252 bytes with CR LF breaks.
std::string toWindows1252(std::string_view xml)
{
    std::string out;
    out.reserve(xml.size() + xml.size() / 16);
    for (std::size_t i = 0; i < xml.size();) {
        const char c = xml[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            const char32_t cp = platform::nextCodePoint(xml, i);
            const int byte = platform::cp1252ByteFor(cp);
            if (byte >= 0)
                out += static_cast<char>(byte);
            else if (isXmlCharacter(cp))
                appendReference(out, cp);
            else
                out += '?'; // surrogates and U+FFFE/U+FFFF: not even a reference may name them
            continue;
        }
        if (c == '\r') { // left raw by the serialiser in a few places
            out += "\r\n";
            i += (i + 1 < xml.size() && xml[i + 1] == '\n') ? std::size_t{2} : std::size_t{1};
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
    xml::loadXml(document, retrievalDocument, "Document de récupération");
    cleanTree(document);
    setDeclaration(document);
    if (pugi::xml_node root = xml::firstElement(document, "Configurateur"))
        appendLine(root, line);

    std::ostringstream serialised;
    document.save(serialised, "  ", pugi::format_default, pugi::encoding_utf8);
    std::string text = std::move(serialised).str();
    if (text.empty() || text.back() != '\n')
        text += '\n';
    return toWindows1252(text) + "\r\n";
}

} // namespace host
