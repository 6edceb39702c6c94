#pragma once

#include <string>

namespace platform {

// Full path of the running executable.
[[nodiscard]] std::string executablePath();

} // namespace platform
