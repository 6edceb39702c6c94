#include "picture/base64.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace picture {
namespace {

// The value of each alphabet character; anything else has the high bit set.
constexpr std::array<unsigned char, 256> makeValues()
{
    std::array<unsigned char, 256> values{};
    values.fill(0x80);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        values[static_cast<unsigned char>(alphabet[i])] = static_cast<unsigned char>(i);
    return values;
}

constexpr std::array<unsigned char, 256> kValues = makeValues();

} // namespace

bool decodeBase64Groups(const char *digits, std::size_t count, unsigned char *out) noexcept
{
    const auto *in = reinterpret_cast<const unsigned char *>(digits);
    unsigned invalid = 0;
    for (std::size_t i = 0; i + 4 <= count; i += 4) {
        const unsigned a = kValues[in[i]];
        const unsigned b = kValues[in[i + 1]];
        const unsigned c = kValues[in[i + 2]];
        const unsigned d = kValues[in[i + 3]];
        invalid |= a | b | c | d;
        const std::uint32_t group = (a << 18) | (b << 12) | (c << 6) | d;
        out[0] = static_cast<unsigned char>(group >> 16);
        out[1] = static_cast<unsigned char>(group >> 8);
        out[2] = static_cast<unsigned char>(group);
        out += 3;
    }
    return (invalid & 0x80U) == 0;
}

bool decodeBase64Tail(const char *digits, std::size_t count, unsigned char *out) noexcept
{
    std::array<char, 4> group{'A', 'A', 'A', 'A'};
    std::memcpy(group.data(), digits, count);
    std::array<unsigned char, 3> bytes{};
    if (!decodeBase64Groups(group.data(), group.size(), bytes.data()))
        return false;
    std::memcpy(out, bytes.data(), count - 1);
    return true;
}

} // namespace picture
