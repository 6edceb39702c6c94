#include "gateway/line_picture.h"

#include "module_error.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using gateway::PictureLimits;
using gateway::SauverImageLigne;
using test_support::readFile;
using test_support::writeFile;

// ---- pictures made for the tests ----

std::uint32_t noise(int x, int y)
{
    auto h = static_cast<std::uint32_t>(x) * 0x9E3779B1U ^ static_cast<std::uint32_t>(y) * 0x85EBCA77U;
    h ^= h >> 15;
    h *= 0x2C1B3C6DU;
    return h ^ (h >> 13);
}

// Gradients with noise in every channel and a disc, so that no row or column repeats.
QImage variedPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint32_t n = noise(x, y);
            image.setPixel(x, y, qRgb(static_cast<int>((static_cast<std::uint32_t>(x * 255 / width) ^ (n & 0x3FU)) & 0xFFU),
                                      static_cast<int>((static_cast<std::uint32_t>(y * 255 / height) ^ ((n >> 8) & 0x3FU)) & 0xFFU),
                                      static_cast<int>((n >> 16) & 0xFFU)));
        }
    }
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 240, 10));
    painter.drawEllipse(width / 4, height / 4, width / 3, height / 3);
    return image;
}

std::string encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes.toStdString();
}

std::string toBase64(const std::string &bytes) { return QByteArray::fromStdString(bytes).toBase64().toStdString(); }

QImage decoded(const std::string &bytes) { return QImage::fromData(QByteArray::fromStdString(bytes)); }

std::string pngPicture() { return encoded(variedPicture(120, 80), "png"); }

// The PNG of a small picture whose header claims another size (the CRC is made right).
std::string pngClaimingSize(std::uint32_t width, std::uint32_t height)
{
    std::string png = encoded(variedPicture(8, 8), "png");
    const auto putBigEndian = [&png](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            png[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (24 - 8 * i)) & 0xFFU);
    };
    // IHDR: length at 8, type at 12, width at 16, height at 20, CRC over type and data at 29.
    putBigEndian(16, width);
    putBigEndian(20, height);
    std::uint32_t crc = 0xFFFFFFFFU;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= static_cast<unsigned char>(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
    }
    putBigEndian(29, ~crc);
    return png;
}

// ---- reading back ----

std::uint32_t littleEndian(const std::string &bytes, std::size_t at, std::size_t count)
{
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// Checks the BMP header the host reads and returns the picture in it.
QImage readBmp(const std::string &path, QSize expectedSize)
{
    const std::string bytes = readFile(path);
    EXPECT_GE(bytes.size(), 54U);
    if (bytes.size() < 54)
        return {};
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(littleEndian(bytes, 18, 4), static_cast<std::uint32_t>(expectedSize.width()));
    EXPECT_EQ(littleEndian(bytes, 22, 4), static_cast<std::uint32_t>(expectedSize.height()));
    EXPECT_EQ(littleEndian(bytes, 28, 2), 24U) << "bits per pixel";
    return QImage::fromData(QByteArray::fromStdString(bytes), "BMP");
}

std::string hexRgb(QRgb pixel) { return QString::number(pixel & 0xFFFFFFU, 16).rightJustified(6, u'0').toStdString(); }

// Pixels compared as RGB, each channel within `tolerance`; the first differences are named.
testing::AssertionResult samePixels(const QImage &got, const QImage &expected, int tolerance = 0)
{
    if (got.size() != expected.size())
        return testing::AssertionFailure() << "size " << got.width() << "x" << got.height() << " instead of "
                                           << expected.width() << "x" << expected.height();
    int differences = 0;
    auto failure = testing::AssertionFailure();
    for (int y = 0; y < got.height(); ++y) {
        for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) > tolerance || std::abs(qGreen(a) - qGreen(b)) > tolerance
                || std::abs(qBlue(a) - qBlue(b)) > tolerance) {
                if (++differences <= 5)
                    failure << "(" << x << "," << y << "): " << hexRgb(a) << " instead of " << hexRgb(b) << "; ";
            }
        }
    }
    if (differences == 0)
        return testing::AssertionSuccess();
    return failure << differences << " pixels differ";
}

using test_support::entries;

// ---- conversions ----

struct ConversionCase {
    const char *name;
    std::string (*source)();
    QImage::Format readAs;             // how Qt reads the source: proves which path is taken
    QImage (*expected)(const std::string &source);
};
void PrintTo(const ConversionCase &c, std::ostream *out) { *out << c.name; }

QImage theVariedPicture(const std::string &) { return variedPicture(120, 80); }
QImage asQtDecodesIt(const std::string &source) { return decoded(source); }

class LinePictureConversionTest : public testing::TestWithParam<ConversionCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureConversionTest, Writes24BitBmpWithTheSourcePixels)
{
    const ConversionCase &c = GetParam();
    const std::string source = c.source();
    ASSERT_EQ(decoded(source).format(), c.readAs);
    const std::string target = dir.file("ligne.bmp");

    EXPECT_TRUE(SauverImageLigne(target, toBase64(source)));

    const QImage expected = c.expected(source);
    EXPECT_TRUE(samePixels(readBmp(target, expected.size()), expected));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"ligne.bmp"});
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LinePictureConversionTest,
    testing::Values(
        ConversionCase{"Png", pngPicture, QImage::Format_RGB32, theVariedPicture},
        ConversionCase{"Jpeg", [] { return encoded(variedPicture(120, 80), "jpeg", 90); }, QImage::Format_RGB32,
                       asQtDecodesIt},
        ConversionCase{"Bmp", [] { return encoded(variedPicture(120, 80), "bmp"); }, QImage::Format_RGB32,
                       theVariedPicture},
        ConversionCase{"PalettePng",
                       [] { return encoded(variedPicture(120, 80).convertToFormat(QImage::Format_Indexed8), "png"); },
                       QImage::Format_Indexed8, asQtDecodesIt},
        ConversionCase{"GrayscalePng",
                       [] { return encoded(variedPicture(120, 80).convertToFormat(QImage::Format_Grayscale8), "png"); },
                       QImage::Format_Grayscale8, asQtDecodesIt},
        ConversionCase{"SixteenBitPng",
                       [] { return encoded(variedPicture(120, 80).convertToFormat(QImage::Format_RGBX64), "png"); },
                       QImage::Format_RGBX64, asQtDecodesIt}),
    [](const testing::TestParamInfo<ConversionCase> &param) { return std::string(param.param.name); });

// ---- transparency ----

struct TransparencyCase {
    const char *name;
    std::string (*source)();
};
void PrintTo(const TransparencyCase &c, std::ostream *out) { *out << c.name; }

// Alpha from 0 to 255 across the picture; a fully transparent and a half-transparent red corner.
std::string translucentPng()
{
    QImage image(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const std::uint32_t n = noise(x, y);
            image.setPixel(x, y, qRgba(static_cast<int>(n & 0xFFU), static_cast<int>((n >> 8) & 0xFFU),
                                       static_cast<int>((n >> 16) & 0xFFU), x * 255 / (image.width() - 1)));
        }
    }
    image.setPixel(0, 0, qRgba(10, 200, 30, 0));
    image.setPixel(1, 0, qRgba(255, 0, 0, 128));
    return encoded(image, "png");
}

// Indexed with a transparent and a half-transparent palette entry.
std::string translucentPalettePng()
{
    QImage image(64, 48, QImage::Format_Indexed8);
    image.setColorTable({qRgba(10, 200, 30, 0), qRgba(255, 0, 0, 128), qRgb(0, 0, 255), qRgba(0, 255, 0, 200)});
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, noise(x, y) % 4);
    }
    image.setPixel(0, 0, 0);
    image.setPixel(1, 0, 1);
    return encoded(image, "png");
}

class LinePictureTransparencyTest : public testing::TestWithParam<TransparencyCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(LinePictureTransparencyTest, LaysTransparentPixelsOverWhite)
{
    const std::string source = GetParam().source();
    const QImage original = decoded(source).convertToFormat(QImage::Format_ARGB32);
    ASSERT_TRUE(original.hasAlphaChannel());
    const std::string target = dir.file("ligne.bmp");

    EXPECT_TRUE(SauverImageLigne(target, toBase64(source)));

    const QImage written = readBmp(target, original.size());
    ASSERT_EQ(written.size(), original.size());
    EXPECT_EQ(written.pixel(0, 0) & 0xFFFFFFU, 0xFFFFFFU) << "transparent pixel not white";
    EXPECT_EQ(qRed(written.pixel(1, 0)), 255);
    EXPECT_NEAR(qGreen(written.pixel(1, 0)), 127, 1);
    EXPECT_NEAR(qBlue(written.pixel(1, 0)), 127, 1);

    QImage expected(original.size(), QImage::Format_RGB32);
    for (int y = 0; y < original.height(); ++y) {
        for (int x = 0; x < original.width(); ++x) {
            const QRgb p = original.pixel(x, y);
            const auto over = [a = qAlpha(p)](int c) { return (c * a + 255 * (255 - a)) / 255; };
            expected.setPixel(x, y, qRgb(over(qRed(p)), over(qGreen(p)), over(qBlue(p))));
        }
    }
    EXPECT_TRUE(samePixels(written, expected, 1));
}

INSTANTIATE_TEST_SUITE_P(Sources, LinePictureTransparencyTest,
                         testing::Values(TransparencyCase{"Png", translucentPng},
                                         TransparencyCase{"PalettePng", translucentPalettePng}),
                         [](const testing::TestParamInfo<TransparencyCase> &param) {
                             return std::string(param.param.name);
                         });

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
    const QImage picture = variedPicture(256, 160);
    const std::string png = encoded(picture, "png");
    for (std::size_t extra = 0; extra < 3; ++extra) {
        // Bytes after the end of a PNG are ignored by readers; they move the padding.
        const std::string source = png + std::string(extra, '\0');
        const std::string base64 = toBase64(source);
        ASSERT_GT(base64.size(), 2U * 64U * 1024U);
        const std::size_t padding = base64.size() - base64.find_last_not_of('=') - 1;
        ASSERT_EQ(padding, (3 - source.size() % 3) % 3);
        const std::string target = dir.file("ligne" + std::to_string(padding) + ".bmp");

        EXPECT_TRUE(SauverImageLigne(target, GetParam().form(base64))) << padding << " padding signs";
        EXPECT_TRUE(samePixels(readBmp(target, picture.size()), picture)) << padding << " padding signs";
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
        RefusalCase{"TruncatedPng",
                    [] {
                        const std::string png = pngPicture();
                        return toBase64(png.substr(0, png.size() / 2));
                    },
                    "Image de la ligne illisible : les données de l'image sont abîmées ou incomplètes."},
        RefusalCase{"PngClaiming30000By30000", [] { return toBase64(pngClaimingSize(30000, 30000)); },
                    "Image de la ligne trop grande : 30000 × 30000 pixels (100 mégapixels au plus)."}),
    [](const testing::TestParamInfo<RefusalCase> &param) { return std::string(param.param.name); });

TEST(LinePictureCraftedHeaderTest, ClaimsItsSizeWithAValidChecksum)
{
    // Without this, the refusal above could come from a damaged header rather than the size.
    QByteArray bytes = QByteArray::fromStdString(pngClaimingSize(30000, 30000));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    EXPECT_EQ(reader.size(), QSize(30000, 30000));
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
    const std::string base64 = toBase64(encoded(variedPicture(100, 100), "png"));
    const std::string target = dir.file("ligne.bmp");
    if (std::string(c.message).empty()) {
        EXPECT_TRUE(SauverImageLigne(target, base64, PictureLimits{c.maxPixels}));
        EXPECT_TRUE(samePixels(readBmp(target, {100, 100}), variedPicture(100, 100)));
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
    EXPECT_TRUE(samePixels(readBmp(target, {120, 80}), variedPicture(120, 80)));
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
    ::chmod(dir.file("protegee.bmp").c_str(), 0444);
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

} // namespace
