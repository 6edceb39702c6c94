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
