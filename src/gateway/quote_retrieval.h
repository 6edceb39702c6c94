#pragma once

#include "gateway/line_picture.h"
#include "gateway/result_file.h"

#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// What the retrieval document names.
struct RetrievalDocument {
    bool hasConfigurateur = false;
    std::string Jeton;
    std::string Passerelle;
    std::string Project;
};

// Reads the retrieval document; text that is not XML throws ModuleError.
[[nodiscard]] RetrievalDocument readRetrievalDocument(std::string_view text);

// The quote service's address for a project.
[[nodiscard]] std::string quoteUrl(std::string_view host, std::string_view project);

// The quote reply: the line values and, when the reply carries one, the base64 picture.
struct QuoteReply {
    LigneDevis line; // Image stays empty here
    bool hasPicture = false;

    [[nodiscard]] std::string_view picture() const { return unescapedPicture ? *unescapedPicture : pictureInBody; }

    std::string_view pictureInBody;                // points into the reply body
    std::optional<std::string> unescapedPicture;   // when the reply escaped characters in it
};

// Reads the quote service's JSON reply, kept in `body`, which must outlive the result
// (the picture is read where it lies). A reply that is not a JSON object with a "code",
// or whose "returnedObject" is not an object, throws ModuleError.
[[nodiscard]] QuoteReply parseQuoteReply(std::string &body);

// Where the line picture goes: the result file's folder (the current folder when the
// path names none) and the project with the characters a file name cannot hold
// replaced by '_', plus ".bmp".
[[nodiscard]] std::string linePicturePath(const std::string &resultPath, const std::string &project);

// The part of the retrieval after the requests: `quoteBody` is the quote reply, or
// nothing when no quote was requested.
LigneDevis saveRetrieval(const std::string &documentText, const std::string &project, std::string *quoteBody,
                         const std::string &resultPath, const PictureLimits &limits = {});

} // namespace gateway
