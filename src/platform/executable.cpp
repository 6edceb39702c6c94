#include "platform/executable.h"

#include "platform/paths.h"

#include <filesystem>
#include <system_error>

namespace platform {

std::string executablePath()
{
    std::error_code ec;
    const auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : platform::textOf(path);
}

} // namespace platform
