// Base64 text and picture decoding, with a small picture limit so that runs stay fast.
// The first byte chooses how the rest is used: as base64 text, or as picture bytes that
// are base64-encoded first (with line breaks when the byte is odd).
#include "picture/line_picture.h"

#include "platform/module_error.h"

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const std::string path = "/tmp/valmora_fuzz_picture_" + std::to_string(::getpid()) + ".bmp";
    const std::uint8_t mode = data[0];
    ++data;
    --size;
    std::string text;
    if (mode < 128) {
        text.assign(reinterpret_cast<const char *>(data), size);
    } else {
        std::string encoded(4 * ((size + 2) / 3) + 1, '\0');
        const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(encoded.data()), data, static_cast<int>(size));
        encoded.resize(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < encoded.size(); ++i) {
            text += encoded[i];
            if ((mode & 1) != 0 && i % 76 == 75)
                text += "\r\n";
        }
    }
    try {
        static_cast<void>(picture::SauverImageLigne(path, text, picture::PictureLimits{250'000}));
    } catch (const ModuleError &) {
    }
    return 0;
}
