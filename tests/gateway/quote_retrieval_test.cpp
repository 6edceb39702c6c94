#include "gateway/quote_retrieval.h"

#include "platform/module_error.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <expat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using test_support::errorOf;

using host::LigneDevis;
using gateway::QuoteReply;

QuoteReply parse(const std::string &json)
{
    std::string body = json;
    QuoteReply reply = gateway::parseQuoteReply(body);
    // The picture may point into the body: keep a copy that outlives it.
    if (reply.hasPicture && !reply.unescapedPicture)
        reply.unescapedPicture = std::string(reply.pictureInBody);
    return reply;
}

TEST(RetrievalDocumentTest, ReadsTheProjectOfTheConfigurateurRoot)
{
    const auto doc = gateway::readRetrievalDocument(
        "<?xml version=\"1.0\"?><Configurateur><Jeton>T</Jeton><Passerelle>vestiora</Passerelle>"
        "<Project>P-1042</Project><Project>P-2</Project></Configurateur>");
    EXPECT_TRUE(doc.hasConfigurateur);
    EXPECT_EQ(doc.Jeton, "T");
    EXPECT_EQ(doc.Passerelle, "vestiora");
    EXPECT_EQ(doc.Project, "P-1042");
}

TEST(RetrievalDocumentTest, EmptyProjectAndOtherRootGiveNoProject)
{
    EXPECT_EQ(gateway::readRetrievalDocument("<Configurateur><Project/></Configurateur>").Project, "");
    EXPECT_EQ(gateway::readRetrievalDocument("<Configurateur><Project>  </Project></Configurateur>").Project, "  ");
    const auto other = gateway::readRetrievalDocument("<Autre><Project>P-1</Project></Autre>");
    EXPECT_FALSE(other.hasConfigurateur);
    EXPECT_EQ(other.Project, "");
}

// What a conforming parser refuses is refused, before anything is read or written.
TEST(RetrievalDocumentTest, TextThatIsNotWellFormedXmlThrows)
{
    for (const char *text : {
             "", "<Configurateur>", "{\"code\": 1}",
             "<Configurateur><Project a=\"1\" a=\"2\">P</Project></Configurateur>", // duplicate attribute
             "<Configurateur><Project>P&nbsp;1</Project></Configurateur>",           // undefined entity
             "<Configurateur><Project>P</Project></Configurateur>texte",             // text after the root
             "<Configurateur/><Configurateur/>",                                      // two roots
             "<a/><?xml version=\"1.0\"?>",                                           // late declaration
             "<!DOCTYPE C [<!ENTITY e \"x\">]><C>&e;</C>",                          // declared entity: not expanded
             "<!DOCTYPE C SYSTEM \"c.dtd\"><C>&e;</C>",                              // entity it cannot see
             "<Configurateur>&#xD800;</Configurateur>",                               // no such character
             "<a>\x01</a>",                                                           // control character
             "<?xml version='1.0' standalone='peut-etre'?><a/>",
         }) {
        EXPECT_EQ(errorOf([&] { static_cast<void>(gateway::readRetrievalDocument(text)); })
                      .rfind("Document de récupération illisible : ce n'est pas un document XML valide", 0),
                  0U)
            << text;
    }
}

// The gateway's documents a conforming parser reads, the module reads; the others it
// refuses. Deliberate differences: entity declarations (pugixml would not expand them)
// and nesting beyond 256 levels.
struct ExpatVerdict {
    bool accepted = false;
    bool declaresEntities = false;
};

ExpatVerdict expatReads(const std::string &text)
{
    ExpatVerdict verdict;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &verdict);
    XML_SetEntityDeclHandler(parser, [](void *data, const XML_Char *, int, const XML_Char *, int, const XML_Char *,
                                        const XML_Char *, const XML_Char *, const XML_Char *) {
        static_cast<ExpatVerdict *>(data)->declaresEntities = true;
    });
    verdict.accepted = XML_Parse(parser, text.data(), static_cast<int>(text.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return verdict;
}

bool moduleAccepts(const std::string &text)
{
    try {
        static_cast<void>(gateway::readRetrievalDocument(text));
        return true;
    } catch (const ModuleError &) {
        return false;
    }
}

TEST(RetrievalDocumentTest, AcceptsExactlyTheDocumentsAConformingParserAccepts)
{
    std::vector<std::string> documents = {
        "<Configurateur><Jeton>T</Jeton><Passerelle>vestiora</Passerelle><Project>P-1042</Project></Configurateur>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\n<!-- c --><Configurateur/>\n",
        "<!DOCTYPE Configurateur [<!ELEMENT Configurateur ANY>]><Configurateur>&amp;&#233;</Configurateur>",
        "<Configurateur><![CDATA[<x>]]><?pi d?></Configurateur>",
        "<Erreur>Compte inconnu</Erreur>",
        "<html><body>Maintenance</body>",
        "Projet: P-1",
        "<Configurateur><Project a=\"1\" a=\"2\">P</Project></Configurateur>",
        "<Configurateur><Project>P&nbsp;1</Project></Configurateur>",
        "<Configurateur/> texte",
        "<Configurateur/>  \r\n",
    };
    // The fuzzers' starting inputs; a result-file input is the document before its first NUL.
    for (const char *corpus : {"gateway/corpus/fuzz_token_reply", "host/corpus/fuzz_result_file"}) {
        for (const auto &entry : std::filesystem::directory_iterator(std::filesystem::path(TESTS_SOURCE_DIR) / corpus)) {
            const std::string bytes = test_support::readFile(entry.path());
            documents.push_back(bytes.substr(0, bytes.find('\0')));
        }
    }
    int declaring = 0;
    for (const std::string &text : documents) {
        const ExpatVerdict expat = expatReads(text);
        declaring += expat.declaresEntities ? 1 : 0;
        EXPECT_EQ(moduleAccepts(text), expat.accepted && !expat.declaresEntities) << text;
    }
    EXPECT_GE(declaring, 1) << "the deliberate difference is exercised";
}

TEST(QuoteUrlTest, AppendsTheProjectEncodedOnlyWhereNeeded)
{
    EXPECT_EQ(gateway::quoteUrl("passerelle.valmora.fr", "P-1042"),
              "https://passerelle.valmora.fr/index.php/Services/recuperation_valmora?projet=P-1042");
    EXPECT_EQ(gateway::quoteUrl("h", "P 1&2"), "https://h/index.php/Services/recuperation_valmora?projet=P%201%262");
}

struct LineCase {
    const char *name;
    const char *json;
    LigneDevis expected;
};

class QuoteReplyTest : public testing::TestWithParam<LineCase> {};

TEST_P(QuoteReplyTest, MembersAreTakenAsPlainText)
{
    const QuoteReply reply = parse(GetParam().json);
    const LigneDevis &got = reply.line;
    const LigneDevis &want = GetParam().expected;
    EXPECT_EQ(got.Libelle, want.Libelle);
    EXPECT_EQ(got.Detail, want.Detail);
    EXPECT_EQ(got.EcoTaxe, want.EcoTaxe);
    EXPECT_EQ(got.PrixUnitaire, want.PrixUnitaire);
    EXPECT_EQ(got.Quantite, want.Quantite);
    EXPECT_EQ(got.PrixTotal, want.PrixTotal);
    EXPECT_EQ(got.Image, "");
}

INSTANTIATE_TEST_SUITE_P(
    Replies, QuoteReplyTest,
    testing::Values(
        LineCase{"NumbersAsWritten",
                 R"({"code":200,"returnedObject":{"libelle":"Meuble","detail":"Fa\u00e7ade","ecoTaxe":3.50,)"
                 R"("prixUnitaire":225.00 ,"quantite":2,"prixTotal":450.50,"x":1}})",
                 {"Meuble", "Façade", "3.50", "225.00", "2", "450.50", ""}},
        LineCase{"StringsKeptAsIs", R"({"code":"ok","returnedObject":{"prixTotal":"450,50","libelle":"a\"b\\c\/d\n"}})",
                 {"a\"b\\c/d\n", "", "", "", "", "450,50", ""}},
        LineCase{"ExponentAndNegative", R"({"code":0,"returnedObject":{"ecoTaxe":1e3,"prixTotal":-0.5E-2}})",
                 {"", "", "1e3", "", "", "-0.5E-2", ""}},
        LineCase{"OtherKinds",
                 R"({"code":null,"returnedObject":{"libelle":true,"detail":false,"ecoTaxe":null,)"
                 R"("quantite":[1, 2],"prixTotal":{"a": 1}}})",
                 {"true", "false", "", "", "[1, 2]", "{\"a\": 1}", ""}},
        LineCase{"NoReturnedObject", R"({"code":404,"message":"Projet inconnu"})", {}},
        LineCase{"EmptyReturnedObject", R"({"code":200,"returnedObject":{}})", {}},
        LineCase{"FirstOfANameCounts", R"({"returnedObject":{"libelle":"premier","libelle":"second"},"code":1,)"
                                       R"("returnedObject":{"libelle":"autre"}})",
                 {"premier", "", "", "", "", "", ""}},
        LineCase{"CaseMatters", R"({"code":1,"returnedObject":{"Libelle":"non","LIBELLE":"non"}})", {}}),
    [](const testing::TestParamInfo<LineCase> &param) { return std::string(param.param.name); });

TEST(QuoteReplyPictureTest, PictureIsReadWhereItLiesOrUnescaped)
{
    std::string body = R"({"code":1,"returnedObject":{"imageB64Ligne":"iVBORw0KGgo="}})";
    const QuoteReply plain = gateway::parseQuoteReply(body);
    EXPECT_TRUE(plain.hasPicture);
    EXPECT_EQ(plain.picture(), "iVBORw0KGgo=");
    EXPECT_FALSE(plain.unescapedPicture.has_value()); // no copy of a large picture
    EXPECT_GE(plain.picture().data(), body.data());
    EXPECT_LT(plain.picture().data(), body.data() + body.size());

    const QuoteReply escaped = parse(R"({"code":1,"returnedObject":{"imageB64Ligne":"ab\/cd+\/=="}})");
    EXPECT_EQ(escaped.picture(), "ab/cd+/==");

    const QuoteReply without = parse(R"({"code":1,"returnedObject":{"libelle":"x"}})");
    EXPECT_FALSE(without.hasPicture);
}

std::string repeated(const std::string &text, std::size_t times)
{
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(QuoteReplyRefusalTest, RepliesThatCannotBeReadAreErrors)
{
    const std::pair<const char *, const char *> cases[] = {
        {"", "ce n'est pas du JSON valide."},
        {"pas du JSON", "ce n'est pas du JSON valide."},
        {"<html>Erreur</html>", "ce n'est pas du JSON valide."},
        {"[1, 2]", "ce n'est pas un objet JSON."},
        {"\"texte\"", "ce n'est pas un objet JSON."},
        {R"({"returnedObject":{}})", "le membre code est absent."},
        {R"({"code":1,"returnedObject":null})", "l'objet returnedObject n'est pas un objet JSON."},
        {R"({"code":1,"returnedObject":"texte"})", "l'objet returnedObject n'est pas un objet JSON."},
        {R"({"code":1,"returnedObject":[{"libelle":"x"}]})", "l'objet returnedObject n'est pas un objet JSON."},
        {R"({"code":1,"returnedObject":{"imageB64Ligne":12}})", "imageB64Ligne"},
        {R"({"code":1,"returnedObject":{"prixTotal":45x0}})", ""},
        {R"({"code":1} {"code":2})", "ce n'est pas du JSON valide."},
        {R"({"code":1,"returnedObject":{"libelle":"x")", ""},
        {R"({"code":1,)", ""},
    };
    // Line values are at most 64 KiB, whatever their kind.
    const std::string big(64 * 1024 + 1, '7');
    const std::string bigValues[][2] = {
        {R"({"code":1,"returnedObject":{"libelle":")" + big + R"("}})", "la valeur libelle dépasse 64 Kio."},
        {R"({"code":1,"returnedObject":{"prixTotal":)" + big + "}}", "la valeur prixTotal dépasse 64 Kio."},
        {R"({"code":1,"returnedObject":{"detail":[)" + repeated("1,", 33 * 1024) + "1]}}",
         "la valeur detail dépasse 64 Kio."},
    };
    for (const auto &[json, fragment] : bigValues) {
        const std::string message = errorOf([&] { static_cast<void>(parse(json)); });
        EXPECT_EQ(message, "Réponse du service de devis invalide : " + fragment);
    }
    EXPECT_EQ(parse(R"({"code":1,"returnedObject":{"libelle":")" + big.substr(1) + R"("}})").line.Libelle.size(),
              64U * 1024U);
    for (const auto &[json, fragment] : cases) {
        const std::string message = errorOf([&] { static_cast<void>(parse(json)); });
        EXPECT_EQ(message.rfind("Réponse du service de devis invalide : ", 0), 0U) << json << " -> " << message;
        EXPECT_NE(message.find(fragment), std::string::npos) << json << " -> " << message;
    }
}

TEST(LinePicturePathTest, StaysInTheResultFolderWithASafeName)
{
#ifdef _WIN32
    const std::string folder = "C:\\Devis\\";
    const std::string sep = "\\";
#else
    const std::string folder = "/data/devis/";
    const std::string sep = "/";
#endif
    const std::string cwd = std::filesystem::current_path().string();
    const std::pair<std::pair<std::string, const char *>, std::string> cases[] = {
        {{folder + "retour.xml", "P-1042"}, folder + "P-1042.bmp"},
        {{folder + "retour.xml", "P 1&2"}, folder + "P 1&2.bmp"},
        {{folder + "retour.xml", "../../x"}, folder + ".._.._x.bmp"},
        {{folder + "retour.xml", "a/b"}, folder + "a_b.bmp"},
        {{folder + "retour.xml", "a\\b:c*?\"<>|\x01"}, folder + "a_b_c_______.bmp"},
        {{folder + "retour.xml", ".."}, folder + "_.bmp"},
        {{folder + "retour.xml", "  "}, folder + "  .bmp"},
        // Names Windows keeps for devices, whatever the case, extension or trailing blanks.
        {{folder + "retour.xml", "NUL"}, folder + "_NUL.bmp"},
        {{folder + "retour.xml", "con"}, folder + "_con.bmp"},
        {{folder + "retour.xml", "COM1"}, folder + "_COM1.bmp"},
        {{folder + "retour.xml", "lpt9.txt"}, folder + "_lpt9.txt.bmp"},
        {{folder + "retour.xml", "Aux  "}, folder + "_Aux  .bmp"},
        {{folder + "retour.xml", "prn ."}, folder + "_prn ..bmp"},
        {{folder + "retour.xml", "COM\xC2\xB9"}, folder + "_COM\xC2\xB9.bmp"},
        {{folder + "retour.xml", "COM10"}, folder + "COM10.bmp"},
        {{folder + "retour.xml", "CONSOLE"}, folder + "CONSOLE.bmp"},
        {{folder + "retour.xml", "NUL-1"}, folder + "NUL-1.bmp"},
        {{"retour.xml", "P-1042"}, cwd + sep + "P-1042.bmp"},
        {{"sous" + sep + "retour.xml", "P-1042"}, cwd + sep + "sous" + sep + "P-1042.bmp"},
    };
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(gateway::linePicturePath(input.first, input.second), expected) << input.second;
}

} // namespace
