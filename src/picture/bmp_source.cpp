#include "picture/bmp_source.h"

#include "picture/faults.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace picture {
namespace {

std::uint32_t readLittleEndian(const unsigned char *at, int bytes) noexcept
{
    std::uint32_t value = 0;
    for (int i = bytes; i-- > 0;)
        value = (value << 8) | at[i];
    return value;
}

// One channel of a 16- or 32-bit BMP pixel, given by its mask.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m = 0)
        : mask(m)
        , shift(m == 0 ? 0 : std::countr_zero(m))
        , max(m >> shift)
    {
    }
    [[nodiscard]] unsigned value(std::uint32_t pixel, unsigned absent) const noexcept
    {
        if (max == 0)
            return absent;
        return static_cast<unsigned>(((std::uint64_t{(pixel & mask) >> shift}) * 255U + max / 2) / max);
    }
};

class BmpSource final : public RowSource {
public:
    explicit BmpSource(PictureInput &input)
        : input_(input)
    {
    }

    Header readHeader(const PictureLimits &limits) override
    {
        readHeaders();
        checkPixels(width_, height_, limits);
        sourceRowBytes_ = static_cast<std::size_t>((std::uint64_t{width_} * bits_ + 31) / 32 * 4);
        return {width_, height_, topDown_ ? Order::TopDown : Order::BottomUp};
    }

    void readRows(unsigned char *const *rows, std::uint32_t count) override
    {
        source_.resize(sourceRowBytes_ * count);
        if (!input_.readExactly(source_.data(), source_.size()))
            damaged("pixels missing");
        for (std::uint32_t i = 0; i < count; ++i)
            convertRow(source_.data() + sourceRowBytes_ * i, rows[i]);
    }

    void finish() override {}

private:
    void readHeaders()
    {
        std::array<unsigned char, 14 + 124> header{};
        if (!input_.readExactly(header.data(), 18))
            damaged("header missing");
        const std::uint32_t pixelsAt = readLittleEndian(&header[10], 4);
        const std::uint32_t infoSize = readLittleEndian(&header[14], 4);
        if (infoSize != 12 && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 64
            && infoSize != 108 && infoSize != 124)
            damaged("info header of " + std::to_string(infoSize) + " bytes");
        if (!input_.readExactly(header.data() + 18, infoSize - 4))
            damaged("header missing");
        const unsigned char *info = header.data() + 14;
        std::uint32_t compression = 0;
        std::uint32_t colours = 0;
        std::int64_t height = 0;
        std::int64_t width = 0;
        if (infoSize == 12) {
            width = readLittleEndian(info + 4, 2);
            height = readLittleEndian(info + 6, 2);
            bits_ = readLittleEndian(info + 10, 2);
        } else {
            width = static_cast<std::int32_t>(readLittleEndian(info + 4, 4));
            height = static_cast<std::int32_t>(readLittleEndian(info + 8, 4));
            bits_ = readLittleEndian(info + 14, 2);
            compression = readLittleEndian(info + 16, 4);
            colours = readLittleEndian(info + 32, 4);
        }
        topDown_ = height < 0;
        height = topDown_ ? -height : height;
        if (width <= 0 || height == 0 || height > 0xFFFFFFFFLL)
            damaged("size " + std::to_string(width) + " x " + std::to_string(height));
        width_ = static_cast<std::uint32_t>(width);
        height_ = static_cast<std::uint32_t>(height);
        if (bits_ != 1 && bits_ != 4 && bits_ != 8 && bits_ != 16 && bits_ != 24 && bits_ != 32)
            damaged(std::to_string(bits_) + " bits per pixel");

        std::uint64_t position = 14 + infoSize;
        constexpr std::uint32_t kRgb = 0;
        constexpr std::uint32_t kBitFields = 3;
        constexpr std::uint32_t kAlphaBitFields = 6;
        if (infoSize == 64 && compression != kRgb) // OS/2 numbers its compressions its own way
            unsupported("compressed OS/2 BMP");
        if (compression == kBitFields || compression == kAlphaBitFields) {
            if (bits_ != 16 && bits_ != 32)
                damaged("bit fields with " + std::to_string(bits_) + " bits per pixel");
            std::array<unsigned char, 16> masks{};
            const std::uint32_t maskCount = compression == kAlphaBitFields ? 4 : 3;
            if (infoSize >= 52) {
                std::memcpy(masks.data(), info + 40, std::min<std::uint32_t>(infoSize - 40, 16));
            } else {
                if (!input_.readExactly(masks.data(), maskCount * 4))
                    damaged("masks missing");
                position += maskCount * 4;
            }
            red_ = Channel(readLittleEndian(&masks[0], 4));
            green_ = Channel(readLittleEndian(&masks[4], 4));
            blue_ = Channel(readLittleEndian(&masks[8], 4));
            if (compression == kAlphaBitFields || infoSize >= 56)
                alpha_ = Channel(readLittleEndian(&masks[12], 4));
        } else if (compression != kRgb) {
            unsupported("compressed BMP, method " + std::to_string(compression));
        } else if (bits_ == 16) {
            red_ = Channel(0x7C00U);
            green_ = Channel(0x03E0U);
            blue_ = Channel(0x001FU);
        } else if (bits_ == 32) {
            red_ = Channel(0x00FF0000U);
            green_ = Channel(0x0000FF00U);
            blue_ = Channel(0x000000FFU);
        }

        if (bits_ <= 8) {
            const std::uint32_t maximum = 1U << bits_;
            const std::uint32_t count = colours == 0 ? maximum : colours;
            if (count > 256)
                damaged(std::to_string(count) + " palette entries");
            const std::size_t entryBytes = infoSize == 12 ? 3 : 4;
            std::vector<unsigned char> entries(count * entryBytes);
            if (!input_.readExactly(entries.data(), entries.size()))
                damaged("palette missing");
            position += entries.size();
            for (std::uint32_t i = 0; i < count; ++i)
                std::memcpy(&palette_[i * 3], &entries[i * entryBytes], 3);
        }
        if (pixelsAt < position)
            damaged("pixels start inside the headers");
        std::array<unsigned char, 4096> skipped;
        for (std::uint64_t gap = pixelsAt - position; gap > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(gap, skipped.size()));
            if (!input_.readExactly(skipped.data(), n))
                damaged("pixels missing");
            gap -= n;
        }
    }

    void convertRow(const unsigned char *in, unsigned char *out) const noexcept
    {
        const std::size_t width = width_;
        if (bits_ == 24) {
            std::memcpy(out, in, width * 3);
        } else if (bits_ <= 8) {
            const unsigned perByte = 8U / bits_;
            const unsigned mask = (1U << bits_) - 1U;
            for (std::size_t x = 0; x < width; ++x, out += 3) {
                const unsigned shift = 8U - bits_ * (static_cast<unsigned>(x % perByte) + 1U);
                const unsigned index = (in[x / perByte] >> shift) & mask;
                std::memcpy(out, &palette_[index * 3], 3);
            }
        } else if (bits_ == 32 && alpha_.max == 0 && red_.mask == 0x00FF0000U && green_.mask == 0x0000FF00U
                   && blue_.mask == 0x000000FFU) {
            for (std::size_t x = 0; x < width; ++x, in += 4, out += 3)
                std::memcpy(out, in, 3);
        } else {
            const std::size_t bytes = bits_ / 8U;
            for (std::size_t x = 0; x < width; ++x, in += bytes, out += 3) {
                const std::uint32_t pixel = readLittleEndian(in, static_cast<int>(bytes));
                const unsigned alpha = alpha_.value(pixel, 255U);
                out[0] = static_cast<unsigned char>(overWhite(blue_.value(pixel, 0), alpha));
                out[1] = static_cast<unsigned char>(overWhite(green_.value(pixel, 0), alpha));
                out[2] = static_cast<unsigned char>(overWhite(red_.value(pixel, 0), alpha));
            }
        }
    }

    PictureInput &input_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t bits_ = 0;
    bool topDown_ = false;
    Channel red_, green_, blue_, alpha_;
    std::array<unsigned char, 256 * 3> palette_{}; // blue, green, red; entries not given stay black
    std::size_t sourceRowBytes_ = 0;
    std::vector<unsigned char> source_; // the block's rows as the file holds them
};

} // namespace

std::unique_ptr<RowSource> makeBmpSource(PictureInput &input)
{
    return std::make_unique<BmpSource>(input);
}

} // namespace picture
