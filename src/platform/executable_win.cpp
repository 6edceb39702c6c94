#include "platform/executable.h"

#include "platform/wide_text.h"

#include <windows.h>

namespace platform {

std::string executablePath()
{
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            return toUtf8(path);
        }
        path.resize(path.size() * 2); // a long path: the name was cut
    }
}

} // namespace platform
