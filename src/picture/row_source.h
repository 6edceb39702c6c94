#pragma once

#include "picture/limits.h"

#include <cstddef>
#include <cstdint>

namespace picture {

// A decoder as the BMP writer drives it: the picture's size once its header is read and
// the limits checked, then its rows as 24-bit blue, green, red, in the order it gives.
// Faults throw PictureFault (or ModuleError for a fault of the text under it).
class RowSource {
public:
    enum class Order { TopDown, BottomUp };
    struct Header {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        Order order = Order::TopDown;
    };

    virtual ~RowSource() = default;

    // Reads the header; what the limits forbid is refused before any pixel is decoded.
    [[nodiscard]] virtual Header readHeader(const PictureLimits &limits) = 0;
    // The next `count` rows: row i into rows[i], width * 3 bytes.
    virtual void readRows(unsigned char *const *rows, std::uint32_t count) = 0;
    // After the last row: what follows the pixels.
    virtual void finish() = 0;
};

// A channel with its transparency laid over white.
[[nodiscard]] inline unsigned overWhite(unsigned channel, unsigned alpha) noexcept
{
    return (channel * alpha + 255U * (255U - alpha) + 127U) / 255U;
}

// Blue, green, red, alpha to the BMP's blue, green, red, transparency laid over white.
inline void bgraToBgr(const unsigned char *in, std::size_t width, unsigned char *out) noexcept
{
    for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned alpha = in[3];
        out[0] = static_cast<unsigned char>(overWhite(in[0], alpha));
        out[1] = static_cast<unsigned char>(overWhite(in[1], alpha));
        out[2] = static_cast<unsigned char>(overWhite(in[2], alpha));
    }
}

} // namespace picture
