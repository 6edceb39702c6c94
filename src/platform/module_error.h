#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A message for the user, and the pieces of its text that came from outside the module
// (a server's words, an address, a library's text): the only places where a secret may
// stand, so the only places it is looked for.
struct UserMessage {
    // Implicit: a message in the module's own words alone needs nothing more.
    UserMessage(std::string words, std::vector<std::string> outsidePieces = {})
        : text(std::move(words))
        , outside(std::move(outsidePieces))
    {
    }

    std::string text;
    std::vector<std::string> outside;
};

// The one error type of the module: what() is the French sentence the user reads,
// detail() the technical cause (library message, parse offset), never shown, and
// outside() the pieces of what() that came from outside the module.
class ModuleError : public std::runtime_error {
public:
    explicit ModuleError(const std::string &message, std::string detail = {}, std::vector<std::string> outside = {})
        : std::runtime_error(message)
        , detail_(std::move(detail))
        , outside_(std::move(outside))
    {
    }

    [[nodiscard]] const std::string &detail() const noexcept { return detail_; }
    [[nodiscard]] const std::vector<std::string> &outside() const noexcept { return outside_; }

private:
    std::string detail_;
    std::vector<std::string> outside_;
};

// The message to show for the exception being handled (call inside a catch block): a
// ModuleError's own, "Mémoire insuffisante..." for an allocation failure, another
// exception's text as coming from outside, "Erreur inattendue." for anything else.
[[nodiscard]] UserMessage currentExceptionMessage();

// Writes a message shown to the user on standard error too, for the host's logs.
void printForHost(const std::string &text);
