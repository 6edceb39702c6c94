#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Bytes in the charset a label names (lower case, as a Content-Type gives it), as UTF-8,
// through what the system has: iconv on Linux, MultiByteToWideChar on Windows. A byte
// the charset does not define becomes U+FFFD. Nothing when the system does not know the
// label.
[[nodiscard]] std::optional<std::string> decodeWithSystem(std::string_view bytes, std::string_view charset);

} // namespace platform
