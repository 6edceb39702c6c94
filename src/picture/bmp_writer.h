#pragma once

#include "picture/row_source.h"
#include "platform/atomic_file.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace picture {

// A bottom-up 24-bit BMP written as the rows are decoded: its size is known from the
// header, so each block of rows goes straight to its place in the file. The file is an
// AtomicFile: nothing replaces the target before commit().
class BmpWriter {
public:
    BmpWriter(const std::string &path, std::uint32_t width, std::uint32_t height);

    // Every row of `source`, a block at a time.
    void copyRows(RowSource &source, RowSource::Order order);
    void commit() { file_->commit(); }

private:
    // Row `index` of the block, which holds BMP rows bottom-up.
    unsigned char *slot(std::uint32_t index) noexcept { return block_.data() + rowBytes_ * index; }
    // The block's first `count` rows as BMP rows [bmpRow, bmpRow + count).
    void writeBlock(std::uint32_t bmpRow, std::uint32_t count);

    std::uint32_t height_;
    std::size_t rowBytes_;
    std::uint32_t rowsPerBlock_ = 1;
    std::vector<unsigned char> block_;
    std::optional<platform::AtomicFile> file_;
};

} // namespace picture
