#include "host/ini_file.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using host::IniFile;

namespace {

struct ReadCase {
    const char *name;
    std::string text;
    const char *section;
    const char *key;
    const char *expected; // value read with the default "<défaut>"
};

class IniReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsValueWithProfileRules)
{
    const ReadCase &c = GetParam();
    const IniFile ini = IniFile::parse(c.text);
    EXPECT_EQ(ini.readString(c.section, c.key, "<défaut>"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, IniReadTest,
    testing::Values(
        ReadCase{"Plain", "[General]\nVersion=1\n", "General", "Version", "1"},
        ReadCase{"SectionCaseIgnored", "[GENERAL]\nVersion=1\n", "general", "Version", "1"},
        ReadCase{"KeyCaseIgnored", "[General]\nversion=1\n", "General", "VERSION", "1"},
        ReadCase{"BlanksAroundNamesAndValue", "  [ General ]  \n\t Version \t=\t 1 2 \t\n", "General", "Version", "1 2"},
        ReadCase{"DoubleQuotesRemoved", "[S]\nK=\" a b \"\n", "S", "K", " a b "},
        ReadCase{"SingleQuotesRemoved", "[S]\nK='x'\n", "S", "K", "x"},
        ReadCase{"OnlyOnePairRemoved", "[S]\nK=\"\"x\"\"\n", "S", "K", "\"x\""},
        ReadCase{"UnmatchedQuotesKept", "[S]\nK=\"x'\n", "S", "K", "\"x'"},
        ReadCase{"LoneQuoteKept", "[S]\nK=\"\n", "S", "K", "\""},
        ReadCase{"CommentLineIgnored", "[S]\n;K=commentaire\nK=valeur\n", "S", "K", "valeur"},
        ReadCase{"IndentedCommentIgnored", "[S]\n   ;K=commentaire\n", "S", "K", "<défaut>"},
        ReadCase{"SemicolonAndHashInValue", "[S]\nMotDePasse=a;b#c ;d\n", "S", "MotDePasse", "a;b#c ;d"},
        ReadCase{"EqualsInValue", "[S]\nK=a=b\n", "S", "K", "a=b"},
        ReadCase{"FirstDuplicateKeyWins", "[S]\nK=premier\nK=second\n", "S", "K", "premier"},
        ReadCase{"FirstDuplicateSectionWins", "[S]\nA=1\n[S]\nK=second\n", "S", "K", "<défaut>"},
        ReadCase{"MissingSection", "[Autre]\nK=1\n", "S", "K", "<défaut>"},
        ReadCase{"MissingKey", "[S]\nAutre=1\n", "S", "K", "<défaut>"},
        ReadCase{"EmptyValueIsNotMissing", "[S]\nK=\n", "S", "K", ""},
        ReadCase{"KeyBeforeAnySectionIgnored", "K=1\n[S]\n", "S", "K", "<défaut>"},
        ReadCase{"LineWithoutEqualsIgnored", "[S]\nK\nK=1\n", "S", "K", "1"},
        ReadCase{"CrLfLines", "[S]\r\nK=1\r\nL=2\r\n", "S", "L", "2"},
        ReadCase{"CrOnlyLines", "[S]\rK=1\rL=2\r", "S", "L", "2"},
        ReadCase{"CrOnlyValueEndsAtItsLine", "[S]\rK=1\r[T]\rK=2", "S", "K", "1"},
        ReadCase{"NoFinalLineBreak", "[S]\nK=fin", "S", "K", "fin"},
        ReadCase{"EmptyText", "", "S", "K", "<défaut>"},
        ReadCase{"Utf8ByteOrderMarkSkipped", "\xEF\xBB\xBF[S]\nK=1\n", "S", "K", "1"},
        ReadCase{"Utf8Kept", "[S]\nK=Fa\xC3\xA7" "ade\n", "S", "K", "Fa\xC3\xA7" "ade"},
        ReadCase{"Windows1252Decoded", "[S]\nK=Fa\xE7" "ade \x80\n", "S", "K", "Fa\xC3\xA7" "ade \xE2\x82\xAC"},
        ReadCase{"SectionTextAfterBracketIgnored", "[S] suite\nK=1\n", "S", "K", "1"},
        ReadCase{"UnclosedHeaderIsAKeyLine", "[T]\n[S\nK=1\n", "T", "K", "1"},
        ReadCase{"Utf16LittleEndian", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0\xE9\0\xAC\x20", 20), "S", "K",
                 "\xC3\xA9\xE2\x82\xAC"},
        ReadCase{"Utf16BigEndian", std::string("\xFE\xFF\0[\0S\0]\0\n\0K\0=\xD8\x3D\xDE\x00", 18), "S", "K",
                 "\xF0\x9F\x98\x80"}),
    [](const testing::TestParamInfo<ReadCase> &param) { return std::string(param.param.name); });

struct BoolCase {
    const char *value;
    bool defaultValue;
    bool expected;
};

class IniBoolTest : public testing::TestWithParam<BoolCase> {};

TEST_P(IniBoolTest, ReadsBooleanForms)
{
    const BoolCase &c = GetParam();
    const IniFile ini = IniFile::parse(std::string("[Proxy]\nB=") + c.value + "\n");
    EXPECT_EQ(ini.readBool("Proxy", "B", c.defaultValue), c.expected) << "value: " << c.value;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IniBoolTest,
    testing::Values(BoolCase{"1", false, true}, BoolCase{"0", true, false}, BoolCase{"true", false, true},
                    BoolCase{"TRUE", false, true}, BoolCase{"False", true, false}, BoolCase{"yes", false, true},
                    BoolCase{"No", true, false}, BoolCase{"ON", false, true}, BoolCase{"off", true, false},
                    BoolCase{"2", false, false}, BoolCase{"2", true, true}, BoolCase{"", true, true},
                    BoolCase{"vrai", false, false}));

TEST(IniFileTest, MissingKeyGivesBooleanDefault)
{
    const IniFile ini = IniFile::parse("[Proxy]\n");
    EXPECT_TRUE(ini.readBool("Proxy", "B", true));
    EXPECT_FALSE(ini.readBool("Proxy", "B", false));
}

TEST(IniFileTest, SectionExistsIgnoresCaseAndNeedsNoKeys)
{
    const IniFile ini = IniFile::parse("[proxy]\n");
    EXPECT_TRUE(ini.sectionExists("Proxy"));
    EXPECT_FALSE(ini.sectionExists("General"));
}

class IniLoadTest : public testing::Test {
protected:
    test_support::TempDir dir;
};

TEST_F(IniLoadTest, LoadsFileFromDisk)
{
    test_support::writeFile(dir.file("module.ini"), "[General]\r\nVersion=1\r\n");
    EXPECT_EQ(IniFile::load(dir.file("module.ini")).readString("General", "Version", "0"), "1");
}

TEST_F(IniLoadTest, MissingFileAndFolderGiveEmptyProfile)
{
    EXPECT_FALSE(IniFile::load(dir.file("absent.ini")).sectionExists("General"));
    std::filesystem::create_directory(dir.file("dossier.ini"));
    EXPECT_FALSE(IniFile::load(dir.file("dossier.ini")).sectionExists("General"));
}

TEST(IniFileTest, DataFileWithByteOrderMarkAndComments)
{
    const IniFile ini = IniFile::load(TEST_DATA_DIR "/ini/bom_utf8_comments.ini");
    EXPECT_EQ(ini.readString("Utilisateur", "Identifiant", ""), "jeanne.morel@exemple.fr");
    EXPECT_EQ(ini.readString("Utilisateur", "MotDePasse", ""), "s3cr;t#Été");
}

} // namespace
