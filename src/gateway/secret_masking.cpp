#include "gateway/secret_masking.h"

#include "gateway/query.h"

#include <array>

namespace gateway {
namespace {

constexpr std::string_view kMask = "****";
constexpr std::size_t kShortSecret = 4; // code points

// A same-length copy for comparing without regard to case: ASCII letters and the
// accented Latin-1 capitals (two UTF-8 bytes each) folded to small letters.
std::string folded(std::string_view text)
{
    std::string out(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            out[i] = static_cast<char>(c + 32);
        } else if (c == 0xC3 && i + 1 < out.size()) {
            const auto next = static_cast<unsigned char>(out[i + 1]);
            if (next >= 0x80 && next <= 0x9E && next != 0x97) // À..Þ but ×
                out[i + 1] = static_cast<char>(next + 0x20);
            ++i;
        }
    }
    return out;
}

std::size_t codePoints(std::string_view text)
{
    std::size_t count = 0;
    for (const char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0U) != 0x80U ? 1 : 0;
    return count;
}

// The secret as typed, and as a query string carries it back ('+' for a space); hex
// digits in either case are covered by comparing without regard to case. Folded.
std::array<std::string, 3> foldedForms(std::string_view secret)
{
    const std::string encoded = encodeQueryValue(secret);
    std::string plus;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const bool space = encoded.compare(i, 3, "%20") == 0;
        plus += space ? '+' : encoded[i];
        i += space ? 2 : 0;
    }
    return {folded(secret), folded(encoded), folded(plus)};
}

std::string maskEverywhere(std::string text, std::string_view secret)
{
    for (const std::string &needle : foldedForms(secret)) {
        std::string haystack = folded(text);
        for (std::size_t at = haystack.find(needle); at != std::string::npos;
             at = haystack.find(needle, at + kMask.size())) {
            text.replace(at, needle.size(), kMask);
            haystack.replace(at, needle.size(), kMask);
        }
    }
    return text;
}

bool endsValue(char c)
{
    return std::string_view("&#; \t\r\n\"'<>").find(c) != std::string_view::npos;
}

// Only where the secret is the whole value of "mdp=" in an address or a query string.
std::string maskAsValue(std::string text, std::string_view secret)
{
    const std::array<std::string, 3> forms = foldedForms(secret);
    constexpr std::string_view key = "mdp=";
    for (std::size_t at = folded(text).find(key); at != std::string::npos; at = folded(text).find(key, at + 1)) {
        const std::size_t start = at + key.size();
        std::size_t end = start;
        while (end < text.size() && !endsValue(text[end]))
            ++end;
        const std::string value = folded(std::string_view(text).substr(start, end - start));
        for (const std::string &form : forms) {
            if (value == form) {
                text.replace(start, end - start, kMask);
                break;
            }
        }
    }
    return text;
}

} // namespace

std::string hideSecret(std::string text, std::string_view secret)
{
    if (secret.empty())
        return text;
    if (codePoints(secret) < kShortSecret)
        return maskAsValue(std::move(text), secret);
    return maskEverywhere(std::move(text), secret);
}

std::string maskSecrets(const UserMessage &message, std::initializer_list<std::string_view> secrets)
{
    std::string text = message.text;
    for (const std::string &piece : message.outside) {
        if (piece.empty())
            continue;
        std::string masked = piece;
        for (const std::string_view secret : secrets)
            masked = hideSecret(std::move(masked), secret);
        if (masked == piece)
            continue;
        for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + masked.size()))
            text.replace(at, piece.size(), masked);
    }
    return text;
}

} // namespace gateway
