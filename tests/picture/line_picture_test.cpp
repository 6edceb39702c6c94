#include "picture/line_picture.h"

#include "platform/module_error.h"
#include "support/test_pictures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using picture::PictureLimits;
using picture::SauverImageLigne;
using test_pictures::JpegKind;
using test_pictures::noise;
using test_pictures::Picture;
using test_pictures::readBmp;
using test_pictures::samePixels;
using test_pictures::toBase64;
using test_pictures::variedPicture;
using test_support::entries;
using test_support::readFile;
using test_support::writeFile;

// ---- pictures made for the tests ----

std::string pngPicture() { return test_pictures::pngOf(variedPicture(120, 80)); }

void putBigEndian(std::string &bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFFU);
}

// The PNG of a small picture whose header claims another size (the CRC is made right).
std::string pngClaimingSize(std::uint32_t width, std::uint32_t height, bool interlaced = false)
{
    std::string png = test_pictures::pngOf(variedPicture(8, 8), interlaced);
    // IHDR: length at 8, type at 12, width at 16, height at 20, CRC over type and data at 29.
    putBigEndian(png, 16, width);
    putBigEndian(png, 20, height);
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= static_cast<unsigned char>(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
    putBigEndian(png, 29, ~crc);
    return png;
}

// The JPEG of a small picture whose frame header claims another size.
[[maybe_unused]] std::string jpegClaimingSize(std::uint16_t width, std::uint16_t height, JpegKind kind)
{
    std::string jpeg = test_pictures::jpegOf(variedPicture(16, 16), 90, kind);
    for (std::size_t at = 2; at + 9 < jpeg.size();) {
        const auto byte = [&jpeg](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(jpeg[i])); };
        if (byte(at + 1) == 0xC0 || byte(at + 1) == 0xC2) {
            jpeg[at + 5] = static_cast<char>(height >> 8);
            jpeg[at + 6] = static_cast<char>(height & 0xFFU);
            jpeg[at + 7] = static_cast<char>(width >> 8);
            jpeg[at + 8] = static_cast<char>(width & 0xFFU);
            return jpeg;
        }
        at += 2 + byte(at + 2) * 256 + byte(at + 3);
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

// 200 colours, every one of them used.
std::vector<unsigned char> manyColours()
{
    std::vector<unsigned char> palette;
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t n = noise(i, 7);
        palette.insert(palette.end(), {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                       static_cast<unsigned char>(n >> 16)});
    }
    return palette;
}

std::vector<unsigned char> paletteIndices(int width, int height, unsigned colours)
{
    std::vector<unsigned char> indices;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            indices.push_back(static_cast<unsigned char>(noise(x, y) % colours));
    }
    return indices;
}

Picture lookedUp(const std::vector<unsigned char> &indices, const std::vector<unsigned char> &palette, int width,
                 int height)
{
    Picture picture(width, height, 3);
    for (std::size_t i = 0; i < indices.size(); ++i)
        std::copy_n(&palette[indices[i] * 3U], 3, &picture.pixels[i * 3]);
    return picture;
}

// Grey values of `bits` bits, both extremes included.
std::vector<unsigned> greyValues(int width, int height, int bits)
{
    const unsigned top = (1U << bits) - 1U;
    std::vector<unsigned> values;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            values.push_back(noise(x, y) % (top + 1U));
    }
    values[0] = 0;
    values[1] = top;
    return values;
}

// How a grey value of `bits` bits reads on 8 bits: PNG scales to the full range.
Picture greyAsRgb(const std::vector<unsigned> &values, int width, int height, int bits)
{
    std::vector<unsigned char> eight;
    for (const unsigned v : values)
        eight.push_back(static_cast<unsigned char>(bits == 16 ? v / 257U : v * 255U / ((1U << bits) - 1U)));
    return test_pictures::greyPicture(eight, width, height);
}

template <int Bits>
std::string greyPngOfBits()
{
    const int bits = Bits;
    std::vector<unsigned> values = greyValues(120, 80, bits == 16 ? 8 : bits);
    if (bits == 16)
        std::transform(values.begin(), values.end(), values.begin(), [](unsigned v) { return v * 257U; });
    return test_pictures::greyPng(values, 120, 80, bits);
}

template <int Bits>
Picture greyPictureOfBits(const std::string &)
{
    const int bits = Bits;
    std::vector<unsigned> values = greyValues(120, 80, bits == 16 ? 8 : bits);
    if (bits == 16)
        std::transform(values.begin(), values.end(), values.begin(), [](unsigned v) { return v * 257U; });
    return greyAsRgb(values, 120, 80, bits);
}

// ---- conversions ----

// JPEG is lossy: the written pixels are exactly a plain libjpeg decode of the source, and
// this close to the picture encoded (colour is halved in size at the disc's edge).
constexpr int kJpegTolerance = 24;
constexpr double kJpegMeanDifference = 3.0;

struct ConversionCase {
    const char *name;
    std::string (*source)();
    Picture (*expected)(const std::string &source); // exactly; null when there is no exact reference
    Picture (*original)();                           // for lossy sources: the picture encoded
};
void PrintTo(const ConversionCase &c, std::ostream *out) { *out << c.name; }

Picture theVariedPicture(const std::string & = {}) { return variedPicture(120, 80); }
Picture asLibjpegDecodesIt(const std::string &source) { return test_pictures::decodeJpeg(source); }
Picture thePhoto() { return test_pictures::photoPicture(120, 80); }
Picture redAsGrey()
{
    Picture picture = thePhoto();
    for (std::size_t i = 0; i < picture.pixels.size(); i += 3)
        picture.pixels[i + 1] = picture.pixels[i + 2] = picture.pixels[i];
    return picture;
}
Picture thePalettePicture(const std::string &)
{
    return lookedUp(paletteIndices(120, 80, 200), manyColours(), 120, 80);
}

class LinePictureConversionTest : public testing::TestWithParam<ConversionCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureConversionTest, Writes24BitBmpWithTheSourcePixels)
{
    const ConversionCase &c = GetParam();
    const std::string source = c.source();
    const std::string target = dir.file("ligne.bmp");

    EXPECT_TRUE(SauverImageLigne(target, toBase64(source)));

    const Picture written = readBmp(target, 120, 80);
    if (c.expected != nullptr) {
        EXPECT_TRUE(samePixels(written, c.expected(source)));
    }
    if (c.original != nullptr) {
        EXPECT_TRUE(samePixels(written, c.original(), kJpegTolerance));
        EXPECT_LE(test_pictures::meanDifference(written, c.original()), kJpegMeanDifference);
    }
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"ligne.bmp"});
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LinePictureConversionTest,
    testing::Values(
        ConversionCase{"Png", pngPicture, theVariedPicture, nullptr},
        ConversionCase{"InterlacedPng", [] { return test_pictures::pngOf(variedPicture(120, 80), true); },
                       theVariedPicture, nullptr},
        ConversionCase{"Jpeg", [] { return test_pictures::jpegOf(thePhoto(), 90); }, asLibjpegDecodesIt, thePhoto},
        ConversionCase{"ProgressiveJpeg", [] { return test_pictures::jpegOf(thePhoto(), 90, JpegKind::Progressive); },
                       asLibjpegDecodesIt, thePhoto},
        ConversionCase{"GreyJpeg", [] { return test_pictures::greyJpegOf(thePhoto(), 90); }, asLibjpegDecodesIt,
                       redAsGrey},
        // Adobe's inverted CMYK is converted; libjpeg alone has no RGB for it to compare with.
        ConversionCase{"CmykJpeg", [] { return test_pictures::cmykJpegOf(thePhoto(), 90); }, nullptr, thePhoto},
        ConversionCase{"Bmp", [] { return test_pictures::bmp24Of(variedPicture(120, 80)); }, theVariedPicture,
                       nullptr},
        ConversionCase{"TopDownBmp", [] { return test_pictures::bmp24Of(variedPicture(120, 80), true); },
                       theVariedPicture, nullptr},
        ConversionCase{"ThirtyTwoBitBmp", [] { return test_pictures::bmp32Of(variedPicture(120, 80)); },
                       theVariedPicture, nullptr},
        ConversionCase{"TopDownThirtyTwoBitBmp", [] { return test_pictures::bmp32Of(variedPicture(120, 80), true); },
                       theVariedPicture, nullptr},
        ConversionCase{"PaletteBmp",
                       [] { return test_pictures::bmp8Of(paletteIndices(120, 80, 200), 120, 80, manyColours()); },
                       thePalettePicture, nullptr},
        ConversionCase{"PalettePng",
                       [] { return test_pictures::palettePng(paletteIndices(120, 80, 200), 120, 80, manyColours()); },
                       thePalettePicture, nullptr},
        ConversionCase{"GrayscalePng", greyPngOfBits<8>, greyPictureOfBits<8>, nullptr},
        ConversionCase{"OneBitGreyPng", greyPngOfBits<1>, greyPictureOfBits<1>, nullptr},
        ConversionCase{"TwoBitGreyPng", greyPngOfBits<2>, greyPictureOfBits<2>, nullptr},
        ConversionCase{"FourBitGreyPng", greyPngOfBits<4>, greyPictureOfBits<4>, nullptr},
        ConversionCase{"SixteenBitGreyPng", greyPngOfBits<16>, greyPictureOfBits<16>, nullptr},
        ConversionCase{"SixteenBitPng", [] { return test_pictures::pngOf(variedPicture(120, 80), false, true); },
                       theVariedPicture, nullptr}),
    [](const testing::TestParamInfo<ConversionCase> &param) { return std::string(param.param.name); });

// ---- transparency ----

// Alpha from 0 to 255 across the picture; a fully transparent and a half-transparent red corner.
Picture translucent()
{
    Picture picture = test_pictures::translucentPicture(64, 48);
    picture.set(0, 0, {10, 200, 30, 0});
    picture.set(1, 0, {255, 0, 0, 128});
    return picture;
}

// Indexed with a transparent and a half-transparent palette entry.
const std::vector<unsigned char> kTranslucentPalette{10, 200, 30, 255, 0, 0, 0, 0, 255, 0, 255, 0};
const std::vector<unsigned char> kTranslucentPaletteAlpha{0, 128, 255, 200};

std::vector<unsigned char> translucentIndices()
{
    std::vector<unsigned char> indices = paletteIndices(64, 48, 4);
    indices[0] = 0;
    indices[1] = 1;
    return indices;
}

Picture translucentPalettePicture()
{
    Picture picture(64, 48, 4);
    const std::vector<unsigned char> indices = translucentIndices();
    for (std::size_t i = 0; i < indices.size(); ++i) {
        std::copy_n(&kTranslucentPalette[indices[i] * 3U], 3, &picture.pixels[i * 4]);
        picture.pixels[i * 4 + 3] = kTranslucentPaletteAlpha[indices[i]];
    }
    return picture;
}

// Grey with alpha: a transparent light corner and a half-transparent black one.
std::vector<unsigned> greyWithAlphaValues()
{
    std::vector<unsigned> values = greyValues(64, 48, 8);
    values[0] = 200;
    values[1] = 0;
    return values;
}

std::vector<unsigned char> alphaAcross()
{
    std::vector<unsigned char> alpha;
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x)
            alpha.push_back(static_cast<unsigned char>(x * 255 / 63));
    }
    alpha[0] = 0;
    alpha[1] = 128;
    return alpha;
}

Picture greyWithAlphaPicture()
{
    Picture picture(64, 48, 4);
    const std::vector<unsigned> values = greyWithAlphaValues();
    const std::vector<unsigned char> alpha = alphaAcross();
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto v = static_cast<unsigned char>(values[i]);
        picture.pixels[i * 4] = picture.pixels[i * 4 + 1] = picture.pixels[i * 4 + 2] = v;
        picture.pixels[i * 4 + 3] = alpha[i];
    }
    return picture;
}

struct TransparencyCase {
    const char *name;
    std::string (*source)();
    Picture (*original)();
    std::array<int, 3> halfTransparent; // what pixel (1, 0) becomes
};
void PrintTo(const TransparencyCase &c, std::ostream *out) { *out << c.name; }

class LinePictureTransparencyTest : public testing::TestWithParam<TransparencyCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureTransparencyTest, LaysTransparentPixelsOverWhite)
{
    const Picture original = GetParam().original();
    ASSERT_EQ(original.channels, 4);
    const std::string target = dir.file("ligne.bmp");

    EXPECT_TRUE(SauverImageLigne(target, toBase64(GetParam().source())));

    const Picture written = readBmp(target, original.width, original.height);
    ASSERT_EQ(written.width, original.width);
    const unsigned char *corner = written.at(0, 0);
    EXPECT_TRUE(corner[0] == 255 && corner[1] == 255 && corner[2] == 255) << "transparent pixel not white";
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(written.at(1, 0)[c], GetParam().halfTransparent[static_cast<std::size_t>(c)], 1) << "channel " << c;

    Picture expected(original.width, original.height, 3);
    for (int y = 0; y < original.height; ++y) {
        for (int x = 0; x < original.width; ++x) {
            const unsigned char *p = original.at(x, y);
            const auto over = [a = p[3]](int c) { return (c * a + 255 * (255 - a)) / 255; };
            expected.set(x, y, {over(p[0]), over(p[1]), over(p[2])});
        }
    }
    EXPECT_TRUE(samePixels(written, expected, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LinePictureTransparencyTest,
    testing::Values(
        TransparencyCase{"Png", [] { return test_pictures::pngOf(translucent()); }, translucent, {255, 127, 127}},
        TransparencyCase{"PalettePng",
                         [] {
                             return test_pictures::palettePng(translucentIndices(), 64, 48, kTranslucentPalette,
                                                              kTranslucentPaletteAlpha);
                         },
                         translucentPalettePicture, {255, 127, 127}},
        TransparencyCase{"GreyAlphaPng",
                         [] { return test_pictures::greyPng(greyWithAlphaValues(), 64, 48, 8, alphaAcross()); },
                         greyWithAlphaPicture, {127, 127, 127}},
        TransparencyCase{"SixteenBitRgbaPng", [] { return test_pictures::pngOf(translucent(), false, true); },
                         translucent, {255, 127, 127}}),
    [](const testing::TestParamInfo<TransparencyCase> &param) { return std::string(param.param.name); });

// ---- a picture held whole gives what a streamed one gives ----

// Big enough for the written rows to span several blocks.
constexpr int kBigWidth = 643;
constexpr int kBigHeight = 561;

Picture bigPicture() { return variedPicture(kBigWidth, kBigHeight); }
Picture bigTranslucentPicture() { return test_pictures::translucentPicture(kBigWidth, kBigHeight); }
std::string bigPalettePng(bool interlaced)
{
    return test_pictures::palettePng(paletteIndices(kBigWidth, kBigHeight, 200), kBigWidth, kBigHeight, manyColours(),
                                     {}, interlaced);
}

struct SameBytesCase {
    const char *name;
    std::string (*streamed)();
    std::string (*whole)();
};
void PrintTo(const SameBytesCase &c, std::ostream *out) { *out << c.name; }

class LinePictureSameBytesTest : public testing::TestWithParam<SameBytesCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureSameBytesTest, WritesTheSameBmp)
{
    EXPECT_TRUE(SauverImageLigne(dir.file("a.bmp"), toBase64(GetParam().streamed())));
    EXPECT_TRUE(SauverImageLigne(dir.file("b.bmp"), toBase64(GetParam().whole())));
    const std::string streamed = readFile(dir.file("a.bmp"));
    EXPECT_EQ(streamed.size(), 54U + 1932U * static_cast<std::size_t>(kBigHeight));
    EXPECT_TRUE(streamed == readFile(dir.file("b.bmp")));
    EXPECT_EQ(readBmp(dir.file("a.bmp"), kBigWidth, kBigHeight).width, kBigWidth);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LinePictureSameBytesTest,
    testing::Values(
        SameBytesCase{"Png", [] { return test_pictures::pngOf(bigPicture()); },
                      [] { return test_pictures::pngOf(bigPicture(), true); }},
        SameBytesCase{"SixteenBitPng", [] { return test_pictures::pngOf(bigPicture(), false, true); },
                      [] { return test_pictures::pngOf(bigPicture(), true, true); }},
        SameBytesCase{"PalettePng", [] { return bigPalettePng(false); }, [] { return bigPalettePng(true); }},
        SameBytesCase{"RgbaPng", [] { return test_pictures::pngOf(bigTranslucentPicture()); },
                      [] { return test_pictures::pngOf(bigTranslucentPicture(), true); }},
        SameBytesCase{"Jpeg", [] { return test_pictures::jpegOf(bigPicture(), 90); },
                      [] { return test_pictures::jpegOf(bigPicture(), 90, JpegKind::Progressive); }},
        SameBytesCase{"TopDownBmp", [] { return test_pictures::bmp24Of(bigPicture()); },
                      [] { return test_pictures::bmp24Of(bigPicture(), true); }},
        SameBytesCase{"ThirtyTwoBitBmp", [] { return test_pictures::bmp24Of(bigPicture()); },
                      [] { return test_pictures::bmp32Of(bigPicture()); }}),
    [](const testing::TestParamInfo<SameBytesCase> &param) { return std::string(param.param.name); });

// ---- base64 forms ----

std::string wrapped(const std::string &text, std::size_t width, const std::string &lineBreak)
{
    std::string out;
    for (std::size_t at = 0; at < text.size(); at += width)
        out += text.substr(at, width) + lineBreak;
    return out;
}

struct TextFormCase {
    const char *name;
    std::string (*form)(const std::string &base64);
};
void PrintTo(const TextFormCase &c, std::ostream *out) { *out << c.name; }

class LinePictureTextFormTest : public testing::TestWithParam<TextFormCase> {
protected:
    test_support::TempDir dir;
};

// Three sources whose base64 ends with no, one and two padding signs; the picture is big
// enough for its text to span several of the decoder's blocks.
TEST_P(LinePictureTextFormTest, DecodesThePicture)
{
    const Picture picture = variedPicture(256, 160);
    const std::string png = test_pictures::pngOf(picture);
    for (std::size_t extra = 0; extra < 3; ++extra) {
        // Bytes after the end of a PNG are ignored by readers; they move the padding.
        const std::string source = png + std::string(extra, '\0');
        const std::string base64 = toBase64(source);
        ASSERT_GT(base64.size(), 2U * 64U * 1024U);
        const std::size_t padding = base64.size() - base64.find_last_not_of('=') - 1;
        ASSERT_EQ(padding, (3 - source.size() % 3) % 3);
        const std::string target = dir.file("ligne" + std::to_string(padding) + ".bmp");

        EXPECT_TRUE(SauverImageLigne(target, GetParam().form(base64))) << padding << " padding signs";
        EXPECT_TRUE(samePixels(readBmp(target, picture.width, picture.height), picture)) << padding << " padding signs";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LinePictureTextFormTest,
    testing::Values(
        TextFormCase{"OneLine", [](const std::string &b) { return b; }},
        TextFormCase{"CrLfEvery76", [](const std::string &b) { return wrapped(b, 76, "\r\n"); }},
        TextFormCase{"LfEvery64", [](const std::string &b) { return wrapped(b, 64, "\n"); }},
        TextFormCase{"SpacesAndTabs", [](const std::string &b) { return " \t" + wrapped(b, 10, " \t") + "  "; }},
        TextFormCase{"WithoutPadding", [](const std::string &b) { return b.substr(0, b.find('=')); }},
        TextFormCase{"WithoutPaddingWrapped",
                     [](const std::string &b) { return wrapped(b.substr(0, b.find('=')), 76, "\r\n"); }},
        TextFormCase{"DataUrl", [](const std::string &b) { return "data:image/png;base64," + b; }},
        TextFormCase{"DataUrlAnyCaseWrapped",
                     [](const std::string &b) { return "\r\nDATA:image/jpeg;BASE64," + wrapped(b, 76, "\r\n"); }}),
    [](const testing::TestParamInfo<TextFormCase> &param) { return std::string(param.param.name); });

// ---- refusals ----

struct RefusalCase {
    const char *name;
    std::string (*text)();
    const char *message; // what the message starts with
};
void PrintTo(const RefusalCase &c, std::ostream *out) { *out << c.name; }

class LinePictureRefusalTest : public testing::TestWithParam<RefusalCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureRefusalTest, ThrowsAndLeavesTheTargetAsItWas)
{
    const std::string text = GetParam().text();
    for (const bool oldFileExists : {false, true}) {
        const std::string target = dir.file(oldFileExists ? "ancienne.bmp" : "absente.bmp");
        if (oldFileExists)
            writeFile(target, "ancienne image");
        const auto before = entries(dir.path());
        try {
            (void)SauverImageLigne(target, text);
            ADD_FAILURE() << "no error";
        } catch (const ModuleError &e) {
            EXPECT_TRUE(std::string(e.what()).starts_with(GetParam().message)) << e.what();
        }
        EXPECT_EQ(entries(dir.path()), before);
        if (oldFileExists)
            EXPECT_EQ(readFile(target), "ancienne image");
        else
            EXPECT_FALSE(fs::exists(target));
    }
}

std::string insertedInTheMiddle(const std::string &what)
{
    std::string text = toBase64(pngPicture());
    return text.insert(text.size() / 2, what);
}

std::string truncatedPng()
{
    const std::string png = pngPicture();
    return png.substr(0, png.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, LinePictureRefusalTest,
    testing::Values(
        RefusalCase{"EmptyText", [] { return std::string(); }, "Image de la ligne illisible : aucune donnée."},
        RefusalCase{"OnlyBlanks", [] { return std::string(" \r\n\t "); }, "Image de la ligne illisible : aucune donnée."},
        RefusalCase{"EmptyDataUrl", [] { return std::string("data:image/png;base64,"); },
                    "Image de la ligne illisible : aucune donnée."},
        RefusalCase{"DataUrlWithoutBase64", [] { return "data:image/png," + toBase64(pngPicture()); },
                    "Image de la ligne illisible : préfixe data: sans base64."},
        RefusalCase{"Asterisk", [] { return insertedInTheMiddle("*"); },
                    "Image de la ligne illisible : caractère invalide dans le texte base64."},
        RefusalCase{"AccentedLetter", [] { return insertedInTheMiddle("é"); },
                    "Image de la ligne illisible : caractère invalide dans le texte base64."},
        RefusalCase{"UrlSafeAlphabet", [] { return insertedInTheMiddle("-_"); },
                    "Image de la ligne illisible : caractère invalide dans le texte base64."},
        RefusalCase{"NulCharacter", [] { return insertedInTheMiddle(std::string(1, '\0')); },
                    "Image de la ligne illisible : caractère invalide dans le texte base64."},
        // The picture is whole before the fault: the rest of the text is read all the same.
        RefusalCase{"AsteriskAfterThePicture", [] { return toBase64(pngPicture()) + "\r\n*"; },
                    "Image de la ligne illisible : caractère invalide dans le texte base64."},
        // A fault of the text is named before a fault of the picture met earlier.
        RefusalCase{"AsteriskAfterADamagedPicture", [] { return toBase64(truncatedPng()) + "*"; },
                    "Image de la ligne illisible : caractère invalide dans le texte base64."},
        RefusalCase{"PaddingInTheMiddle", [] { return insertedInTheMiddle("=="); },
                    "Image de la ligne illisible : signe = au milieu du texte base64."},
        RefusalCase{"PaddingReplacingALetter",
                    [] {
                        std::string text = toBase64(pngPicture());
                        text[text.size() / 2] = '=';
                        return text;
                    },
                    "Image de la ligne illisible : signe = au milieu du texte base64."},
        RefusalCase{"LoneLastCharacter",
                    [] {
                        const std::string text = toBase64(pngPicture());
                        return text.substr(0, text.size() - 3);
                    },
                    "Image de la ligne illisible : fin du texte base64 abîmée."},
        RefusalCase{"PaddingAfterWholeGroup", [] { return std::string("QUJD=="); },
                    "Image de la ligne illisible : fin du texte base64 abîmée."},
        RefusalCase{"ThreePaddingSigns", [] { return std::string("QQ==="); },
                    "Image de la ligne illisible : fin du texte base64 abîmée."},
        RefusalCase{"OnlyPadding", [] { return std::string("===="); },
                    "Image de la ligne illisible : fin du texte base64 abîmée."},
        RefusalCase{"NotAPicture", [] { return toBase64("Ceci n'est pas une image, seulement du texte.\n"); },
                    "Image de la ligne illisible : format d'image non reconnu."},
        RefusalCase{"GifPicture", [] { return std::string("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7"); },
                    "Image de la ligne illisible : format d'image non pris en charge"},
        RefusalCase{"TruncatedPng", [] { return toBase64(truncatedPng()); },
                    "Image de la ligne illisible : les données de l'image sont abîmées ou incomplètes."},
        RefusalCase{"TruncatedBmp",
                    [] {
                        const std::string bmp = test_pictures::bmp24Of(variedPicture(120, 80));
                        return toBase64(bmp.substr(0, bmp.size() - 100));
                    },
                    "Image de la ligne illisible : les données de l'image sont abîmées ou incomplètes."},
        RefusalCase{"PngClaiming30000By30000", [] { return toBase64(pngClaimingSize(30000, 30000)); },
                    "Image de la ligne trop grande : 30000 × 30000 pixels (100 mégapixels au plus)."}),
    [](const testing::TestParamInfo<RefusalCase> &param) { return std::string(param.param.name); });

TEST(LinePictureCraftedHeaderTest, ClaimsItsSizeWithAValidChecksum)
{
    // Without this, the refusal above could come from a damaged header rather than the size.
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    EXPECT_TRUE(test_pictures::readPngSize(pngClaimingSize(30000, 30000), width, height));
    EXPECT_EQ(width, 30000U);
    EXPECT_EQ(height, 30000U);
}

// ---- limits ----

struct LimitCase {
    const char *name;
    std::uint64_t maxPixels;
    const char *message; // empty when the picture is accepted
};
void PrintTo(const LimitCase &c, std::ostream *out) { *out << c.name; }

class LinePictureLimitTest : public testing::TestWithParam<LimitCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureLimitTest, RefusesPicturesAboveTheLimitBeforeWriting)
{
    const LimitCase &c = GetParam();
    const std::string base64 = toBase64(test_pictures::pngOf(variedPicture(100, 100)));
    const std::string target = dir.file("ligne.bmp");
    if (std::string(c.message).empty()) {
        EXPECT_TRUE(SauverImageLigne(target, base64, PictureLimits{c.maxPixels}));
        EXPECT_TRUE(samePixels(readBmp(target, 100, 100), variedPicture(100, 100)));
        return;
    }
    try {
        (void)SauverImageLigne(target, base64, PictureLimits{c.maxPixels});
        ADD_FAILURE() << "no error";
    } catch (const ModuleError &e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Limits, LinePictureLimitTest,
    testing::Values(
        LimitCase{"Thousand", 1000, "Image de la ligne trop grande : 100 × 100 pixels (0,001 mégapixel au plus)."},
        LimitCase{"OneBelow", 9999, "Image de la ligne trop grande : 100 × 100 pixels (0,009999 mégapixel au plus)."},
        LimitCase{"Exactly", 10000, ""},
        LimitCase{"Default", PictureLimits{}.maxPixels, ""}),
    [](const testing::TestParamInfo<LimitCase> &param) { return std::string(param.param.name); });

// Pictures that must be held whole while they decode are refused over the memory budget;
// the same pictures, streamed, are not held whole and pass.
struct BudgetCase {
    const char *name;
    std::string (*source)();
    bool accepted;
};
void PrintTo(const BudgetCase &c, std::ostream *out) { *out << c.name; }

class LinePictureBudgetTest : public testing::TestWithParam<BudgetCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureBudgetTest, RefusesPicturesHeldWholeOverTheBudget)
{
    PictureLimits limits;
    limits.maxDecodedBytes = 16 * 1024; // a 120 x 80 picture held whole needs about 30 KB
    const std::string target = dir.file("ligne.bmp");
    const std::string base64 = toBase64(GetParam().source());
    if (GetParam().accepted) {
        EXPECT_TRUE(SauverImageLigne(target, base64, limits));
        EXPECT_EQ(readBmp(target, 120, 80).width, 120);
        return;
    }
    try {
        (void)SauverImageLigne(target, base64, limits);
        ADD_FAILURE() << "no error";
    } catch (const ModuleError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Image de la ligne trop grande : 120 × 80 pixels, trop de mémoire nécessaire pour la décoder.");
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, LinePictureBudgetTest,
    testing::Values(
        BudgetCase{"Png", pngPicture, true},
        BudgetCase{"InterlacedPng", [] { return test_pictures::pngOf(variedPicture(120, 80), true); }, false},
        BudgetCase{"Jpeg", [] { return test_pictures::jpegOf(variedPicture(120, 80), 90); }, true},
        BudgetCase{"ProgressiveJpeg",
                   [] { return test_pictures::jpegOf(variedPicture(120, 80), 90, JpegKind::Progressive); }, false}),
    [](const testing::TestParamInfo<BudgetCase> &param) { return std::string(param.param.name); });

// ---- target ----

class LinePictureTargetTest : public testing::Test {
protected:
    test_support::TempDir dir;
    const std::string base64 = toBase64(pngPicture());
};

TEST_F(LinePictureTargetTest, EmptyPathReturnsFalseAndWritesNothing)
{
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    const bool written = SauverImageLigne("", base64);
    // Not even decoded: a text that would be refused is not looked at.
    const bool writtenFromGarbage = SauverImageLigne("", "*** pas du base64 ***");
    fs::current_path(previous);
    EXPECT_FALSE(written);
    EXPECT_FALSE(writtenFromGarbage);
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST_F(LinePictureTargetTest, ReplacesAnExistingFile)
{
    const std::string target = dir.file("ligne.bmp");
    writeFile(target, std::string(100'000, 'x'));
    EXPECT_TRUE(SauverImageLigne(target, base64));
    EXPECT_TRUE(samePixels(readBmp(target, 120, 80), variedPicture(120, 80)));
    EXPECT_EQ(fs::file_size(target), 54U + 120U * 3U * 80U);
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"ligne.bmp"});
}

struct PlaceCase {
    const char *name;
    const char *target;
    const char *cause;
};
void PrintTo(const PlaceCase &c, std::ostream *out) { *out << c.name; }

class LinePicturePlaceTest : public testing::TestWithParam<PlaceCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePicturePlaceTest, RefusesWithAFrenchMessage)
{
    fs::create_directory(dir.file("dossier.bmp"));
    writeFile(dir.file("protegee.bmp"), "ancienne image");
    fs::permissions(dir.file("protegee.bmp"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const auto before = entries(dir.path());
    const std::string target = dir.file(GetParam().target);
    try {
        (void)SauverImageLigne(target, toBase64(pngPicture()));
        ADD_FAILURE() << "no error";
    } catch (const ModuleError &e) {
        EXPECT_EQ(std::string(e.what()), "Impossible d'écrire le fichier " + target + " : " + GetParam().cause + ".");
    }
    EXPECT_EQ(entries(dir.path()), before);
    EXPECT_EQ(readFile(dir.file("protegee.bmp")), "ancienne image");
    EXPECT_TRUE(fs::is_empty(dir.file("dossier.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Places, LinePicturePlaceTest,
    testing::Values(PlaceCase{"MissingFolder", "absent/ligne.bmp", "le dossier n'existe pas"},
                    PlaceCase{"TargetIsAFolder", "dossier.bmp", "c'est un dossier"},
                    PlaceCase{"ReadOnlyFile", "protegee.bmp", "le fichier est en lecture seule"}),
    [](const testing::TestParamInfo<PlaceCase> &param) { return std::string(param.param.name); });

#ifndef _WIN32 // POSIX permissions and resource limits
TEST_F(LinePictureTargetTest, FolderWithoutWritePermissionIsRefused)
{
    fs::create_directory(dir.file("ferme"));
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(dir.file("ferme").c_str(), 0555);
    const std::string target = dir.file("ferme/ligne.bmp");
    const int status = test_support::runUnprivileged([&] {
        try {
            (void)SauverImageLigne(target, base64);
        } catch (const ModuleError &e) {
            return std::string(e.what()) == "Impossible d'écrire le fichier " + target + " : accès refusé.";
        }
        return false;
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::is_empty(dir.file("ferme")));
}
#endif

#ifndef _WIN32 // POSIX permissions and resource limits
TEST_F(LinePictureTargetTest, FailureWhileWritingKeepsTheOldFileAndNoTemporary)
{
    const std::string target = dir.file("ligne.bmp");
    writeFile(target, "ancienne image");
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(target.c_str(), 0666);
    // The file size limit makes the write itself fail, after the temporary file exists.
    const int status = test_support::runUnprivileged([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
            return false;
        try {
            (void)SauverImageLigne(target, base64);
        } catch (const ModuleError &e) {
            return std::string(e.what()).starts_with("Impossible d'écrire le fichier " + target + " : ");
        }
        return false;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(target), "ancienne image");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"ligne.bmp"});
}
#endif

#ifndef _WIN32 // POSIX processes and resource limits
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// The address space this process uses now, from /proc.
std::uint64_t addressSpaceBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0)
            return std::stoull(line.substr(7)) * 1024U;
    }
    return 0;
}

// 8000 x 8000 is within the pixel limit and the memory budget, but not within the
// address space the child is given: the failure is a lack of memory, not a bad picture.
TEST_F(LinePictureTargetTest, RunningOutOfMemoryIsNotCalledUnreadable)
{
    if (kAddressSanitizer)
        GTEST_SKIP() << "the address sanitizer needs more address space than this test allows";
    const std::string target = dir.file("ligne.bmp");
    for (const std::string &source : {pngClaimingSize(8000, 8000, true),
                                      jpegClaimingSize(8000, 8000, JpegKind::Progressive)}) {
        const std::string text = toBase64(source);
        const pid_t child = ::fork();
        if (child == 0) {
            const rlim_t room = addressSpaceBytes() + (std::uint64_t{96} << 20);
            const rlimit limit{room, room};
            if (::setrlimit(RLIMIT_AS, &limit) != 0)
                ::_exit(3);
            try {
                (void)SauverImageLigne(target, text);
            } catch (const std::bad_alloc &) {
                ::_exit(0);
            } catch (const ModuleError &e) {
                ::_exit(std::string(e.what()).starts_with("Mémoire insuffisante") ? 0 : 2);
            }
            ::_exit(1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "status " << status << " (1: no error, 2: another error)";
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
}

#endif

} // namespace
