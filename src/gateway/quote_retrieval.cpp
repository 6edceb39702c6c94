#include "gateway/quote_retrieval.h"

#include "gateway/query.h"
#include "picture/line_picture.h"
#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "xml/xml_reading.h"

#include <pugixml.hpp>

#include <filesystem>
#include <optional>

namespace gateway {
namespace {

bool isUnsafeInFileName(unsigned char c)
{
    return c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"'
        || c == '<' || c == '>' || c == '|';
}

} // namespace

RetrievalDocument readRetrievalDocument(std::string_view text)
{
    pugi::xml_document document;
    xml::loadXml(document, text, "Document de récupération");
    RetrievalDocument result;
    const pugi::xml_node root = xml::firstElement(document, "Configurateur");
    if (!root)
        return result;
    result.hasConfigurateur = true;
    result.Jeton = xml::elementText(xml::firstElement(root, "Jeton"));
    result.Passerelle = xml::elementText(xml::firstElement(root, "Passerelle"));
    result.Project = xml::elementText(xml::firstElement(root, "Project"));
    return result;
}

std::string quoteUrl(std::string_view gatewayHost, std::string_view project)
{
    return "https://" + std::string(gatewayHost) + "/index.php/Services/recuperation_valmora?projet="
         + encodeQueryValue(project);
}

std::string linePicturePath(const std::string &resultPath, const std::string &project)
{
    std::string name = project;
    for (char &c : name) {
        if (isUnsafeInFileName(static_cast<unsigned char>(c)))
            c = '_';
    }
    if (name.find_first_not_of('.') == std::string::npos)
        name.assign(1, '_'); // "", "." and ".." name no file
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(platform::pathOf(resultPath), ec).parent_path();
    if (ec || folder.empty())
        folder = std::filesystem::current_path();
    return platform::textOf(folder / platform::pathOf(name + ".bmp"));
}

host::LigneDevis saveRetrieval(const std::string &documentText, const std::string &project, std::string *quoteBody,
                         const std::string &resultPath, const picture::PictureLimits &limits)
{
    host::LigneDevis line;
    std::optional<QuoteReply> reply;
    if (quoteBody != nullptr) {
        reply = parseQuoteReply(*quoteBody);
        line = reply->line;
    }
    // The result file's place is checked before the picture is written beside it.
    platform::checkWritable(resultPath);
    if (reply && reply->hasPicture) {
        const std::string picturePath = linePicturePath(resultPath, project);
        if (picture::SauverImageLigne(picturePath, reply->picture(), limits))
            line.Image = picturePath;
    }
    reply.reset();
    platform::writeFileAtomically(resultPath, host::resultFileBytes(documentText, line));
    return line;
}

} // namespace gateway
