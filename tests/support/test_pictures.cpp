#include "support/test_pictures.h"

#include "support/test_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdio> // before jpeglib.h, which needs FILE

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace test_pictures {

Picture::Picture(int w, int h, int c)
    : width(w)
    , height(h)
    , channels(c)
    , pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * static_cast<std::size_t>(c), 0)
{
}

unsigned char *Picture::at(int x, int y)
{
    return pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))
                               * static_cast<std::size_t>(channels);
}

const unsigned char *Picture::at(int x, int y) const { return const_cast<Picture *>(this)->at(x, y); }

void Picture::set(int x, int y, std::initializer_list<int> values)
{
    unsigned char *p = at(x, y);
    for (const int v : values)
        *p++ = static_cast<unsigned char>(v);
}

std::uint32_t noise(int x, int y)
{
    auto h = static_cast<std::uint32_t>(x) * 0x9E3779B1U ^ static_cast<std::uint32_t>(y) * 0x85EBCA77U;
    h ^= h >> 15;
    h *= 0x2C1B3C6DU;
    return h ^ (h >> 13);
}

Picture variedPicture(int width, int height)
{
    Picture picture(width, height, 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t n = noise(x, y);
            picture.set(x, y,
                        {static_cast<int>((static_cast<std::uint32_t>(x * 255 / width) ^ (n & 0x3FU)) & 0xFFU),
                         static_cast<int>((static_cast<std::uint32_t>(y * 255 / height) ^ ((n >> 8) & 0x3FU)) & 0xFFU),
                         static_cast<int>((n >> 16) & 0xFFU)});
        }
    }
    // A disc in the box (width / 4, height / 4, width / 3, height / 3).
    const double rx = width / 6.0;
    const double ry = height / 6.0;
    const double cx = width / 4.0 + rx;
    const double cy = height / 4.0 + ry;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = (x + 0.5 - cx) / rx;
            const double dy = (y + 0.5 - cy) / ry;
            if (dx * dx + dy * dy <= 1.0)
                picture.set(x, y, {250, 240, 10});
        }
    }
    return picture;
}

Picture photoPicture(int width, int height)
{
    Picture picture(width, height, 3);
    const double cx = width * 0.4;
    const double cy = height * 0.45;
    const double radius = std::min(width, height) * 0.3;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double distance = std::hypot(x - cx, y - cy) / radius;
            const double inside = std::clamp((1.2 - distance) * 2.5, 0.0, 1.0); // soft edge
            const int grain = static_cast<int>(noise(x, y) % 9U) - 4;
            const auto channel = [&](double background, double disc) {
                return std::clamp(static_cast<int>(background * (1 - inside) + disc * inside) + grain, 0, 255);
            };
            picture.set(x, y, {channel(40.0 + 160.0 * x / width, 230.0), channel(60.0 + 120.0 * y / height, 200.0),
                               channel(200.0 - 120.0 * (x + y) / (width + height), 40.0)});
        }
    }
    return picture;
}

Picture translucentPicture(int width, int height)
{
    Picture picture(width, height, 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t n = noise(x, y);
            picture.set(x, y, {static_cast<int>(n & 0xFFU), static_cast<int>((n >> 8) & 0xFFU),
                               static_cast<int>((n >> 16) & 0xFFU), x * 255 / (width - 1)});
        }
    }
    return picture;
}

Picture greyPicture(const std::vector<unsigned char> &values, int width, int height)
{
    Picture picture(width, height, 3);
    for (std::size_t i = 0; i < values.size(); ++i) {
        for (std::size_t c = 0; c < 3; ++c)
            picture.pixels[i * 3 + c] = values[i];
    }
    return picture;
}

// ---- PNG ----

namespace {

void appendPng(png_structp png, png_bytep data, std::size_t size)
{
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<const char *>(data), size);
}

void flushPng(png_structp) {}

// libpng reports errors by longjmp: only plain data lives here.
bool writePngSteps(png_structp png, png_infop info, const Png *layout, png_colorp palette, png_bytepp rows,
                   std::string *out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, appendPng, flushPng);
    png_set_IHDR(png, info, static_cast<png_uint_32>(layout->width), static_cast<png_uint_32>(layout->height),
                 layout->bitDepth, layout->colorType, layout->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette != nullptr)
        png_set_PLTE(png, info, palette, static_cast<int>(layout->palette.size() / 3));
    if (!layout->paletteAlpha.empty())
        png_set_tRNS(png, info, layout->paletteAlpha.data(), static_cast<int>(layout->paletteAlpha.size()), nullptr);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    return true;
}

void putSample(std::vector<unsigned char> &row, unsigned value, int bits)
{
    if (bits == 16) {
        row.push_back(static_cast<unsigned char>(value >> 8));
        row.push_back(static_cast<unsigned char>(value & 0xFFU));
    } else {
        row.push_back(static_cast<unsigned char>(value));
    }
}

} // namespace

std::string encodePng(const Png &layout)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_color> palette;
    for (std::size_t i = 0; i + 2 < layout.palette.size(); i += 3)
        palette.push_back(png_color{layout.palette[i], layout.palette[i + 1], layout.palette[i + 2]});
    std::vector<png_bytep> rows;
    for (const auto &row : layout.rows)
        rows.push_back(const_cast<png_bytep>(row.data()));
    std::string out;
    const bool written = writePngSteps(png, info, &layout, palette.empty() ? nullptr : palette.data(), rows.data(), &out);
    png_destroy_write_struct(&png, &info);
    EXPECT_TRUE(written) << "libpng could not write the test picture";
    return out;
}

std::string pngOf(const Picture &picture, bool interlaced, bool sixteenBits)
{
    Png layout;
    layout.width = picture.width;
    layout.height = picture.height;
    layout.colorType = picture.channels == 4 ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB;
    layout.bitDepth = sixteenBits ? 16 : 8;
    layout.interlaced = interlaced;
    for (int y = 0; y < picture.height; ++y) {
        std::vector<unsigned char> row;
        const unsigned char *p = picture.at(0, y);
        for (std::size_t i = 0; i < static_cast<std::size_t>(picture.width * picture.channels); ++i)
            putSample(row, sixteenBits ? p[i] * 257U : p[i], layout.bitDepth);
        layout.rows.push_back(std::move(row));
    }
    return encodePng(layout);
}

namespace {

// Samples of fewer than 8 bits packed from the left of each byte, as PNG stores them.
std::vector<unsigned char> packed(const unsigned *values, int count, int bits)
{
    std::vector<unsigned char> row((static_cast<std::size_t>(count) * static_cast<std::size_t>(bits) + 7) / 8, 0);
    for (int x = 0; x < count; ++x) {
        const int bit = x * bits;
        row[static_cast<std::size_t>(bit / 8)] |= static_cast<unsigned char>(values[x] << (8 - bits - bit % 8));
    }
    return row;
}

} // namespace

std::string greyPng(const std::vector<unsigned> &values, int width, int height, int bits,
                    const std::vector<unsigned char> &alpha, bool interlaced)
{
    Png layout;
    layout.width = width;
    layout.height = height;
    layout.colorType = alpha.empty() ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_GRAY_ALPHA;
    layout.bitDepth = bits;
    layout.interlaced = interlaced;
    for (int y = 0; y < height; ++y) {
        const std::size_t first = static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        if (bits < 8) {
            layout.rows.push_back(packed(values.data() + first, width, bits));
            continue;
        }
        std::vector<unsigned char> row;
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
            putSample(row, values[first + x], bits);
            if (!alpha.empty())
                putSample(row, bits == 16 ? alpha[first + x] * 257U : alpha[first + x], bits);
        }
        layout.rows.push_back(std::move(row));
    }
    return encodePng(layout);
}

std::string palettePng(const std::vector<unsigned char> &indices, int width, int height,
                       const std::vector<unsigned char> &palette, const std::vector<unsigned char> &alphas,
                       bool interlaced)
{
    Png layout;
    layout.width = width;
    layout.height = height;
    layout.colorType = PNG_COLOR_TYPE_PALETTE;
    layout.interlaced = interlaced;
    layout.palette = palette;
    layout.paletteAlpha = alphas;
    for (int y = 0; y < height; ++y) {
        const auto first = indices.begin() + static_cast<std::ptrdiff_t>(y) * width;
        layout.rows.emplace_back(first, first + width);
    }
    return encodePng(layout);
}

namespace {

struct MemoryReader {
    const std::string *bytes;
    std::size_t at;
};

void readPng(png_structp png, png_bytep out, std::size_t size)
{
    auto *reader = static_cast<MemoryReader *>(png_get_io_ptr(png));
    if (reader->bytes->size() - reader->at < size)
        png_error(png, "end of data");
    std::memcpy(out, reader->bytes->data() + reader->at, size);
    reader->at += size;
}

bool readPngInfo(png_structp png, png_infop info, MemoryReader *reader, std::uint32_t *width, std::uint32_t *height)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, reader, readPng);
    png_set_user_limits(png, 0x7FFFFFFFU, 0x7FFFFFFFU);
    png_read_info(png, info);
    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    return true;
}

} // namespace

bool readPngSize(const std::string &bytes, std::uint32_t &width, std::uint32_t &height)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    MemoryReader reader{&bytes, 0};
    const bool read = readPngInfo(png, info, &reader, &width, &height);
    png_destroy_read_struct(&png, &info, nullptr);
    return read;
}

// ---- JPEG ----

namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors *>(info->err)->jump, 1); }

struct JpegInput {
    const unsigned char *pixels;
    int width;
    int height;
    int components;
    J_COLOR_SPACE space;
    int quality;
    bool progressive;
};

bool compressSteps(jpeg_compress_struct *info, JpegErrors *errors, const JpegInput *input, unsigned char **out,
                   unsigned long *size)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_create_compress(info);
    jpeg_mem_dest(info, out, size);
    info->image_width = static_cast<JDIMENSION>(input->width);
    info->image_height = static_cast<JDIMENSION>(input->height);
    info->input_components = input->components;
    info->in_color_space = input->space;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, input->quality, TRUE);
    if (input->progressive)
        jpeg_simple_progression(info);
    jpeg_start_compress(info, TRUE);
    const std::size_t stride = static_cast<std::size_t>(input->width) * static_cast<std::size_t>(input->components);
    while (info->next_scanline < info->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(input->pixels + stride * info->next_scanline);
        jpeg_write_scanlines(info, &row, 1);
    }
    jpeg_finish_compress(info);
    return true;
}

std::string compress(const JpegInput &input)
{
    jpeg_compress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpOnError;
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const bool written = compressSteps(&info, &errors, &input, &out, &size);
    jpeg_destroy_compress(&info);
    std::string bytes = written ? std::string(reinterpret_cast<const char *>(out), size) : std::string();
    std::free(out);
    EXPECT_TRUE(written) << "libjpeg could not write the test picture";
    return bytes;
}

bool decompressSteps(jpeg_decompress_struct *info, JpegErrors *errors, const std::string *jpeg, Picture *out)
{
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, reinterpret_cast<const unsigned char *>(jpeg->data()), static_cast<unsigned long>(jpeg->size()));
    jpeg_read_header(info, TRUE);
    info->out_color_space = JCS_RGB;
    jpeg_start_decompress(info);
    if (static_cast<int>(info->output_width) != out->width || static_cast<int>(info->output_height) != out->height)
        return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = out->at(0, static_cast<int>(info->output_scanline));
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

} // namespace

std::string jpegOf(const Picture &picture, int quality, JpegKind kind)
{
    return compress({picture.pixels.data(), picture.width, picture.height, 3, JCS_RGB, quality,
                     kind == JpegKind::Progressive});
}

std::string greyJpegOf(const Picture &picture, int quality)
{
    std::vector<unsigned char> red;
    for (std::size_t i = 0; i < picture.pixels.size(); i += 3)
        red.push_back(picture.pixels[i]);
    return compress({red.data(), picture.width, picture.height, 1, JCS_GRAYSCALE, quality, false});
}

std::string cmykJpegOf(const Picture &picture, int quality)
{
    std::vector<unsigned char> cmyk;
    for (std::size_t i = 0; i < picture.pixels.size(); i += 3)
        cmyk.insert(cmyk.end(), {picture.pixels[i], picture.pixels[i + 1], picture.pixels[i + 2], 255});
    return compress({cmyk.data(), picture.width, picture.height, 4, JCS_CMYK, quality, false});
}

Picture decodeJpeg(const std::string &jpeg)
{
    // The size first, from the frame header, so that the picture can be made before decoding.
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jumpOnError;
    Picture picture;
    for (std::size_t at = 2; at + 9 < jpeg.size();) {
        const auto byte = [&jpeg](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
        const unsigned marker = byte(at + 1);
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            picture = Picture(byte(at + 7) * 256 + byte(at + 8), byte(at + 5) * 256 + byte(at + 6), 3);
            break;
        }
        at += 2 + static_cast<std::size_t>(byte(at + 2) * 256 + byte(at + 3));
    }
    const bool decoded = picture.width > 0 && decompressSteps(&info, &errors, &jpeg, &picture);
    jpeg_destroy_decompress(&info);
    EXPECT_TRUE(decoded) << "libjpeg could not read the test picture";
    return decoded ? picture : Picture();
}

// ---- BMP ----

namespace {

void putLittleEndian(std::string &bytes, std::size_t at, std::uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFFU);
}

std::uint32_t littleEndian(const std::string &bytes, std::size_t at, int count)
{
    std::uint32_t value = 0;
    for (int i = count; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    return value;
}

// File header and BITMAPINFOHEADER, the palette after it.
std::string bmpHeaders(int width, int height, int bits, std::size_t paletteBytes, std::size_t imageBytes)
{
    std::string bytes(54 + paletteBytes, '\0');
    bytes[0] = 'B';
    bytes[1] = 'M';
    putLittleEndian(bytes, 2, static_cast<std::uint32_t>(54 + paletteBytes + imageBytes), 4);
    putLittleEndian(bytes, 10, static_cast<std::uint32_t>(54 + paletteBytes), 4);
    putLittleEndian(bytes, 14, 40, 4);
    putLittleEndian(bytes, 18, static_cast<std::uint32_t>(width), 4);
    putLittleEndian(bytes, 22, static_cast<std::uint32_t>(height), 4);
    putLittleEndian(bytes, 26, 1, 2);
    putLittleEndian(bytes, 28, static_cast<std::uint32_t>(bits), 2);
    putLittleEndian(bytes, 34, static_cast<std::uint32_t>(imageBytes), 4);
    putLittleEndian(bytes, 38, 2835, 4);
    putLittleEndian(bytes, 42, 2835, 4);
    return bytes;
}

// Rows bottom-up unless `topDown` (a negative height), each padded to 4 bytes.
template <typename PutPixel>
std::string bmpOf(int width, int height, int bits, bool topDown, const std::string &palette, PutPixel put)
{
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) / 8 + 3) & ~std::size_t{3};
    std::string bytes = bmpHeaders(width, topDown ? -height : height, bits, palette.size(),
                                   rowBytes * static_cast<std::size_t>(height));
    bytes.replace(54, palette.size(), palette);
    for (int i = 0; i < height; ++i) {
        const int y = topDown ? i : height - 1 - i;
        std::string row;
        for (int x = 0; x < width; ++x)
            put(row, x, y);
        row.resize(rowBytes, '\0');
        bytes += row;
    }
    return bytes;
}

} // namespace

std::string bmp24Of(const Picture &picture, bool topDown)
{
    return bmpOf(picture.width, picture.height, 24, topDown, {}, [&](std::string &row, int x, int y) {
        const unsigned char *p = picture.at(x, y);
        row += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
    });
}

std::string bmp32Of(const Picture &picture, bool topDown)
{
    // The fourth byte is zero, as most writers leave it: it is no alpha.
    return bmpOf(picture.width, picture.height, 32, topDown, {}, [&](std::string &row, int x, int y) {
        const unsigned char *p = picture.at(x, y);
        row += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0]), '\0'};
    });
}

std::string bmp8Of(const std::vector<unsigned char> &indices, int width, int height,
                   const std::vector<unsigned char> &palette)
{
    std::string entries;
    for (std::size_t i = 0; i + 2 < palette.size(); i += 3)
        entries += {static_cast<char>(palette[i + 2]), static_cast<char>(palette[i + 1]), static_cast<char>(palette[i]), '\0'};
    std::string bytes = bmpOf(width, height, 8, false, entries, [&](std::string &row, int x, int y) {
        row += static_cast<char>(indices[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)]);
    });
    putLittleEndian(bytes, 46, static_cast<std::uint32_t>(palette.size() / 3), 4); // colours used
    return bytes;
}

Picture readBmp(const std::filesystem::path &path, int expectedWidth, int expectedHeight)
{
    const std::string bytes = test_support::readFile(path);
    if (bytes.size() < 54) {
        ADD_FAILURE() << path << ": " << bytes.size() << " bytes, no BMP header";
        return {};
    }
    const std::size_t rowBytes = (static_cast<std::size_t>(expectedWidth) * 3 + 3) & ~std::size_t{3};
    const std::size_t imageBytes = rowBytes * static_cast<std::size_t>(expectedHeight);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(littleEndian(bytes, 2, 4), bytes.size()) << "file size";
    EXPECT_EQ(littleEndian(bytes, 10, 4), 54U) << "offset of the pixels";
    EXPECT_EQ(littleEndian(bytes, 14, 4), 40U) << "info header size";
    EXPECT_EQ(littleEndian(bytes, 18, 4), static_cast<std::uint32_t>(expectedWidth));
    EXPECT_EQ(littleEndian(bytes, 22, 4), static_cast<std::uint32_t>(expectedHeight)) << "bottom-up";
    EXPECT_EQ(littleEndian(bytes, 26, 2), 1U) << "planes";
    EXPECT_EQ(littleEndian(bytes, 28, 2), 24U) << "bits per pixel";
    EXPECT_EQ(littleEndian(bytes, 30, 4), 0U) << "compression";
    EXPECT_EQ(littleEndian(bytes, 34, 4), imageBytes) << "image size";
    EXPECT_EQ(littleEndian(bytes, 38, 4), 3780U) << "96 dpi";
    EXPECT_EQ(littleEndian(bytes, 42, 4), 3780U) << "96 dpi";
    if (bytes.size() != 54 + imageBytes) {
        ADD_FAILURE() << bytes.size() << " bytes instead of " << 54 + imageBytes;
        return {};
    }
    Picture picture(expectedWidth, expectedHeight, 3);
    int nonZeroPadding = 0;
    for (int y = 0; y < expectedHeight; ++y) {
        const std::size_t row = 54 + rowBytes * static_cast<std::size_t>(expectedHeight - 1 - y);
        for (int x = 0; x < expectedWidth; ++x) {
            const std::size_t at = row + static_cast<std::size_t>(x) * 3;
            picture.set(x, y, {static_cast<unsigned char>(bytes[at + 2]), static_cast<unsigned char>(bytes[at + 1]),
                               static_cast<unsigned char>(bytes[at])});
        }
        for (std::size_t at = row + static_cast<std::size_t>(expectedWidth) * 3; at < row + rowBytes; ++at)
            nonZeroPadding += bytes[at] != '\0' ? 1 : 0;
    }
    EXPECT_EQ(nonZeroPadding, 0) << "row padding bytes";
    return picture;
}

namespace {

std::string hexRgb(const unsigned char *p)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", p[0], p[1], p[2]);
    return text;
}

} // namespace

testing::AssertionResult samePixels(const Picture &got, const Picture &expected, int tolerance)
{
    if (got.width != expected.width || got.height != expected.height)
        return testing::AssertionFailure() << "size " << got.width << "x" << got.height << " instead of "
                                           << expected.width << "x" << expected.height;
    int differences = 0;
    auto failure = testing::AssertionFailure();
    for (int y = 0; y < got.height; ++y) {
        for (int x = 0; x < got.width; ++x) {
            const unsigned char *a = got.at(x, y);
            const unsigned char *b = expected.at(x, y);
            if (std::abs(a[0] - b[0]) > tolerance || std::abs(a[1] - b[1]) > tolerance
                || std::abs(a[2] - b[2]) > tolerance) {
                if (++differences <= 5)
                    failure << "(" << x << "," << y << "): " << hexRgb(a) << " instead of " << hexRgb(b) << "; ";
            }
        }
    }
    if (differences == 0)
        return testing::AssertionSuccess();
    return failure << differences << " pixels differ";
}

double meanDifference(const Picture &a, const Picture &b)
{
    if (a.width != b.width || a.height != b.height || a.pixels.empty())
        return 255.0;
    double sum = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            for (int c = 0; c < 3; ++c)
                sum += std::abs(a.at(x, y)[c] - b.at(x, y)[c]);
        }
    }
    return sum / (3.0 * a.width * a.height);
}

std::string toBase64(const std::string &bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(4 * ((bytes.size() + 2) / 3));
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3FU] : '=';
    }
    return out;
}

} // namespace test_pictures
