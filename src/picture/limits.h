#pragma once

#include <cstdint>
#include <string>

namespace picture {

struct PictureLimits {
    std::uint64_t maxPixels = 100'000'000; // refused before decoding when width*height exceeds it
    // Memory a picture needs held whole while it decodes (an interlaced PNG's pixels, a
    // progressive JPEG's coefficients), beyond the few rows every picture uses. Checked
    // from the header, before decoding.
    std::uint64_t maxDecodedBytes = std::uint64_t{320} << 20;
};

// "4000 × 3000 pixels", for messages.
[[nodiscard]] std::string dimensions(std::uint64_t width, std::uint64_t height);

// Throw PictureFault "Image de la ligne trop grande : ..." past a limit.
void checkPixels(std::uint64_t width, std::uint64_t height, const PictureLimits &limits);
void checkDecodedBytes(std::uint64_t width, std::uint64_t height, std::uint64_t bytes, const PictureLimits &limits);
[[noreturn]] void tooMuchMemory(std::uint64_t width, std::uint64_t height, std::string detail = {});

} // namespace picture
