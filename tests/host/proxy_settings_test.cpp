#include "host/proxy_settings.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

using host::ProxySettings;

TEST(ProxySettingsPathTest, FollowsTheExecutableName)
{
#ifdef _WIN32
    const std::string folder = "C:\\Programmes\\Valmora\\";
    const std::string dotted = "C:\\v.1\\";
#else
    const std::string folder = "/opt/valmora/";
    const std::string dotted = "/opt/v.1/";
#endif
    const std::pair<std::string, std::string> cases[] = {
        {folder + "Module_Valmora", folder + "Module_Valmora.ini"},
        {folder + "Module_Valmora.exe", folder + "Module_Valmora.ini"},
        {folder + "Devis2", folder + "Devis2.ini"},
        {folder + "a.exe.exe", folder + "a.ini.ini"},
        {folder + "a.EXE.exe", folder + "a.EXE.ini"},
        {dotted + "outil.bin", dotted + "outil.ini"},
    };
    for (const auto &[exe, ini] : cases)
        EXPECT_EQ(host::proxySettingsPath(exe), ini) << exe;
}

TEST(ProxyPortTest, AcceptsPlainDecimalDigitsWithOptionalSign)
{
    const std::pair<const char *, long> cases[] = {
        {"8080", 8080}, {"+3128", 3128}, {"-1", -1}, {"0", 0}, {"70000", 70000}, {"", 0},
        {"abc", 0}, {"12a", 0}, {"0x50", 0}, {"8 080", 0}, {"+", 0}, {"99999999999999999999999", 0},
    };
    for (const auto &[text, port] : cases)
        EXPECT_EQ(host::proxyPortNumber(text), port) << '"' << text << '"';
}

class ProxySettingsFileTest : public testing::Test {
protected:
    ProxySettings read(const std::string &text) const
    {
        test_support::writeFile(dir.file("Module_Valmora.ini"), text);
        return host::readProxySettings(dir.file("Module_Valmora.ini"));
    }

    test_support::TempDir dir;
};

TEST_F(ProxySettingsFileTest, MissingFileOrSectionLeavesTheProxyOff)
{
    EXPECT_FALSE(host::readProxySettings(dir.file("absent.ini")).ProxyActif);
    const ProxySettings noSection = read("[Autre]\nProxyServer=proxy.local\n");
    EXPECT_FALSE(noSection.ProxyActif);
    EXPECT_EQ(noSection.ProxyServer, "");

    host::ProxyParams params;
    params.ProxyServer = "inchangé";
    host::applyProxySettings(noSection, params);
    EXPECT_EQ(params.ProxyServer, "inchangé");
    EXPECT_FALSE(params.BasicAuthentication);
}

TEST_F(ProxySettingsFileTest, ReadsTheProxySectionAndAppliesEveryValue)
{
    const ProxySettings s = read("[proxy]\nBasicAuthentication=1\nProxyServer=proxy.entreprise.fr\n"
                                 "ProxyPort=3128\nProxyUsername=agent\nProxyPassword=Mot;de#passe\n");
    EXPECT_TRUE(s.ProxyActif);
    host::ProxyParams params;
    host::applyProxySettings(s, params);
    EXPECT_TRUE(params.BasicAuthentication);
    EXPECT_EQ(params.ProxyServer, "proxy.entreprise.fr");
    EXPECT_EQ(params.ProxyPort, 3128);
    EXPECT_EQ(params.ProxyUsername, "agent");
    EXPECT_EQ(params.ProxyPassword, "Mot;de#passe");
}

TEST_F(ProxySettingsFileTest, PortThatIsNotAPositiveWholeNumberIsNotSet)
{
    for (const char *port : {"0", "-1", "abc", ""}) {
        host::ProxyParams params;
        params.ProxyPort = 8080; // set by an earlier application
        host::applyProxySettings(read(std::string("[Proxy]\nProxyServer=p\nProxyPort=") + port + "\n"), params);
        EXPECT_EQ(params.ProxyPort, 8080) << port;
    }
}

TEST_F(ProxySettingsFileTest, EmptyValuesNeverClearWhatAClientHas)
{
    host::ProxyParams params;
    params.ProxyServer = "ancien";
    params.ProxyUsername = "ancien";
    params.ProxyPassword = "ancien";
    params.BasicAuthentication = true;
    host::applyProxySettings(read("[Proxy]\nProxyUsername=agent\n"), params);
    EXPECT_EQ(params.ProxyServer, "ancien");
    EXPECT_EQ(params.ProxyUsername, "agent");
    EXPECT_EQ(params.ProxyPassword, "ancien");
    EXPECT_FALSE(params.BasicAuthentication); // the flag is always copied
}

TEST_F(ProxySettingsFileTest, UserWithoutPasswordLeavesThePasswordEmpty)
{
    host::ProxyParams params;
    host::applyProxySettings(read("[Proxy]\nProxyServer=p\nProxyUsername=agent\n"), params);
    EXPECT_EQ(params.ProxyUsername, "agent");
    EXPECT_EQ(params.ProxyPassword, "");
    EXPECT_EQ(params.ProxyPort, 0);
}

TEST_F(ProxySettingsFileTest, ApplyingTwiceChangesNothing)
{
    const ProxySettings s = read("[Proxy]\nBasicAuthentication=yes\nProxyServer=p\nProxyPort=+3128\n");
    host::ProxyParams once;
    host::applyProxySettings(s, once);
    host::ProxyParams twice = once;
    host::applyProxySettings(s, twice);
    EXPECT_EQ(twice.ProxyServer, once.ProxyServer);
    EXPECT_EQ(twice.ProxyPort, 3128);
    EXPECT_TRUE(twice.BasicAuthentication);
}

} // namespace
