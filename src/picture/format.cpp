#include "picture/format.h"

#include "picture/bmp_source.h"
#include "picture/faults.h"
#include "picture/jpeg_source.h"
#include "picture/png_source.h"

#include <array>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace picture {
namespace {

enum class Format { Png, Jpeg, Bmp, Other, Unknown };

Format recognise(std::span<const unsigned char> head, std::string &name)
{
    const auto startsWith = [head](std::string_view magic, std::size_t at = 0) {
        return head.size() >= at + magic.size() && std::memcmp(head.data() + at, magic.data(), magic.size()) == 0;
    };
    using namespace std::string_view_literals;
    if (startsWith("\x89PNG\r\n\x1A\n"sv))
        return Format::Png;
    if (startsWith("\xFF\xD8\xFF"sv))
        return Format::Jpeg;
    if (startsWith("BM"sv))
        return Format::Bmp;
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kOthers{{
        {"GIF87a"sv, "gif"sv},
        {"GIF89a"sv, "gif"sv},
        {"II*\0"sv, "tiff"sv},
        {"MM\0*"sv, "tiff"sv},
        {"\0\0\1\0"sv, "ico"sv},
        {"\0\0\2\0"sv, "cur"sv},
        {"8BPS"sv, "psd"sv},
        {"qoif"sv, "qoi"sv},
        {"\0\0\0\x0CjP  "sv, "jpeg 2000"sv},
        {"\xFF\x0A"sv, "jpeg xl"sv},
    }};
    for (const auto &[magic, format] : kOthers) {
        if (startsWith(magic)) {
            name = format;
            return Format::Other;
        }
    }
    if (startsWith("RIFF"sv) && startsWith("WEBP"sv, 8)) {
        name = "webp";
        return Format::Other;
    }
    if (startsWith("ftyp"sv, 4)) {
        name = "heif";
        return Format::Other;
    }
    if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7'
        && (head[2] == ' ' || head[2] == '\n' || head[2] == '\r' || head[2] == '\t')) {
        name = "pnm";
        return Format::Other;
    }
    return Format::Unknown;
}

} // namespace

std::unique_ptr<RowSource> openRowSource(PictureInput &input)
{
    std::string name;
    switch (recognise(input.head(), name)) {
    case Format::Png:
        return makePngSource(input);
    case Format::Jpeg:
        return makeJpegSource(input);
    case Format::Bmp:
        return makeBmpSource(input);
    case Format::Other:
        unsupported(name);
    case Format::Unknown:
        break;
    }
    refuse("format d'image non reconnu.");
}

} // namespace picture
