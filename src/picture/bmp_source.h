#pragma once

#include "picture/picture_input.h"
#include "picture/row_source.h"

#include <memory>

namespace picture {

// Our own reader of the BMP forms pictures come in: uncompressed 1-, 4-, 8-bit palette,
// 16-, 24-, 32-bit, bit fields, bottom-up or top-down. Compressed forms are refused.
[[nodiscard]] std::unique_ptr<RowSource> makeBmpSource(PictureInput &input);

} // namespace picture
