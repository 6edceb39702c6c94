#pragma once

#include <string>
#include <string_view>

namespace gateway {

// `text` with `secret` masked wherever it stands, in any letter case, as typed or as a
// query string carries it (percent-encoded, '+' for a space).
[[nodiscard]] std::string hideSecret(std::string text, std::string_view secret);

} // namespace gateway
