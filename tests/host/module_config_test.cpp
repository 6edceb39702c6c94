#include "host/module_config.h"

#include "support/test_support.h"

#include <gtest/gtest.h>


namespace {

class ModuleConfigTest : public testing::Test {
protected:
    std::string write(const std::string &text) const
    {
        test_support::writeFile(dir.file("config.ini"), text);
        return dir.file("config.ini");
    }

    test_support::TempDir dir;
};

TEST_F(ModuleConfigTest, ReadsTheFiveValues)
{
    const auto config = host::readModuleConfig(write("[General]\nVersion=1\nConfigurateur=vestiora\n"
                                                         "[Utilisateur]\nIdentifiant=a@b.fr\nMotDePasse=p&ss\n"
                                                         "[Update]\nDevisId=D-77\n"));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Version, "1");
    EXPECT_EQ(config->Configurateur, "vestiora");
    EXPECT_EQ(config->Identifiant, "a@b.fr");
    EXPECT_EQ(config->MotDePasse, "p&ss");
    EXPECT_EQ(config->DevisId, "D-77");
}

TEST_F(ModuleConfigTest, EmptyFileGivesDefaults)
{
    const auto config = host::readModuleConfig(write(""));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Version, "0");
    EXPECT_EQ(config->Configurateur, "");
    EXPECT_EQ(config->Identifiant, "");
    EXPECT_EQ(config->MotDePasse, "");
    EXPECT_EQ(config->DevisId, "");
}

TEST_F(ModuleConfigTest, KeysInOtherCaseAreFound)
{
    const auto config = host::readModuleConfig(write("[general]\nversion=1\nCONFIGURATEUR=duranel\n"));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Version, "1");
    EXPECT_EQ(config->Configurateur, "duranel");
}

TEST_F(ModuleConfigTest, BinaryGarbageGivesDefaultsWithoutFailing)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919) % 256);
    const auto config = host::readModuleConfig(write(garbage));
    ASSERT_TRUE(config);
    EXPECT_EQ(config->Version, "0");
}

TEST_F(ModuleConfigTest, MissingFileAndFolderAreNotConfigurations)
{
    EXPECT_FALSE(host::readModuleConfig(dir.file("absent.ini")));
    EXPECT_FALSE(host::readModuleConfig(dir.path().string()));
    EXPECT_FALSE(host::readModuleConfig(""));
}

TEST(ModuleConfigMessageTest, CarriesThePathAsGiven)
{
    EXPECT_EQ(host::missingConfigMessage("C:\\Devis\\conf.ini"),
              "Le configurateur Valmora n'est pas configuré. Le fichier : C:\\Devis\\conf.ini n'existe pas.");
}

} // namespace
