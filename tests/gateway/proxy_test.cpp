#include "gateway/http_client.h"
#include "host/proxy_settings.h"

#include "support/gateway_harness.h"
#include "platform/module_error.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace {

using test_support::errorOf;

using gateway::HttpClient;
using test_support::RawServer;
using test_support::StandinGateway;
using test_support::TinyProxy;

class ProxyTest : public testing::Test {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }

    void useProxy(HttpClient &client, int port, const std::string &user, const std::string &password, bool basic)
    {
        client.proxyParams().ProxyServer = "127.0.0.1";
        client.proxyParams().ProxyPort = port;
        client.proxyParams().ProxyUsername = user;
        client.proxyParams().ProxyPassword = password;
        client.proxyParams().BasicAuthentication = basic;
    }

    StandinGateway gateway;
};

TEST_F(ProxyTest, RequestReachesTheGatewayThroughTheProxyTunnel)
{
    const TinyProxy proxy("agent", "Pr0xy-Mot.9", 0);
    gateway.script(R"({"/t": [{"body": "par le proxy"}]})");
    // The module's two clients, as the click uses them: one tunnel for both.
    gateway::ConnectionPool pool;
    HttpClient client({}, &pool);
    HttpClient other({}, &pool);
    useProxy(client, proxy.port(), "agent", "Pr0xy-Mot.9", true);
    useProxy(other, proxy.port(), "agent", "Pr0xy-Mot.9", true);
    EXPECT_EQ(client.Get(gateway.url("/t")), "par le proxy");
    EXPECT_EQ(other.Get(gateway.url("/t")), "par le proxy");
    ASSERT_EQ(gateway.requests().size(), 2U);
    EXPECT_EQ(gateway.connections().opened, 1);
    // The proxy's credentials stay with the proxy: the gateway never sees them.
    EXPECT_FALSE(gateway.requests()[0].hasHeader("Proxy-Authorization"));
}

TEST_F(ProxyTest, WrongCredentialsGiveAFrenchErrorWithoutThePassword)
{
    const TinyProxy proxy("agent", "bon", 0);
    HttpClient client;
    useProxy(client, proxy.port(), "agent", "mauvais-secret", true);
    const std::string message = errorOf([&] { static_cast<void>(client.Get(gateway.url("/t"))); });
    EXPECT_EQ(message.rfind("Le proxy 127.0.0.1 refuse l'accès : identifiants refusés ou absents (réponse 40", 0), 0U)
        << message;
    EXPECT_EQ(message.find("mauvais-secret"), std::string::npos);
    EXPECT_TRUE(gateway.requests().empty());
}

TEST_F(ProxyTest, RefusedTunnelIsReported)
{
    const TinyProxy proxy("agent", "bon", 443); // tunnels only to port 443
    HttpClient client;
    useProxy(client, proxy.port(), "agent", "bon", true);
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get(gateway.url("/t"))); }),
              "Le proxy 127.0.0.1 a refusé la connexion (réponse 403).");
}

TEST_F(ProxyTest, BasicCredentialsGoWithTheFirstRequestOnlyWhenAsked)
{
    for (const bool basic : {true, false}) {
        const RawServer recorder("reply", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
        HttpClient client;
        useProxy(client, recorder.port(), "agent", "secret", basic);
        static_cast<void>(errorOf([&] { static_cast<void>(client.Get("https://passerelle.valmora.fr/x")); }));
        const std::string head = recorder.firstRequest();
        EXPECT_EQ(head.rfind("CONNECT passerelle.valmora.fr:443 HTTP/1.1\r\n", 0), 0U) << head;
        // base64("agent:secret")
        EXPECT_EQ(head.find("Proxy-Authorization: Basic YWdlbnQ6c2VjcmV0\r\n") != std::string::npos, basic) << head;
    }
}

TEST_F(ProxyTest, PortAbove65535IsRefusedWithAMessage)
{
    HttpClient client;
    useProxy(client, 70000, "", "", false);
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get(gateway.url("/t"))); }), "Port du proxy invalide : 70000.");
}

TEST_F(ProxyTest, UnknownProxyHostIsReported)
{
    HttpClient client;
    client.proxyParams().ProxyServer = "proxy-inexistant.invalid";
    client.proxyParams().ProxyPort = 3128;
    EXPECT_EQ(errorOf([&] { static_cast<void>(client.Get(gateway.url("/t"))); }),
              "Proxy proxy-inexistant.invalid introuvable : le nom d'hôte est inconnu.");
}

TEST_F(ProxyTest, ProxyFromTheEnvironmentIsIgnored)
{
    ::setenv("https_proxy", "http://127.0.0.1:1", 1);
    ::setenv("HTTPS_PROXY", "http://127.0.0.1:1", 1);
    ::setenv("ALL_PROXY", "http://127.0.0.1:1", 1);
    gateway.script(R"({"/t": [{"body": "direct"}]})");
    HttpClient client;
    EXPECT_EQ(client.Get(gateway.url("/t")), "direct");
    ::unsetenv("https_proxy");
    ::unsetenv("HTTPS_PROXY");
    ::unsetenv("ALL_PROXY");
}

} // namespace
