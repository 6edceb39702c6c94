#pragma once

#include <optional>
#include <string>

namespace host {

// The values the host writes into the module's configuration file.
struct ModuleConfig {
    std::string Version = "0";
    std::string Configurateur;
    std::string Identifiant;
    std::string MotDePasse;
    std::string DevisId;
};

// Reads the configuration file; nothing when no file exists at `path` (a folder counts
// as no file). A file that cannot be read gives the defaults.
[[nodiscard]] std::optional<ModuleConfig> readModuleConfig(const std::string &path);

// The message shown when `readModuleConfig` finds no file.
[[nodiscard]] std::string missingConfigMessage(const std::string &path);

} // namespace host
