// Times SauverImageLigne on a 12-megapixel photo-like picture sent as PNG and as JPEG.
//
//   line_picture_bench [--runs N]        time N conversions of each (default 5)
//   line_picture_bench --once png|jpeg   one conversion, with the peak memory before and after

#include "picture/line_picture.h"

#include "platform/module_error.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Smooth gradients, a few shapes, then per-pixel noise: compresses like a photo, not like a drawing.
QImage photoLikePicture()
{
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x)
            line[x] = qRgb(x * 255 / kWidth, y * 255 / kHeight, (x + y) * 255 / (kWidth + kHeight));
    }
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 40; ++i) {
            painter.setBrush(QColor::fromHsv((i * 37) % 360, 160, 200, 180));
            painter.drawEllipse(QPoint((i * 997) % kWidth, (i * 613) % kHeight), 150 + (i * 53) % 400,
                                100 + (i * 71) % 300);
        }
    }
    std::uint32_t state = 0x12345678U;
    for (int y = 0; y < kHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const auto jitter = [&state](int channel, int shift) {
                const int delta = static_cast<int>((state >> shift) & 0x1FU) - 16;
                return std::clamp(channel + delta, 0, 255);
            };
            const QRgb p = line[x];
            line[x] = qRgb(jitter(qRed(p), 0), jitter(qGreen(p), 8), jitter(qBlue(p), 16));
        }
    }
    return image;
}

std::string base64Of(const std::string &format)
{
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format.c_str());
        if (format == "jpeg")
            writer.setQuality(90);
        if (!writer.write(photoLikePicture())) {
            std::fprintf(stderr, "encoding %s failed\n", format.c_str());
            std::exit(1);
        }
    }
    return bytes.toBase64().toStdString();
}

double peakMegabytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

bool readAll(int fd, char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Made in a grandchild process so that neither this process's peak nor the one a parent
// (/usr/bin/time) collects includes the making of the picture.
std::string base64Elsewhere(const std::string &format)
{
    int fds[2];
    if (::pipe(fds) != 0)
        std::exit(1);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (::fork() == 0) {
            const std::string text = base64Of(format);
            const std::uint64_t size = text.size();
            bool sent = ::write(fds[1], &size, sizeof size) == static_cast<ssize_t>(sizeof size);
            for (std::size_t at = 0; sent && at < text.size();) {
                const ssize_t put = ::write(fds[1], text.data() + at, text.size() - at);
                sent = put > 0;
                at += sent ? static_cast<std::size_t>(put) : 0;
            }
            ::_exit(sent ? 0 : 1);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    ::waitpid(child, nullptr, 0);
    std::uint64_t size = 0;
    std::string text;
    if (!readAll(fds[0], reinterpret_cast<char *>(&size), sizeof size)) {
        std::fprintf(stderr, "making the %s input failed\n", format.c_str());
        std::exit(1);
    }
    text.resize(size);
    if (!readAll(fds[0], text.data(), text.size()))
        std::exit(1);
    ::close(fds[0]);
    return text;
}

double milliseconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

bool convert(const std::string &target, const std::string &base64)
{
    try {
        return picture::SauverImageLigne(target, base64);
    } catch (const ModuleError &e) {
        std::fprintf(stderr, "%s (%s)\n", e.what(), e.detail().c_str());
        return false;
    }
}

int timeRuns(const std::filesystem::path &folder, int runs)
{
    for (const std::string format : {"png", "jpeg"}) {
        const std::string base64 = base64Of(format);
        const std::string target = (folder / ("ligne_" + format + ".bmp")).string();
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (!convert(target, base64))
                return 1;
            times.push_back(milliseconds(std::chrono::steady_clock::now() - start));
        }
        std::sort(times.begin(), times.end());
        std::printf("%-4s %dx%d, base64 %zu bytes (%.1f MB): median %.1f ms, min %.1f ms, max %.1f ms (%d runs)\n",
                    format.c_str(), kWidth, kHeight, base64.size(), static_cast<double>(base64.size()) / 1e6,
                    times[times.size() / 2], times.front(), times.back(), runs);
    }
    return 0;
}

int runOnce(const std::filesystem::path &folder, const std::string &format)
{
    const std::string base64 = base64Elsewhere(format);
    const std::string target = (folder / ("ligne_" + format + ".bmp")).string();
    const double before = peakMegabytes();
    const auto start = std::chrono::steady_clock::now();
    if (!convert(target, base64))
        return 1;
    const double elapsed = milliseconds(std::chrono::steady_clock::now() - start);
    const double after = peakMegabytes();
    std::printf("%-4s %dx%d, base64 %zu bytes: %.1f ms; peak RSS before %.1f MB, after %.1f MB (+%.1f MB)\n",
                format.c_str(), kWidth, kHeight, base64.size(), elapsed, before, after, after - before);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    int runs = 5;
    std::string once;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--once" && i + 1 < argc && (std::string(argv[i + 1]) == "png" || std::string(argv[i + 1]) == "jpeg")) {
            once = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--once png|jpeg]\n", argv[0]);
            return 2;
        }
    }

    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("valmora_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const int status = once.empty() ? timeRuns(folder, runs) : runOnce(folder, once);
    std::filesystem::remove_all(folder);
    return status;
}
