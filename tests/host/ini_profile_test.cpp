// Our INI reader against the Windows profile functions, file by file: the same value for
// every key asked, except the differences listed below with their reason.
#include "platform/wide_text.h"
#include "host/ini_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include <windows.h>

namespace {

struct ProfileCase {
    const char *name;
    std::string bytes; // the file as stored
    std::vector<std::pair<const char *, const char *>> keys;
    const char *deliberate = nullptr; // why our reader differs on purpose, or nothing
};
void PrintTo(const ProfileCase &c, std::ostream *out) { *out << c.name; }

std::string windowsReads(const std::string &path, const char *section, const char *key, const char *defaultValue)
{
    std::array<wchar_t, 4096> value{};
    GetPrivateProfileStringW(platform::toWide(section).c_str(), platform::toWide(key).c_str(),
                             platform::toWide(defaultValue).c_str(), value.data(), static_cast<DWORD>(value.size()),
                             platform::toWide(path).c_str());
    return platform::toUtf8(value.data());
}

class IniProfileTest : public testing::TestWithParam<ProfileCase> {
protected:
    test_support::TempDir dir;
};

TEST_P(IniProfileTest, ReadsAsWindowsDoes)
{
    const ProfileCase &c = GetParam();
    const std::string path = dir.file("config.ini");
    test_support::writeFile(path, c.bytes);
    const host::IniFile ini = host::IniFile::load(path);
    bool same = true;
    for (const auto &[section, key] : c.keys) {
        const std::string ours = ini.readString(section, key, "défaut  ");
        const std::string windows = windowsReads(path, section, key, "défaut  ");
        if (c.deliberate == nullptr) {
            EXPECT_EQ(ours, windows) << "[" << section << "] " << key;
        }
        same = same && ours == windows;
    }
    if (c.deliberate != nullptr) {
        EXPECT_FALSE(same) << "listed as a deliberate difference, but reads the same: " << c.deliberate;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniProfileTest,
    testing::Values(
        ProfileCase{"Plain", "[General]\r\nVersion=1\r\nConfigurateur=vestiora\r\n",
                    {{"General", "Version"}, {"general", "CONFIGURATEUR"}, {"General", "Absent"}, {"Autre", "Version"}}},
        ProfileCase{"BlanksAndQuotes", "[ General ]\r\n  Version  =  1 2  \r\nA=\" x \"\r\nB='y'\r\nC=\"z'\r\n",
                    {{"General", "Version"}, {"General", "A"}, {"General", "B"}, {"General", "C"}}},
        ProfileCase{"CommentsAndSymbols", "[S]\r\n;K=commentaire\r\nK=a;b#c\r\nL=a=b\r\n", {{"S", "K"}, {"S", "L"}}},
        ProfileCase{"Duplicates", "[S]\r\nK=premier\r\nK=second\r\n[S]\r\nL=autre\r\n", {{"S", "K"}, {"S", "L"}}},
        ProfileCase{"EmptyValueAndNoEquals", "[S]\r\nK=\r\nL\r\nM=1\r\n", {{"S", "K"}, {"S", "L"}, {"S", "M"}}},
        ProfileCase{"LfOnly", "[S]\nK=1\nL=2\n", {{"S", "K"}, {"S", "L"}}},
        ProfileCase{"CrOnly", "[S]\rK=1\rL=2\r", {{"S", "K"}, {"S", "L"}}},
        ProfileCase{"NoFinalLineBreak", "[S]\r\nK=fin", {{"S", "K"}}},
        ProfileCase{"KeyBeforeAnySection", "K=1\r\n[S]\r\nL=2\r\n", {{"S", "K"}, {"S", "L"}}},
        ProfileCase{"Windows1252", "[S]\r\nK=Fa\xE7" "ade \x80\r\n", {{"S", "K"}}},
        ProfileCase{"Utf16WithByteOrderMark",
                    std::string("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\xE9\0t\0\xE9\0\r\0\n\0", 24), {{"S", "K"}}},
        ProfileCase{"Utf8WithByteOrderMark", "\xEF\xBB\xBF[S]\r\nK=\xC3\xA9t\xC3\xA9\r\n", {{"S", "K"}}},
        ProfileCase{"Utf8WithoutByteOrderMark", "[S]\r\nK=\xC3\xA9t\xC3\xA9\r\n", {{"S", "K"}},
                    "Windows reads the bytes as Windows-1252; text that is valid UTF-8 is almost never meant "
                    "as Windows-1252, and the user's password must arrive as typed"},
        ProfileCase{"UnclosedSectionHeader", "[T]\r\n[S\r\nK=1\r\n[S]\r\nL=2\r\n", {{"S", "K"}, {"T", "K"}, {"S", "L"}}},
        ProfileCase{"DefaultWithTrailingBlanks", "[S]\r\n", {{"S", "Absent"}}}),
    [](const testing::TestParamInfo<ProfileCase> &param) { return std::string(param.param.name); });

} // namespace
