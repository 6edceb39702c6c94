#pragma once

#include "gateway/http_client.h"
#include "settings/module_config.h"
#include "settings/proxy_settings.h"
#include "valmora_config.h"

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
namespace Ui {
class TFicheConfigurateurRecupDevis;
}
QT_END_NAMESPACE

// Where the dialog finds the gateway: the built-in host, unless a test aims it elsewhere.
struct GatewayEndpoint {
    std::string host = valmora::GatewayHost;
    gateway::HttpLimits limits;
};

// The retrieval dialog: the module's only window and the owner of all its state.
class TFicheConfigurateurRecupDevis : public QDialog {
    Q_OBJECT

public:
    explicit TFicheConfigurateurRecupDevis(QWidget *parent = nullptr, GatewayEndpoint endpoint = {});
    ~TFicheConfigurateurRecupDevis() override;

    void setFichierTemp(const std::string &path) { FichierTemp = path; }
    [[nodiscard]] const std::string &getFichierTemp() const { return FichierTemp; }
    void setFichierConfig(const std::string &path) { FichierConfig = path; }
    [[nodiscard]] const std::string &getFichierConfig() const { return FichierConfig; }

    // State read by tests.
    [[nodiscard]] const settings::ModuleConfig &configuration() const { return Config; }
    [[nodiscard]] const settings::ProxySettings &proxySettings() const { return Proxy; }
    [[nodiscard]] const std::string &jeton() const { return Jeton; }
    [[nodiscard]] const std::string &urlConnexion() const { return UrlConnexion; }
    [[nodiscard]] const std::string &urlRecuperation() const { return UrlRecuperation; }

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void scheduleActivation();
    void FormActivate();
    void btnDevisRecupererClick();
    void btnAnnulerRecuperationClick();

    bool LireFichierConfig(const std::string &path);
    void LireFichierProxy();
    void AppliquerProxy(gateway::HttpClient &client) const;
    int GetJetonEtUrls();
    void showConfigurateurBranding();
    void openConfigurateurPage();
    void placeLabels();

    std::unique_ptr<Ui::TFicheConfigurateurRecupDevis> ui;
    GatewayEndpoint Endpoint;
    gateway::HttpClient IdHTTP1;
    gateway::HttpClient IdHTTP2;

    std::string FichierConfig;
    std::string FichierTemp;
    settings::ModuleConfig Config;
    settings::ProxySettings Proxy;
    std::string Jeton;
    std::string UrlConnexion;
    std::string UrlRecuperation;
    std::vector<std::string> Erreurs;
    bool activationScheduled = false;
};

extern TFicheConfigurateurRecupDevis *FicheConfigurateurRecupDevis;
