#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace picture {

// The picture's text without a "data:...;base64," prefix, which a gateway may send; the
// declared type is not trusted, the bytes decide. A data URL that is not base64 throws.
[[nodiscard]] std::string_view withoutDataPrefix(std::string_view text);

// The picture's base64 text decoded as a stream, a block at a time, so that the decoded
// file is never held whole. Faults of the text throw ModuleError ("Image de la ligne
// illisible : ...") when reading reaches them; the end of the text is checked when
// reading reaches it.
class Base64Stream {
public:
    explicit Base64Stream(std::string_view text);

    // Up to `max` decoded bytes; fewer only at the end of the text.
    std::size_t read(unsigned char *out, std::size_t max);

    // Reads the rest of the text, for its faults only.
    void drain();

private:
    bool refill();
    bool decodeInPlace() noexcept;
    void gather();
    void finish();

    std::string_view text_;
    std::size_t at_ = 0;      // next character of the text
    std::size_t digits_ = 0;  // alphabet characters so far
    std::size_t padding_ = 0; // '=' so far
    bool ended_ = false;
    std::unique_ptr<char[]> gathered_;
    std::size_t filled_ = 0;
    std::unique_ptr<unsigned char[]> decoded_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};

} // namespace picture
