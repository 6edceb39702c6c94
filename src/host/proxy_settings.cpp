#include "host/proxy_settings.h"

#include "platform/paths.h"
#include "host/ini_file.h"

#include <charconv>
#include <filesystem>
#include <system_error>

namespace host {

std::string proxySettingsPath(const std::string &executablePath)
{
    const std::filesystem::path exe = platform::pathOf(executablePath);
    std::string name = platform::textOf(exe.filename());
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        name += ".ini";
    } else {
        const std::string extension = name.substr(dot);
        for (std::size_t at = name.find(extension); at != std::string::npos;
             at = name.find(extension, at + 4))
            name.replace(at, extension.size(), ".ini");
    }
    return platform::textOf(exe.parent_path() / platform::pathOf(name));
}

ProxySettings readProxySettings(const std::string &path)
{
    ProxySettings settings;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(platform::pathOf(path), ec))
        return settings;
    const IniFile ini = IniFile::load(path);
    settings.ProxyActif = ini.sectionExists("Proxy");
    if (!settings.ProxyActif)
        return settings;
    settings.BasicAuthentication = ini.readBool("Proxy", "BasicAuthentication", false);
    settings.ProxyServer = ini.readString("Proxy", "ProxyServer", "");
    settings.ProxyPort = ini.readString("Proxy", "ProxyPort", "");
    settings.ProxyUsername = ini.readString("Proxy", "ProxyUsername", "");
    settings.ProxyPassword = ini.readString("Proxy", "ProxyPassword", "");
    return settings;
}

long proxyPortNumber(const std::string &text)
{
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    long value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return 0;
    return negative ? -value : value;
}

void applyProxySettings(const ProxySettings &settings, host::ProxyParams &params)
{
    if (!settings.ProxyActif)
        return;
    params.BasicAuthentication = settings.BasicAuthentication;
    if (!settings.ProxyServer.empty())
        params.ProxyServer = settings.ProxyServer;
    if (const long port = proxyPortNumber(settings.ProxyPort); port > 0)
        params.ProxyPort = port;
    if (!settings.ProxyUsername.empty())
        params.ProxyUsername = settings.ProxyUsername;
    if (!settings.ProxyPassword.empty())
        params.ProxyPassword = settings.ProxyPassword;
}

} // namespace host
