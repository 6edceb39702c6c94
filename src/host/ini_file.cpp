#include "host/ini_file.h"

#include "platform/paths.h"
#include "platform/text.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace host {
namespace {

bool isBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trim(std::string_view s) noexcept
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char asciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) noexcept
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

std::string_view unquote(std::string_view value) noexcept
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'')
        && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

IniFile IniFile::load(const std::string &path)
{
    std::error_code ec;
    const std::filesystem::path file = platform::pathOf(path);
    if (!std::filesystem::is_regular_file(file, ec))
        return {};
    const auto size = std::filesystem::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in)
        return {};
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return parse(bytes);
}

IniFile IniFile::parse(std::string_view bytes)
{
    const std::string text = platform::decodeHostText(bytes);
    IniFile ini;
    Section *current = nullptr;
    std::string_view rest = text;
    while (!rest.empty()) {
        // CR LF, LF and a lone CR (old Mac files) each end a line, as for Windows.
        const std::size_t eol = rest.find_first_of("\r\n");
        std::string_view line = trim(rest.substr(0, eol));
        if (eol == std::string_view::npos)
            rest = {};
        else
            rest.remove_prefix(eol + (rest.compare(eol, 2, "\r\n") == 0 ? 2 : 1));

        if (line.empty() || line.front() == ';')
            continue;
        // Without its ']' a line is no section header, as for Windows: it is read as a key line.
        if (const std::size_t close = line.find(']'); line.front() == '[' && close != std::string_view::npos) {
            ini.sections_.push_back(Section{std::string(trim(line.substr(1, close - 1))), {}});
            current = &ini.sections_.back();
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, eq));
        const std::string_view value = unquote(trim(line.substr(eq + 1)));
        current->entries.emplace_back(std::string(key), std::string(value));
    }
    return ini;
}

const IniFile::Section *IniFile::findSection(std::string_view name) const
{
    const auto it = std::find_if(sections_.begin(), sections_.end(),
                                 [name](const Section &s) { return sameName(s.name, name); });
    return it == sections_.end() ? nullptr : &*it;
}

const std::string *IniFile::findValue(std::string_view section, std::string_view key) const
{
    const Section *s = findSection(section);
    if (s == nullptr)
        return nullptr;
    const auto it = std::find_if(s->entries.begin(), s->entries.end(),
                                 [key](const auto &entry) { return sameName(entry.first, key); });
    return it == s->entries.end() ? nullptr : &it->second;
}

bool IniFile::sectionExists(std::string_view section) const
{
    return findSection(section) != nullptr;
}

std::string IniFile::readString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const
{
    const std::string *value = findValue(section, key);
    if (value != nullptr)
        return *value;
    // As Windows does, the default loses its trailing blanks.
    while (!defaultValue.empty() && isBlank(defaultValue.back()))
        defaultValue.remove_suffix(1);
    return std::string(defaultValue);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool defaultValue) const
{
    const std::string *value = findValue(section, key);
    if (value == nullptr)
        return defaultValue;
    for (std::string_view yes : {"1", "true", "yes", "on"}) {
        if (sameName(*value, yes))
            return true;
    }
    for (std::string_view no : {"0", "false", "no", "off"}) {
        if (sameName(*value, no))
            return false;
    }
    return defaultValue;
}

} // namespace host
