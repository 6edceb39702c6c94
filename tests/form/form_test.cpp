// The form logic with a fake view, against the stand-in gateway: the order of the steps
// and messages, cancelling each request, and what a click during a request does.
#include "form/TFicheConfigurateurRecupDevis.h"

#include "support/gateway_harness.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using form::Logo;
using test_support::readFile;

// Records what the logic asks of its window. A step runs on a real worker thread while
// the test's `during` hook plays the user on this thread, as a window's loop would.
class FakeView : public form::FicheView {
public:
    void setCaptionAndLogo(const std::string &text, Logo shown) override
    {
        caption = text;
        logo = shown;
    }
    void showMessage(const std::string &text) override { messages.push_back(text); }
    bool openInBrowser(const std::string &url) override
    {
        browserUrls.push_back(url);
        return browserWorks;
    }
    void setProgressText(const std::string &text) override
    {
        if (!text.empty())
            progress.push_back(text);
        instructionRestored = text.empty();
    }
    void setRetrievalEnabled(bool enabled) override { retrievalEnabled = enabled; }
    void setBusy(bool on) override { busy = on; }
    void closeWindow() override { closed = true; }
    void runInBackground(const std::function<void()> &work, const std::function<void()> &tick) override
    {
        ++steps;
        EXPECT_FALSE(retrievalEnabled) << "a click could be queued during the step";
        EXPECT_TRUE(busy);
        std::atomic<bool> done{false}; // the hand-off the real views make with their event loops
        std::thread worker([&] {
            work();
            done = true;
        });
        if (during)
            during(steps);
        while (!done) {
            tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        worker.join();
        stepEnded = Clock::now();
    }

    std::string caption;
    Logo logo = Logo::None;
    std::vector<std::string> messages;
    std::vector<std::string> browserUrls;
    std::vector<std::string> progress;
    bool browserWorks = true;
    bool instructionRestored = true;
    bool retrievalEnabled = true;
    bool busy = false;
    bool closed = false;
    int steps = 0;
    Clock::time_point stepEnded;
    std::function<void(int step)> during; // runs on the window's thread while step `step` runs
};

class FormTest : public testing::Test {
protected:
    static void SetUpTestSuite() { test_support::trustTestAuthority(); }

    void SetUp() override
    {
        resultPath = dir.file("retour.xml");
        configPath = dir.file("config.ini");
    }

    void writeConfig(const std::string &version = "1", const std::string &configurateur = "vestiora",
                     const std::string &password = "secret") const
    {
        test_support::writeFile(configPath, "[General]\nVersion=" + version + "\nConfigurateur=" + configurateur
                                                + "\n[Utilisateur]\nIdentifiant=jeanne@exemple.fr\nMotDePasse="
                                                + password + "\n");
    }

    [[nodiscard]] GatewayEndpoint endpoint() const { return test_support::endpointFor(gateway); }

    // The form as the entry point makes it, activated as the window does once drawn.
    TFicheConfigurateurRecupDevis &activate() { return activate(endpoint()); }

    TFicheConfigurateurRecupDevis &activate(GatewayEndpoint aim)
    {
        fiche = std::make_unique<TFicheConfigurateurRecupDevis>(view, std::move(aim));
        fiche->setFichierTemp(resultPath);
        fiche->setFichierConfig(configPath);
        fiche->FormActivate();
        return *fiche;
    }

    // The user's browser prices a line at the stand-in, as the configurator page does.
    void priceLine() const
    {
        gateway::HttpClient browser;
        static_cast<void>(
            browser.Get(gateway.url("/chiffrer?jeton=" + fiche->jeton() + "&modele=colonne-40&finition=noyer&quantite=3")));
    }

    // Waits on the window's thread until the stand-in has received `count` requests.
    void waitForRequests(std::size_t count) const
    {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (gateway.requests().size() < count && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    [[nodiscard]] std::vector<std::string> requestedPaths() const
    {
        std::vector<std::string> paths;
        for (const auto &request : gateway.requests())
            paths.push_back(request.path);
        return paths;
    }

    test_support::TempDir dir;
    std::string resultPath;
    std::string configPath;
    test_support::StandinGateway gateway;
    FakeView view;
    std::unique_ptr<TFicheConfigurateurRecupDevis> fiche;
};

constexpr const char *kToken = "/index.php/Services/jeton";
constexpr const char *kQuote = "/index.php/Services/recuperation_valmora";

// ---- activation ----

TEST_F(FormTest, ValidConfigurationLogsInAndOpensTheConfiguratorPageOnce)
{
    writeConfig("1", "duranel");
    activate();
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_EQ(view.caption, "Veltrano - Configurateur duranel");
    EXPECT_EQ(view.logo, Logo::Duranel);
    ASSERT_EQ(view.browserUrls.size(), 1U);
    EXPECT_EQ(view.browserUrls[0], fiche->urlConnexion());
    EXPECT_EQ(view.browserUrls[0].rfind("https://" + gateway.host() + "/configurateur?jeton=" + fiche->jeton(), 0), 0U);
    EXPECT_FALSE(fiche->urlRecuperation().empty());
    EXPECT_FALSE(view.closed);
    EXPECT_TRUE(view.retrievalEnabled);
    EXPECT_FALSE(view.busy);
    EXPECT_TRUE(view.instructionRestored);
    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].query, "email=jeanne@exemple.fr&mdp=secret&passerelle=duranel");

    fiche->FormActivate(); // the window activated again: nothing happens
    EXPECT_EQ(gateway.requests().size(), 1U);
    EXPECT_EQ(view.browserUrls.size(), 1U);
}

struct RefusalCase {
    const char *name;
    const char *configText; // nullptr: no file
    const char *message;
    bool closes;
};
void PrintTo(const RefusalCase &c, std::ostream *out) { *out << c.name; }

class FormRefusalTest : public FormTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(FormRefusalTest, IsToldOnceAndNothingIsRequested)
{
    const RefusalCase &c = GetParam();
    if (c.configText != nullptr)
        test_support::writeFile(configPath, c.configText);
    activate();
    std::string message = c.message;
    if (const auto at = message.find("@PATH@"); at != std::string::npos)
        message.replace(at, 6, configPath);
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0], message);
    EXPECT_EQ(view.closed, c.closes);
    EXPECT_TRUE(gateway.requests().empty());
    EXPECT_TRUE(view.browserUrls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Configurations, FormRefusalTest,
    testing::Values(
        RefusalCase{"Missing", nullptr, "Le configurateur Valmora n'est pas configuré. Le fichier : @PATH@ n'existe pas.",
                    true},
        RefusalCase{"VersionTwo", "[General]\nVersion=2\nConfigurateur=vestiora\n",
                    "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2.", true},
        RefusalCase{"VersionOnePointZero", "[General]\nVersion=1.0\nConfigurateur=duranel\n",
                    "Votre Configurateur duranel est en Version 1 et devrait être en Version 1.0.", true},
        RefusalCase{"VersionAbsent", "[General]\nConfigurateur=vestiora\n",
                    "Votre Configurateur vestiora est en Version 1 et devrait être en Version 0.", true},
        RefusalCase{"EmptyFile", "", "Votre Configurateur  est en Version 1 et devrait être en Version 0.", true},
        // The module's own words are never masked, whatever the password.
        RefusalCase{"PasswordOne", "[General]\nVersion=2\nConfigurateur=vestiora\n[Utilisateur]\nMotDePasse=1\n",
                    "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2.", true},
        RefusalCase{"PasswordLikeTheConfigurator",
                    "[General]\nVersion=2024\nConfigurateur=vestiora\n[Utilisateur]\nMotDePasse=vestiora\n",
                    "Votre Configurateur vestiora est en Version 1 et devrait être en Version 2024.", true}),
    [](const testing::TestParamInfo<RefusalCase> &param) { return std::string(param.param.name); });

TEST_F(FormTest, ConfigurationPathNamingAFolderIsReportedAsMissing)
{
    configPath = dir.path().string();
    activate();
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0], "Le configurateur Valmora n'est pas configuré. Le fichier : " + configPath
                                    + " n'existe pas.");
    EXPECT_TRUE(view.closed);
}

struct LogInFailureCase {
    const char *name;
    const char *script; // replies of the token service; empty: the gateway is unreachable
    const char *message;
    bool closes;
    const char *password = "secret";
};
void PrintTo(const LogInFailureCase &c, std::ostream *out) { *out << c.name; }

class FormLogInFailureTest : public FormTest, public testing::WithParamInterface<LogInFailureCase> {};

TEST_P(FormLogInFailureTest, IsToldWithoutThePasswordAndNoBrowserOpens)
{
    const LogInFailureCase &c = GetParam();
    writeConfig("1", "vestiora", c.password);
    GatewayEndpoint aim = endpoint();
    if (std::string(c.script).empty())
        aim.host = "127.0.0.1:" + std::to_string(test_support::unusedPort());
    else
        gateway.script(std::string(R"({"/index.php/Services/jeton": )") + c.script + "}");
    activate(aim);
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0], c.message);
    EXPECT_EQ(view.closed, c.closes);
    EXPECT_TRUE(view.browserUrls.empty());
    EXPECT_TRUE(view.retrievalEnabled);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FormLogInFailureTest,
    testing::Values(
        LogInFailureCase{"Unreachable", "",
                         "Connexion impossible au serveur 127.0.0.1 : connexion refusée ou réseau indisponible.", false},
        LogInFailureCase{"ErrorStatus", R"([{"status": 500}])",
                         "Le serveur 127.0.0.1 a répondu : HTTP/1.1 500 Internal Server Error", false},
        LogInFailureCase{"StatusLineEchoingThePassword", R"([{"status": 403, "reason": "Refus de SECRET"}])",
                         "Le serveur 127.0.0.1 a répondu : HTTP/1.1 403 Refus de ****", false},
        LogInFailureCase{"ShortPasswordLeavesTheStatusLine", R"([{"status": 404}])",
                         "Le serveur 127.0.0.1 a répondu : HTTP/1.1 404 Not Found", false, "1"},
        LogInFailureCase{"ShortPasswordEchoedAsAValue", R"([{"status": 403, "reason": "Refus de mdp=1"}])",
                         "Le serveur 127.0.0.1 a répondu : HTTP/1.1 403 Refus de mdp=****", false, "1"},
        LogInFailureCase{"YearAsPasswordEchoed", R"([{"status": 403, "reason": "Refus de 2024"}])",
                         "Le serveur 127.0.0.1 a répondu : HTTP/1.1 403 Refus de ****", false, "2024"},
        LogInFailureCase{"ConfiguratorNameAsPasswordEchoed", R"([{"status": 403, "reason": "Refus de Vestiora"}])",
                         "Le serveur 127.0.0.1 a répondu : HTTP/1.1 403 Refus de ****", false, "vestiora"},
        LogInFailureCase{"WithoutConfigurateur", R"([{"body": "<Erreur>Compte inconnu (secret)</Erreur>"}])",
                         "Configurateur vestiora : GetJetonEtUrlsErreurs \n"
                         "La passerelle n'a pas renvoyé de réponse Configurateur.\n"
                         "Message de la passerelle : Compte inconnu (****)\n",
                         true},
        LogInFailureCase{"FileAddress",
                         R"([{"body": "<Configurateur><Jeton>T</Jeton><UrlConnexion>file:///etc/passwd</UrlConnexion></Configurateur>"}])",
                         "Adresse du configurateur refusée : seules les adresses http et https sont ouvertes dans le "
                         "navigateur.",
                         false},
        LogInFailureCase{"Program",
                         R"([{"body": "<Configurateur><Jeton>T</Jeton><UrlConnexion>/usr/bin/xterm</UrlConnexion></Configurateur>"}])",
                         "Adresse du configurateur refusée : seules les adresses http et https sont ouvertes dans le "
                         "navigateur.",
                         false}),
    [](const testing::TestParamInfo<LogInFailureCase> &param) { return std::string(param.param.name); });

TEST_F(FormTest, BrowserThatCannotStartLeavesTheAddressToTheUser)
{
    view.browserWorks = false;
    writeConfig();
    activate();
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0], "Le navigateur n'a pas pu être ouvert. Ouvrez cette adresse vous-même :\n"
                                    + fiche->urlConnexion());
    EXPECT_FALSE(view.closed);
}

// ---- retrieval ----

TEST_F(FormTest, RetrievalFetchesWithTheRightClientsThenWritesAndCloses)
{
    writeConfig();
    activate();
    priceLine();
    fiche->btnDevisRecupererClick();
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(view.steps, 4); // token, retrieval document, quote, writing
    const std::string result = readFile(resultPath);
    EXPECT_NE(result.find("<Libelle>Colonne 40 cm</Libelle>"), std::string::npos) << result;
    EXPECT_NE(result.find("<PrixTotal>930.00</PrixTotal>"), std::string::npos) << result;
    EXPECT_NE(result.find("<Image>" + dir.file("P-1042.bmp") + "</Image>"), std::string::npos) << result;
    EXPECT_EQ(test_support::entries(dir.path()), (std::vector<std::string>{"P-1042.bmp", "config.ini", "retour.xml"}));

    const auto requests = gateway.requests();
    ASSERT_EQ(requests.size(), 4U);
    EXPECT_EQ(requests[2].path, "/recuperation");
    EXPECT_EQ(requests[2].header("Cookie"), "VALMORA_SESSION=" + fiche->jeton()); // same client as the log-in
    EXPECT_EQ(requests[3].path, kQuote);
    EXPECT_EQ(requests[3].query, "projet=P-1042");
    EXPECT_EQ(requests[3].header("Content-Type"), "application/json; charset=utf-8");
    EXPECT_FALSE(requests[3].hasHeader("Cookie")); // the quote's own client
}

struct WarmCase {
    const char *name;
    bool gatewayClosesIt; // before the click
};
void PrintTo(const WarmCase &c, std::ostream *out) { *out << c.name; }

class FormWarmConnectionTest : public FormTest, public testing::WithParamInterface<WarmCase> {};

// The user comes back to the window: the connection the click needs is opened, nothing is
// sent on it; the click takes it, or, if the gateway closed it meanwhile, a fresh one
// without a word.
TEST_P(FormWarmConnectionTest, TheClickTakesTheConnectionOpenedWhenTheUserCameBack)
{
    // It lets a silent connection go after 1 s, and closes the log-in's, as one does
    // after minutes in the configurator.
    const test_support::StandinGateway quick("gateway", false, 1.0);
    quick.script(R"({
        "/index.php/Services/jeton": [{"body": "<Configurateur><Jeton>T</Jeton><UrlConnexion>@BASE@/configurateur</UrlConnexion><UrlRecuperation>@BASE@/recuperation</UrlRecuperation></Configurateur>",
                                       "headers": [["Connection", "close"]]}],
        "/recuperation": [{"body": "<Configurateur><Project>P-1</Project></Configurateur>"}],
        "/index.php/Services/recuperation_valmora": [{"body": "{\"code\": 200, \"returnedObject\": {\"libelle\": \"L\"}}"}]})");
    writeConfig();
    activate(test_support::endpointFor(quick));
    ASSERT_TRUE(view.messages.empty()) << view.messages.front();
    fiche->userReturned();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (quick.connections().opened < 2 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(quick.connections().opened, 2); // the log-in's, then the one opened ahead
    EXPECT_EQ(quick.requests().size(), 1U) << "a request went before the click";
    if (GetParam().gatewayClosesIt)
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    fiche->btnDevisRecupererClick();
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_TRUE(view.closed);
    const auto requests = quick.requests();
    ASSERT_EQ(requests.size(), 3U);
    EXPECT_EQ(requests[1].connection == 2, !GetParam().gatewayClosesIt) << requests[1].connection;
    EXPECT_EQ(requests[2].connection, requests[1].connection);
}

INSTANTIATE_TEST_SUITE_P(Lines, FormWarmConnectionTest,
                         testing::Values(WarmCase{"KeptOpen", false}, WarmCase{"ClosedByTheGateway", true}),
                         [](const testing::TestParamInfo<WarmCase> &param) { return std::string(param.param.name); });

TEST_F(FormTest, EmptyProjectMakesOneRequestAndWritesSevenEmptyElements)
{
    writeConfig();
    activate();
    fiche->btnDevisRecupererClick(); // nothing priced
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{kToken, "/recuperation"}));
    EXPECT_NE(readFile(resultPath).find("<PrixTotal />"), std::string::npos);
}

TEST_F(FormTest, FailedQuoteKeepsTheWindowAndTheNextPressStartsAgain)
{
    writeConfig();
    activate();
    priceLine();
    gateway.script(R"({"/index.php/Services/recuperation_valmora": [{"status": 500}, {"body": "{\"code\": 200}"}]})");
    fiche->btnDevisRecupererClick();
    ASSERT_EQ(view.messages.size(), 1U);
    EXPECT_EQ(view.messages[0], "Le serveur 127.0.0.1 a répondu : HTTP/1.1 500 Internal Server Error");
    EXPECT_FALSE(view.closed);
    EXPECT_TRUE(view.retrievalEnabled);
    EXPECT_FALSE(std::filesystem::exists(resultPath));

    fiche->btnDevisRecupererClick();
    EXPECT_TRUE(view.closed);
    EXPECT_EQ(view.messages.size(), 1U);
    EXPECT_NE(readFile(resultPath).find("<Libelle />"), std::string::npos);
    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{"/recuperation", kQuote, "/recuperation", kQuote}));
}

TEST_F(FormTest, RetrievalWithoutAddressAfterAFailedLogInIsToldNotFetched)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"status": 404}]})");
    writeConfig();
    activate();
    fiche->btnDevisRecupererClick();
    ASSERT_EQ(view.messages.size(), 2U);
    EXPECT_EQ(view.messages[1], "Aucune adresse à interroger : l'adresse reçue est vide.");
    EXPECT_FALSE(view.closed);
    EXPECT_FALSE(std::filesystem::exists(resultPath));
}

// ---- the window during a request ----

TEST_F(FormTest, RetrievalClickDuringTheLogInIsNotReplayed)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"delay": 0.5, "body":
        "<Configurateur><Jeton>T</Jeton><UrlConnexion>@BASE@/configurateur</UrlConnexion><UrlRecuperation>@BASE@/recuperation</UrlRecuperation></Configurateur>"}]})");
    writeConfig();
    view.during = [&](int) { fiche->btnDevisRecupererClick(); };
    activate();
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_EQ(view.browserUrls.size(), 1U);
    EXPECT_EQ(view.steps, 1);
    EXPECT_EQ(requestedPaths(), (std::vector<std::string>{kToken}));
    EXPECT_FALSE(view.closed);
    EXPECT_FALSE(std::filesystem::exists(resultPath));
}

// "Annuler" during each request stops it at once and closes: nothing is written.
class FormCancelTest : public FormTest, public testing::WithParamInterface<int> {};

TEST_P(FormCancelTest, StopsTheRequestAndClosesWithoutWriting)
{
    const int hungStep = GetParam(); // 1 token, 2 retrieval document, 3 quote
    const char *path = hungStep == 1 ? kToken : hungStep == 2 ? "/recuperation" : kQuote;
    writeConfig();
    Clock::time_point cancelled;
    view.during = [&](int step) {
        if (step != hungStep)
            return;
        waitForRequests(static_cast<std::size_t>(hungStep == 1 ? 1 : hungStep - 1)); // the script forgot the earlier ones
        cancelled = Clock::now();
        fiche->btnAnnulerRecuperationClick();
        EXPECT_FALSE(view.closed) << "closes once the request has stopped";
    };
    if (hungStep == 1)
        gateway.script(std::string(R"({")") + path + R"(": [{"hang": 20}]})");
    activate();
    if (hungStep > 1) {
        priceLine();
        gateway.script(std::string(R"({")") + path + R"(": [{"hang": 20}]})");
    }
    if (hungStep > 1)
        fiche->btnDevisRecupererClick();
    ASSERT_EQ(view.steps, hungStep);
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_LT(view.stepEnded - cancelled, std::chrono::milliseconds(500));
    EXPECT_EQ(test_support::entries(dir.path()), std::vector<std::string>{"config.ini"});
}

INSTANTIATE_TEST_SUITE_P(Requests, FormCancelTest, testing::Values(1, 2, 3),
                         [](const testing::TestParamInfo<int> &param) {
                             return std::string(param.param == 1 ? "Token" : param.param == 2 ? "Document" : "Quote");
                         });

TEST_F(FormTest, CloseBoxDuringARequestWaitsForItToStop)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"hang": 20}]})");
    writeConfig();
    bool closeNow = true;
    view.during = [&](int) {
        waitForRequests(1);
        closeNow = fiche->closeRequested();
    };
    activate();
    EXPECT_FALSE(closeNow);
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(FormTest, CancelDuringTheWritingLeavesBothFilesComplete)
{
    writeConfig();
    activate();
    priceLine();
    view.during = [&](int step) {
        if (step == 4)
            fiche->btnAnnulerRecuperationClick();
    };
    fiche->btnDevisRecupererClick();
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(view.messages.empty());
    const std::string result = readFile(resultPath);
    EXPECT_EQ(result.substr(result.size() - 4), "\r\n\r\n");
    EXPECT_NE(result.find("<Image>" + dir.file("P-1042.bmp") + "</Image>"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(dir.file("P-1042.bmp")), 54U + 240U * 3U * 160U);
}

TEST_F(FormTest, SlowQuoteShowsItsProgressWhileItArrives)
{
    writeConfig();
    activate();
    priceLine();
    // About 300 kB sent 60 kB at a time, 0.3 s apart.
    gateway.script(R"({"/index.php/Services/recuperation_valmora": [{"body": "{\"code\": 200, \"remplissage\": \")"
                   + std::string(300'000, 'x') + R"(\"}", "drip": {"size": 60000, "every": 0.3}}]})");
    fiche->btnDevisRecupererClick();
    EXPECT_TRUE(view.messages.empty()) << view.messages.front();
    EXPECT_TRUE(view.closed);
    std::vector<std::string> seen = view.progress;
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    const auto quoteTexts = std::count_if(seen.begin(), seen.end(), [](const std::string &text) {
        return text.starts_with("Récupération du devis : ") && text.ends_with(" sur 0,3 Mo");
    });
    EXPECT_GE(quoteTexts, 2) << "the line changes while the quote arrives";
    EXPECT_TRUE(view.instructionRestored);
}

// ---- the instruction line ----

TEST(FormProgressTextTest, SaysWhatHappensAndHowFar)
{
    using form::Step;
    EXPECT_EQ(form::progressText(Step::Jeton, 0, 0), "Connexion à la passerelle…");
    EXPECT_EQ(form::progressText(Step::Document, 0, 0), "Récupération du document…");
    EXPECT_EQ(form::progressText(Step::Devis, 0, 0), "Récupération du devis…");
    EXPECT_EQ(form::progressText(Step::Devis, 12'400'000, 29'200'000), "Récupération du devis : 12,4 Mo sur 29,2 Mo");
    EXPECT_EQ(form::progressText(Step::Devis, 12'449'999, 0), "Récupération du devis : 12,4 Mo");
    EXPECT_EQ(form::progressText(Step::Devis, 999, 268'435'456), "Récupération du devis : 0,0 Mo sur 268,4 Mo");
    EXPECT_EQ(form::progressText(Step::Enregistrement, 5, 5), "Enregistrement du devis…");
}

} // namespace
