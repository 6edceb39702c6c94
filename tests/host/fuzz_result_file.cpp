// Retrieval document + seven line values (separated by NUL bytes) -> result file bytes,
// which must always read back as XML with the line appended last.
#include "host/result_file.h"

#include "platform/module_error.h"
#include "platform/text.h"

#include <pugixml.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "result file check failed: %s\n", what);
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::array<std::string, 8> parts;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t end = i + 1 < parts.size() ? input.find('\0') : std::string_view::npos;
        parts[i] = platform::decodeHostText(input.substr(0, end));
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
    }
    const host::LigneDevis line{parts[1], parts[2], parts[3], parts[4], parts[5], parts[6], parts[7]};

    std::string bytes;
    try {
        bytes = host::resultFileBytes(parts[0], line);
    } catch (const ModuleError &) {
        return 0; // the document was not XML
    }
    require(bytes.size() >= 4 && bytes.compare(bytes.size() - 4, 4, "\r\n\r\n") == 0, "ends with CR LF CR LF");
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n')
            require(i > 0 && bytes[i - 1] == '\r', "LF only after CR");
        if (bytes[i] == '\r')
            require(i + 1 < bytes.size() && bytes[i + 1] == '\n', "CR only before LF");
    }

    pugi::xml_document back;
    const std::string text = platform::cp1252ToUtf8(bytes);
    require(static_cast<bool>(back.load_buffer(text.data(), text.size(), pugi::parse_full, pugi::encoding_utf8)),
            "reads back as XML");
    const pugi::xml_node declaration = back.first_child();
    require(declaration.type() == pugi::node_declaration
                && std::string_view(declaration.attribute("encoding").value()) == "ISO-8859-1",
            "ISO-8859-1 declaration first");
    pugi::xml_node root;
    for (const pugi::xml_node &node : back.children("Configurateur")) {
        if (!root && node.type() == pugi::node_element)
            root = node;
    }
    if (root) {
        const char *names[] = {"Image", "PrixTotal", "Quantite", "PrixUnitaire", "EcoTaxe", "Detail", "Libelle"};
        pugi::xml_node node = root.last_child();
        for (const char *name : names) {
            while (node && node.type() != pugi::node_element)
                node = node.previous_sibling();
            require(node && std::string_view(node.name()) == name, "seven line elements last");
            node = node.previous_sibling();
        }
    }
    return 0;
}
