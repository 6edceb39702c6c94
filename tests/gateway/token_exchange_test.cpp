#include "gateway/http_client.h"
#include "gateway/token_request.h"

#include "support/gateway_harness.h"

#include <gtest/gtest.h>

namespace {

using test_support::percentDecode;
using test_support::queryValue;

class TokenExchangeTest : public testing::Test {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }

    test_support::StandinGateway gateway;
};

TEST_F(TokenExchangeTest, ValuesArriveAsTheUserWroteThem)
{
    host::ModuleConfig config;
    config.Identifiant = "jeanne.morel+devis@exemple.fr";
    config.MotDePasse = "a&b+c d#e%f=g?h été";
    config.Configurateur = "duranel";
    config.DevisId = "D 17&x";
    gateway::HttpClient client;
    const gateway::TokenReply reply = gateway::parseTokenReply(client.Get(gateway::tokenUrl(gateway.host(), config)));
    EXPECT_TRUE(reply.hasConfigurateur);
    EXPECT_FALSE(reply.UrlConnexion.empty());

    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].path, "/index.php/Services/jeton");
    const std::string &query = requests[0].query;
    EXPECT_EQ(percentDecode(queryValue(query, "email")), config.Identifiant);
    EXPECT_EQ(percentDecode(queryValue(query, "mdp")), config.MotDePasse);
    EXPECT_EQ(percentDecode(queryValue(query, "passerelle")), config.Configurateur);
    EXPECT_EQ(percentDecode(queryValue(query, "jeton")), config.DevisId);
    // '@' and '.' travel as they are.
    EXPECT_EQ(query.rfind("email=jeanne.morel%2Bdevis@exemple.fr&mdp=", 0), 0U) << query;
}

} // namespace
