#include "gateway/line_picture.h"

#include "module_error.h"
#include "platform/atomic_file.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <unistd.h>

namespace gateway {
namespace {

[[noreturn]] void unreadable(const std::string &reason, std::string detail = {})
{
    throw ModuleError("Image de la ligne illisible : " + reason, std::move(detail));
}

// ---- base64 ----

enum CharClass : unsigned char { Digit, Padding, Blank, Invalid };

constexpr std::array<unsigned char, 256> makeClasses()
{
    std::array<unsigned char, 256> classes{};
    classes.fill(Invalid);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (const char c : alphabet)
        classes[static_cast<unsigned char>(c)] = Digit;
    classes['='] = Padding;
    for (const char c : std::string_view(" \t\r\n"))
        classes[static_cast<unsigned char>(c)] = Blank;
    return classes;
}

constexpr std::array<unsigned char, 256> kClasses = makeClasses();

unsigned char classOf(char c) noexcept { return kClasses[static_cast<unsigned char>(c)]; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept
{
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

// The gateway may send the picture as a data URL; its declared type is not trusted,
// the bytes decide.
std::string_view withoutDataPrefix(std::string_view text)
{
    const std::size_t start = std::min(text.find_first_not_of(" \t\r\n"), text.size());
    text.remove_prefix(start);
    if (!startsWithIgnoringCase(text, "data:"))
        return text;
    const std::size_t comma = text.find(',');
    const std::string_view header = text.substr(0, comma);
    constexpr std::string_view marker = ";base64";
    if (comma == std::string_view::npos || header.size() < marker.size()
        || !startsWithIgnoringCase(header.substr(header.size() - marker.size()), marker))
        unreadable("préfixe data: sans base64.");
    return text.substr(comma + 1);
}

struct Base64Shape {
    std::size_t digits = 0; // characters of the alphabet, padding excluded
    std::size_t blanks = 0;
};

// The careful reading of a text that is not one clean line: says what is wrong with it.
Base64Shape inspect(std::string_view text)
{
    Base64Shape shape;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        switch (classOf(text[i])) {
        case Digit:
            if (padding != 0)
                unreadable("signe = au milieu du texte base64.", "position " + std::to_string(i));
            ++shape.digits;
            break;
        case Padding:
            ++padding;
            break;
        case Blank:
            ++shape.blanks;
            break;
        default:
            unreadable("caractère invalide dans le texte base64.", "position " + std::to_string(i));
        }
    }
    if (shape.digits == 0 && padding == 0)
        unreadable("aucune donnée.");
    const std::size_t tail = shape.digits % 4;
    // A lone last character carries no whole byte; padding may only complete the last group.
    if (tail == 1 || (padding != 0 && (tail == 0 || tail + padding != 4)))
        unreadable("fin du texte base64 abîmée.");
    return shape;
}

struct DecodedBytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0;
};

// Whole groups of four alphabet characters, no padding, into `out`. False when OpenSSL
// refuses a group or skips characters (it drops blanks at either end of its input).
bool decodeGroups(const char *digits, std::size_t count, unsigned char *out)
{
    constexpr std::size_t kChunk = std::size_t{1} << 28; // EVP_DecodeBlock takes an int
    while (count > 0) {
        const std::size_t n = std::min(count, kChunk);
        const int decoded = EVP_DecodeBlock(out, reinterpret_cast<const unsigned char *>(digits), static_cast<int>(n));
        if (decoded < 0 || static_cast<std::size_t>(decoded) != n / 4 * 3)
            return false;
        out += n / 4 * 3;
        digits += n;
        count -= n;
    }
    return true;
}

// The last 2 or 3 characters of a text sent without padding (or with it, which is
// dropped before): EVP_DecodeBlock wants whole groups and counts padding as bytes.
void decodeTail(const char *digits, std::size_t count, unsigned char *out)
{
    if (count == 0)
        return;
    std::array<unsigned char, 4> group{'=', '=', '=', '='};
    std::memcpy(group.data(), digits, count);
    std::array<unsigned char, 3> bytes{};
    if (EVP_DecodeBlock(bytes.data(), group.data(), 4) != 3)
        unreadable("texte base64 refusé par le décodeur.");
    std::memcpy(out, bytes.data(), count - 1);
}

std::size_t decodedSize(std::size_t digits) noexcept
{
    const std::size_t tail = digits % 4;
    return digits / 4 * 3 + (tail == 0 ? 0 : tail - 1);
}

// The usual text, alphabet then padding on one line, decoded straight from the caller's
// text with no check of its own: OpenSSL refuses every character outside the alphabet
// except '=', which it reads as a digit, hence the memchr. False when the text needs the
// careful path (blanks, or a fault to name).
bool decodeCompact(std::string_view text, DecodedBytes &bytes)
{
    const std::size_t end = text.find_last_not_of('=') + 1; // 0 when the text is all '='
    const std::string_view body = text.substr(0, end);
    const std::size_t padding = text.size() - end;
    const std::size_t tail = body.size() % 4;
    const std::size_t whole = body.size() - tail;
    if (body.empty() || tail == 1 || (padding != 0 && tail + padding != 4)
        || std::memchr(body.data(), '=', body.size()) != nullptr
        || !std::all_of(body.begin() + static_cast<std::ptrdiff_t>(whole), body.end(),
                        [](char c) { return classOf(c) == Digit; }))
        return false;
    bytes.size = decodedSize(body.size());
    bytes.data = std::make_unique_for_overwrite<unsigned char[]>(bytes.size);
    if (!decodeGroups(body.data(), whole, bytes.data.get())) {
        bytes = {};
        return false;
    }
    decodeTail(body.data() + whole, tail, bytes.data.get() + whole / 4 * 3);
    return true;
}

// Text with line breaks or blanks: gathered a block at a time, so the text is never copied whole.
void decodeScattered(std::string_view text, unsigned char *out)
{
    std::array<char, 64 * 1024> block; // a multiple of 4
    std::size_t filled = 0;
    const auto flush = [&](std::size_t count) {
        if (!decodeGroups(block.data(), count, out))
            unreadable("texte base64 refusé par le décodeur.");
        out += count / 4 * 3;
    };
    for (const char c : text) {
        if (classOf(c) != Digit)
            continue;
        block[filled++] = c;
        if (filled == block.size()) {
            flush(filled);
            filled = 0;
        }
    }
    const std::size_t whole = filled - filled % 4;
    flush(whole);
    decodeTail(block.data() + whole, filled % 4, out);
}

DecodedBytes decodeBase64(std::string_view text)
{
    text = withoutDataPrefix(text);
    DecodedBytes bytes;
    if (decodeCompact(text, bytes))
        return bytes;
    const Base64Shape shape = inspect(text); // throws with the reason when the text is faulty
    bytes.size = decodedSize(shape.digits);
    bytes.data = std::make_unique_for_overwrite<unsigned char[]>(bytes.size);
    decodeScattered(text, bytes.data.get());
    return bytes;
}

// ---- picture ----

// "100 mégapixels", "0,5 mégapixel": the limit as the user reads it.
std::string megapixels(std::uint64_t pixels)
{
    std::string text = std::to_string(pixels / 1'000'000);
    if (const std::uint64_t rest = pixels % 1'000'000; rest != 0) {
        std::string fraction = std::to_string(rest);
        fraction.insert(0, 6 - fraction.size(), '0');
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "," + fraction;
    }
    return text + (pixels < 2'000'000 ? " mégapixel" : " mégapixels");
}

// QImageReader's allocation limit (process-wide, 256 MB by default) would refuse pictures
// that our own pixel limit accepts; 16-bit PNGs decode at 8 bytes per pixel.
void allowAllocation(std::uint64_t pixels)
{
    const std::uint64_t needed = (pixels >> 17) + 16; // pixels * 8 bytes in MB, plus slack
    const int limit = needed > INT_MAX ? INT_MAX : static_cast<int>(needed);
    const int current = QImageReader::allocationLimit();
    if (current != 0 && current < limit)
        QImageReader::setAllocationLimit(limit);
}

QImage readPicture(const DecodedBytes &bytes, const PictureLimits &limits)
{
    QByteArray raw = QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data.get()),
                                             static_cast<qsizetype>(bytes.size));
    QBuffer buffer(&raw);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    if (!reader.canRead())
        unreadable("format d'image non reconnu.", reader.errorString().toStdString());
    const QByteArray format = reader.format();
    if (format != "png" && format != "jpeg" && format != "jpg" && format != "bmp")
        unreadable("format d'image non pris en charge (PNG, JPEG ou BMP attendu).", format.toStdString());

    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        unreadable("format d'image non reconnu.", "no size in the header");
    const std::uint64_t pixels = static_cast<std::uint64_t>(size.width()) * static_cast<std::uint64_t>(size.height());
    if (pixels > limits.maxPixels)
        throw ModuleError("Image de la ligne trop grande : " + std::to_string(size.width()) + " × "
                          + std::to_string(size.height()) + " pixels (" + megapixels(limits.maxPixels)
                          + " au plus).");
    allowAllocation(pixels);

    QImage image;
    if (!reader.read(&image))
        unreadable("les données de l'image sont abîmées ou incomplètes.", reader.errorString().toStdString());
    return image;
}

unsigned overWhite(unsigned channel, unsigned alpha) noexcept
{
    return (channel * alpha + 255U * (255U - alpha) + 127U) / 255U;
}

// Pictures of fewer than 32 bits per pixel (palette, grey, 16-bit channels) are brought
// to 32 bits once; the common RGB32 and ARGB32 pictures are used as decoded.
void toThirtyTwoBits(QImage &image)
{
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32
        && format != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

// One picture row as BMP stores it: blue, green, red, transparency laid over white.
void toBgrRow(const QRgb *line, int width, QImage::Format format, unsigned char *out) noexcept
{
    for (int x = 0; x < width; ++x) {
        const QRgb pixel = line[x];
        auto red = static_cast<unsigned>(qRed(pixel));
        auto green = static_cast<unsigned>(qGreen(pixel));
        auto blue = static_cast<unsigned>(qBlue(pixel));
        const auto alpha = static_cast<unsigned>(qAlpha(pixel));
        if (format != QImage::Format_RGB32 && alpha != 255U) {
            if (format == QImage::Format_ARGB32_Premultiplied) {
                const unsigned white = 255U - alpha;
                red = std::min(red + white, 255U);
                green = std::min(green + white, 255U);
                blue = std::min(blue + white, 255U);
            } else {
                red = overWhite(red, alpha);
                green = overWhite(green, alpha);
                blue = overWhite(blue, alpha);
            }
        }
        out[0] = static_cast<unsigned char>(blue);
        out[1] = static_cast<unsigned char>(green);
        out[2] = static_cast<unsigned char>(red);
        out += 3;
    }
}

// ---- file ----

void putLittleEndian(unsigned char *at, std::uint32_t value, int bytes) noexcept
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The 54-byte header of a bottom-up 24-bit BMP: file header and BITMAPINFOHEADER.
std::array<unsigned char, 54> bmpHeader(int width, int height, std::uint32_t imageBytes) noexcept
{
    std::array<unsigned char, 54> header{};
    header[0] = 'B';
    header[1] = 'M';
    putLittleEndian(&header[2], 54U + imageBytes, 4);   // file size
    putLittleEndian(&header[10], 54U, 4);               // offset of the pixels
    putLittleEndian(&header[14], 40U, 4);               // info header size
    putLittleEndian(&header[18], static_cast<std::uint32_t>(width), 4);
    putLittleEndian(&header[22], static_cast<std::uint32_t>(height), 4);
    putLittleEndian(&header[26], 1U, 2);                // planes
    putLittleEndian(&header[28], 24U, 2);               // bits per pixel
    putLittleEndian(&header[34], imageBytes, 4);        // no compression
    putLittleEndian(&header[38], 3780U, 4);             // 96 dots per inch
    putLittleEndian(&header[42], 3780U, 4);
    return header;
}

// Written straight from the picture's rows, a block at a time: no second copy of the
// picture, and one pass that also lays transparency over white.
void writeBmp(const std::string &path, const QImage &image)
{
    const int width = image.width();
    const int height = image.height();
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::uint64_t imageBytes = static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(height);
    if (imageBytes > 0xFFFFFFFFU - 54U)
        throw ModuleError("Image de la ligne trop grande pour un fichier BMP.");

    platform::AtomicFile file(path);
    const auto header = bmpHeader(width, height, static_cast<std::uint32_t>(imageBytes));
    file.write(std::string_view(reinterpret_cast<const char *>(header.data()), header.size()));

    constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    const std::size_t rowsPerBlock = std::max<std::size_t>(1, kBlockBytes / rowBytes);
    std::vector<unsigned char> block(rowsPerBlock * rowBytes, 0);
    std::size_t filled = 0;
    for (int y = height - 1; y >= 0; --y) { // BMP rows go bottom-up
        toBgrRow(reinterpret_cast<const QRgb *>(image.constScanLine(y)), width, image.format(),
                 block.data() + filled * rowBytes);
        if (++filled == rowsPerBlock || y == 0) {
            file.write(std::string_view(reinterpret_cast<const char *>(block.data()), filled * rowBytes));
            filled = 0;
        }
    }
    file.commit();
}

} // namespace

bool SauverImageLigne(const std::string &path, std::string_view base64, const PictureLimits &limits)
{
    if (path.empty())
        return false;
    QImage image;
    {
        const DecodedBytes bytes = decodeBase64(base64);
        image = readPicture(bytes, limits);
    } // the decoded bytes go before the picture is written
    toThirtyTwoBits(image);
    if (image.isNull())
        throw ModuleError("Mémoire insuffisante pour convertir l'image de la ligne.");
    writeBmp(path, image);
    return true;
}

} // namespace gateway
