#include "gateway/http_client.h"
#include "gateway/quote_retrieval.h"
#include "gateway/token_request.h"

#include "gateway_harness.h"
#include "module_error.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

using gateway::HttpClient;

class RetrievalExchangeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }

    // Logs in with `document` as the module does, and returns the token reply.
    gateway::TokenReply logIn()
    {
        settings::ModuleConfig config;
        config.Identifiant = "jeanne@exemple.fr";
        config.MotDePasse = "secret";
        config.Configurateur = "vestiora";
        return gateway::parseTokenReply(document.Get(gateway::tokenUrl(gateway.host(), config)));
    }

    gateway::LigneDevis retrieve(const std::string &urlRecuperation)
    {
        return gateway::retrieveQuote({document, quote, [this](HttpClient &client) { proxied.push_back(&client); }},
                                      gateway.host(), urlRecuperation, dir.file("retour.xml"));
    }

    test_support::StandinGateway gateway;
    test_support::TempDir dir;
    HttpClient document;
    HttpClient quote;
    std::vector<HttpClient *> proxied;
};

TEST_F(RetrievalExchangeTest, PricedLineIsRetrievedWithTheRightClientsAndHeaders)
{
    const gateway::TokenReply token = logIn();
    HttpClient browser; // the user's browser prices the line
    static_cast<void>(browser.Get(gateway.url("/chiffrer?jeton=" + token.Jeton
                                              + "&modele=meuble-haut-60&finition=chene-clair&quantite=2")));
    const gateway::LigneDevis line = retrieve(token.UrlRecuperation);

    EXPECT_EQ(line.Libelle, "Meuble haut 60 cm");
    EXPECT_EQ(line.Detail, "Façade chêne clair");
    EXPECT_EQ(line.EcoTaxe, "3.50");
    EXPECT_EQ(line.PrixUnitaire, "225.00");
    EXPECT_EQ(line.Quantite, "2");
    EXPECT_EQ(line.PrixTotal, "450.00");
    EXPECT_EQ(line.Image, dir.file("P-1042.bmp"));
    EXPECT_TRUE(std::filesystem::exists(line.Image));
    EXPECT_NE(test_support::readFile(dir.file("retour.xml")).find("<Project>P-1042</Project>"), std::string::npos);
    EXPECT_EQ(proxied, (std::vector<HttpClient *>{&document, &quote}));

    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(requests[2].path, "/recuperation");
    EXPECT_EQ(requests[2].header("Cookie"), "VALMORA_SESSION=" + token.Jeton); // from the token reply
    EXPECT_EQ(requests[3].path, "/index.php/Services/recuperation_valmora");
    EXPECT_EQ(requests[3].query, "projet=P-1042");
    EXPECT_EQ(requests[3].header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_FALSE(requests[3].hasHeader("Cookie"));
}

TEST_F(RetrievalExchangeTest, EmptyProjectMakesOneRequestAndAnEmptyLine)
{
    gateway.script(R"({"/recuperation": [{"body": "<Configurateur><Jeton>T</Jeton><Project></Project></Configurateur>"}]})");
    const gateway::LigneDevis line = retrieve(gateway.url("/recuperation?jeton=T"));
    EXPECT_EQ(line.Libelle, "");
    EXPECT_EQ(line.Image, "");
    EXPECT_EQ(gateway.requests().size(), 1U);
    EXPECT_EQ(proxied.size(), 1U);
    EXPECT_NE(test_support::readFile(dir.file("retour.xml")).find("<PrixTotal />"), std::string::npos);
}

TEST_F(RetrievalExchangeTest, FailedQuoteWritesNothingAndASecondTryStartsAgain)
{
    gateway.script(R"({
        "/recuperation": [{"body": "<Configurateur><Project>P-9</Project></Configurateur>"}],
        "/index.php/Services/recuperation_valmora": [{"status": 500},
            {"body": "{\"code\": 200, \"returnedObject\": {\"libelle\": \"Colonne\"}}"}]})");
    try {
        static_cast<void>(retrieve(gateway.url("/recuperation")));
        FAIL() << "the 500 was not reported";
    } catch (const ModuleError &e) {
        EXPECT_STREQ(e.what(), "Le serveur 127.0.0.1 a répondu : HTTP/1.1 500 Internal Server Error");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
    EXPECT_EQ(retrieve(gateway.url("/recuperation")).Libelle, "Colonne");
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(requests[2].path, "/recuperation");
}

} // namespace
