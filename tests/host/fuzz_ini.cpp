#include "host/ini_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const host::IniFile ini = host::IniFile::parse(std::string_view(reinterpret_cast<const char *>(data), size));
    static_cast<void>(ini.sectionExists("Proxy"));
    static_cast<void>(ini.readString("General", "Version", "0"));
    static_cast<void>(ini.readString("Utilisateur", "MotDePasse", ""));
    static_cast<void>(ini.readBool("Proxy", "BasicAuthentication", false));
    return 0;
}
