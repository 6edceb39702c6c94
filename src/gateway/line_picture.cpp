#include "gateway/line_picture.h"

#include "gateway/base64.h"

#include "module_error.h"
#include "platform/atomic_file.h"

#include <cstddef>
#include <cstdio> // before jpeglib.h, which needs FILE

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace gateway {
namespace {

// Faults of the picture itself, as opposed to faults of its base64 text or of the file
// written: a fault of the text found further on is named instead, as it always was.
class PictureFault : public ModuleError {
public:
    using ModuleError::ModuleError;
};

[[noreturn]] void unreadable(const std::string &reason, std::string detail = {})
{
    throw ModuleError("Image de la ligne illisible : " + reason, std::move(detail));
}

[[noreturn]] void refuse(const std::string &reason, std::string detail = {})
{
    throw PictureFault("Image de la ligne illisible : " + reason, std::move(detail));
}

[[noreturn]] void damaged(std::string detail = {})
{
    refuse("les données de l'image sont abîmées ou incomplètes.", std::move(detail));
}

[[noreturn]] void unsupported(std::string detail = {})
{
    refuse("format d'image non pris en charge (PNG, JPEG ou BMP attendu).", std::move(detail));
}

// ---- base64 ----

enum CharClass : unsigned char { Digit, Padding, Blank, Invalid };

constexpr std::array<unsigned char, 256> makeClasses()
{
    std::array<unsigned char, 256> classes{};
    classes.fill(Invalid);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (const char c : alphabet)
        classes[static_cast<unsigned char>(c)] = Digit;
    classes['='] = Padding;
    for (const char c : std::string_view(" \t\r\n"))
        classes[static_cast<unsigned char>(c)] = Blank;
    return classes;
}

constexpr std::array<unsigned char, 256> kClasses = makeClasses();

unsigned char classOf(char c) noexcept { return kClasses[static_cast<unsigned char>(c)]; }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept
{
    if (text.size() < prefix.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

// The gateway may send the picture as a data URL; its declared type is not trusted,
// the bytes decide.
std::string_view withoutDataPrefix(std::string_view text)
{
    const std::size_t start = std::min(text.find_first_not_of(" \t\r\n"), text.size());
    text.remove_prefix(start);
    if (!startsWithIgnoringCase(text, "data:"))
        return text;
    const std::size_t comma = text.find(',');
    const std::string_view header = text.substr(0, comma);
    constexpr std::string_view marker = ";base64";
    if (comma == std::string_view::npos || header.size() < marker.size()
        || !startsWithIgnoringCase(header.substr(header.size() - marker.size()), marker))
        unreadable("préfixe data: sans base64.");
    return text.substr(comma + 1);
}

constexpr std::size_t kTextBlock = 64 * 1024; // characters decoded at a time; a multiple of 4

// The picture's base64 text decoded as a stream, a block at a time, so that the decoded
// file is never held whole. Faults of the text throw ModuleError when reading reaches
// them; the end of the text is checked when reading reaches it.
class Base64Decoder {
public:
    explicit Base64Decoder(std::string_view text)
        : text_(text)
        , gathered_(std::make_unique_for_overwrite<char[]>(kTextBlock))
        , decoded_(std::make_unique_for_overwrite<unsigned char[]>(kTextBlock / 4 * 3))
    {
    }

    // Up to `max` decoded bytes; fewer only at the end of the text.
    std::size_t read(unsigned char *out, std::size_t max)
    {
        std::size_t total = 0;
        while (total < max) {
            if (start_ == end_ && !refill())
                break;
            const std::size_t n = std::min(max - total, end_ - start_);
            std::memcpy(out + total, decoded_.get() + start_, n);
            start_ += n;
            total += n;
        }
        return total;
    }

    // Reads the rest of the text, for its faults only.
    void drain()
    {
        while (refill()) {
        }
    }

private:
    bool refill()
    {
        start_ = end_ = 0;
        while (end_ == 0 && !ended_) {
            if (!decodeInPlace())
                gather();
        }
        return end_ != 0;
    }

    // The usual text, one line of the alphabet: a block decoded where it lies; a block
    // with anything else in it ('=', a line break, a fault) goes the careful way.
    bool decodeInPlace() noexcept
    {
        if (filled_ != 0 || padding_ != 0 || text_.size() - at_ < kTextBlock)
            return false;
        const char *block = text_.data() + at_;
        if (!decodeBase64Groups(block, kTextBlock, decoded_.get()))
            return false;
        at_ += kTextBlock;
        digits_ += kTextBlock;
        end_ = kTextBlock / 4 * 3;
        return true;
    }

    // Text with line breaks, blanks or a fault: the digits gathered one by one.
    void gather()
    {
        const std::size_t size = text_.size();
        while (at_ < size && filled_ < kTextBlock) {
            const char c = text_[at_];
            switch (classOf(c)) {
            case Digit:
                if (padding_ != 0)
                    unreadable("signe = au milieu du texte base64.", "position " + std::to_string(at_));
                gathered_[filled_++] = c;
                ++digits_;
                break;
            case Padding:
                ++padding_;
                break;
            case Blank:
                break;
            default:
                unreadable("caractère invalide dans le texte base64.", "position " + std::to_string(at_));
            }
            ++at_;
        }
        if (filled_ == kTextBlock) {
            if (!decodeBase64Groups(gathered_.get(), filled_, decoded_.get()))
                unreadable("texte base64 refusé par le décodeur.");
            end_ = kTextBlock / 4 * 3;
            filled_ = 0;
        } else if (at_ == size) {
            finish();
        }
    }

    void finish()
    {
        ended_ = true;
        if (digits_ == 0 && padding_ == 0)
            unreadable("aucune donnée.");
        const std::size_t tail = digits_ % 4;
        // A lone last character carries no whole byte; padding may only complete the last group.
        if (tail == 1 || (padding_ != 0 && (tail == 0 || tail + padding_ != 4)))
            unreadable("fin du texte base64 abîmée.");
        const std::size_t whole = filled_ - tail;
        if (!decodeBase64Groups(gathered_.get(), whole, decoded_.get()))
            unreadable("texte base64 refusé par le décodeur.");
        end_ = whole / 4 * 3;
        if (tail != 0) {
            if (!decodeBase64Tail(gathered_.get() + whole, tail, decoded_.get() + end_))
                unreadable("texte base64 refusé par le décodeur.");
            end_ += tail - 1;
        }
        filled_ = 0;
    }

    std::string_view text_;
    std::size_t at_ = 0;      // next character of the text
    std::size_t digits_ = 0;  // alphabet characters so far
    std::size_t padding_ = 0; // '=' so far
    bool ended_ = false;
    std::unique_ptr<char[]> gathered_;
    std::size_t filled_ = 0;
    std::unique_ptr<unsigned char[]> decoded_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

// ---- the decoded picture file ----

// The picture file as its readers take it: its first bytes, kept to recognise the format,
// then the rest of the stream.
class PictureInput {
public:
    explicit PictureInput(Base64Decoder &decoder)
        : decoder_(decoder)
    {
    }

    std::span<const unsigned char> head()
    {
        if (!headRead_) {
            headSize_ = decoder_.read(head_.data(), head_.size());
            headRead_ = true;
        }
        return {head_.data(), headSize_};
    }

    std::size_t read(unsigned char *out, std::size_t max)
    {
        std::size_t total = 0;
        if (headAt_ < headSize_) {
            total = std::min(max, headSize_ - headAt_);
            std::memcpy(out, head_.data() + headAt_, total);
            headAt_ += total;
        }
        return total + decoder_.read(out + total, max - total);
    }

    bool readExactly(unsigned char *out, std::size_t size) { return read(out, size) == size; }

    // For the libraries' callbacks, which no exception may cross: false when reading
    // threw, the exception kept for rethrowFailure().
    bool pull(unsigned char *out, std::size_t max, std::size_t &got) noexcept
    {
        try {
            got = read(out, max);
            return true;
        } catch (...) {
            failure_ = std::current_exception();
            got = 0;
            return false;
        }
    }

    void rethrowFailure() const
    {
        if (failure_)
            std::rethrow_exception(failure_);
    }

    void drain() { decoder_.drain(); }

private:
    Base64Decoder &decoder_;
    std::array<unsigned char, 12> head_{};
    std::size_t headSize_ = 0;
    std::size_t headAt_ = 0;
    bool headRead_ = false;
    std::exception_ptr failure_;
};

// ---- limits ----

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
        throw PictureFault("Image de la ligne trop grande : " + dimensions(width, height)
                               + ", trop de mémoire nécessaire pour la décoder.",
                           std::to_string(bytes) + " bytes needed");
}

// ---- pixels ----

unsigned overWhite(unsigned channel, unsigned alpha) noexcept
{
    return (channel * alpha + 255U * (255U - alpha) + 127U) / 255U;
}

// Blue, green, red, alpha to the BMP's blue, green, red, transparency laid over white.
void bgraToBgr(const unsigned char *in, std::size_t width, unsigned char *out) noexcept
{
    for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned alpha = in[3];
        out[0] = static_cast<unsigned char>(overWhite(in[0], alpha));
        out[1] = static_cast<unsigned char>(overWhite(in[1], alpha));
        out[2] = static_cast<unsigned char>(overWhite(in[2], alpha));
    }
}

// ---- the BMP file ----

void putLittleEndian(unsigned char *at, std::uint32_t value, int bytes) noexcept
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

// The 54-byte header of a bottom-up 24-bit BMP: file header and BITMAPINFOHEADER.
std::array<unsigned char, 54> bmpHeader(std::uint32_t width, std::uint32_t height, std::uint32_t imageBytes) noexcept
{
    std::array<unsigned char, 54> header{};
    header[0] = 'B';
    header[1] = 'M';
    putLittleEndian(&header[2], 54U + imageBytes, 4);   // file size
    putLittleEndian(&header[10], 54U, 4);               // offset of the pixels
    putLittleEndian(&header[14], 40U, 4);               // info header size
    putLittleEndian(&header[18], width, 4);
    putLittleEndian(&header[22], height, 4);
    putLittleEndian(&header[26], 1U, 2);                // planes
    putLittleEndian(&header[28], 24U, 2);               // bits per pixel
    putLittleEndian(&header[34], imageBytes, 4);        // no compression
    putLittleEndian(&header[38], 3780U, 4);             // 96 dots per inch
    putLittleEndian(&header[42], 3780U, 4);
    return header;
}

// The BMP written as the rows are decoded: its size is known from the header, so each
// block of rows goes straight to its place in the file (BMP rows run bottom-up).
class BmpWriter {
public:
    BmpWriter(const std::string &path, std::uint32_t width, std::uint32_t height)
        : width_(width)
        , height_(height)
        , rowBytes_((static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3})
    {
        const std::uint64_t imageBytes = static_cast<std::uint64_t>(rowBytes_) * height;
        if (imageBytes > 0xFFFFFFFFU - 54U)
            throw PictureFault("Image de la ligne trop grande pour un fichier BMP.", dimensions(width, height));
        constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
        rowsPerBlock_ = static_cast<std::uint32_t>(std::max<std::size_t>(1, std::min<std::size_t>(kBlockBytes / rowBytes_, height)));
        block_.assign(rowsPerBlock_ * rowBytes_, 0); // the padding bytes stay zero
        file_.emplace(path);
        const auto header = bmpHeader(width, height, static_cast<std::uint32_t>(imageBytes));
        file_->writeAt(0, std::string_view(reinterpret_cast<const char *>(header.data()), header.size()));
    }

    [[nodiscard]] std::uint32_t width() const noexcept { return width_; }
    [[nodiscard]] std::uint32_t height() const noexcept { return height_; }
    [[nodiscard]] std::size_t rowBytes() const noexcept { return rowBytes_; }
    [[nodiscard]] std::uint32_t rowsPerBlock() const noexcept { return rowsPerBlock_; }

    // Row `index` of the block, which holds BMP rows bottom-up.
    unsigned char *slot(std::uint32_t index) noexcept { return block_.data() + rowBytes_ * index; }
    // Where picture row `top + i` goes when the block holds picture rows [top, top + count).
    unsigned char *topDownSlot(std::uint32_t i, std::uint32_t count) noexcept { return slot(count - 1 - i); }

    // The block's first `count` rows as BMP rows [bmpRow, bmpRow + count).
    void writeBlock(std::uint32_t bmpRow, std::uint32_t count) { writeRows(bmpRow, block_.data(), count); }
    // The block holding picture rows [top, top + count), counted from the top.
    void writeTopDown(std::uint32_t top, std::uint32_t count) { writeBlock(height_ - top - count, count); }
    void writeRows(std::uint32_t bmpRow, const unsigned char *rows, std::uint64_t count)
    {
        file_->writeAt(54U + static_cast<std::uint64_t>(bmpRow) * rowBytes_,
                       std::string_view(reinterpret_cast<const char *>(rows), static_cast<std::size_t>(count * rowBytes_)));
    }

    void commit() { file_->commit(); }

private:
    std::uint32_t width_;
    std::uint32_t height_;
    std::size_t rowBytes_;
    std::uint32_t rowsPerBlock_ = 1;
    std::vector<unsigned char> block_;
    std::optional<platform::AtomicFile> file_;
};

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

// ---- PNG ----
//
// libpng reports errors by longjmp. Every libpng call runs in one of the small functions
// below that call setjmp and hold only plain data; the callbacks let no exception through
// (what they catch is kept and rethrown once libpng has returned).

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

// `count` rows, the first at `first`, the next ones `step` bytes apart.
bool pngReadRows(png_structp png, unsigned char *first, std::ptrdiff_t step, png_uint_32 count)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (png_uint_32 i = 0; i < count; ++i)
        png_read_row(png, first + step * static_cast<std::ptrdiff_t>(i), nullptr);
    return true;
}

bool pngReadEnd(png_structp png)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_end(png, nullptr);
    return true;
}

class PngDecoder {
public:
    explicit PngDecoder(PictureInput &input)
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
    ~PngDecoder() { png_destroy_read_struct(&png_, &info_, nullptr); }
    PngDecoder(const PngDecoder &) = delete;
    PngDecoder &operator=(const PngDecoder &) = delete;

    std::unique_ptr<BmpWriter> write(const std::string &path, const PictureLimits &limits)
    {
        PngLayout layout{};
        check(pngReadHeader(png_, info_, &context_, &layout));
        checkPixels(layout.width, layout.height, limits);
        check(pngSetUp(png_, info_, &layout));
        const auto channels = static_cast<std::size_t>(layout.channels);
        if (channels != 3 && channels != 4)
            damaged("unexpected channel count " + std::to_string(channels));
        const std::size_t rowBytes = (static_cast<std::size_t>(layout.width) * 3 + 3) & ~std::size_t{3};
        const std::uint64_t wholeBytes = channels == 3 ? std::uint64_t{rowBytes} * layout.height
                                                       : std::uint64_t{layout.width} * layout.height * 4;
        if (layout.passes > 1)
            checkDecodedBytes(layout.width, layout.height, wholeBytes, limits);

        auto bmp = std::make_unique<BmpWriter>(path, layout.width, layout.height);
        if (layout.passes > 1)
            writeInterlaced(*bmp, layout, wholeBytes);
        else
            writeStreamed(*bmp, channels);
        check(pngReadEnd(png_));
        return bmp;
    }

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

    // A block of rows at a time, straight into the BMP's block when there is no alpha.
    void writeStreamed(BmpWriter &bmp, std::size_t channels)
    {
        const std::uint32_t height = bmp.height();
        const std::uint32_t perBlock = bmp.rowsPerBlock();
        const auto rowStep = static_cast<std::ptrdiff_t>(bmp.rowBytes());
        const std::size_t sourceBytes = std::size_t{bmp.width()} * 4;
        std::vector<unsigned char> withAlpha(channels == 4 ? sourceBytes * perBlock : 0);
        for (std::uint32_t top = 0; top < height;) {
            const std::uint32_t count = std::min(perBlock, height - top);
            if (channels == 3) {
                check(pngReadRows(png_, bmp.topDownSlot(0, count), -rowStep, count));
            } else {
                check(pngReadRows(png_, withAlpha.data(), static_cast<std::ptrdiff_t>(sourceBytes), count));
                for (std::uint32_t i = 0; i < count; ++i)
                    bgraToBgr(withAlpha.data() + sourceBytes * i, bmp.width(), bmp.topDownSlot(i, count));
            }
            bmp.writeTopDown(top, count);
            top += count;
        }
    }

    // Interlaced: the passes fill the whole picture, held once. Without alpha it is the
    // BMP's own pixel array, written as it is.
    void writeInterlaced(BmpWriter &bmp, const PngLayout &layout, std::uint64_t wholeBytes)
    {
        const std::uint32_t height = bmp.height();
        const auto whole = zeroedBuffer(wholeBytes);
        if (layout.channels == 3) {
            const auto rowStep = static_cast<std::ptrdiff_t>(bmp.rowBytes());
            unsigned char *top = whole.get() + bmp.rowBytes() * (height - 1);
            for (int pass = 0; pass < layout.passes; ++pass)
                check(pngReadRows(png_, top, -rowStep, height));
            bmp.writeRows(0, whole.get(), height);
            return;
        }
        const std::size_t sourceBytes = std::size_t{bmp.width()} * 4;
        for (int pass = 0; pass < layout.passes; ++pass)
            check(pngReadRows(png_, whole.get(), static_cast<std::ptrdiff_t>(sourceBytes), height));
        const std::uint32_t perBlock = bmp.rowsPerBlock();
        for (std::uint32_t top = 0; top < height;) {
            const std::uint32_t count = std::min(perBlock, height - top);
            for (std::uint32_t i = 0; i < count; ++i)
                bgraToBgr(whole.get() + sourceBytes * (top + i), bmp.width(), bmp.topDownSlot(i, count));
            bmp.writeTopDown(top, count);
            top += count;
        }
    }

    PictureInput &input_;
    PngContext context_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// ---- JPEG ----
//
// libjpeg reports errors through error_exit, which longjmps to the small setjmp functions
// below, as for libpng.

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors *>(info->err)->jump, 1);
}

void jpegOutputMessage(j_common_ptr) {} // warnings are not shown, nor do they stop the decoding

struct JpegSource {
    jpeg_source_mgr manager;
    PictureInput *input;
    unsigned char *buffer;
    std::size_t capacity;
};

void jpegInitSource(j_decompress_ptr) {}
void jpegTermSource(j_decompress_ptr) {}

boolean jpegFillInput(j_decompress_ptr info)
{
    auto *source = reinterpret_cast<JpegSource *>(info->src);
    std::size_t got = 0;
    if (!source->input->pull(source->buffer, source->capacity, got))
        (*info->err->error_exit)(reinterpret_cast<j_common_ptr>(info));
    if (got == 0) {
        // The usual answer to a file that ends early: a warning and an end marker.
        info->err->msg_code = JWRN_JPEG_EOF;
        (*info->err->emit_message)(reinterpret_cast<j_common_ptr>(info), -1);
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    }
    source->manager.next_input_byte = source->buffer;
    source->manager.bytes_in_buffer = got;
    return TRUE;
}

void jpegSkipInput(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    auto *source = reinterpret_cast<JpegSource *>(info->src);
    auto remaining = static_cast<std::size_t>(count);
    while (remaining > source->manager.bytes_in_buffer) {
        remaining -= source->manager.bytes_in_buffer;
        jpegFillInput(info);
    }
    source->manager.next_input_byte += remaining;
    source->manager.bytes_in_buffer -= remaining;
}

bool jpegCreate(j_decompress_ptr info, JpegErrors *errors)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(info);
    return true;
}

bool jpegReadHeader(j_decompress_ptr info, JpegErrors *errors)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_read_header(info, TRUE);
    return true;
}

bool jpegCalcOutput(j_decompress_ptr info, JpegErrors *errors)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_calc_output_dimensions(info);
    return true;
}

bool jpegStart(j_decompress_ptr info, JpegErrors *errors)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_start_decompress(info);
    return true;
}

bool jpegReadRows(j_decompress_ptr info, JpegErrors *errors, JSAMPARRAY rows, JDIMENSION count)
{
    if (setjmp(errors->jump))
        return false;
    for (JDIMENSION done = 0; done < count;) {
        const JDIMENSION n = jpeg_read_scanlines(info, rows + done, count - done);
        if (n == 0)
            return false; // only a suspending source returns no row; ours never suspends
        done += n;
    }
    return true;
}

bool jpegFinish(j_decompress_ptr info, JpegErrors *errors)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_finish_decompress(info);
    return true;
}

// CMYK as Adobe writes it (inverted), to the BMP's blue, green, red.
void invertedCmykToBgr(const unsigned char *in, std::size_t width, unsigned char *out) noexcept
{
    for (std::size_t x = 0; x < width; ++x, in += 4, out += 3) {
        const unsigned k = in[3];
        out[0] = static_cast<unsigned char>((in[2] * k + 127U) / 255U);
        out[1] = static_cast<unsigned char>((in[1] * k + 127U) / 255U);
        out[2] = static_cast<unsigned char>((in[0] * k + 127U) / 255U);
    }
}

// Destroyed even when the decoder's constructor fails half way.
struct JpegStruct {
    jpeg_decompress_struct info{};
    JpegStruct() = default;
    ~JpegStruct() { jpeg_destroy_decompress(&info); }
    JpegStruct(const JpegStruct &) = delete;
    JpegStruct &operator=(const JpegStruct &) = delete;
};

class JpegDecoder {
public:
    explicit JpegDecoder(PictureInput &input)
        : input_(input)
        , buffer_(std::make_unique_for_overwrite<unsigned char[]>(kBufferBytes))
    {
        info_.err = jpeg_std_error(&errors_.manager);
        errors_.manager.error_exit = jpegErrorExit;
        errors_.manager.output_message = jpegOutputMessage;
        check(jpegCreate(&info_, &errors_));
        source_.manager.init_source = jpegInitSource;
        source_.manager.fill_input_buffer = jpegFillInput;
        source_.manager.skip_input_data = jpegSkipInput;
        source_.manager.resync_to_restart = jpeg_resync_to_restart;
        source_.manager.term_source = jpegTermSource;
        source_.manager.next_input_byte = nullptr;
        source_.manager.bytes_in_buffer = 0;
        source_.input = &input;
        source_.buffer = buffer_.get();
        source_.capacity = kBufferBytes;
        info_.src = &source_.manager;
    }

    std::unique_ptr<BmpWriter> write(const std::string &path, const PictureLimits &limits)
    {
        check(jpegReadHeader(&info_, &errors_));
        checkPixels(info_.image_width, info_.image_height, limits);
        bool cmyk = false;
        switch (info_.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            info_.out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            info_.out_color_space = JCS_CMYK;
            cmyk = true;
            break;
        default:
            unsupported("JPEG with " + std::to_string(info_.num_components) + " components");
        }
        check(jpegCalcOutput(&info_, &errors_));
        if (jpeg_has_multiple_scans(&info_) != 0)
            checkCoefficients(limits);

        auto bmp = std::make_unique<BmpWriter>(path, info_.output_width, info_.output_height);
        check(jpegStart(&info_, &errors_)); // a progressive picture is read whole here
        const std::uint32_t height = bmp->height();
        const std::uint32_t perBlock = bmp->rowsPerBlock();
        const std::size_t cmykBytes = std::size_t{bmp->width()} * 4;
        std::vector<unsigned char> cmykRows(cmyk ? cmykBytes * perBlock : 0);
        std::vector<JSAMPROW> rows(perBlock);
        for (std::uint32_t top = 0; top < height;) {
            const std::uint32_t count = std::min(perBlock, height - top);
            for (std::uint32_t i = 0; i < count; ++i)
                rows[i] = cmyk ? cmykRows.data() + cmykBytes * i : bmp->topDownSlot(i, count);
            check(jpegReadRows(&info_, &errors_, rows.data(), count));
            for (std::uint32_t i = 0; cmyk && i < count; ++i)
                invertedCmykToBgr(rows[i], bmp->width(), bmp->topDownSlot(i, count));
            bmp->writeTopDown(top, count);
            top += count;
        }
        check(jpegFinish(&info_, &errors_));
        return bmp;
    }

private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    // A picture in several scans is kept as its DCT coefficients until the last scan.
    void checkCoefficients(const PictureLimits &limits)
    {
        std::uint64_t bytes = 0;
        for (int c = 0; c < info_.num_components; ++c) {
            const jpeg_component_info &component = info_.comp_info[c];
            const auto roundUp = [](std::uint64_t n, int multiple) {
                const auto m = static_cast<std::uint64_t>(std::max(multiple, 1));
                return (n + m - 1) / m * m;
            };
            bytes += roundUp(component.width_in_blocks, component.h_samp_factor)
                   * roundUp(component.height_in_blocks, component.v_samp_factor) * DCTSIZE2 * sizeof(JCOEF);
        }
        checkDecodedBytes(info_.image_width, info_.image_height, bytes, limits);
        // libjpeg's own bound, with room for its row buffers: over it, it fails instead of allocating.
        const std::uint64_t bound = limits.maxDecodedBytes + (std::uint64_t{64} << 20);
        info_.mem->max_memory_to_use = static_cast<long>(std::min<std::uint64_t>(bound, LONG_MAX));
    }

    void check(bool ok)
    {
        if (ok)
            return;
        input_.rethrowFailure(); // a fault of the text, met while libjpeg read
        if (errors_.manager.msg_code == JERR_OUT_OF_MEMORY)
            throw std::bad_alloc();
        if (errors_.manager.msg_code == JERR_NO_BACKING_STORE)
            throw PictureFault("Image de la ligne trop grande : " + dimensions(info_.image_width, info_.image_height)
                               + ", trop de mémoire nécessaire pour la décoder.");
        std::array<char, JMSG_LENGTH_MAX> message{};
        (*errors_.manager.format_message)(reinterpret_cast<j_common_ptr>(&info_), message.data());
        damaged(message.data());
    }

    PictureInput &input_;
    std::unique_ptr<unsigned char[]> buffer_;
    JpegErrors errors_{};
    JpegSource source_{};
    JpegStruct owned_;
    jpeg_decompress_struct &info_ = owned_.info;
};

// ---- BMP ----

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

// Our own reader of the BMP forms pictures come in: uncompressed 1-, 4-, 8-bit palette,
// 16-, 24-, 32-bit, bit fields, bottom-up or top-down. Compressed forms are refused.
class BmpReader {
public:
    explicit BmpReader(PictureInput &input)
        : input_(input)
    {
    }

    std::unique_ptr<BmpWriter> write(const std::string &path, const PictureLimits &limits)
    {
        readHeaders();
        checkPixels(width_, height_, limits);
        const std::uint64_t sourceRowBytes = (std::uint64_t{width_} * bits_ + 31) / 32 * 4;
        auto bmp = std::make_unique<BmpWriter>(path, width_, height_);
        const std::uint32_t perBlock = bmp->rowsPerBlock();
        std::vector<unsigned char> source(static_cast<std::size_t>(sourceRowBytes) * perBlock);
        for (std::uint32_t done = 0; done < height_;) {
            const std::uint32_t count = std::min(perBlock, height_ - done);
            if (!input_.readExactly(source.data(), static_cast<std::size_t>(sourceRowBytes) * count))
                damaged("pixels missing");
            for (std::uint32_t i = 0; i < count; ++i) {
                unsigned char *out = topDown_ ? bmp->topDownSlot(i, count) : bmp->slot(i);
                convertRow(source.data() + sourceRowBytes * i, out);
            }
            if (topDown_)
                bmp->writeTopDown(done, count);
            else
                bmp->writeBlock(done, count);
            done += count;
        }
        return bmp;
    }

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
};

// ---- recognition ----

enum class Format { Png, Jpeg, Bmp, Other, Unknown };

// From the first bytes. Other picture formats are named so that the message says they are
// not taken, rather than not recognised.
Format recognise(std::span<const unsigned char> head, std::string &name)
{
    const auto startsWith = [head](std::string_view magic, std::size_t at = 0) {
        return head.size() >= at + magic.size() && std::memcmp(head.data() + at, magic.data(), magic.size()) == 0;
    };
    using namespace std::string_view_literals;
    if (startsWith("\x89PNG\r\n\x1A\n"sv))
        return Format::Png;
    if (startsWith("\xFF\xD8\xFF"sv))
        return Format::Jpeg;
    if (startsWith("BM"sv))
        return Format::Bmp;
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 10> kOthers{{
        {"GIF87a"sv, "gif"sv},
        {"GIF89a"sv, "gif"sv},
        {"II*\0"sv, "tiff"sv},
        {"MM\0*"sv, "tiff"sv},
        {"\0\0\1\0"sv, "ico"sv},
        {"\0\0\2\0"sv, "cur"sv},
        {"8BPS"sv, "psd"sv},
        {"qoif"sv, "qoi"sv},
        {"\0\0\0\x0CjP  "sv, "jpeg 2000"sv},
        {"\xFF\x0A"sv, "jpeg xl"sv},
    }};
    for (const auto &[magic, format] : kOthers) {
        if (startsWith(magic)) {
            name = format;
            return Format::Other;
        }
    }
    if (startsWith("RIFF"sv) && startsWith("WEBP"sv, 8)) {
        name = "webp";
        return Format::Other;
    }
    if (startsWith("ftyp"sv, 4)) {
        name = "heif";
        return Format::Other;
    }
    if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '7'
        && (head[2] == ' ' || head[2] == '\n' || head[2] == '\r' || head[2] == '\t')) {
        name = "pnm";
        return Format::Other;
    }
    return Format::Unknown;
}

std::unique_ptr<BmpWriter> writePicture(const std::string &path, PictureInput &input, const PictureLimits &limits)
{
    std::string name;
    switch (recognise(input.head(), name)) {
    case Format::Png:
        return PngDecoder(input).write(path, limits);
    case Format::Jpeg:
        return JpegDecoder(input).write(path, limits);
    case Format::Bmp:
        return BmpReader(input).write(path, limits);
    case Format::Other:
        unsupported(name);
    case Format::Unknown:
        break;
    }
    refuse("format d'image non reconnu.");
}

} // namespace

bool SauverImageLigne(const std::string &path, std::string_view base64, const PictureLimits &limits)
{
    if (path.empty())
        return false;
    Base64Decoder decoder(withoutDataPrefix(base64));
    PictureInput input(decoder);
    std::unique_ptr<BmpWriter> bmp;
    try {
        bmp = writePicture(path, input, limits);
    } catch (const PictureFault &) {
        input.drain(); // a fault of the text, further on, is the one to name
        throw;
    }
    input.drain(); // the text after the picture must be sound too
    bmp->commit();
    return true;
}

} // namespace gateway
