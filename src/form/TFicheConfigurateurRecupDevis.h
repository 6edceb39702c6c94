#pragma once

#include "form/FicheView.h"
#include "gateway/http_client.h"
#include "host/module_config.h"
#include "host/proxy_settings.h"
#include "platform/module_error.h"
#include "valmora_config.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Where the form finds the gateway: the built-in host and limits, unless a build variant
// or a test aims it elsewhere.
struct GatewayEndpoint {
    std::string host = valmora::GatewayHost;
    gateway::HttpLimits documentLimits = gateway::documentClientLimits(); // IdHTTP1: token, retrieval document
    gateway::HttpLimits quoteLimits = gateway::quoteClientLimits();       // IdHTTP2: the quote
};

namespace form {

// What runs while the window waits, for the instruction line.
enum class Step { Jeton, Document, Devis, Enregistrement };

// The instruction line during a step: what is happening and, once bytes arrive, how many
// ("Récupération du devis : 12,4 Mo sur 29,2 Mo"; the total only when it is known).
[[nodiscard]] std::string progressText(Step step, std::int64_t received, std::int64_t expected);

} // namespace form

// The retrieval form without a toolkit: it owns every value of the run and drives the
// exchange from the window's events, through a form::FicheView.
class TFicheConfigurateurRecupDevis {
public:
    explicit TFicheConfigurateurRecupDevis(form::FicheView &view, GatewayEndpoint endpoint = {});
    TFicheConfigurateurRecupDevis(const TFicheConfigurateurRecupDevis &) = delete;
    TFicheConfigurateurRecupDevis &operator=(const TFicheConfigurateurRecupDevis &) = delete;

    void setFichierTemp(const std::string &path) { FichierTemp = path; }
    [[nodiscard]] const std::string &getFichierTemp() const { return FichierTemp; }
    void setFichierConfig(const std::string &path) { FichierConfig = path; }
    [[nodiscard]] const std::string &getFichierConfig() const { return FichierConfig; }

    // The window's events. The activation sequence runs once per run, however often the
    // window is activated.
    void FormActivate();
    void btnDevisRecupererClick();
    void btnAnnulerRecuperationClick();
    // The user came back to the window (it was activated, or the pointer came in): the
    // click may be near, so the connection its first request needs is opened now. Nothing
    // is sent before the click. Cheap enough to call on every pointer move.
    void userReturned();
    // The close box: true when the window may close now. During a request it cancels the
    // request instead, and the window closes once the request has stopped.
    [[nodiscard]] bool closeRequested();

    // State read by tests.
    [[nodiscard]] const host::ModuleConfig &configuration() const { return Config; }
    [[nodiscard]] const host::ProxySettings &proxySettings() const { return Proxy; }
    [[nodiscard]] const std::string &jeton() const { return Jeton; }
    [[nodiscard]] const std::string &urlConnexion() const { return UrlConnexion; }
    [[nodiscard]] const std::string &urlRecuperation() const { return UrlRecuperation; }
    [[nodiscard]] bool requestRunning() const { return running_; }

private:
    bool LireFichierConfig(const std::string &path);
    void LireFichierProxy();
    void AppliquerProxy(gateway::HttpClient &client) const;
    int GetJetonEtUrls();
    [[nodiscard]] UserMessage GetJetonEtUrlsErreurs() const;
    void showConfigurateurBranding();
    void openConfigurateurPage();
    void retrieve();

    // Runs an event handler: what escapes it is shown; a cancelled request closes.
    void handleEvent(const std::function<void()> &handler);
    // The one place every message passes before it is shown: the secrets are masked in
    // what came from outside.
    void showMessage(const UserMessage &message);
    // Writes an event to the support log through the same masking.
    void note(const UserMessage &event) const;
    // Runs one step on a worker thread while the window stays alive; throws what the
    // step threw, or gateway::RequestCancelled when the user cancelled meanwhile.
    void runStep(form::Step step, const std::function<void()> &work);
    std::string fetch(form::Step step, gateway::HttpClient &client, const std::string &url);

    form::FicheView &view_;
    GatewayEndpoint Endpoint;
    gateway::ConnectionPool Pool; // the two clients' connections; before them, since they use it
    gateway::HttpClient IdHTTP1;
    gateway::HttpClient IdHTTP2;

    std::string FichierConfig;
    std::string FichierTemp;
    host::ModuleConfig Config;
    host::ProxySettings Proxy;
    std::string Jeton;
    std::string UrlConnexion;
    std::string UrlRecuperation;
    std::vector<std::string> Erreurs;
    std::string gatewayWords_; // the gateway's own words quoted in Erreurs

    bool activated_ = false;
    bool running_ = false; // a step runs on the worker
    gateway::TransferState transfer_;
};
