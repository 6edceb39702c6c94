#pragma once

#include <filesystem>
#include <string>

// The module's paths are UTF-8 text; std::filesystem takes them through these two so
// that Windows does not read them in its ANSI code page.
namespace platform {

[[nodiscard]] inline std::filesystem::path pathOf(const std::string &utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

[[nodiscard]] inline std::string textOf(const std::filesystem::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace platform
