#pragma once

#include "gateway/quote_reply.h"
#include "host/result_file.h"
#include "picture/limits.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
[[nodiscard]] std::string quoteUrl(std::string_view gatewayHost, std::string_view project);

// Where the line picture goes: the result file's folder (the current folder when the
// path names none) and the project with the characters a file name cannot hold
// replaced by '_', plus ".bmp"; a name Windows keeps for a device (CON, NUL, COM1...)
// gets a '_' in front, on every build.
[[nodiscard]] std::string linePicturePath(const std::string &resultPath, const std::string &project);

// The part of the retrieval after the requests: `quoteBody` is the quote reply, or
// nothing when no quote was requested. Each file written is added to `written`, when
// given, as soon as it is in place, also when a later step throws.
host::LigneDevis saveRetrieval(const std::string &documentText, const std::string &project, std::string *quoteBody,
                               const std::string &resultPath, const picture::PictureLimits &limits = {},
                               std::vector<std::string> *written = nullptr);

} // namespace gateway
