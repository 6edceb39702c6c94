#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host {

// An INI file read with Windows profile rules: section and key names compared without
// regard to case, blanks around names and values trimmed, one pair of matching quotes
// removed from a value, lines starting with ';' ignored, the first matching section
// and key winning. A `;` or `#` inside a value belongs to the value.
class IniFile {
public:
    IniFile() = default;

    // Reads the file at `path`. A missing or unreadable file gives an empty profile.
    [[nodiscard]] static IniFile load(const std::string &path);
    // Parses text already in memory (bytes as stored on disk).
    [[nodiscard]] static IniFile parse(std::string_view bytes);

    [[nodiscard]] bool sectionExists(std::string_view section) const;
    [[nodiscard]] std::string readString(std::string_view section, std::string_view key,
                                         std::string_view defaultValue) const;
    // "1", "true", "yes", "on" are true; "0", "false", "no", "off" are false (any case);
    // anything else gives the default.
    [[nodiscard]] bool readBool(std::string_view section, std::string_view key,
                                bool defaultValue) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };

    [[nodiscard]] const Section *findSection(std::string_view name) const;
    [[nodiscard]] const std::string *findValue(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
};

} // namespace host
