#include "picture/jpeg_source.h"

#include "picture/faults.h"

#include <cstddef>
#include <cstdio> // before jpeglib.h, which needs FILE

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <csetjmp>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

// libjpeg reports errors through error_exit, which longjmps to the small setjmp functions
// below; they hold only plain data, and the source callbacks let no exception through.
namespace picture {
namespace {

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors *>(info->err)->jump, 1);
}

void jpegOutputMessage(j_common_ptr) {} // warnings are not shown, nor do they stop the decoding

struct JpegSourceManager {
    jpeg_source_mgr manager;
    PictureInput *input;
    unsigned char *buffer;
    std::size_t capacity;
};

void jpegInitSource(j_decompress_ptr) {}
void jpegTermSource(j_decompress_ptr) {}

boolean jpegFillInput(j_decompress_ptr info)
{
    auto *source = reinterpret_cast<JpegSourceManager *>(info->src);
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
    auto *source = reinterpret_cast<JpegSourceManager *>(info->src);
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

// Destroyed even when the source's constructor fails half way.
struct JpegStruct {
    jpeg_decompress_struct info{};
    JpegStruct() = default;
    ~JpegStruct() { jpeg_destroy_decompress(&info); }
    JpegStruct(const JpegStruct &) = delete;
    JpegStruct &operator=(const JpegStruct &) = delete;
};

class JpegSource final : public RowSource {
public:
    explicit JpegSource(PictureInput &input)
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

    Header readHeader(const PictureLimits &limits) override
    {
        check(jpegReadHeader(&info_, &errors_));
        checkPixels(info_.image_width, info_.image_height, limits);
        switch (info_.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            info_.out_color_space = JCS_EXT_BGR;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            info_.out_color_space = JCS_CMYK;
            cmyk_ = true;
            break;
        default:
            unsupported("JPEG with " + std::to_string(info_.num_components) + " components");
        }
        check(jpegCalcOutput(&info_, &errors_));
        if (jpeg_has_multiple_scans(&info_) != 0)
            checkCoefficients(limits);
        return {info_.output_width, info_.output_height, Order::TopDown};
    }

    void readRows(unsigned char *const *rows, std::uint32_t count) override
    {
        start();
        if (!cmyk_) {
            check(jpegReadRows(&info_, &errors_, const_cast<JSAMPARRAY>(rows), count));
            return;
        }
        const std::size_t cmykBytes = std::size_t{info_.output_width} * 4;
        cmykRows_.resize(cmykBytes * count);
        rowPointers_.resize(count);
        for (std::uint32_t i = 0; i < count; ++i)
            rowPointers_[i] = cmykRows_.data() + cmykBytes * i;
        check(jpegReadRows(&info_, &errors_, rowPointers_.data(), count));
        for (std::uint32_t i = 0; i < count; ++i)
            invertedCmykToBgr(rowPointers_[i], info_.output_width, rows[i]);
    }

    void finish() override
    {
        start();
        check(jpegFinish(&info_, &errors_));
    }

private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;

    // Once the BMP has its place: a progressive picture is read whole here.
    void start()
    {
        if (started_)
            return;
        started_ = true;
        check(jpegStart(&info_, &errors_));
    }

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
            tooMuchMemory(info_.image_width, info_.image_height);
        std::array<char, JMSG_LENGTH_MAX> message{};
        (*errors_.manager.format_message)(reinterpret_cast<j_common_ptr>(&info_), message.data());
        damaged(message.data());
    }

    PictureInput &input_;
    std::unique_ptr<unsigned char[]> buffer_;
    JpegErrors errors_{};
    JpegSourceManager source_{};
    JpegStruct owned_;
    jpeg_decompress_struct &info_ = owned_.info;
    bool cmyk_ = false;
    bool started_ = false;
    std::vector<unsigned char> cmykRows_;
    std::vector<JSAMPROW> rowPointers_;
};

} // namespace

std::unique_ptr<RowSource> makeJpegSource(PictureInput &input)
{
    return std::make_unique<JpegSource>(input);
}

} // namespace picture
