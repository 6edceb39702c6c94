#pragma once

#include "picture/base64_stream.h"

#include <array>
#include <cstddef>
#include <exception>
#include <span>

namespace picture {

// The picture file as its decoders take it: its first bytes, kept to recognise the
// format, then the rest of the stream.
class PictureInput {
public:
    explicit PictureInput(Base64Stream &stream)
        : stream_(stream)
    {
    }

    [[nodiscard]] std::span<const unsigned char> head();
    std::size_t read(unsigned char *out, std::size_t max);
    bool readExactly(unsigned char *out, std::size_t size) { return read(out, size) == size; }

    // For the libraries' callbacks, which no exception may cross: false when reading
    // threw, the exception kept for rethrowFailure().
    bool pull(unsigned char *out, std::size_t max, std::size_t &got) noexcept;
    void rethrowFailure() const;

    void drain() { stream_.drain(); }

private:
    Base64Stream &stream_;
    std::array<unsigned char, 12> head_{};
    std::size_t headSize_ = 0;
    std::size_t headAt_ = 0;
    bool headRead_ = false;
    std::exception_ptr failure_;
};

} // namespace picture
