#pragma once

#include <string>
#include <string_view>

namespace gateway {

// A value for a query string: space, '&', '+', '=', '#', '%', '?', control characters
// and non-ASCII bytes are percent-encoded; every other character, '@' included, is
// kept, so ordinary values travel unchanged.
[[nodiscard]] std::string encodeQueryValue(std::string_view value);

} // namespace gateway
