#include "platform/wide_text.h"

#include <climits>
#include <new>

#include <windows.h>

namespace platform {

std::wstring toWide(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    if (utf8.size() > INT_MAX)
        throw std::bad_alloc();
    const int size = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

std::string toUtf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    if (wide.size() > INT_MAX / 3)
        throw std::bad_alloc();
    const int size = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::wstring toSystemPath(std::wstring_view path)
{
    std::wstring given(path);
    for (wchar_t &c : given)
        c = c == L'/' ? L'\\' : c;
    // "C:\a\b" with no "." or ".." part is already what \\?\ needs; GetFullPathNameW
    // itself may stop at MAX_PATH where long paths are not enabled.
    const auto dotPart = [&given](std::wstring_view part) {
        for (std::size_t at = given.find(part); at != std::wstring::npos; at = given.find(part, at + 1)) {
            if (at + part.size() == given.size() || given[at + part.size()] == L'\\')
                return true;
        }
        return false;
    };
    const bool plain = given.size() > 3 && given[1] == L':' && given[2] == L'\\' && !dotPart(L"\\.")
                    && !dotPart(L"\\..") && given.find(L"\\\\", 2) == std::wstring::npos;
    std::wstring full = plain ? given : std::wstring(MAX_PATH, L'\0');
    while (!plain) {
        const DWORD length = GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return given;
        if (length < full.size()) {
            full.resize(length);
            break;
        }
        full.resize(length);
    }
    // Room for a file name the folder functions add (CreateDirectoryW stops at 248).
    if (full.size() < MAX_PATH - 12 || full.rfind(L"\\\\?\\", 0) == 0)
        return full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2); // \\server\share
    return L"\\\\?\\" + full;
}

} // namespace platform
