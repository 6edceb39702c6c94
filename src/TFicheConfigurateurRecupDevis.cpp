#include "TFicheConfigurateurRecupDevis.h"
#include "ui_TFicheConfigurateurRecupDevis.h"

#include "ModuleApplication.h"
#include "gateway/quote_retrieval.h"
#include "gateway/token_request.h"
#include "module_error.h"
#include "platform/browser.h"
#include "platform/executable.h"
#include "platform/fonts.h"
#include "platform/message_box.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QPixmap>
#include <QShowEvent>
#include <QTimer>

TFicheConfigurateurRecupDevis *FicheConfigurateurRecupDevis = nullptr;

// The logos live in a static library: their resources must be registered by hand.
static void initLogoResources() { Q_INIT_RESOURCE(logos); }

namespace {

QString fromModuleText(const std::string &text) { return QString::fromStdString(text); }

// The wait cursor, for as long as a request blocks the window.
class BusyCursor {
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace

TFicheConfigurateurRecupDevis::TFicheConfigurateurRecupDevis(QWidget *parent, GatewayEndpoint endpoint)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TFicheConfigurateurRecupDevis>())
    , Endpoint(std::move(endpoint))
    , IdHTTP1(Endpoint.limits)
    , IdHTTP2(Endpoint.limits)
{
    initLogoResources();
    ui->setupUi(this);

    // Fixed dialog frame with a close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(351, 234);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    setFont(platform::dialogFont());
    ui->lblChiffrage->setFont(platform::captionFont());
    ui->lblVersion->setText(QStringLiteral("Version ") + QString::fromUtf8(valmora::VersionModule)
                            + QStringLiteral(".3 du 08/01/2024"));
    placeLabels();
    LireFichierProxy();

    connect(ui->btnDevisRecuperer, &QPushButton::clicked, this,
            [this] { ModuleApplication::runHandler([this] { btnDevisRecupererClick(); }); });
    connect(ui->btnAnnulerRecuperation, &QPushButton::clicked, this,
            [this] { ModuleApplication::runHandler([this] { btnAnnulerRecuperationClick(); }); });
}

TFicheConfigurateurRecupDevis::~TFicheConfigurateurRecupDevis() = default;

// Labels size themselves to their text: the left edge stays, except for the version
// label, whose right edge stays at the button column.
void TFicheConfigurateurRecupDevis::placeLabels()
{
    for (QLabel *label : {ui->lblChiffrage, ui->lblOu}) {
        const QPoint topLeft = label->pos();
        label->adjustSize();
        label->move(topLeft);
    }
    const int right = ui->lblVersion->geometry().right();
    ui->lblVersion->adjustSize();
    ui->lblVersion->move(right - ui->lblVersion->width() + 1, ui->lblVersion->y());
}

void TFicheConfigurateurRecupDevis::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Should no paint come (a hidden or minimised start), the sequence runs anyway.
    QTimer::singleShot(500, this, &TFicheConfigurateurRecupDevis::scheduleActivation);
}

void TFicheConfigurateurRecupDevis::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // The window is drawn before the token request blocks the event loop.
    scheduleActivation();
}

// The activation sequence runs once per run, after the window is on screen.
void TFicheConfigurateurRecupDevis::scheduleActivation()
{
    if (activationScheduled)
        return;
    activationScheduled = true;
    QTimer::singleShot(0, this, [this] { ModuleApplication::runHandler([this] { FormActivate(); }); });
}

void TFicheConfigurateurRecupDevis::keyPressEvent(QKeyEvent *event)
{
    // Escape does nothing: only "Annuler" and the close box close the dialog.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool TFicheConfigurateurRecupDevis::LireFichierConfig(const std::string &path)
{
    const std::optional<settings::ModuleConfig> config = settings::readModuleConfig(path);
    if (!config) {
        platform::showMessage(fromModuleText(settings::missingConfigMessage(path)), this);
        return true;
    }
    Config = *config;
    return false;
}

void TFicheConfigurateurRecupDevis::LireFichierProxy()
{
    Proxy = settings::readProxySettings(settings::proxySettingsPath(platform::executablePath()));
}

void TFicheConfigurateurRecupDevis::AppliquerProxy(gateway::HttpClient &client) const
{
    settings::applyProxySettings(Proxy, client.proxyParams());
}

int TFicheConfigurateurRecupDevis::GetJetonEtUrls()
{
    UrlConnexion.clear();
    UrlRecuperation.clear();
    Erreurs.clear();
    const std::string url = gateway::tokenUrl(Endpoint.host, Config);
    AppliquerProxy(IdHTTP1);
    std::string body;
    {
        const BusyCursor busy;
        body = IdHTTP1.Get(url);
    }
    const gateway::TokenReply reply = gateway::parseTokenReply(body);
    if (reply.hasConfigurateur) {
        Jeton = reply.Jeton;
        UrlConnexion = reply.UrlConnexion;
        UrlRecuperation = reply.UrlRecuperation;
    }
    Erreurs = gateway::tokenReplyProblems(reply, Config.MotDePasse);
    return Erreurs.empty() ? 1 : 0;
}

void TFicheConfigurateurRecupDevis::openConfigurateurPage()
{
    if (!gateway::isWellFormedAddress(UrlConnexion))
        throw ModuleError("Adresse du configurateur refusée : l'adresse reçue de la passerelle est mal formée.");
    if (!gateway::isWebAddress(UrlConnexion))
        throw ModuleError("Adresse du configurateur refusée : seules les adresses http et https sont ouvertes "
                          "dans le navigateur.");
    if (!platform::openInBrowser(UrlConnexion)) {
        platform::showMessage(QStringLiteral("Le navigateur n'a pas pu être ouvert. Ouvrez cette adresse "
                                             "vous-même :\n")
                                  + fromModuleText(gateway::hideSecret(UrlConnexion, Config.MotDePasse)),
                              this);
    }
}

void TFicheConfigurateurRecupDevis::showConfigurateurBranding()
{
    QLabel *logo = nullptr;
    if (Config.Configurateur == "vestiora")
        logo = ui->imgVestiora;
    else if (Config.Configurateur == "duranel")
        logo = ui->imgDuranel;
    if (logo == nullptr)
        return;
    setWindowTitle(QStringLiteral("Veltrano - Configurateur ") + fromModuleText(Config.Configurateur));
    // Loaded only when shown: reading a picture costs the first paint a few milliseconds.
    logo->setPixmap(QPixmap(QStringLiteral(":/logos/") + fromModuleText(Config.Configurateur)
                            + QStringLiteral(".png")));
    logo->setVisible(true);
}

void TFicheConfigurateurRecupDevis::FormActivate()
{
    if (LireFichierConfig(getFichierConfig())) {
        close();
        return;
    }
    showConfigurateurBranding();
    if (Config.Version != valmora::VersionModule) {
        platform::showMessage(QStringLiteral("Votre Configurateur ") + fromModuleText(Config.Configurateur)
                                  + QStringLiteral(" est en Version ") + QString::fromUtf8(valmora::VersionModule)
                                  + QStringLiteral(" et devrait être en Version ") + fromModuleText(Config.Version)
                                  + QStringLiteral("."),
                              this);
        close();
        return;
    }
    if (GetJetonEtUrls() == 0) {
        QString report = QStringLiteral("Configurateur ") + fromModuleText(Config.Configurateur)
                       + QStringLiteral(" : GetJetonEtUrlsErreurs \n");
        for (const std::string &line : Erreurs)
            report += fromModuleText(line) + QLatin1Char('\n');
        platform::showMessage(report, this);
        close();
        return;
    }
    openConfigurateurPage();
}

void TFicheConfigurateurRecupDevis::btnDevisRecupererClick()
{
    {
        const BusyCursor busy;
        gateway::retrieveQuote({IdHTTP1, IdHTTP2, [this](gateway::HttpClient &client) { AppliquerProxy(client); }},
                               Endpoint.host, UrlRecuperation, getFichierTemp());
    }
    close();
}

void TFicheConfigurateurRecupDevis::btnAnnulerRecuperationClick()
{
    close();
}
