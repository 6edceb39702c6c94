#include "platform/charset.h"

#include <cerrno>

#include <iconv.h>

namespace platform {
namespace {

struct Converter {
    iconv_t cd;
    explicit Converter(const char *from)
        : cd(iconv_open("UTF-8", from))
    {
    }
    ~Converter()
    {
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
};

} // namespace

std::optional<std::string> decodeWithSystem(std::string_view bytes, std::string_view charset)
{
    const std::string label(charset);
    Converter converter(label.c_str());
    if (converter.cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(bytes.size() + bytes.size() / 2 + 16, '\0');
    char *in = const_cast<char *>(bytes.data()); // iconv's signature; the input is only read
    std::size_t inLeft = bytes.size();
    std::size_t done = 0;
    bool flushed = false;
    while (!flushed) {
        if (out.size() - done < 16)
            out.resize(out.size() * 2);
        char *next = out.data() + done;
        std::size_t outLeft = out.size() - done;
        // Once the input is read, one more call ends a charset's shift state.
        const bool flushing = inLeft == 0;
        const std::size_t result = iconv(converter.cd, flushing ? nullptr : &in, &inLeft, &next, &outLeft);
        done = out.size() - outLeft;
        if (result != static_cast<std::size_t>(-1)) {
            flushed = flushing;
            continue;
        }
        if (errno == E2BIG)
            continue;
        if (flushing || (errno != EILSEQ && errno != EINVAL))
            return std::nullopt;
        // A byte the charset does not define, or a sequence cut at the end.
        out.replace(done, 3, "\xEF\xBF\xBD");
        done += 3;
        ++in;
        --inLeft;
    }
    out.resize(done);
    return out;
}

} // namespace platform
