#include "gateway/token_request.h"

#include "gateway/query.h"
#include "gateway/secret_masking.h"
#include "platform/module_error.h"

#include <gtest/gtest.h>

namespace {

host::ModuleConfig credentials(const std::string &devisId)
{
    host::ModuleConfig c;
    c.Version = "1";
    c.Configurateur = "vestiora";
    c.Identifiant = "jeanne.morel@exemple.fr";
    c.MotDePasse = "secret";
    c.DevisId = devisId;
    return c;
}

TEST(TokenUrlTest, CarriesThreeParametersInOrderAndTheQuoteIdLastWhenSet)
{
    const std::string base = "https://passerelle.valmora.fr/index.php/Services/jeton"
                             "?email=jeanne.morel@exemple.fr&mdp=secret&passerelle=vestiora";
    EXPECT_EQ(gateway::tokenUrl("passerelle.valmora.fr", credentials("")), base);
    EXPECT_EQ(gateway::tokenUrl("passerelle.valmora.fr", credentials("D-2024-17")), base + "&jeton=D-2024-17");
    EXPECT_EQ(gateway::tokenUrl("passerelle.valmora.fr", credentials("  ")), base + "&jeton=%20%20");
}

TEST(TokenUrlTest, EmptyValuesAreSentAsEmptyParameters)
{
    EXPECT_EQ(gateway::tokenUrl("h", host::ModuleConfig{}),
              "https://h/index.php/Services/jeton?email=&mdp=&passerelle=");
}

TEST(QueryValueTest, EncodesOnlyWhatWouldChangeTheAddress)
{
    const std::pair<const char *, const char *> cases[] = {
        {"jeanne.morel@exemple.fr", "jeanne.morel@exemple.fr"},
        {"a&b", "a%26b"},
        {"a+b c", "a%2Bb%20c"},
        {"x=y#z%?", "x%3Dy%23z%25%3F"},
        {"été", "%C3%A9t%C3%A9"},
        {"tab\there\x7F", "tab%09here%7F"},
        {"P-1042_(a)/b:c;d,e!*'~", "P-1042_(a)/b:c;d,e!*'~"},
    };
    for (const auto &[value, encoded] : cases)
        EXPECT_EQ(gateway::encodeQueryValue(value), encoded) << value;
}

TEST(TokenReplyTest, ReadsTheThreeValuesInAnyOrderIgnoringExtras)
{
    const char *replies[] = {
        "<Configurateur><Jeton>T1</Jeton><UrlConnexion>https://c/x?a=1&amp;b=2</UrlConnexion>"
        "<UrlRecuperation>https://r/y</UrlRecuperation></Configurateur>",
        "<?xml version=\"1.0\"?><Configurateur version=\"2\"><Autre>z</Autre>"
        "<UrlRecuperation>https://r/y</UrlRecuperation><Jeton attr=\"1\">T1</Jeton>"
        "<UrlConnexion>https://c/x?a=1&amp;b=2</UrlConnexion><Jeton>T2</Jeton></Configurateur>",
        // A pretty-printing writer: each address on a line of its own.
        "<?xml version=\"1.0\"?>\n<Configurateur>\n  <Jeton>T1</Jeton>\n  <UrlConnexion>\n    "
        "https://c/x?a=1&amp;b=2\n  </UrlConnexion>\n  <UrlRecuperation>\t https://r/y\r\n</UrlRecuperation>\n"
        "</Configurateur>\n",
    };
    for (const char *xml : replies) {
        const gateway::TokenReply reply = gateway::parseTokenReply(xml);
        EXPECT_TRUE(reply.hasConfigurateur);
        EXPECT_EQ(reply.Jeton, "T1");
        EXPECT_EQ(reply.UrlConnexion, "https://c/x?a=1&b=2");
        EXPECT_EQ(reply.UrlRecuperation, "https://r/y");
        EXPECT_TRUE(gateway::tokenReplyProblems(reply).empty());
    }
}

TEST(TokenReplyTest, InstructionsNamedLikeElementsAreNotElements)
{
    const gateway::TokenReply reply = gateway::parseTokenReply(
        "<?Configurateur x?><Configurateur><?Jeton y?><Jeton>T</Jeton><UrlConnexion>https://c</UrlConnexion>"
        "</Configurateur>");
    EXPECT_TRUE(reply.hasConfigurateur);
    EXPECT_EQ(reply.Jeton, "T");
}

TEST(TokenReplyTest, TextIsKeptUntrimmedAndMissingChildIsEmpty)
{
    const gateway::TokenReply reply =
        gateway::parseTokenReply("<Configurateur><Jeton> T </Jeton><UrlConnexion>https://c</UrlConnexion>"
                                 "<jeton>minuscule</jeton></Configurateur>");
    EXPECT_EQ(reply.Jeton, " T ");
    EXPECT_EQ(reply.UrlRecuperation, "");
}

TEST(TokenReplyTest, ReplyWithoutConfigurateurIsReportedWithTheGatewayWords)
{
    const gateway::TokenReply reply =
        gateway::parseTokenReply("<Erreur>\n  Mot de passe secret refusé pour <b>jeanne</b>  \n</Erreur>");
    EXPECT_FALSE(reply.hasConfigurateur);
    EXPECT_EQ(gateway::tokenReplyProblems(reply),
              (std::vector<std::string>{"La passerelle n'a pas renvoyé de réponse Configurateur.",
                                        "Message de la passerelle : Mot de passe secret refusé pour jeanne"}));
}

TEST(TokenReplyTest, EmptyConnectionAddressIsReportedAndGatewayTextIsCut)
{
    const std::string longText(400, 'x');
    const gateway::TokenReply reply = gateway::parseTokenReply(
        "<Configurateur><Jeton>T</Jeton><UrlConnexion></UrlConnexion>" + longText + "</Configurateur>");
    const auto problems = gateway::tokenReplyProblems(reply);
    ASSERT_EQ(problems.size(), 2U);
    EXPECT_EQ(problems[0], "La passerelle n'a pas renvoyé l'adresse du configurateur (UrlConnexion).");
    EXPECT_EQ(problems[1], "Message de la passerelle : T" + std::string(299, 'x'));
}

TEST(TokenReplyTest, DeeplyNestedReplyIsRefusedWithoutExhaustingTheStack)
{
    std::string reply = "<Erreur>";
    for (int i = 0; i < 200000; ++i)
        reply += "<a>";
    for (int i = 0; i < 200000; ++i)
        reply += "</a>";
    reply += "</Erreur>";
    EXPECT_THROW(static_cast<void>(gateway::parseTokenReply(reply)), ModuleError);
    EXPECT_EQ(gateway::parseTokenReply("<Erreur><a><b>profond</b></a></Erreur>").gatewayText, "profond");
}

TEST(TokenReplyTest, ReplyThatIsNotXmlThrows)
{
    for (const char *text : {"", "<html><body>Erreur</body>", "pas du XML", "<Configurateur><Jeton>", "<a/><b/>",
                             "<?pi x?><?xml version='1.0'?><a/>", "<!DOCTYPE a><!DOCTYPE b><a/>", "<a/><!DOCTYPE a>",
                             "<!-- rien -->"}) {
        try {
            static_cast<void>(gateway::parseTokenReply(text));
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ModuleError &e) {
            EXPECT_EQ(std::string(e.what()).rfind("Réponse de la passerelle illisible : ce n'est pas un document XML", 0), 0U)
                << e.what();
        }
    }
}

// A secret of 4 characters or more wherever it stands; a shorter one only as the value
// of mdp=, so that "1" or "2" leave a status line or a version readable.
TEST(HideSecretTest, MasksEveryOccurrenceOfALongSecretAndAShortOneOnlyAsAValue)
{
    struct Case {
        const char *text;
        const char *secret;
        const char *hidden;
    };
    for (const Case &c : {
             Case{"a pw24 b pw24pw24", "pw24", "a **** b ********"},
             Case{"rien", "", "rien"},
             Case{"HTTP/1.1 404 Not Found", "1", "HTTP/1.1 404 Not Found"},
             Case{"Refusé : 2024, mdp=2024", "2024", "Refusé : ****, mdp=****"},
             Case{"https://h/jeton?email=a&mdp=1&passerelle=vestiora", "1",
                  "https://h/jeton?email=a&mdp=****&passerelle=vestiora"},
             Case{"MDP=1 et mdp=12 et mdp=1", "1", "MDP=**** et mdp=12 et mdp=****"},
             Case{"mdp=%C3%A9+x", "é x", "mdp=****"},
             Case{"mdp=", "1", "mdp="},
         })
        EXPECT_EQ(gateway::hideSecret(c.text, c.secret), c.hidden) << c.text;
}

// The module's own words stay as they are, even where they hold the secret's characters.
TEST(HideSecretTest, MasksOnlyWhatCameFromOutside)
{
    const UserMessage message("Votre Configurateur vestiora a reçu : HTTP/1.1 403 Refus de VESTIORA",
                              {"HTTP/1.1 403 Refus de VESTIORA", ""});
    EXPECT_EQ(gateway::maskSecrets(message, {"vestiora", ""}),
              "Votre Configurateur vestiora a reçu : HTTP/1.1 403 Refus de ****");
    EXPECT_EQ(gateway::maskSecrets({"Version 1 au lieu de 2"}, {"1"}), "Version 1 au lieu de 2");
}

// Every form a server may echo: as typed in any case, percent-encoded with hex in either
// case, '+' for a space; in a status line, the gateway's text or an address.
TEST(HideSecretTest, MasksThePasswordInEveryFormAServerEchoes)
{
    const std::string password = "S3cret&Mot Été";
    for (const char *echo : {"HTTP/1.1 403 Mot de passe refusé : S3cret&Mot Été", "mdp=S3cret%26Mot%20%C3%89t%C3%A9",
                             "mdp=S3cret%26Mot+%C3%89t%C3%A9", "mdp=S3cret%26Mot%20%c3%89t%c3%a9",
                             "MOT DE PASSE S3CRET&MOT ÉTÉ INCONNU", "s3cret&mot été", "mdp=s3cret%26mot+%c3%89t%c3%a9"}) {
        const std::string hidden = gateway::hideSecret(echo, password);
        EXPECT_NE(hidden.find("****"), std::string::npos) << echo;
        EXPECT_EQ(gateway::hideSecret(hidden, "S3cret"), hidden) << echo << " -> " << hidden;
        EXPECT_EQ(gateway::hideSecret(hidden, "t%C3%A9"), hidden) << echo << " -> " << hidden;
    }
    EXPECT_EQ(gateway::hideSecret("Réponse : ÉTÉS", "étés"), "Réponse : ****");
}

} // namespace
