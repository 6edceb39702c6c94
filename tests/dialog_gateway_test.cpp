#include "dialog_harness.h"

#include <QTest>

namespace {

using DialogGatewayTest = DialogHarness;

TEST_F(DialogGatewayTest, ValidConfigurationOpensTheConfiguratorPageOnce)
{
    writeConfig(config("1", "vestiora"));
    start();
    ASSERT_TRUE(waitFor([&] { return !browserUrls.empty(); }));
    processEventsFor(50);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
    ASSERT_EQ(browserUrls.size(), 1U);
    EXPECT_EQ(browserUrls[0], dialog->urlConnexion());
    EXPECT_EQ(browserUrls[0].rfind("https://" + gateway.host() + "/configurateur?jeton=" + dialog->jeton(), 0), 0U);
    EXPECT_FALSE(dialog->jeton().empty());
    EXPECT_FALSE(dialog->urlRecuperation().empty());
    EXPECT_TRUE(dialog->isVisible());

    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].query, "email=jeanne@exemple.fr&mdp=secret&passerelle=vestiora");
}

TEST_F(DialogGatewayTest, UnreachableGatewayIsToldAndTheDialogStaysOpen)
{
    writeConfig(config("1", "vestiora"));
    GatewayEndpoint nowhere = endpoint();
    nowhere.host = "127.0.0.1:" + std::to_string(test_support::unusedPort());
    start(nowhere);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages.front(),
              QStringLiteral("Connexion impossible au serveur 127.0.0.1 : connexion refusée ou réseau indisponible."));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(browserUrls.empty());
    EXPECT_EQ(dialog->urlConnexion(), "");
    EXPECT_EQ(dialog->urlRecuperation(), "");
}

TEST_F(DialogGatewayTest, ErrorStatusIsShownWithoutThePassword)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"status": 500}]})");
    writeConfig(config("1", "duranel"));
    start();
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages.front(), QStringLiteral("Le serveur 127.0.0.1 a répondu : HTTP/1.1 500 Internal Server Error"));
    EXPECT_FALSE(messages.front().contains(QStringLiteral("secret")));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(browserUrls.empty());
}

TEST_F(DialogGatewayTest, ReplyWithoutConfigurateurIsReportedAndClosesTheDialog)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"body": "<Erreur>Compte inconnu (secret)</Erreur>"}]})");
    writeConfig(config("1", "vestiora"));
    start();
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages.front(), QStringLiteral("Configurateur vestiora : GetJetonEtUrlsErreurs \n"
                                               "La passerelle n'a pas renvoyé de réponse Configurateur.\n"
                                               "Message de la passerelle : Compte inconnu (****)\n"));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(browserUrls.empty());
}

TEST_F(DialogGatewayTest, AddressThatIsNotWebIsNeverOpened)
{
    for (const char *address : {"file:///etc/passwd", "/usr/bin/xterm", "smb://serveur/partage"}) {
        gateway.script(std::string(R"({"/index.php/Services/jeton": [{"body": "<Configurateur><Jeton>T</Jeton><UrlConnexion>)")
                       + address + R"(</UrlConnexion><UrlRecuperation>@BASE@/r</UrlRecuperation></Configurateur>"}]})");
        messages.clear();
        writeConfig(config("1", "vestiora"));
        start();
        ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); })) << address;
        EXPECT_EQ(messages.front(), QStringLiteral("Adresse du configurateur refusée : seules les adresses http et "
                                                   "https sont ouvertes dans le navigateur."));
        EXPECT_TRUE(browserUrls.empty());
        EXPECT_TRUE(dialog->isVisible());
    }
}

TEST_F(DialogGatewayTest, BrowserThatCannotStartLeavesTheAddressToTheUser)
{
    browserWorks = false;
    writeConfig(config("1", "vestiora"));
    start();
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages.front(), QStringLiteral("Le navigateur n'a pas pu être ouvert. Ouvrez cette adresse vous-même :\n")
                                    + QString::fromStdString(dialog->urlConnexion()));
    EXPECT_EQ(browserUrls.size(), 1U);
}

// The user's browser prices a line at the stand-in, as the configurator page does.
void priceLine(const test_support::StandinGateway &gateway, const std::string &jeton)
{
    gateway::HttpClient browser;
    static_cast<void>(browser.Get(gateway.url("/chiffrer?jeton=" + jeton + "&modele=colonne-40&finition=noyer&quantite=3")));
}

TEST_F(DialogGatewayTest, RecupererWritesTheResultAndPictureThenCloses)
{
    writeConfig(config("1", "vestiora"));
    start();
    ASSERT_TRUE(waitFor([&] { return !browserUrls.empty(); }));
    priceLine(gateway, dialog->jeton());
    QTest::mouseClick(child<QPushButton>("btnDevisRecuperer"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
    const std::string result = test_support::readFile(resultPath);
    EXPECT_NE(result.find("<Libelle>Colonne 40 cm</Libelle>"), std::string::npos) << result;
    EXPECT_NE(result.find("<PrixTotal>930.00</PrixTotal>"), std::string::npos) << result;
    EXPECT_NE(result.find("<Image>" + dir.file("P-1042.bmp") + "</Image>"), std::string::npos) << result;
    EXPECT_TRUE(std::filesystem::exists(dir.file("P-1042.bmp")));
}

TEST_F(DialogGatewayTest, FailedRetrievalKeepsTheDialogOpenAndTheNextPressStartsAgain)
{
    writeConfig(config("1", "duranel"));
    start();
    ASSERT_TRUE(waitFor([&] { return !browserUrls.empty(); }));
    priceLine(gateway, dialog->jeton());
    gateway.script(R"({"/index.php/Services/recuperation_valmora": [{"status": 500}, {"body": "{\"code\": 200}"}]})");
    auto *recuperer = child<QPushButton>("btnDevisRecuperer");
    QTest::mouseClick(recuperer, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages.front(), QStringLiteral("Le serveur 127.0.0.1 a répondu : HTTP/1.1 500 Internal Server Error"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(std::filesystem::exists(resultPath));

    QTest::mouseClick(recuperer, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }));
    EXPECT_EQ(messages.size(), 1);
    EXPECT_NE(test_support::readFile(resultPath).find("<Libelle />"), std::string::npos);
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 4U); // two presses, each from the retrieval document on
    EXPECT_EQ(requests[0].path, "/recuperation");
    EXPECT_EQ(requests[2].path, "/recuperation");
}

TEST_F(DialogGatewayTest, RecupererWithoutAddressAfterAFailedLogInIsToldNotFetched)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"status": 404}]})");
    writeConfig(config("1", "vestiora"));
    start();
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QTest::mouseClick(child<QPushButton>("btnDevisRecuperer"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return messages.size() == 2; }));
    EXPECT_EQ(messages[1], QStringLiteral("Aucune adresse à interroger : l'adresse reçue est vide."));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(std::filesystem::exists(resultPath));
}

} // namespace
