#pragma once

// Pictures made for the tests with libpng and libjpeg's encoders (BMP by hand), and the
// written BMP read back.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test_pictures {

// 8-bit pixels, rows top-down: red, green, blue and, with 4 channels, alpha.
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 3;
    std::vector<unsigned char> pixels;

    Picture() = default;
    Picture(int w, int h, int c);
    [[nodiscard]] unsigned char *at(int x, int y);
    [[nodiscard]] const unsigned char *at(int x, int y) const;
    void set(int x, int y, std::initializer_list<int> values);
};

// Gradients with noise in every channel and a disc, so that no row or column repeats.
Picture variedPicture(int width, int height);
// What a camera gives: smooth gradients, a soft-edged disc and a little grain, as JPEG
// is made for.
Picture photoPicture(int width, int height);
// The varied picture's noise with alpha from 0 at the left to 255 at the right.
Picture translucentPicture(int width, int height);
// Each pixel as a grey value: the same value in red, green and blue.
Picture greyPicture(const std::vector<unsigned char> &values, int width, int height);
std::uint32_t noise(int x, int y);

// ---- PNG ----

struct Png {
    int width = 0;
    int height = 0;
    int colorType = 0; // PNG_COLOR_TYPE_...
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::vector<unsigned char>> rows; // as libpng writes them (16-bit big-endian)
    std::vector<unsigned char> palette;           // red, green, blue per entry
    std::vector<unsigned char> paletteAlpha;      // tRNS for a palette
};
std::string encodePng(const Png &png);

// RGB or RGBA after the picture's channels; sixteenBits writes each value v as v * 257.
std::string pngOf(const Picture &picture, bool interlaced = false, bool sixteenBits = false);
// Grey values of `bits` bits (each below 1 << bits), with alpha when given.
std::string greyPng(const std::vector<unsigned> &values, int width, int height, int bits,
                    const std::vector<unsigned char> &alpha = {}, bool interlaced = false);
// Indices into a palette of red, green, blue triples, with tRNS when alphas are given.
std::string palettePng(const std::vector<unsigned char> &indices, int width, int height,
                       const std::vector<unsigned char> &palette, const std::vector<unsigned char> &alphas = {},
                       bool interlaced = false);

// The size in a PNG's header, read by libpng (which checks the header's CRC); false when
// libpng refuses the header.
bool readPngSize(const std::string &png, std::uint32_t &width, std::uint32_t &height);

// ---- JPEG ----

enum class JpegKind { Baseline, Progressive };
std::string jpegOf(const Picture &picture, int quality, JpegKind kind = JpegKind::Baseline);
// One channel: the picture's red.
std::string greyJpegOf(const Picture &picture, int quality);
// Adobe's inverted CMYK with no black: each channel holds red, green, blue as they are.
std::string cmykJpegOf(const Picture &picture, int quality);
// A plain libjpeg decode to RGB (grey expanded), as a reference.
Picture decodeJpeg(const std::string &jpeg);

// ---- BMP ----

std::string bmp24Of(const Picture &picture, bool topDown = false);
std::string bmp32Of(const Picture &picture, bool topDown = false);
// 8-bit palette of red, green, blue triples.
std::string bmp8Of(const std::vector<unsigned char> &indices, int width, int height,
                   const std::vector<unsigned char> &palette);

// Reads a written BMP: checks the header the host reads (24-bit, bottom-up, 96 dpi, sizes
// that add up, zero row padding) and returns its RGB pixels; empty when it is unreadable.
Picture readBmp(const std::filesystem::path &path, int expectedWidth, int expectedHeight);

// RGB compared, each channel within `tolerance`; the first differences are named.
testing::AssertionResult samePixels(const Picture &got, const Picture &expected, int tolerance = 0);
// Mean absolute channel difference, for lossy pictures.
double meanDifference(const Picture &a, const Picture &b);

std::string toBase64(const std::string &bytes);

} // namespace test_pictures
