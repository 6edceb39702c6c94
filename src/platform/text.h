#pragma once

#include <string>
#include <string_view>

// Text conversions between the module's UTF-8 strings and the Windows-1252 bytes
// that the host writes and reads.
namespace platform {

[[nodiscard]] bool isValidUtf8(std::string_view bytes) noexcept;

// Windows-1252 bytes to UTF-8. The five bytes the code page leaves undefined map to
// the C1 control characters of the same value, as Windows does.
[[nodiscard]] std::string cp1252ToUtf8(std::string_view bytes);

// Text of unknown encoding, as a host writes it: UTF-16 after its byte-order mark;
// UTF-8 (a byte-order mark is skipped) when the bytes are valid UTF-8; Windows-1252
// otherwise.
[[nodiscard]] std::string decodeHostText(std::string_view bytes);

// A reply body as UTF-8, in the charset it declares (a label as replyCharset gives it):
// Latin-1, ASCII and Windows-1252 labels read as Windows-1252, as browsers do; UTF-16 as
// its byte-order mark or label says; any other label through the system's own tables.
// Without a label, or with one the system does not know: UTF-8 when the bytes are valid
// UTF-8 (a byte-order mark is dropped), else Windows-1252.
[[nodiscard]] std::string decodeWithCharset(std::string &&bytes, std::string_view charset);

// The charset parameter of a Content-Type header value, lower case, unquoted.
[[nodiscard]] std::string charsetOf(std::string_view contentType);

// The charset a reply body is in, lower case: a byte-order mark says it first, then the
// Content-Type's charset, then, for XML, the encoding its declaration names; empty when
// nothing says.
[[nodiscard]] std::string replyCharset(std::string_view contentType, std::string_view body);

// The Windows-1252 byte for a code point, or -1 when the code page lacks it.
[[nodiscard]] int cp1252ByteFor(char32_t codePoint) noexcept;

// Decodes one UTF-8 sequence at `pos` (which must be valid UTF-8) and advances `pos`.
[[nodiscard]] char32_t nextCodePoint(std::string_view utf8, std::size_t &pos) noexcept;

void appendUtf8(std::string &out, char32_t codePoint);

// `text` cut to at most `maxCodePoints` characters, never inside a UTF-8 sequence.
[[nodiscard]] std::string_view firstCodePoints(std::string_view utf8, std::size_t maxCodePoints) noexcept;

} // namespace platform
