#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace gateway {

// Parses a reply as XML; text that is not well-formed throws ModuleError
// "<documentName> illisible : ...".
void loadXml(pugi::xml_document &document, std::string_view text, const std::string &documentName,
             unsigned options = pugi::parse_default | pugi::parse_ws_pcdata_single);

// The text of an element: its character data and CDATA, references resolved, untrimmed.
// An absent element has an empty text.
[[nodiscard]] std::string elementText(const pugi::xml_node &element);

// All the text inside an element, its descendants' included.
[[nodiscard]] std::string allText(const pugi::xml_node &element);

} // namespace gateway
