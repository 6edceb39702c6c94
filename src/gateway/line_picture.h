#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gateway {

struct PictureLimits {
    std::uint64_t maxPixels = 100'000'000; // refused before decoding when width*height exceeds it
    // Memory a picture needs held whole while it decodes (an interlaced PNG's pixels, a
    // progressive JPEG's coefficients), beyond the few rows every picture uses. Checked
    // from the header, before decoding.
    std::uint64_t maxDecodedBytes = std::uint64_t{320} << 20;
};

// Writes the picture held in `base64` (PNG, JPEG or BMP, recognised from its bytes) as a
// 24-bit BMP at `path`. Returns false, touching nothing, when `path` is empty. Throws
// ModuleError (French message) on every failure, leaving the file at `path` as it was.
[[nodiscard]] bool SauverImageLigne(const std::string &path, std::string_view base64,
                                    const PictureLimits &limits = {});

} // namespace gateway
