#pragma once

#include "picture/picture_input.h"
#include "picture/row_source.h"

#include <memory>

namespace picture {

// JPEG through libjpeg-turbo: grey, YCbCr, RGB and (Adobe's inverted) CMYK. A
// progressive picture is held as its coefficients until the last scan, within the
// decoded-bytes budget.
[[nodiscard]] std::unique_ptr<RowSource> makeJpegSource(PictureInput &input);

} // namespace picture
