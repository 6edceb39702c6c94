#include "xml/xml_reading.h"

#include "platform/module_error.h"

#include <expat.h>

#include <algorithm>
#include <memory>
#include <new>

namespace xml {

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

struct ExpatDeleter {
    void operator()(XML_ParserStruct *parser) const noexcept { XML_ParserFree(parser); }
};

// What a conforming parser finds wrong with the text, if anything. pugixml alone
// accepts duplicate attributes, undefined entities, text after the root, several
// roots and late declarations.
struct Conformance {
    bool wellFormed = true;
    std::size_t offset = 0;
    std::string reason;
};

struct ExpatState {
    XML_Parser parser;
    bool declaresEntities = false;
};

// An entity declared in the document type, or one it cannot see: pugixml would not
// expand it, so the document is not read.
void onEntityDeclaration(void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
                         const XML_Char *, const XML_Char *, const XML_Char *)
{
    auto *state = static_cast<ExpatState *>(data);
    state->declaresEntities = true;
    XML_StopParser(state->parser, XML_FALSE);
}

void onSkippedEntity(void *data, const XML_Char *, int)
{
    auto *state = static_cast<ExpatState *>(data);
    state->declaresEntities = true;
    XML_StopParser(state->parser, XML_FALSE);
}

Conformance checkConformance(std::string_view text)
{
    // The text is UTF-8 whatever its declaration says: the HTTP layer decoded it.
    const std::unique_ptr<XML_ParserStruct, ExpatDeleter> parser(XML_ParserCreate("UTF-8"));
    if (!parser)
        throw std::bad_alloc();
    ExpatState state{parser.get()};
    XML_SetUserData(parser.get(), &state);
    XML_SetEntityDeclHandler(parser.get(), &onEntityDeclaration);
    XML_SetSkippedEntityHandler(parser.get(), &onSkippedEntity);
    constexpr std::size_t kChunk = std::size_t{1} << 30; // XML_Parse takes an int
    XML_Status status = XML_STATUS_OK;
    do {
        const std::size_t n = std::min(text.size(), kChunk);
        status = XML_Parse(parser.get(), text.data(), static_cast<int>(n), n == text.size() ? XML_TRUE : XML_FALSE);
        text.remove_prefix(n);
    } while (status == XML_STATUS_OK && !text.empty());
    if (state.declaresEntities)
        return {false, static_cast<std::size_t>(XML_GetCurrentByteIndex(parser.get())), "entity declaration"};
    if (status == XML_STATUS_OK)
        return {};
    const XML_Error error = XML_GetErrorCode(parser.get());
    if (error == XML_ERROR_NO_MEMORY)
        throw std::bad_alloc();
    return {false, static_cast<std::size_t>(std::max<XML_Index>(XML_GetCurrentByteIndex(parser.get()), 0)),
            XML_ErrorString(error)};
}

} // namespace

void loadXml(pugi::xml_document &document, std::string_view text, const std::string &documentName)
{
    const Conformance conformance = checkConformance(text);
    if (!conformance.wellFormed) {
        throw ModuleError(documentName + " illisible : ce n'est pas un document XML valide (erreur à la position "
                              + std::to_string(conformance.offset) + ").",
                          conformance.reason);
    }
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

} // namespace xml
