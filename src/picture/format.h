#pragma once

#include "picture/picture_input.h"
#include "picture/row_source.h"

#include <memory>

namespace picture {

// The decoder for the picture's format, recognised from its first bytes, never from a
// name. Other picture formats are named in the message, so that it says they are not
// taken rather than not recognised.
[[nodiscard]] std::unique_ptr<RowSource> openRowSource(PictureInput &input);

} // namespace picture
