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

// A name Windows keeps for a device whatever follows its first dot, in any case, with
// trailing blanks ("nul .bmp" is NUL): writing "NUL.bmp" writes nowhere.
bool isDeviceName(std::string_view name)
{
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char &c : stem)
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0))
        return false;
    const std::string_view number = std::string_view(stem).substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9')
        || number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3"; // ¹ ² ³
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
    else if (isDeviceName(name))
        name.insert(0, 1, '_'); // the same name on both builds
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(platform::pathOf(resultPath), ec).parent_path();
    if (ec || folder.empty())
        folder = std::filesystem::current_path();
    return platform::textOf(folder / platform::pathOf(name + ".bmp"));
}

host::LigneDevis saveRetrieval(const std::string &documentText, const std::string &project, std::string *quoteBody,
                               const std::string &resultPath, const picture::PictureLimits &limits,
                               std::vector<std::string> *written)
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
        if (picture::SauverImageLigne(picturePath, reply->picture(), limits)) {
            line.Image = picturePath;
            if (written != nullptr)
                written->push_back(picturePath);
        }
    }
    reply.reset();
    platform::writeFileAtomically(resultPath, host::resultFileBytes(documentText, line));
    if (written != nullptr)
        written->push_back(resultPath);
    return line;
}

} // namespace gateway
