#include "picture/png_source.h"

#include "picture/faults.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

// libpng reports errors by longjmp. Every libpng call runs in one of the small functions
// below that call setjmp and hold only plain data; the callbacks let no exception through
// (what they catch is kept and rethrown once libpng has returned).
namespace picture {
namespace {

struct PngContext {
    PictureInput *input;
    bool outOfMemory;
    char message[160];
};

[[noreturn]] void pngError(png_structp png, png_const_charp message)
{
    auto *context = static_cast<PngContext *>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

png_voidp pngAllocate(png_structp png, png_alloc_size_t size)
{
    void *p = std::malloc(size);
    if (p == nullptr)
        static_cast<PngContext *>(png_get_mem_ptr(png))->outOfMemory = true;
    return p;
}

void pngFree(png_structp, png_voidp p) { std::free(p); }

void pngRead(png_structp png, png_bytep out, std::size_t size)
{
    auto *context = static_cast<PngContext *>(png_get_io_ptr(png));
    std::size_t got = 0;
    if (!context->input->pull(out, size, got))
        png_error(png, "reading the base64 text failed");
    if (got != size)
        png_error(png, "unexpected end of file");
}

struct PngLayout {
    png_uint_32 width;
    png_uint_32 height;
    int channels; // after the transformations: 3 (blue, green, red) or 4 (with alpha)
    int passes;
};

bool pngReadHeader(png_structp png, png_infop info, PngContext *context, PngLayout *layout)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, context, pngRead);
    png_set_user_limits(png, 0x7FFFFFFFU, 0x7FFFFFFFU); // our own pixel limit decides
    png_read_info(png, info);
    layout->width = png_get_image_width(png, info);
    layout->height = png_get_image_height(png, info);
    return true;
}

// Every picture brought to 8-bit blue, green, red, with alpha when it has transparency.
bool pngSetUp(png_structp png, png_infop info, PngLayout *layout)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const png_byte type = png_get_color_type(png, info);
    const png_byte depth = png_get_bit_depth(png, info);
    if (type == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (type == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS) != 0)
        png_set_tRNS_to_alpha(png);
    if (depth == 16)
        png_set_scale_16(png);
    if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_bgr(png);
    layout->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->channels = png_get_channels(png, info);
    return true;
}

bool pngReadRows(png_structp png, unsigned char *const *rows, png_uint_32 count)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (png_uint_32 i = 0; i < count; ++i)
        png_read_row(png, rows[i], nullptr);
    return true;
}

// `count` rows, the first at `first`, the next ones `step` bytes apart.
bool pngReadStrided(png_structp png, unsigned char *first, std::size_t step, png_uint_32 count)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (png_uint_32 i = 0; i < count; ++i)
        png_read_row(png, first + step * i, nullptr);
    return true;
}

bool pngReadEnd(png_structp png)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_end(png, nullptr);
    return true;
}

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// A zeroed whole-picture buffer; calloc takes fresh pages from the system already zeroed.
std::unique_ptr<unsigned char, FreeDeleter> zeroedBuffer(std::uint64_t bytes)
{
    if (bytes > SIZE_MAX)
        throw std::bad_alloc();
    void *p = std::calloc(static_cast<std::size_t>(bytes), 1);
    if (p == nullptr)
        throw std::bad_alloc();
    return std::unique_ptr<unsigned char, FreeDeleter>(static_cast<unsigned char *>(p));
}

class PngSource final : public RowSource {
public:
    explicit PngSource(PictureInput &input)
        : input_(input)
        , context_{&input, false, {}}
    {
        png_ = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &context_, pngError, pngWarning, &context_,
                                        pngAllocate, pngFree);
        if (png_ == nullptr)
            throw std::bad_alloc();
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) {
            png_destroy_read_struct(&png_, nullptr, nullptr);
            throw std::bad_alloc();
        }
    }
    ~PngSource() override { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngSource(const PngSource &) = delete;
    PngSource &operator=(const PngSource &) = delete;

    Header readHeader(const PictureLimits &limits) override
    {
        check(pngReadHeader(png_, info_, &context_, &layout_));
        checkPixels(layout_.width, layout_.height, limits);
        check(pngSetUp(png_, info_, &layout_));
        if (layout_.channels != 3 && layout_.channels != 4)
            damaged("unexpected channel count " + std::to_string(layout_.channels));
        sourceBytes_ = std::size_t{layout_.width} * static_cast<std::size_t>(layout_.channels);
        if (layout_.passes > 1)
            checkDecodedBytes(layout_.width, layout_.height, std::uint64_t{sourceBytes_} * layout_.height, limits);
        return {layout_.width, layout_.height, Order::TopDown};
    }

    void readRows(unsigned char *const *rows, std::uint32_t count) override
    {
        if (layout_.passes > 1) {
            copyFromWhole(rows, count);
        } else if (layout_.channels == 3) {
            check(pngReadRows(png_, rows, count));
        } else {
            // With alpha: decoded beside the block, then laid over white into it.
            withAlpha_.resize(sourceBytes_ * count);
            check(pngReadStrided(png_, withAlpha_.data(), sourceBytes_, count));
            for (std::uint32_t i = 0; i < count; ++i)
                bgraToBgr(withAlpha_.data() + sourceBytes_ * i, layout_.width, rows[i]);
        }
        next_ += count;
    }

    void finish() override { check(pngReadEnd(png_)); }

private:
    void check(bool ok)
    {
        if (ok)
            return;
        input_.rethrowFailure(); // a fault of the text, met while libpng read
        if (context_.outOfMemory)
            throw std::bad_alloc();
        damaged(context_.message);
    }

    // Interlaced: the passes fill the whole picture, held once, then its rows are handed out.
    void copyFromWhole(unsigned char *const *rows, std::uint32_t count)
    {
        if (!whole_) {
            whole_ = zeroedBuffer(std::uint64_t{sourceBytes_} * layout_.height);
            for (int pass = 0; pass < layout_.passes; ++pass)
                check(pngReadStrided(png_, whole_.get(), sourceBytes_, layout_.height));
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            const unsigned char *row = whole_.get() + sourceBytes_ * (next_ + i);
            if (layout_.channels == 3)
                std::memcpy(rows[i], row, sourceBytes_);
            else
                bgraToBgr(row, layout_.width, rows[i]);
        }
    }

    PictureInput &input_;
    PngContext context_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    PngLayout layout_{};
    std::size_t sourceBytes_ = 0; // one decoded row
    std::uint32_t next_ = 0;      // the next row handed out
    std::vector<unsigned char> withAlpha_;
    std::unique_ptr<unsigned char, FreeDeleter> whole_;
};

} // namespace

std::unique_ptr<RowSource> makePngSource(PictureInput &input)
{
    return std::make_unique<PngSource>(input);
}

} // namespace picture
