#pragma once

#include "picture/picture_input.h"
#include "picture/row_source.h"

#include <memory>

namespace picture {

// PNG through libpng: every colour type and depth brought to 8-bit blue, green, red,
// transparency laid over white. An interlaced picture is held whole while its passes
// decode, within the decoded-bytes budget.
[[nodiscard]] std::unique_ptr<RowSource> makePngSource(PictureInput &input);

} // namespace picture
