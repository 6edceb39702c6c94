#pragma once

#include <string>
#include <string_view>

// Text crosses the Windows API as UTF-16, and only through these two: the module's own
// text is UTF-8 everywhere else.
namespace platform {

// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
[[nodiscard]] std::wstring toWide(std::string_view utf8);
// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
[[nodiscard]] std::string toUtf8(std::wstring_view wide);

// A path for the file functions: absolute, and in the \\?\ form when it is too long
// for MAX_PATH, which Windows honours whatever LongPathsEnabled says.
[[nodiscard]] std::wstring toSystemPath(std::wstring_view path);

} // namespace platform
