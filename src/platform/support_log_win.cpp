#include "platform/log_file.h"

#include "platform/wide_text.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include <windows.h>
#include <shlobj.h>

namespace platform::logfile {

std::string defaultPath()
{
    // The profile's own folder, wherever IT has redirected it.
    PWSTR folder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &folder);
    std::string path;
    if (SUCCEEDED(result) && folder != nullptr)
        path = toUtf8(folder) + "\\Valmora\\Module_Valmora.log";
    CoTaskMemFree(folder);
    return path;
}

std::string timestamp()
{
    SYSTEMTIME local{};
    GetLocalTime(&local);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", local.wYear, local.wMonth, local.wDay,
                  local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
    return text;
}

unsigned long processId() noexcept
{
    return GetCurrentProcessId();
}

Appender::~Appender()
{
    if (handle_ != nullptr)
        CloseHandle(static_cast<HANDLE>(handle_));
}

bool Appender::open(const std::string &path, std::uint64_t rotateBytes)
{
    const std::wstring file = toSystemPath(toWide(path));
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    WIN32_FILE_ATTRIBUTE_DATA existing{};
    if (GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &existing)) {
        const std::uint64_t size = (std::uint64_t{existing.nFileSizeHigh} << 32) | existing.nFileSizeLow;
        if (size > rotateBytes) // another run may have done it meanwhile, or hold the old one
            MoveFileExW(file.c_str(), (file + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    // FILE_APPEND_DATA alone: each write lands whole at the end, whoever else appends.
    // Shared for delete too, so that another run can move it aside.
    HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    handle_ = handle;
    return true;
}

bool Appender::append(std::string_view line)
{
    DWORD written = 0;
    return handle_ != nullptr
        && WriteFile(static_cast<HANDLE>(handle_), line.data(), static_cast<DWORD>(line.size()), &written, nullptr)
        && written == line.size();
}

} // namespace platform::logfile
