#pragma once

#include "picture/limits.h"

#include <string>
#include <string_view>

namespace picture {

// Writes the picture held in `base64` (PNG, JPEG or BMP, recognised from its bytes) as a
// 24-bit BMP at `path`. Returns false, touching nothing, when `path` is empty. Throws
// ModuleError (French message) on every failure, leaving the file at `path` as it was.
[[nodiscard]] bool SauverImageLigne(const std::string &path, std::string_view base64,
                                    const PictureLimits &limits = {});

} // namespace picture
