#pragma once

#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace xml {

// Parses a reply as XML, every kind of node kept; text that is not well-formed throws
// ModuleError "<documentName> illisible : ...".
void loadXml(pugi::xml_document &document, std::string_view text, const std::string &documentName);

// The first child element named `name` (processing instructions of that name do not
// count); an empty node when there is none.
[[nodiscard]] pugi::xml_node firstElement(const pugi::xml_node &parent, const char *name);

// The text of an element: its character data and CDATA, references resolved, untrimmed.
// An absent element has an empty text.
[[nodiscard]] std::string elementText(const pugi::xml_node &element);

// All the text inside an element, its descendants' included.
[[nodiscard]] std::string allText(const pugi::xml_node &element);

} // namespace xml
