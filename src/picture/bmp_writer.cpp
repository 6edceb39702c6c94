#include "picture/bmp_writer.h"

#include "picture/faults.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace picture {
namespace {

constexpr std::uint32_t kHeaderBytes = 54;

void putLittleEndian(unsigned char *at, std::uint32_t value, int bytes) noexcept
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The file header and BITMAPINFOHEADER of a bottom-up 24-bit BMP.
std::array<unsigned char, kHeaderBytes> bmpHeader(std::uint32_t width, std::uint32_t height,
                                                  std::uint32_t imageBytes) noexcept
{
    std::array<unsigned char, kHeaderBytes> header{};
    header[0] = 'B';
    header[1] = 'M';
    putLittleEndian(&header[2], kHeaderBytes + imageBytes, 4); // file size
    putLittleEndian(&header[10], kHeaderBytes, 4);             // offset of the pixels
    putLittleEndian(&header[14], 40U, 4);                      // info header size
    putLittleEndian(&header[18], width, 4);
    putLittleEndian(&header[22], height, 4);
    putLittleEndian(&header[26], 1U, 2);                       // planes
    putLittleEndian(&header[28], 24U, 2);                      // bits per pixel
    putLittleEndian(&header[34], imageBytes, 4);               // no compression
    putLittleEndian(&header[38], 3780U, 4);                    // 96 dots per inch
    putLittleEndian(&header[42], 3780U, 4);
    return header;
}

} // namespace

BmpWriter::BmpWriter(const std::string &path, std::uint32_t width, std::uint32_t height)
    : height_(height)
    , rowBytes_((static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3})
{
    const std::uint64_t imageBytes = static_cast<std::uint64_t>(rowBytes_) * height;
    if (imageBytes > 0xFFFFFFFFU - kHeaderBytes)
        throw PictureFault("Image de la ligne trop grande pour un fichier BMP.", dimensions(width, height));
    constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    rowsPerBlock_ = static_cast<std::uint32_t>(
        std::max<std::size_t>(1, std::min<std::size_t>(kBlockBytes / rowBytes_, height)));
    block_.assign(rowsPerBlock_ * rowBytes_, 0); // the padding bytes stay zero
    file_.emplace(path);
    const auto header = bmpHeader(width, height, static_cast<std::uint32_t>(imageBytes));
    file_->writeAt(0, std::string_view(reinterpret_cast<const char *>(header.data()), header.size()));
}

void BmpWriter::copyRows(RowSource &source, RowSource::Order order)
{
    std::vector<unsigned char *> rows(rowsPerBlock_);
    for (std::uint32_t done = 0; done < height_;) {
        const std::uint32_t count = std::min(rowsPerBlock_, height_ - done);
        // BMP rows run bottom-up: a top-down source fills the block from its end.
        for (std::uint32_t i = 0; i < count; ++i)
            rows[i] = order == RowSource::Order::TopDown ? slot(count - 1 - i) : slot(i);
        source.readRows(rows.data(), count);
        writeBlock(order == RowSource::Order::TopDown ? height_ - done - count : done, count);
        done += count;
    }
}

void BmpWriter::writeBlock(std::uint32_t bmpRow, std::uint32_t count)
{
    file_->writeAt(kHeaderBytes + static_cast<std::uint64_t>(bmpRow) * rowBytes_,
                   std::string_view(reinterpret_cast<const char *>(block_.data()), count * rowBytes_));
}

} // namespace picture
