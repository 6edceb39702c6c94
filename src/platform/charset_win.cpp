#include "platform/charset.h"

#include "platform/wide_text.h"

#include <array>
#include <climits>
#include <new>
#include <utility>

#include <windows.h>

namespace platform {
namespace {

// The labels replies use, by Windows code page; the characters come from Windows.
constexpr std::array<std::pair<std::string_view, UINT>, 34> kCodePages{{
    {"iso-8859-2", 28592},   {"iso-8859-3", 28593},   {"iso-8859-4", 28594},   {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},   {"iso-8859-7", 28597},   {"iso-8859-8", 28598},   {"iso-8859-9", 28599},
    {"iso-8859-13", 28603},  {"iso-8859-15", 28605},  {"latin-9", 28605},      {"latin9", 28605},
    {"windows-1250", 1250},  {"windows-1251", 1251},  {"windows-1253", 1253},  {"windows-1254", 1254},
    {"windows-1255", 1255},  {"windows-1256", 1256},  {"windows-1257", 1257},  {"windows-1258", 1258},
    {"cp1250", 1250},        {"cp1251", 1251},        {"x-cp1250", 1250},      {"x-cp1251", 1251},
    {"koi8-r", 20866},       {"koi8-u", 21866},       {"ibm850", 850},         {"cp850", 850},
    {"shift_jis", 932},      {"gbk", 936},            {"gb2312", 936},         {"big5", 950},
    {"euc-kr", 51949},       {"macintosh", 10000},
}};

} // namespace

std::optional<std::string> decodeWithSystem(std::string_view bytes, std::string_view charset)
{
    UINT codePage = 0;
    for (const auto &[label, page] : kCodePages) {
        if (label == charset)
            codePage = page;
    }
    if (codePage == 0 || !IsValidCodePage(codePage))
        return std::nullopt;
    if (bytes.empty())
        return std::string();
    if (bytes.size() > INT_MAX)
        throw std::bad_alloc();
    const int size = static_cast<int>(bytes.size());
    // Without MB_ERR_INVALID_CHARS an undefined byte becomes U+FFFD (or the code page's default).
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), length);
    return toUtf8(wide);
}

} // namespace platform
