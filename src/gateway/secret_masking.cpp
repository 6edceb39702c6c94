#include "gateway/secret_masking.h"

#include "gateway/query.h"

namespace gateway {
namespace {

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

} // namespace

std::string hideSecret(std::string text, std::string_view secret)
{
    if (secret.empty())
        return text;
    // As typed, and as a query string carries it back ('+' for a space); hex digits in
    // either case are covered by comparing without regard to case.
    const std::string encoded = encodeQueryValue(secret);
    std::string plus;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const bool space = encoded.compare(i, 3, "%20") == 0;
        plus += space ? '+' : encoded[i];
        i += space ? 2 : 0;
    }
    for (const std::string &form : {std::string(secret), encoded, plus}) {
        const std::string needle = folded(form);
        std::string haystack = folded(text);
        for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 4)) {
            text.replace(at, needle.size(), "****");
            haystack.replace(at, needle.size(), "****");
        }
    }
    return text;
}

} // namespace gateway
