#pragma once

#include "form/TFicheConfigurateurRecupDevis.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

// The Python stand-in gateway, a bare TCP server and tinyproxy, each started by a test
// on 127.0.0.1 and stopped with it.
namespace test_support {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string query;
    std::vector<std::pair<std::string, std::string>> headers;
    int connection = 0; // which of the stand-in's connections it came on, from 1

    // The value of a header (name without regard to case), empty when absent.
    [[nodiscard]] std::string header(const std::string &name) const;
    [[nodiscard]] bool hasHeader(const std::string &name) const;
};

// Percent-decoding of one query value, '+' kept as is.
[[nodiscard]] std::string percentDecode(const std::string &text);
// The raw value of `key` in a query string.
[[nodiscard]] std::string queryValue(const std::string &query, const std::string &key);

// Folder of the test certificates (made by make_certs.sh when missing).
[[nodiscard]] std::string certificateDir();
// Points the HTTP clients at the test CA; call before creating a client.
void trustTestAuthority();

class StandinGateway {
public:
    // `certificate`: "gateway" (trusted), "otherhost" or "selfsigned". With
    // `handshakeTimeout` (seconds), a connection that starts no TLS handshake in that time
    // is closed.
    explicit StandinGateway(const std::string &certificate = "gateway", bool httpPage = false,
                            double handshakeTimeout = 0);
    ~StandinGateway();
    StandinGateway(const StandinGateway &) = delete;
    StandinGateway &operator=(const StandinGateway &) = delete;

    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    [[nodiscard]] std::string url(const std::string &pathAndQuery) const { return "https://" + host() + pathAndQuery; }

    // Replaces the replies of some paths: {"/path": [{reply}, ...], ...} as JSON text.
    void script(const std::string &routesJson) const;
    [[nodiscard]] std::vector<RecordedRequest> requests() const;
    // The connections accepted since the last script, and how many of them made a full
    // TLS handshake (not a resumed session).
    struct Connections {
        int opened = 0;
        int fullHandshakes = 0;
    };
    [[nodiscard]] Connections connections() const;

private:
    [[nodiscard]] std::string control(const std::string &method, const std::string &path,
                                      const std::string &body = {}) const;

    int pid_ = -1;
    int stdinFd_ = -1;
    int port_ = 0;
    int controlPort_ = 0;
};

// A TCP server that accepts connections and then either never answers ("silent"),
// hangs up at once ("close"), or reads one request head and sends `reply` ("reply").
class RawServer {
public:
    RawServer(std::string mode, std::string reply = {});
    ~RawServer();
    RawServer(const RawServer &) = delete;
    RawServer &operator=(const RawServer &) = delete;

    [[nodiscard]] int port() const { return port_; }
    // The request head received first, once one has arrived.
    [[nodiscard]] std::string firstRequest() const;

private:
    struct State;
    State *state_;
    int port_ = 0;
};

// tinyproxy on 127.0.0.1 with Basic authentication.
class TinyProxy {
public:
    TinyProxy(const std::string &user, const std::string &password, int onlyConnectPort = 0);
    ~TinyProxy();
    TinyProxy(const TinyProxy &) = delete;
    TinyProxy &operator=(const TinyProxy &) = delete;

    [[nodiscard]] int port() const { return port_; }

private:
    std::string folder_;
    int pid_ = -1;
    int port_ = 0;
};

// Where a form finds the stand-in, with 2-second connect and stall limits.
inline GatewayEndpoint endpointFor(const StandinGateway &standin)
{
    GatewayEndpoint endpoint;
    endpoint.host = standin.host();
    for (gateway::HttpLimits *limits : {&endpoint.documentLimits, &endpoint.quoteLimits}) {
        limits->connectTimeout = std::chrono::milliseconds(2000);
        limits->stallTimeout = std::chrono::seconds(2);
    }
    return endpoint;
}

// A free TCP port on 127.0.0.1 nobody listens on.
[[nodiscard]] int unusedPort();

} // namespace test_support
