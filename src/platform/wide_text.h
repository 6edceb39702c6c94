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

} // namespace platform
