#include "host/module_config.h"

#include "platform/paths.h"
#include "host/ini_file.h"

#include <filesystem>
#include <system_error>

namespace host {

std::optional<ModuleConfig> readModuleConfig(const std::string &path)
{
    std::error_code ec;
    const auto status = std::filesystem::status(platform::pathOf(path), ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_directory(status))
        return std::nullopt;

    const IniFile ini = IniFile::load(path);
    ModuleConfig config;
    config.Version = ini.readString("General", "Version", "0");
    config.Configurateur = ini.readString("General", "Configurateur", "");
    config.Identifiant = ini.readString("Utilisateur", "Identifiant", "");
    config.MotDePasse = ini.readString("Utilisateur", "MotDePasse", "");
    config.DevisId = ini.readString("Update", "DevisId", "");
    return config;
}

std::string missingConfigMessage(const std::string &path)
{
    return "Le configurateur Valmora n'est pas configuré. Le fichier : " + path + " n'existe pas.";
}

} // namespace host
