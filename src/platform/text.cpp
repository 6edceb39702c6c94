#include "platform/text.h"

#include "platform/charset.h"

#include <array>

#include <simdjson.h>

namespace platform {
namespace {

// Code points of the bytes 0x80..0x9F in Windows-1252; undefined bytes keep their value.
constexpr std::array<char32_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isContinuation(unsigned char c) noexcept { return (c & 0xC0U) == 0x80U; }

} // namespace

bool isValidUtf8(std::string_view bytes) noexcept
{
    return simdjson::validate_utf8(bytes.data(), bytes.size());
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string cp1252ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            appendUtf8(out, kCp1252High[c - 0x80U]);
        else
            appendUtf8(out, c);
    }
    return out;
}

namespace {

// UTF-16 text after its byte-order mark, as Windows writes "Unicode" INI files.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    std::string out;
    out.reserve(bytes.size());
    const auto unit = [&](std::size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD; // a lone half of a pair
        appendUtf8(out, cp);
    }
    return out;
}

} // namespace

std::string decodeHostText(std::string_view bytes)
{
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return utf16ToUtf8(bytes.substr(2), false);
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return utf16ToUtf8(bytes.substr(2), true);
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        bytes.remove_prefix(kUtf8Bom.size());
    if (isValidUtf8(bytes))
        return std::string(bytes);
    return cp1252ToUtf8(bytes);
}

std::string charsetOf(std::string_view contentType)
{
    std::string lower(contentType);
    for (char &c : lower)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    const std::size_t at = lower.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string_view value = std::string_view(lower).substr(at + 8);
    value = value.substr(0, value.find(';'));
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

namespace {

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower;
}

// The encoding named by an XML declaration at the start of `body`, if any.
std::string declaredEncoding(std::string_view body)
{
    if (body.substr(0, 5) != "<?xml")
        return {};
    const std::string_view declaration = body.substr(0, body.find("?>"));
    const std::size_t key = declaration.find("encoding");
    if (key == std::string_view::npos)
        return {};
    std::size_t at = declaration.find_first_not_of(" \t\r\n", key + 8);
    if (at == std::string_view::npos || declaration[at] != '=')
        return {};
    at = declaration.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string_view::npos || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos)
        return {};
    return lowerAscii(declaration.substr(at + 1, end - at - 1));
}

// Only the characters charset names are made of reach the system.
bool isPlainLabel(std::string_view label)
{
    return !label.empty() && label.size() <= 40 && label.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_.:")
                                                       == std::string_view::npos;
}

} // namespace

std::string replyCharset(std::string_view contentType, std::string_view body)
{
    if (body.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        return "utf-8";
    if (body.substr(0, 2) == "\xFF\xFE")
        return "utf-16le";
    if (body.substr(0, 2) == "\xFE\xFF")
        return "utf-16be";
    if (std::string charset = charsetOf(contentType); !charset.empty())
        return charset;
    return declaredEncoding(body);
}

std::string decodeWithCharset(std::string &&bytes, std::string_view charset)
{
    // Browsers read Latin-1 and ASCII labels as Windows-1252 too.
    const bool singleByte = charset == "iso-8859-1" || charset == "latin1" || charset == "l1"
                         || charset == "iso_8859-1" || charset == "windows-1252" || charset == "cp1252"
                         || charset == "x-cp1252" || charset == "us-ascii" || charset == "ascii";
    if (singleByte)
        return cp1252ToUtf8(bytes);
    if (charset == "utf-16" || charset == "utf-16le" || charset == "utf-16be") {
        std::string_view text = bytes;
        bool bigEndian = charset == "utf-16be";
        if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
            bigEndian = text[0] == '\xFE';
            text.remove_prefix(2);
        } else if (charset == "utf-16") {
            bigEndian = !text.empty() && text[0] == '\0'; // "<" as 00 3C
        }
        return utf16ToUtf8(text, bigEndian);
    }
    const bool utf8 = charset.empty() || charset == "utf-8" || charset == "utf8";
    if (!utf8 && isPlainLabel(charset)) {
        if (std::optional<std::string> text = decodeWithSystem(bytes, charset))
            return std::move(*text);
    }
    if (std::string_view(bytes).substr(0, kUtf8Bom.size()) == kUtf8Bom)
        bytes.erase(0, kUtf8Bom.size());
    if (isValidUtf8(bytes))
        return std::move(bytes);
    return cp1252ToUtf8(bytes);
}

int cp1252ByteFor(char32_t cp) noexcept
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return static_cast<int>(cp);
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == cp)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

char32_t nextCodePoint(std::string_view s, std::size_t &pos) noexcept
{
    const auto c = static_cast<unsigned char>(s[pos]);
    std::size_t len = 1;
    char32_t cp = c;
    if (c >= 0xF0) {
        len = 4;
        cp = c & 0x07U;
    } else if (c >= 0xE0) {
        len = 3;
        cp = c & 0x0FU;
    } else if (c >= 0xC0) {
        len = 2;
        cp = c & 0x1FU;
    }
    for (std::size_t k = 1; k < len && pos + k < s.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[pos + k]) & 0x3FU);
    pos += len;
    return cp;
}

std::string_view firstCodePoints(std::string_view s, std::size_t maxCodePoints) noexcept
{
    std::size_t pos = 0;
    for (std::size_t count = 0; pos < s.size() && count < maxCodePoints; ++count) {
        ++pos;
        while (pos < s.size() && isContinuation(static_cast<unsigned char>(s[pos])))
            ++pos;
    }
    return s.substr(0, pos);
}

} // namespace platform
