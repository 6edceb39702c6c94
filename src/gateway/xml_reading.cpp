#include "gateway/xml_reading.h"

#include "module_error.h"

#include <new>

namespace gateway {

namespace {

// The gateway's documents are a few levels deep; a very deep one could not even be
// written back indented (its size grows with the square of the depth).
constexpr int kMaxDepth = 256;

bool shallowEnough(pugi::xml_document &document)
{
    struct DepthCheck : pugi::xml_tree_walker {
        bool tooDeep = false;
        bool for_each(pugi::xml_node &) override
        {
            tooDeep = depth() >= kMaxDepth;
            return !tooDeep;
        }
    } check;
    document.traverse(check);
    return !check.tooDeep;
}

// pugixml accepts what XML forbids at the top: several elements, a declaration after
// other nodes, several document types. The module's documents must be plain XML.
bool wellFormedTop(const pugi::xml_document &document)
{
    int elements = 0;
    int doctypes = 0;
    bool first = true;
    for (const pugi::xml_node &node : document.children()) {
        switch (node.type()) {
        case pugi::node_element:
            ++elements;
            break;
        case pugi::node_declaration:
            if (!first)
                return false;
            break;
        case pugi::node_doctype:
            if (++doctypes > 1 || elements > 0)
                return false;
            break;
        default:
            break;
        }
        first = false;
    }
    return elements == 1;
}

} // namespace

void loadXml(pugi::xml_document &document, std::string_view text, const std::string &documentName)
{
    constexpr unsigned options = pugi::parse_full | pugi::parse_ws_pcdata_single;
    const pugi::xml_parse_result result = document.load_buffer(text.data(), text.size(), options, pugi::encoding_utf8);
    if (result.status == pugi::status_out_of_memory)
        throw std::bad_alloc();
    if (!result) {
        throw ModuleError(documentName + " illisible : ce n'est pas un document XML valide (erreur à la position "
                              + std::to_string(result.offset) + ").",
                          result.description());
    }
    if (!shallowEnough(document))
        throw ModuleError(documentName + " illisible : le document est imbriqué trop profondément.");
    if (!wellFormedTop(document)) {
        throw ModuleError(documentName + " illisible : ce n'est pas un document XML valide (un seul élément racine "
                                         "et une seule déclaration en tête sont permis).");
    }
}

pugi::xml_node firstElement(const pugi::xml_node &parent, const char *name)
{
    for (const pugi::xml_node &child : parent.children(name)) {
        if (child.type() == pugi::node_element)
            return child;
    }
    return {};
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
    // pugixml walks the tree without recursion: a deeply nested reply cannot exhaust the stack.
    struct Collector : pugi::xml_tree_walker {
        std::string text;
        bool for_each(pugi::xml_node &node) override
        {
            if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata)
                text += node.value();
            return true;
        }
    } collector;
    pugi::xml_node(element).traverse(collector);
    return collector.text;
}

} // namespace gateway
