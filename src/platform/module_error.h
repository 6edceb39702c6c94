#pragma once

#include <stdexcept>
#include <string>
#include <utility>

// The one error type of the module: what() is the French sentence the user reads,
// detail() the technical cause (library message, parse offset), never shown.
class ModuleError : public std::runtime_error {
public:
    explicit ModuleError(const std::string &message, std::string detail = {})
        : std::runtime_error(message)
        , detail_(std::move(detail))
    {
    }

    [[nodiscard]] const std::string &detail() const noexcept { return detail_; }

private:
    std::string detail_;
};

// The sentence to show for the exception being handled (call inside a catch block):
// a ModuleError's own, "Mémoire insuffisante..." for an allocation failure, "Erreur
// inattendue." for anything else that carries no message.
[[nodiscard]] std::string currentExceptionMessage();

// Writes a message shown to the user on standard error too, for the host's logs.
void printForHost(const std::string &text);
