#pragma once

#include "platform/module_error.h"

#include <string>

namespace picture {

// Faults of the picture itself, as opposed to faults of its base64 text or of the file
// written: a fault of the text found further on is named instead, as it always was.
class PictureFault : public ModuleError {
public:
    using ModuleError::ModuleError;
};

// "Image de la ligne illisible : <reason>", as a fault of the picture.
[[noreturn]] void refuse(const std::string &reason, std::string detail = {});
[[noreturn]] void damaged(std::string detail = {});
[[noreturn]] void unsupported(std::string detail = {});

} // namespace picture
