#pragma once

#include "host/result_file.h"

#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// The quote reply: the line values and, when the reply carries one, the base64 picture.
struct QuoteReply {
    host::LigneDevis line; // Image stays empty here
    bool hasPicture = false;

    [[nodiscard]] std::string_view picture() const { return unescapedPicture ? *unescapedPicture : pictureInBody; }

    std::string_view pictureInBody;                // points into the reply body
    std::optional<std::string> unescapedPicture;   // when the reply escaped characters in it
};

// Reads the quote service's JSON reply, kept in `body`, which must outlive the result
// (the picture is read where it lies). A reply that is not a JSON object with a "code",
// or whose "returnedObject" is not an object, throws ModuleError.
[[nodiscard]] QuoteReply parseQuoteReply(std::string &body);

} // namespace gateway
