#include "form/TFicheConfigurateurRecupDevis.h"

#include "gateway/quote_retrieval.h"
#include "gateway/secret_masking.h"
#include "gateway/token_request.h"
#include "platform/module_error.h"
#include "form/support_events.h"
#include "platform/executable.h"
#include "platform/paths.h"
#include "platform/support_log.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace form {
namespace {

// "12,4 Mo": bytes in megabytes with one decimal and a French comma.
std::string megabytes(std::int64_t bytes)
{
    const std::int64_t tenths = (bytes + 50'000) / 100'000;
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " Mo";
}

// A step's progress is shown once it has lasted this long.
constexpr std::chrono::milliseconds kQuietStart{500};

const char *stepName(Step step)
{
    switch (step) {
    case Step::Jeton:
        return "jeton";
    case Step::Document:
        return "document";
    case Step::Devis:
        return "devis";
    case Step::Enregistrement:
        break;
    }
    return "enregistrement";
}

std::uintmax_t sizeOf(const std::string &path)
{
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(platform::pathOf(path), ec);
    return ec ? 0 : size;
}

} // namespace

std::string progressText(Step step, std::int64_t received, std::int64_t expected)
{
    switch (step) {
    case Step::Enregistrement:
        return "Enregistrement du devis…";
    case Step::Jeton:
        if (received == 0)
            return "Connexion à la passerelle…";
        break;
    case Step::Document:
    case Step::Devis:
        break;
    }
    const std::string what = step == Step::Jeton      ? "Connexion à la passerelle"
                            : step == Step::Document ? "Récupération du document"
                                                     : "Récupération du devis";
    if (received == 0)
        return what + "…";
    std::string text = what + " : " + megabytes(received);
    if (expected > 0)
        text += " sur " + megabytes(expected);
    return text;
}

} // namespace form

TFicheConfigurateurRecupDevis::TFicheConfigurateurRecupDevis(form::FicheView &view, GatewayEndpoint endpoint)
    : view_(view)
    , Endpoint(std::move(endpoint))
    , IdHTTP1(Endpoint.documentLimits, &Pool)
    , IdHTTP2(Endpoint.quoteLimits, &Pool)
{
    LireFichierProxy();
}

bool TFicheConfigurateurRecupDevis::closeRequested()
{
    if (!running_)
        return true;
    transfer_.cancel = true;
    return false;
}

void TFicheConfigurateurRecupDevis::showMessage(const UserMessage &message)
{
    const std::string shown = gateway::maskSecrets(message, {Config.MotDePasse, Proxy.ProxyPassword});
    printForHost(shown);
    platform::logEvent(form::messageEvent(shown));
    view_.showMessage(shown);
}

void TFicheConfigurateurRecupDevis::note(const UserMessage &event) const
{
    platform::logEvent(gateway::maskSecrets(event, {Config.MotDePasse, Proxy.ProxyPassword}));
}

void TFicheConfigurateurRecupDevis::handleEvent(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const gateway::RequestCancelled &) {
        view_.closeWindow(); // as "Annuler" does
    } catch (...) {
        showMessage(currentExceptionMessage());
    }
}

void TFicheConfigurateurRecupDevis::runStep(form::Step step, const std::function<void()> &work)
{
    transfer_.cancel = false;
    transfer_.received = 0;
    transfer_.expected = 0;
    std::exception_ptr failure;
    const auto started = std::chrono::steady_clock::now();
    // However the wait ends, the window gets its buttons, cursor and instruction line back.
    struct Running {
        TFicheConfigurateurRecupDevis &fiche;
        ~Running()
        {
            fiche.running_ = false;
            fiche.view_.setProgressText({});
            fiche.view_.setBusy(false);
            fiche.view_.setRetrievalEnabled(true);
        }
    };
    running_ = true;
    view_.setRetrievalEnabled(false);
    view_.setBusy(true);
    const Running running{*this};
    view_.runInBackground(
        [&]() noexcept {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        [&] {
            if (std::chrono::steady_clock::now() - started >= form::kQuietStart)
                view_.setProgressText(form::progressText(step, transfer_.received, transfer_.expected));
        });
    // A cancel wins over whatever the step ended with: nothing more is done.
    if (transfer_.cancel)
        throw gateway::RequestCancelled();
    if (failure)
        std::rethrow_exception(failure);
}

std::string TFicheConfigurateurRecupDevis::fetch(form::Step step, gateway::HttpClient &client, const std::string &url)
{
    // Logged however the request ends; its address and the server's words may hold a secret.
    struct Noted {
        const TFicheConfigurateurRecupDevis &fiche;
        form::Step step;
        const gateway::HttpClient &client;
        ~Noted()
        {
            try {
                const gateway::RequestRecord &record = client.lastRequest();
                fiche.note({form::requestEvent(form::stepName(step), record),
                            {record.address.host, record.address.path, record.address.query, record.statusLine,
                             record.libraryWords}});
            } catch (...) {
                // The log never changes the exchange.
            }
        }
    };
    std::string body;
    const Noted noted{*this, step, client};
    runStep(step, [&] { body = client.Get(url, &transfer_); });
    return body;
}

bool TFicheConfigurateurRecupDevis::LireFichierConfig(const std::string &path)
{
    const std::optional<host::ModuleConfig> config = host::readModuleConfig(path);
    if (!config) {
        showMessage(host::missingConfigMessage(path));
        return true;
    }
    Config = *config;
    note(form::configurationEvent(Config, Proxy.ProxyActif));
    return false;
}

void TFicheConfigurateurRecupDevis::LireFichierProxy()
{
    Proxy = host::readProxySettings(host::proxySettingsPath(platform::executablePath()));
}

void TFicheConfigurateurRecupDevis::AppliquerProxy(gateway::HttpClient &client) const
{
    host::applyProxySettings(Proxy, client.proxyParams());
}

int TFicheConfigurateurRecupDevis::GetJetonEtUrls()
{
    UrlConnexion.clear();
    UrlRecuperation.clear();
    Erreurs.clear();
    const std::string url = gateway::tokenUrl(Endpoint.host, Config);
    AppliquerProxy(IdHTTP1);
    const gateway::TokenReply reply = gateway::parseTokenReply(fetch(form::Step::Jeton, IdHTTP1, url));
    if (reply.hasConfigurateur) {
        Jeton = reply.Jeton;
        UrlConnexion = reply.UrlConnexion;
        UrlRecuperation = reply.UrlRecuperation;
    }
    Erreurs = gateway::tokenReplyProblems(reply);
    gatewayWords_ = gateway::gatewayWords(reply);
    return Erreurs.empty() ? 1 : 0;
}

UserMessage TFicheConfigurateurRecupDevis::GetJetonEtUrlsErreurs() const
{
    std::string report = "Configurateur " + Config.Configurateur + " : GetJetonEtUrlsErreurs \n";
    for (const std::string &line : Erreurs)
        report += line + "\n";
    return {report, {gatewayWords_}};
}

void TFicheConfigurateurRecupDevis::openConfigurateurPage()
{
    // No configurator page needs more; a longer one would not even fit a message box.
    constexpr std::size_t kMaxAddressBytes = 8 * 1024;
    if (UrlConnexion.size() > kMaxAddressBytes)
        throw ModuleError("Adresse du configurateur refusée : l'adresse reçue de la passerelle est trop longue.");
    if (!gateway::isWellFormedAddress(UrlConnexion))
        throw ModuleError("Adresse du configurateur refusée : l'adresse reçue de la passerelle est mal formée.");
    if (!gateway::isWebAddress(UrlConnexion))
        throw ModuleError("Adresse du configurateur refusée : seules les adresses http et https sont ouvertes "
                          "dans le navigateur.");
    note({form::browserEvent(UrlConnexion), {UrlConnexion}});
    if (!view_.openInBrowser(UrlConnexion))
        showMessage({"Le navigateur n'a pas pu être ouvert. Ouvrez cette adresse vous-même :\n" + UrlConnexion,
                     {UrlConnexion}});
}

void TFicheConfigurateurRecupDevis::showConfigurateurBranding()
{
    form::Logo logo = form::Logo::None;
    if (Config.Configurateur == "vestiora")
        logo = form::Logo::Vestiora;
    else if (Config.Configurateur == "duranel")
        logo = form::Logo::Duranel;
    if (logo != form::Logo::None)
        view_.setCaptionAndLogo("Veltrano - Configurateur " + Config.Configurateur, logo);
}

void TFicheConfigurateurRecupDevis::FormActivate()
{
    if (activated_)
        return;
    activated_ = true;
    handleEvent([this] {
        if (LireFichierConfig(getFichierConfig())) {
            view_.closeWindow();
            return;
        }
        showConfigurateurBranding();
        if (Config.Version != valmora::VersionModule) {
            showMessage("Votre Configurateur " + Config.Configurateur + " est en Version " + valmora::VersionModule
                        + " et devrait être en Version " + Config.Version + ".");
            view_.closeWindow();
            return;
        }
        if (GetJetonEtUrls() == 0) {
            showMessage(GetJetonEtUrlsErreurs());
            view_.closeWindow();
            return;
        }
        openConfigurateurPage();
    });
}

// The retrieval document, the quote of its project, then the picture and the result file.
void TFicheConfigurateurRecupDevis::retrieve()
{
    AppliquerProxy(IdHTTP1);
    const std::string documentText = fetch(form::Step::Document, IdHTTP1, UrlRecuperation);
    const std::string project = gateway::readRetrievalDocument(documentText).Project;
    std::optional<std::string> quoteBody;
    if (!project.empty()) {
        AppliquerProxy(IdHTTP2);
        IdHTTP2.request().ContentType = "application/json";
        IdHTTP2.request().CharSet = "utf-8";
        quoteBody = fetch(form::Step::Devis, IdHTTP2, gateway::quoteUrl(Endpoint.host, project));
    }
    // Once the quote is here, the two files are written whatever comes meanwhile.
    // The files in place are logged even when the next one fails (a held result file).
    std::vector<std::string> written;
    const auto noteWritten = [&] {
        for (const std::string &path : written)
            note(form::fileEvent(path, form::sizeOf(path)));
    };
    try {
        runStep(form::Step::Enregistrement, [&] {
            static_cast<void>(gateway::saveRetrieval(documentText, project, quoteBody ? &*quoteBody : nullptr,
                                                     getFichierTemp(), {}, &written));
        });
    } catch (...) {
        noteWritten();
        throw;
    }
    noteWritten();
}

void TFicheConfigurateurRecupDevis::btnDevisRecupererClick()
{
    if (running_)
        return; // the button is disabled meanwhile; a click that slipped through is not kept
    handleEvent([this] {
        retrieve();
        view_.closeWindow();
    });
}

void TFicheConfigurateurRecupDevis::userReturned()
{
    if (!activated_ || running_ || !gateway::isWebAddress(UrlRecuperation))
        return;
    // Where the retrieval document's request will connect: the proxy, when there is one.
    AppliquerProxy(IdHTTP1);
    const host::ProxyParams &proxy = IdHTTP1.proxyParams();
    if (!proxy.ProxyServer.empty())
        Pool.warmUp(proxy.ProxyServer, proxy.ProxyPort > 0 ? proxy.ProxyPort : 1080); // libcurl's default port
    else
        Pool.warmUp(gateway::hostOf(UrlRecuperation), gateway::portOf(UrlRecuperation));
}

void TFicheConfigurateurRecupDevis::btnAnnulerRecuperationClick()
{
    if (closeRequested())
        view_.closeWindow();
}
