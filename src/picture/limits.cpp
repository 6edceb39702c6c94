#include "picture/limits.h"

#include "picture/faults.h"

#include <utility>

namespace picture {
namespace {

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

} // namespace

std::string dimensions(std::uint64_t width, std::uint64_t height)
{
    return std::to_string(width) + " × " + std::to_string(height) + " pixels";
}

void checkPixels(std::uint64_t width, std::uint64_t height, const PictureLimits &limits)
{
    if (width * height > limits.maxPixels)
        throw PictureFault("Image de la ligne trop grande : " + dimensions(width, height) + " ("
                           + megapixels(limits.maxPixels) + " au plus).");
}

void checkDecodedBytes(std::uint64_t width, std::uint64_t height, std::uint64_t bytes, const PictureLimits &limits)
{
    if (bytes > limits.maxDecodedBytes)
        tooMuchMemory(width, height, std::to_string(bytes) + " bytes needed");
}

void tooMuchMemory(std::uint64_t width, std::uint64_t height, std::string detail)
{
    throw PictureFault("Image de la ligne trop grande : " + dimensions(width, height)
                           + ", trop de mémoire nécessaire pour la décoder.",
                       std::move(detail));
}

} // namespace picture
