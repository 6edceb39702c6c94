// The retrieval's heavy half, in-process: quote reply (JSON with the picture inside) ->
// line values, BMP file and result file, through the module's own gateway functions;
// beside it, on the same inputs, a floor made of the fastest libraries used directly
// (simdjson, the base64 decoder, libpng or libjpeg-turbo, a plain BMP write).
//
//   retrieval_bench --runs 7 [--sizes small|large|all] [--json out.json]
//   retrieval_bench --write-reply large-png out.json   (the reply alone, for other benches;
//                   photo-jpeg: a product photo of about 1 MB, for the wire)
//   retrieval_bench --write-reply largest-png|largest-png16a|largest-pjpeg out.json
//                   (about 99 megapixels, just under the module's limit: the memory bench)
//   retrieval_bench --runs 7 --reply reply.json png|jpeg NAME [--json out.json]
//                   (a reply written by --write-reply: how the Windows build is measured)

#include "picture/base64.h"
#include "picture/line_picture.h"
#include "gateway/quote_retrieval.h"
#include "host/result_file.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

#ifndef _WIN32
#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <openssl/evp.h>
#include <unistd.h>
#else
#include <io.h>
#endif

#include <jpeglib.h>
#include <png.h>
#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configurateur>\n  <Jeton>T-77</Jeton>\n"
                                  "  <Passerelle>vestiora</Passerelle>\n  <Project>P-1042</Project>\n</Configurateur>\n";

struct Input {
    std::string name;
    int width;
    int height;
    const char *format; // "png" or "jpeg"
    std::string reply;  // the quote reply as the HTTP client hands it over
};

#ifndef _WIN32 // pictures are made with Qt, on Linux; the Windows build reads replies from files
// Photo-like content: smooth gradients, soft shapes and per-pixel noise, so that the
// compressors work as hard as on a real photograph.
QImage photoLike(int width, int height, bool grain = true)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::uint32_t state = 2166136261U ^ static_cast<std::uint32_t>(y) * 16777619U;
        const auto noise = [&state, grain] { // sensor-like grain, each channel its own
            if (!grain)
                return 0;
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return static_cast<int>(state % 29U) - 14;
        };
        for (int x = 0; x < width; ++x) {
            const int r = 90 + 120 * x / width + noise();
            const int g = 60 + 100 * y / height + noise();
            const int b = 140 - 80 * (x + y) / (width + height) + noise();
            line[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 120, 200, 110));
        painter.drawEllipse(QPointF(width * ((i * 7) % 11) / 11.0, height * ((i * 5) % 9) / 9.0), width / 7.0,
                            height / 5.0);
    }
    return image;
}

std::string encodePicture(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (std::strcmp(format, "jpeg") == 0)
        writer.setQuality(90); // PNG keeps zlib's default level, as servers write it
    if (!writer.write(image))
        throw std::runtime_error("cannot encode the picture");
    return bytes.toStdString();
}

// A progressive JPEG, which Qt does not write: the decoder must hold its coefficients.
std::string encodeProgressiveJpeg(const QImage &image)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(image.width());
    info.image_height = static_cast<JDIMENSION>(image.height());
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX; // QImage::Format_RGB32 in memory
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto *row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<const char *>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

// The largest pictures the module takes: 11500 x 8600, just under 100 megapixels. The
// 16-bit one is smooth, as drawings are: with grain it would pass the reply's 256 MiB.
std::string largestPicture(const std::string &which)
{
    const QImage image = photoLike(11500, 8600, which != "largest-png16a");
    if (which == "largest-pjpeg")
        return encodeProgressiveJpeg(image);
    if (which == "largest-png16a")
        return encodePicture(image.convertToFormat(QImage::Format_RGBA64), "png");
    return encodePicture(image, "png");
}

std::string base64(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                                  reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}


std::string quoteReply(const std::string &pictureBase64)
{
    return "{\"code\": 200, \"returnedObject\": {\"libelle\": \"Meuble haut 60 cm\", \"detail\": \"Fa\xC3\xA7" "ade "
           "ch\xC3\xAAne clair\", \"ecoTaxe\": 3.50, \"prixUnitaire\": 225.00, \"quantite\": 2, \"prixTotal\": 450.00, "
           "\"imageB64Ligne\": \""
         + pictureBase64 + "\"}}";
}
#endif

#ifndef _WIN32
std::vector<Input> makeInputs(const std::string &sizes)
{
    std::vector<Input> inputs;
    const std::pair<int, int> dimensions[] = {{1200, 800}, {4000, 3000}};
    for (const auto &[w, h] : dimensions) {
        const bool large = w > 2000;
        if ((sizes == "small" && large) || (sizes == "large" && !large))
            continue;
        const QImage image = photoLike(w, h);
        for (const char *format : {"png", "jpeg"}) {
            Input input{std::to_string(w) + "x" + std::to_string(h) + " " + (std::strcmp(format, "png") == 0 ? "PNG" : "JPEG q90"),
                        w, h, format, quoteReply(base64(encodePicture(image, format)))};
            inputs.push_back(std::move(input));
        }
    }
    return inputs;
}
#endif

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// ---- the floor: the fastest libraries, used directly ----

struct Bmp {
    std::vector<unsigned char> pixels; // bottom-up BGR rows, padded to 4 bytes
    int width = 0;
    int height = 0;
    std::size_t stride = 0;

    void allocate(int w, int h)
    {
        width = w;
        height = h;
        stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
        pixels.resize(stride * static_cast<std::size_t>(h));
    }
    unsigned char *row(int y) { return pixels.data() + stride * static_cast<std::size_t>(height - 1 - y); }
};

void decodePng(const unsigned char *data, std::size_t size, Bmp &bmp)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, data, size) == 0)
        throw std::runtime_error(image.message);
    image.format = PNG_FORMAT_BGR;
    bmp.allocate(static_cast<int>(image.width), static_cast<int>(image.height));
    // A negative stride writes the rows bottom-up, as BMP stores them.
    if (png_image_finish_read(&image, nullptr, bmp.pixels.data(), -static_cast<png_int_32>(bmp.stride), nullptr) == 0)
        throw std::runtime_error(image.message);
}

void decodeJpeg(const unsigned char *data, std::size_t size, Bmp &bmp)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    bmp.allocate(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = bmp.row(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

// Writes the BMP; returns how long an fsync of it then takes (not part of the floor:
// the module pays it to keep its files whole across a power cut).
double writeBmp(const std::string &path, const Bmp &bmp)
{
    unsigned char header[54] = {'B', 'M'};
    const auto put = [&](int at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            header[at + i] = static_cast<unsigned char>(v >> (8 * i));
    };
    const auto imageSize = static_cast<std::uint32_t>(bmp.pixels.size());
    put(2, 54 + imageSize, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<std::uint32_t>(bmp.width), 4);
    put(22, static_cast<std::uint32_t>(bmp.height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    put(34, imageSize, 4);
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(header, 1, sizeof header, f) != sizeof header
        || std::fwrite(bmp.pixels.data(), 1, bmp.pixels.size(), f) != bmp.pixels.size())
        throw std::runtime_error("cannot write " + path);
    std::fflush(f);
    const auto t = Clock::now();
#ifdef _WIN32
    ::_commit(::_fileno(f));
#else
    ::fsync(fileno(f));
#endif
    const double fsyncMs = std::chrono::duration<double, std::milli>(Clock::now() - t).count();
    std::fclose(f);
    return fsyncMs;
}

using Samples = std::map<std::string, std::vector<double>>;

void runFloor(const Input &input, const std::string &folder, Samples &samples)
{
    std::string body = input.reply;
    body.reserve(body.size() + simdjson::SIMDJSON_PADDING);
    const auto start = Clock::now();

    auto t = Clock::now();
    simdjson::ondemand::parser parser;
    auto document = parser.iterate(simdjson::padded_string_view(body.data(), body.size(), body.capacity()));
    std::string_view picture = document["returnedObject"]["imageB64Ligne"].raw_json_token().value();
    picture = picture.substr(1, picture.find('"', 1) - 1);
    samples["json"].push_back(millisecondsSince(t));

    t = Clock::now();
    // The module's own decoder: the one it uses on every platform.
    const std::size_t digits = picture.find_last_not_of('=') + 1;
    const std::size_t whole = digits - digits % 4;
    std::vector<unsigned char> bytes(whole / 4 * 3 + 2);
    if (!picture::decodeBase64Groups(picture.data(), whole, bytes.data())
        || (digits % 4 != 0 && !picture::decodeBase64Tail(picture.data() + whole, digits % 4, bytes.data() + whole / 4 * 3)))
        throw std::runtime_error("floor base64 failed");
    bytes.resize(whole / 4 * 3 + (digits % 4 == 0 ? 0 : digits % 4 - 1));
    samples["base64"].push_back(millisecondsSince(t));

    t = Clock::now();
    Bmp bmp;
    if (std::strcmp(input.format, "png") == 0)
        decodePng(bytes.data(), bytes.size(), bmp);
    else
        decodeJpeg(bytes.data(), bytes.size(), bmp);
    bytes = {};
    const double fsyncMs = writeBmp(folder + "/floor.bmp", bmp);
    samples["picture"].push_back(millisecondsSince(t) - fsyncMs);
    samples["total"].push_back(millisecondsSince(start) - fsyncMs);
    samples["fsync"].push_back(fsyncMs);
}

void runModule(const Input &input, const std::string &folder, Samples &samples)
{
    // What the HTTP client received, with the room it reserves after a body.
    std::string copy;
    copy.reserve(input.reply.size() + 64);
    copy = input.reply;
    const auto start = Clock::now();

    auto t = Clock::now();
    std::string body = platform::decodeWithCharset(std::move(copy), "utf-8");
    samples["body"].push_back(millisecondsSince(t));

    t = Clock::now();
    const gateway::QuoteReply reply = gateway::parseQuoteReply(body);
    samples["json"].push_back(millisecondsSince(t));

    t = Clock::now();
    host::LigneDevis line = reply.line;
    const std::string picturePath = folder + "/P-1042.bmp";
    if (!picture::SauverImageLigne(picturePath, reply.picture()))
        throw std::runtime_error("no picture written");
    line.Image = picturePath;
    samples["picture"].push_back(millisecondsSince(t));

    t = Clock::now();
    platform::writeFileAtomically(folder + "/retour.xml", host::resultFileBytes(kDocument, line));
    samples["result"].push_back(millisecondsSince(t));
    samples["total"].push_back(millisecondsSince(start));
}

void printJsonSamples(std::FILE *out, const Samples &samples)
{
    std::fprintf(out, "{");
    bool first = true;
    for (const auto &[step, values] : samples) {
        std::fprintf(out, "%s\"%s\": [", first ? "" : ", ", step.c_str());
        for (std::size_t i = 0; i < values.size(); ++i)
            std::fprintf(out, "%s%.3f", i == 0 ? "" : ", ", values[i]);
        std::fprintf(out, "]");
        first = false;
    }
    std::fprintf(out, "}");
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    int runs = 5;
    std::string sizes = "all";
    std::string jsonPath;
    std::vector<Input> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--sizes" && i + 1 < argc)
            sizes = argv[++i];
        else if (arg == "--json" && i + 1 < argc)
            jsonPath = argv[++i];
        else if (arg == "--reply" && i + 3 < argc) {
            std::ifstream in(argv[++i], std::ios::binary);
            const std::string reply((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const std::string format = argv[++i];
            inputs.push_back(Input{argv[++i], 0, 0, format == "jpeg" ? "jpeg" : "png", reply});
        }
#ifndef _WIN32
        else if (arg == "--write-reply" && i + 2 < argc) {
            const std::string which = argv[++i];
            const std::string path = argv[++i];
            if (which.rfind("largest", 0) == 0) {
                std::ofstream(path, std::ios::binary) << quoteReply(base64(largestPicture(which)));
                return 0;
            }
            // "photo-jpeg": a product photo of about 1 MB, as a shop's line carries it.
            const QImage image = which == "photo-jpeg"            ? photoLike(2500, 1875)
                                : which.rfind("large", 0) == 0 ? photoLike(4000, 3000)
                                                               : photoLike(1200, 800);
            const char *format = which.find("jpeg") != std::string::npos ? "jpeg" : "png";
            std::ofstream(path, std::ios::binary) << quoteReply(base64(encodePicture(image, format)));
            return 0;
        }
#endif
        else {
            std::fprintf(stderr, "usage: retrieval_bench [--runs N] [--sizes small|large|all] [--json out]\n"
                                 "       retrieval_bench --write-reply small-png|small-jpeg|large-png|large-jpeg|photo-jpeg out\n"
                                 "       retrieval_bench --write-reply largest-png|largest-png16a|largest-pjpeg out\n"
                                 "       retrieval_bench --reply reply.json png|jpeg NAME [--runs N] [--json out]\n");
            return 2;
        }
    }

    const std::string folder = (std::filesystem::temp_directory_path() / "valmora_retrieval_bench").string();
    std::filesystem::create_directories(folder);
#ifndef _WIN32
    if (inputs.empty())
        inputs = makeInputs(sizes);
#endif

    std::FILE *json = jsonPath.empty() ? nullptr : std::fopen(jsonPath.c_str(), "w");
    if (json != nullptr)
        std::fprintf(json, "[\n");
    for (std::size_t k = 0; k < inputs.size(); ++k) {
        const Input &input = inputs[k];
        Samples module;
        Samples floor;
        for (int run = 0; run < runs; ++run) {
            // Alternate, so that neither side always finds a warm cache.
            runModule(input, folder, module);
            runFloor(input, folder, floor);
        }
        std::printf("%-16s reply %5.1f MB  module %7.1f ms  floor %7.1f ms  ratio %.2f\n", input.name.c_str(),
                    static_cast<double>(input.reply.size()) / 1e6, median(module["total"]), median(floor["total"]),
                    median(module["total"]) / median(floor["total"]));
        if (json != nullptr) {
            std::fprintf(json, "  {\"input\": \"%s\", \"reply_bytes\": %zu, \"module\": ", input.name.c_str(),
                         input.reply.size());
            printJsonSamples(json, module);
            std::fprintf(json, ", \"floor\": ");
            printJsonSamples(json, floor);
            std::fprintf(json, "}%s\n", k + 1 < inputs.size() ? "," : "");
        }
    }
    if (json != nullptr) {
        std::fprintf(json, "]\n");
        std::fclose(json);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
