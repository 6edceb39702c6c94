#include "gateway/http_client.h"

#include "support/gateway_harness.h"
#include "platform/module_error.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using test_support::errorOf;

using gateway::HttpClient;
using gateway::HttpLimits;
using test_support::StandinGateway;

constexpr const char *kSecretQuery = "/index.php/Services/jeton?email=a@b.fr&mdp=Secr3t-Mot&passerelle=vestiora";

HttpLimits shortLimits()
{
    HttpLimits limits;
    limits.connectTimeout = std::chrono::milliseconds(1500);
    limits.stallTimeout = std::chrono::seconds(1);
    limits.overallTimeout = std::chrono::seconds(3);
    return limits;
}

class HttpClientTest : public testing::Test {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }

    StandinGateway gateway;
};

TEST_F(HttpClientTest, SendsTheClientHeadersAndNoCredentials)
{
    gateway.script(R"({"/p": [{"body": "ok"}]})");
    HttpClient client;
    EXPECT_EQ(client.Get(gateway.url("/p?x=1")), "ok");
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "x=1");
    EXPECT_EQ(requests[0].header("Accept"), "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
    EXPECT_EQ(requests[0].header("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(requests[0].header("Accept-Encoding"), "gzip, deflate"); // what both builds decode
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    EXPECT_FALSE(requests[0].hasHeader("Content-Type"));
    EXPECT_FALSE(requests[0].hasHeader("Range"));
}

TEST_F(HttpClientTest, SendsContentTypeWithCharsetWhenSet)
{
    gateway.script(R"({"/q": [{"body": "{}"}]})");
    HttpClient client;
    client.request().ContentType = "application/json";
    client.request().CharSet = "utf-8";
    static_cast<void>(client.Get(gateway.url("/q")));
    EXPECT_EQ(gateway.requests().at(0).header("Content-Type"), "application/json; charset=utf-8");
}

TEST_F(HttpClientTest, FollowsRedirectAndKeepsCookieForThisClientOnly)
{
    gateway.script(R"({
        "/login": [{"status": 302, "headers": [["Location", "/suite"], ["Set-Cookie", "SID=abc; Path=/"]]}],
        "/suite": [{"body": "arrivé"}],
        "/other": [{"body": "x"}]})");
    // The module's two clients: one pool of connections, each its own cookies.
    gateway::ConnectionPool pool;
    HttpClient first({}, &pool);
    HttpClient second({}, &pool);
    EXPECT_EQ(first.Get(gateway.url("/login")), "arrivé");
    static_cast<void>(first.Get(gateway.url("/other")));
    static_cast<void>(second.Get(gateway.url("/other")));
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(requests[1].path, "/suite");
    EXPECT_EQ(requests[1].header("Cookie"), "SID=abc");
    EXPECT_EQ(requests[2].header("Cookie"), "SID=abc");
    EXPECT_FALSE(requests[3].hasHeader("Cookie"));
    EXPECT_EQ(gateway.connections().opened, 1);
    EXPECT_EQ(requests[3].connection, requests[0].connection);
}

TEST_F(HttpClientTest, DecodesBodiesAsTheirCharsetSays)
{
    gateway.script(R"({
        "/latin1": [{"body": "Façade €", "encoding": "cp1252", "headers": [["Content-Type", "text/xml; charset=ISO-8859-1"]]}],
        "/bare": [{"body": "chêne", "encoding": "cp1252"}],
        "/utf8": [{"body": "chêne", "headers": [["Content-Type", "application/json; charset=\"UTF-8\""]]}],
        "/latin9": [{"body": "Façade 12 €", "encoding": "iso-8859-15", "headers": [["Content-Type", "text/xml; charset=ISO-8859-15"]]}],
        "/cp1250": [{"body": "Łódź", "encoding": "cp1250", "headers": [["Content-Type", "text/xml; charset=windows-1250"]]}],
        "/utf16": [{"body": "<a>12 €</a>", "encoding": "utf-16", "headers": [["Content-Type", "application/xml; charset=UTF-16"]]}],
        "/utf16be": [{"body": "<a>12 €</a>", "encoding": "utf-16-be", "headers": [["Content-Type", "text/xml; charset=utf-16be"]]}],
        "/declared": [{"body": "<?xml version='1.0' encoding='ISO-8859-15'?><a>12 €</a>", "encoding": "iso-8859-15"}],
        "/unknown": [{"body": "chêne", "headers": [["Content-Type", "text/xml; charset=x-inconnu"]]}],
        "/gzip": [{"body": "Façade chêne", "gzip": true, "headers": [["Content-Type", "text/xml; charset=utf-8"]]}]})");
    HttpClient client;
    EXPECT_EQ(client.Get(gateway.url("/latin1")), "Façade €");
    EXPECT_EQ(client.Get(gateway.url("/bare")), "chêne");
    EXPECT_EQ(client.Get(gateway.url("/utf8")), "chêne");
    EXPECT_EQ(client.Get(gateway.url("/latin9")), "Façade 12 €");
    EXPECT_EQ(client.Get(gateway.url("/cp1250")), "Łódź");
    EXPECT_EQ(client.Get(gateway.url("/utf16")), "<a>12 €</a>");
    EXPECT_EQ(client.Get(gateway.url("/utf16be")), "<a>12 €</a>");
    EXPECT_EQ(client.Get(gateway.url("/declared")), "<?xml version='1.0' encoding='ISO-8859-15'?><a>12 €</a>");
    EXPECT_EQ(client.Get(gateway.url("/unknown")), "chêne"); // read as before: UTF-8 when it is
    EXPECT_EQ(client.Get(gateway.url("/gzip")), "Façade chêne");
}

struct StatusCase {
    int status;
    const char *line;
};

class HttpStatusTest : public HttpClientTest, public testing::WithParamInterface<StatusCase> {};

TEST_P(HttpStatusTest, ErrorStatusThrowsWithStatusLineAndNoQuery)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"status": )" + std::to_string(GetParam().status) + "}]}");
    HttpClient client;
    const std::string message = errorOf([&] { static_cast<void>(client.Get(gateway.url(kSecretQuery))); });
    EXPECT_EQ(message, "Le serveur 127.0.0.1 a répondu : " + std::string(GetParam().line));
    EXPECT_EQ(message.find("Secr3t"), std::string::npos);
    EXPECT_EQ(message.find("email"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Statuses, HttpStatusTest,
                         testing::Values(StatusCase{404, "HTTP/1.1 404 Not Found"},
                                         StatusCase{500, "HTTP/1.1 500 Internal Server Error"},
                                         StatusCase{400, "HTTP/1.1 400 Bad Request"}));

struct FailureCase {
    const char *name;
    std::string script; // replies of "/f"
    const char *fragment;
};

class HttpFailureTest : public HttpClientTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(HttpFailureTest, FailsWithAFrenchMessage)
{
    gateway.script(std::string(R"({"/f": )") + GetParam().script
                   + R"(, "/loop": [{"status": 302, "headers": [["Location", "/loop"]]}]})");
    HttpLimits limits = shortLimits();
    limits.maxBodyBytes = 1 << 20;
    HttpClient client(limits);
    const std::string message = errorOf([&] { static_cast<void>(client.Get(gateway.url("/f?mdp=Secr3t-Mot"))); });
    EXPECT_NE(message.find(GetParam().fragment), std::string::npos) << message;
    EXPECT_EQ(message.find("Secr3t"), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HttpFailureTest,
    testing::Values(
        FailureCase{"RedirectLoop", R"([{"status": 302, "headers": [["Location", "/loop"]]}])",
                    "Trop de redirections depuis le serveur 127.0.0.1"},
        FailureCase{"RedirectToFile", R"([{"status": 302, "headers": [["Location", "file:///etc/passwd"]]}])",
                    "ni http ni https"},
        FailureCase{"BodyCutShort", R"([{"body": "court", "content_length": 5000}])",
                    "Réponse incomplète du serveur 127.0.0.1"},
        FailureCase{"DeclaredTooLarge", R"([{"body": "", "content_length": 300000000}])",
                    "trop volumineuse (plus de 1 Mio)"},
        FailureCase{"StreamedTooLarge", R"([{"stream": 3000000}])", "trop volumineuse (plus de 1 Mio)"},
        FailureCase{"Stall", R"([{"hang": 5}])", "Le serveur 127.0.0.1 ne répond plus : aucune donnée reçue depuis 1 s."},
        // A burst does not hide the silence after it: the rule is "no byte for 1 s", not an average.
        FailureCase{"BurstThenSilence", R"([{"body": "<Configurateur>......</Configurateur>", "drip": {"size": 20, "every": 2.5}}])",
                    "Le serveur 127.0.0.1 ne répond plus : aucune donnée reçue depuis 1 s."},
        // A byte every 0.6 s never stalls; the overall limit ends it, and says so.
        FailureCase{"Drip", R"([{"body": "<Configurateur/>", "drip": {"size": 1, "every": 0.6}}])",
                    "Le serveur 127.0.0.1 n'a pas envoyé sa réponse complète en 3 s."},
        FailureCase{"ClosedWithoutReply", R"([{"close": true}])", "Le serveur 127.0.0.1 a fermé la connexion sans répondre."},
        FailureCase{"ResetByTheServer", R"([{"reset": true}])",
                    "Échec de la communication avec le serveur 127.0.0.1 : connexion interrompue par le serveur."},
        // The limit counts the decoded bytes, as they arrive: 1.5 KB on the wire, 64 MiB inflated.
        FailureCase{"InflatesPastTheLimit", R"([{"gzip_zeros": 67108864}])", "trop volumineuse (plus de 1 Mio)"},
        FailureCase{"CorruptCompressedBody",
                    R"([{"body": "pas du gzip", "headers": [["Content-Encoding", "gzip"]]}])",
                    "Réponse du serveur 127.0.0.1 illisible : les données compressées sont abîmées."},
        FailureCase{"EncodingNotOffered", R"([{"body": "x", "headers": [["Content-Encoding", "br"]]}])",
                    "Réponse du serveur 127.0.0.1 illisible : compression « br » non demandée."},
        FailureCase{"HeaderOver100KB", R"([{"body": "x", "headers": [["X-Long", ")" + std::string(150'000, 'a') + R"("]]}])",
                    "Réponse du serveur 127.0.0.1 invalide : en-têtes trop longs."}),
    [](const testing::TestParamInfo<FailureCase> &param) { return std::string(param.param.name); });

TEST(HttpClientAddressTest, RefusesAddressesThatAreNotWebAddresses)
{
    HttpClient client;
    for (const char *url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "C:\\Programmes\\outil.exe", "javascript:alert(1)"}) {
        EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get(url)); }),
                  "Adresse refusée : seules les adresses http et https sont acceptées.")
            << url;
    }
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get("")); }),
              "Aucune adresse à interroger : l'adresse reçue est vide.");
    for (const char *url : {"https://passerelle.valmora.fr/r?nom=Jean Dupont", "\n  https://passerelle.valmora.fr/r\n"}) {
        EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get(url)); }),
                  "Adresse refusée : l'adresse reçue est mal formée (espace, caractère de contrôle...).")
            << url;
    }
}

TEST(HttpClientAddressTest, RecognisesWebAddressesAndTheirHost)
{
    EXPECT_TRUE(gateway::isWebAddress("https://passerelle.valmora.fr/x?y=1"));
    EXPECT_TRUE(gateway::isWebAddress("HTTP://exemple.fr"));
    EXPECT_FALSE(gateway::isWebAddress("file:///tmp/x"));
    EXPECT_FALSE(gateway::isWebAddress(""));
    EXPECT_EQ(gateway::hostOf("https://user:pw@passerelle.valmora.fr:8443/a?b=c"), "passerelle.valmora.fr");
}

TEST(HttpClientConnectionTest, RefusedConnectionNamesTheHost)
{
    HttpClient client(shortLimits());
    const int port = test_support::unusedPort();
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get("https://127.0.0.1:" + std::to_string(port) + "/x?mdp=s")); }),
              "Connexion impossible au serveur 127.0.0.1 : connexion refusée ou réseau indisponible.");
}

TEST(HttpClientConnectionTest, UnknownHostNameIsReported)
{
    HttpClient client(shortLimits());
    // ".invalid" never resolves (RFC 6761).
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get("https://hote-inexistant.invalid/x?mdp=s")); }),
              "Serveur hote-inexistant.invalid introuvable : le nom d'hôte est inconnu.");
}

TEST(HttpClientConnectionTest, SilentServerEndsWithConnectTimeout)
{
    const test_support::RawServer silent("silent");
    HttpClient client(shortLimits());
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get("https://127.0.0.1:" + std::to_string(silent.port()) + "/")); }),
              "Le serveur 127.0.0.1 ne répond pas : connexion impossible en 1 s.");
}

TEST(HttpClientConnectionTest, HandshakeCutIsReported)
{
    const test_support::RawServer cut("close");
    HttpClient client(shortLimits());
    const std::string message =
        errorOf([&] { static_cast<void>(client.Get("https://127.0.0.1:" + std::to_string(cut.port()) + "/")); });
    EXPECT_EQ(message, "Connexion sécurisée impossible avec 127.0.0.1 : la négociation TLS a échoué.");
}

struct TrustCase {
    const char *certificate;
    bool accepted;
};

class HttpTrustTest : public testing::TestWithParam<TrustCase> {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }
};

TEST_P(HttpTrustTest, OnlyCertificatesOfTheTrustedAuthorityForThisHostAreAccepted)
{
    const StandinGateway gateway(GetParam().certificate);
    gateway.script(R"({"/t": [{"body": "fiable"}]})");
    HttpClient client;
    if (GetParam().accepted) {
        EXPECT_EQ(client.Get(gateway.url("/t")), "fiable");
        return;
    }
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get(gateway.url("/t?mdp=Secr3t"))); }),
              "Connexion sécurisée refusée avec 127.0.0.1 : le certificat du serveur n'est pas reconnu ou ne "
              "correspond pas à son nom.");
    EXPECT_TRUE(gateway.requests().empty());
}

INSTANTIATE_TEST_SUITE_P(Certificates, HttpTrustTest,
                         testing::Values(TrustCase{"gateway", true}, TrustCase{"selfsigned", false},
                                         TrustCase{"otherhost", false}),
                         [](const testing::TestParamInfo<TrustCase> &param) { return std::string(param.param.certificate); });

} // namespace
