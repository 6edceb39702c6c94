#include "gateway/xml_reading.h"

#include "module_error.h"

namespace gateway {

void loadXml(pugi::xml_document &document, std::string_view text, const std::string &documentName,
             unsigned options)
{
    const pugi::xml_parse_result result = document.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
    if (!result) {
        throw ModuleError(documentName + " illisible : ce n'est pas un document XML valide (erreur à la position "
                              + std::to_string(result.offset) + ").",
                          result.description());
    }
}

std::string elementText(const pugi::xml_node &element)
{
    std::string text;
    for (const pugi::xml_node &child : element.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    }
    return text;
}

std::string allText(const pugi::xml_node &element)
{
    std::string text;
    for (const pugi::xml_node &child : element.children()) {
        if (child.type() == pugi::node_element)
            text += allText(child);
        else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    }
    return text;
}

} // namespace gateway
