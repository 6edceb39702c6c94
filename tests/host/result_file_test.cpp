#include "gateway/quote_retrieval.h"
#include "host/result_file.h"

#include "platform/module_error.h"
#include "platform/text.h"
#include "support/test_pictures.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <filesystem>

namespace {

using host::LigneDevis;
using test_support::readFile;
using test_support::writeFile;

constexpr const char *kRetrievalDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configurateur>\n  <Jeton>T-77</Jeton>\n"
    "  <Passerelle>vestiora</Passerelle>\n  <Project>P-1042</Project>\n</Configurateur>\n";

LigneDevis workedExample()
{
    return {"Meuble haut 60 cm", "Façade chêne clair", "3.50", "225.00", "2", "450.00", "C:\\Devis\\P-1042.bmp"};
}

// The file as a parser reads it, told it is ISO-8859-1 (Latin-1) or Windows-1252.
pugi::xml_document readBack(const std::string &bytes, bool windows1252)
{
    pugi::xml_document document;
    const pugi::xml_parse_result result =
        windows1252 ? document.load_string(platform::cp1252ToUtf8(bytes).c_str(), pugi::parse_full)
                    : document.load_buffer(bytes.data(), bytes.size(), pugi::parse_full, pugi::encoding_latin1);
    EXPECT_TRUE(result) << result.description() << " at " << result.offset;
    return document;
}

TEST(ResultFileTest, WorkedExampleGivesTheExpectedBytes)
{
    const std::string bytes = host::resultFileBytes(kRetrievalDocument, workedExample());
    EXPECT_EQ(bytes, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n"
                     "<Configurateur>\r\n"
                     "  <Jeton>T-77</Jeton>\r\n"
                     "  <Passerelle>vestiora</Passerelle>\r\n"
                     "  <Project>P-1042</Project>\r\n"
                     "  <Libelle>Meuble haut 60 cm</Libelle>\r\n"
                     "  <Detail>Fa\xE7" "ade ch\xEA" "ne clair</Detail>\r\n"
                     "  <EcoTaxe>3.50</EcoTaxe>\r\n"
                     "  <PrixUnitaire>225.00</PrixUnitaire>\r\n"
                     "  <Quantite>2</Quantite>\r\n"
                     "  <PrixTotal>450.00</PrixTotal>\r\n"
                     "  <Image>C:\\Devis\\P-1042.bmp</Image>\r\n"
                     "</Configurateur>\r\n"
                     "\r\n");
}

TEST(ResultFileTest, EmptyValuesGiveSevenEmptyElements)
{
    const pugi::xml_document document = readBack(host::resultFileBytes(kRetrievalDocument, {}), false);
    const pugi::xml_node root = document.child("Configurateur");
    std::vector<std::string> names;
    for (const pugi::xml_node &child : root.children()) {
        names.emplace_back(child.name());
        if (names.size() > 3) {
            EXPECT_STREQ(child.child_value(), "") << child.name();
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Jeton", "Passerelle", "Project", "Libelle", "Detail", "EcoTaxe",
                                               "PrixUnitaire", "Quantite", "PrixTotal", "Image"}));
}

TEST(ResultFileTest, EveryLineEndsWithCrLfAndTheFileWithAnEmptyLine)
{
    LigneDevis line;
    line.Detail = "ligne 1\r\nligne 2\nligne 3\rligne 4";
    const std::string bytes = host::resultFileBytes("<Configurateur>\n<a>x\r\ny</a></Configurateur>", line);
    ASSERT_GE(bytes.size(), 4U);
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "\r\n\r\n");
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            EXPECT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
        if (bytes[i] == '\r') {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    EXPECT_STREQ(readBack(bytes, false).child("Configurateur").child("Detail").child_value(),
                 "ligne 1\nligne 2\nligne 3\nligne 4");
}

TEST(ResultFileTest, LineBreaksKeptInsideADocumentTypeBecomeCrLfToo)
{
    const std::string bytes =
        host::resultFileBytes("<!DOCTYPE Configurateur [\r<!ELEMENT Configurateur ANY>\r\n]>\r<Configurateur/>", {});
    EXPECT_NE(bytes.find("<!DOCTYPE Configurateur [\r\n<!ELEMENT Configurateur ANY>\r\n]>"), std::string::npos) << bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            EXPECT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "bare CR at " << i;
        }
    }
}

TEST(ResultFileTest, ReservedAndForeignCharactersReadBackUnchanged)
{
    LigneDevis line;
    line.Libelle = "Plan & <plan> \"d'angle\"";
    line.Detail = "Ω chêne \xE2\x80\x99" "angle\xE2\x80\x99 \xF0\x9F\x98\x80";
    line.EcoTaxe = "12 €";
    const std::string bytes = host::resultFileBytes(kRetrievalDocument, line);
    EXPECT_NE(bytes.find("Plan &amp; &lt;plan&gt;"), std::string::npos);
    EXPECT_NE(bytes.find("<EcoTaxe>12 \x80</EcoTaxe>"), std::string::npos);
    EXPECT_NE(bytes.find("&#x3A9; ch\xEAne \x92" "angle\x92 &#x1F600;"), std::string::npos);

    for (const bool windows1252 : {false, true}) {
        const pugi::xml_document document = readBack(bytes, windows1252);
        const pugi::xml_node root = document.child("Configurateur");
        EXPECT_EQ(std::string(root.child("Libelle").child_value()), line.Libelle);
        if (windows1252) {
            EXPECT_EQ(std::string(root.child("Detail").child_value()), line.Detail);
            EXPECT_EQ(std::string(root.child("EcoTaxe").child_value()), line.EcoTaxe);
        } else {
            // Latin-1 reads the bytes 0x80-0x9F as C1 controls; everything else is the same.
            EXPECT_EQ(std::string(root.child("Detail").child_value()),
                      "Ω chêne \xC2\x92" "angle\xC2\x92 \xF0\x9F\x98\x80");
        }
    }
}

TEST(ResultFileTest, ExistingLineElementsStayAndTheNewOnesComeLast)
{
    LigneDevis line;
    line.Libelle = "nouveau";
    const pugi::xml_document document = readBack(
        host::resultFileBytes("<Configurateur><Libelle>ancien</Libelle><Project>P</Project></Configurateur>", line),
        false);
    const pugi::xml_node root = document.child("Configurateur");
    EXPECT_STREQ(root.first_child().child_value(), "ancien");
    EXPECT_STREQ(root.child("Libelle").next_sibling("Libelle").child_value(), "nouveau");
    EXPECT_STREQ(root.last_child().name(), "Image");
}

TEST(ResultFileTest, OtherRootIsWrittenAloneWithTheDeclaration)
{
    LigneDevis line;
    line.Libelle = "x";
    const std::string bytes = host::resultFileBytes("<Autre a=\"1\"><b/></Autre>", line);
    EXPECT_EQ(bytes, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<Autre a=\"1\">\r\n  <b />\r\n</Autre>\r\n\r\n");
}

TEST(ResultFileTest, EveryOtherNodeIsKeptInOrder)
{
    const std::string document = "<?xml version='1.0' encoding='utf-8' standalone='yes'?>\n"
                                 "<!-- avant Ω -->\n<?traitement donnée?>\n"
                                 "<Configurateur xmlns:v=\"urn:v\" v:attr=\"Ωé\"><![CDATA[<brut> Ω]]><v:x/>texte</Configurateur>\n"
                                 "<!-- après -->";
    const std::string bytes = host::resultFileBytes(document, {});
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n", 0), 0U) << bytes;
    EXPECT_NE(bytes.find("<!-- avant ? -->"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("<?traitement donn\xE9" "e?>"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("v:attr=\"&#x3A9;\xE9\""), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("<![CDATA[<brut> ?]]>"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("<!-- apr\xE8s -->"), std::string::npos) << bytes;

    const pugi::xml_document back = readBack(bytes, true);
    const pugi::xml_node root = back.child("Configurateur");
    EXPECT_STREQ(root.attribute("v:attr").value(), "Ωé");
    EXPECT_STREQ(root.child("v:x").next_sibling().value(), "texte");
}

TEST(ResultFileTest, NamesOutsideTheCodePageStayWellFormed)
{
    const std::string bytes = host::resultFileBytes("<Configurateur><Ωmega Ψ=\"v\">x</Ωmega></Configurateur>", {});
    const pugi::xml_document back = readBack(bytes, true);
    EXPECT_STREQ(back.child("Configurateur").first_child().name(), "_mega");
}

TEST(ResultFileTest, InstructionsOutsideTheCodePageStayWellFormed)
{
    // "?" here would end the instruction early: "<?pi a?>b?>".
    const std::string bytes = host::resultFileBytes("<?pi a\xE2\x82\xB9>b?><?p\xCE\xA9 v='1'?><Configurateur/>", {});
    EXPECT_NE(bytes.find("<?pi a_>b?>"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("<?p_ v='1'?>"), std::string::npos) << bytes;
    pugi::xml_document back = readBack(bytes, true);
    EXPECT_STREQ(back.first_child().attribute("encoding").value(), "ISO-8859-1");
}

TEST(ResultFileTest, LineGoesUnderTheElementNotAnInstructionOfTheSameName)
{
    LigneDevis line;
    line.Libelle = "x";
    const std::string bytes = host::resultFileBytes("<?Configurateur pi?><Configurateur><Project>P</Project></Configurateur>", line);
    EXPECT_NE(bytes.find("<Project>P</Project>\r\n  <Libelle>x</Libelle>"), std::string::npos) << bytes;
}

TEST(ResultFileTest, QuotedGreaterThanInsideTheDocumentTypeDoesNotEndIt)
{
    const std::string bytes = host::resultFileBytes(
        "<!DOCTYPE Configurateur SYSTEM \"a>b.dtd\"><Configurateur a=\"\xCE\xA9\"/>", {});
    EXPECT_NE(bytes.find("<Configurateur a=\"&#x3A9;\">"), std::string::npos) << bytes;
    pugi::xml_document back = readBack(bytes, true);
    EXPECT_STREQ(back.child("Configurateur").attribute("a").value(), "\xCE\xA9");
}

TEST(ResultFileTest, CharactersXmlCannotCarryBecomeQuestionMarks)
{
    LigneDevis line;
    line.Libelle = "a\xEF\xBF\xBE" "b\xEF\xBF\xBF" "c"; // U+FFFE, U+FFFF
    const std::string bytes = host::resultFileBytes("<Configurateur><N\xCE\xA9/></Configurateur>", line);
    EXPECT_NE(bytes.find("<Libelle>a?b?c</Libelle>"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("<N_ />"), std::string::npos) << bytes; // a name stays a name
    EXPECT_EQ(bytes.find("&#xFFFE;"), std::string::npos);
}

TEST(ResultFileTest, NestingIsAcceptedToTwoHundredFiftyFiveLevelsAndRefusedBeyond)
{
    const auto nested = [](int depth) {
        std::string document;
        for (int i = 0; i < depth; ++i)
            document += i == 0 ? "<Configurateur>" : "<a>";
        for (int i = depth - 1; i >= 0; --i)
            document += i == 0 ? "</Configurateur>" : "</a>";
        return document;
    };
    EXPECT_NE(host::resultFileBytes(nested(255), {}).find("<Image />"), std::string::npos);
    EXPECT_EQ(test_support::errorOf([&] { static_cast<void>(host::resultFileBytes(nested(200000), {})); }),
              "Document de récupération illisible : le document est imbriqué trop profondément.");
}

TEST(ResultFileTest, DocumentTypeHoldingMarkupDoesNotConfuseTheEncoding)
{
    // A comment and quotes inside the document type, a '>' among them.
    const std::string bytes = host::resultFileBytes(
        "<!DOCTYPE n [<!-- s\"O?> --><!ATTLIST n a CDATA \"x>y\">]><n a=\"\xCE\xA9\"/>", {});
    EXPECT_NE(bytes.find("<n a=\"&#x3A9;\" />"), std::string::npos) << bytes;
    readBack(bytes, true);
}

TEST(ResultFileTest, StandaloneIsKeptOnlyWhenItIsYesOrNo)
{
    EXPECT_EQ(host::resultFileBytes("<?xml version='1.0' standalone='no'?><a/>", {}).rfind(
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"no\"?>\r\n", 0),
              0U);
    const std::string bytes = host::resultFileBytes("<?xml version='1.0'?><a/>", {});
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<a />", 0), 0U) << bytes;
}

TEST(ResultFileTest, ControlCharactersBecomeQuestionMarks)
{
    LigneDevis line;
    line.Libelle = std::string("a\x01" "b\tc", 5);
    const std::string bytes = host::resultFileBytes("<Configurateur/>", line);
    EXPECT_NE(bytes.find("<Libelle>a?b\tc</Libelle>"), std::string::npos) << bytes;
}

// The retrieval's last steps: picture beside the result file, then the result file.
class SaveRetrievalTest : public testing::Test {
protected:
    static std::string quoteWithPicture(const std::string &picture)
    {
        return R"({"code":200,"returnedObject":{"libelle":"Meuble haut 60 cm","prixTotal":450.00,"imageB64Ligne":")"
             + picture + "\"}}";
    }

    static test_pictures::Picture picture()
    {
        test_pictures::Picture image(12, 8, 3);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 12; ++x)
                image.set(x, y, {x * 20, y * 30, 100});
        return image;
    }

    static std::string pngBase64() { return test_pictures::toBase64(test_pictures::pngOf(picture())); }

    [[nodiscard]] std::vector<std::string> entries() const { return test_support::entries(dir.path()); }

    test_support::TempDir dir;
};

TEST_F(SaveRetrievalTest, WritesThePictureThenTheResultFileOverALongerOne)
{
    writeFile(dir.file("retour.xml"), std::string(5000, 'a'));
    std::string quote = quoteWithPicture(pngBase64());
    const LigneDevis line = gateway::saveRetrieval(kRetrievalDocument, "P-1042", &quote, dir.file("retour.xml"));
    EXPECT_EQ(line.Image, dir.file("P-1042.bmp"));
    EXPECT_EQ(entries(), (std::vector<std::string>{"P-1042.bmp", "retour.xml"}));
    EXPECT_TRUE(test_pictures::samePixels(test_pictures::readBmp(line.Image, 12, 8), picture()));
    const std::string bytes = readFile(dir.file("retour.xml"));
    EXPECT_LT(bytes.size(), 5000U);
    EXPECT_NE(bytes.find("<Image>" + dir.file("P-1042.bmp") + "</Image>"), std::string::npos);
    EXPECT_NE(bytes.find("<PrixTotal>450.00</PrixTotal>"), std::string::npos);
}

TEST_F(SaveRetrievalTest, WithoutQuoteTheResultHoldsSevenEmptyElements)
{
    const LigneDevis line = gateway::saveRetrieval(kRetrievalDocument, "", nullptr, dir.file("retour.xml"));
    EXPECT_EQ(line.Image, "");
    EXPECT_NE(readFile(dir.file("retour.xml")).find("<Libelle />\r\n"), std::string::npos);
    EXPECT_EQ(entries(), std::vector<std::string>{"retour.xml"});
}

TEST_F(SaveRetrievalTest, UnreadablePictureLeavesTheEarlierResultAndNoOtherFile)
{
    writeFile(dir.file("retour.xml"), "ancien");
    std::string quote = quoteWithPicture("bm90IGEgcGljdHVyZQ==");
    EXPECT_THROW(gateway::saveRetrieval(kRetrievalDocument, "P-1042", &quote, dir.file("retour.xml")), ModuleError);
    EXPECT_EQ(readFile(dir.file("retour.xml")), "ancien");
    EXPECT_EQ(entries(), std::vector<std::string>{"retour.xml"});
}

TEST_F(SaveRetrievalTest, ResultThatCannotBeWrittenIsFoundBeforeThePicture)
{
    std::filesystem::create_directory(dir.file("dossier.xml"));
    writeFile(dir.file("protege.xml"), "ancien");
    std::filesystem::permissions(dir.file("protege.xml"), std::filesystem::perms::owner_read);
    for (const char *target : {"absent/retour.xml", "dossier.xml", "protege.xml"}) {
        std::string quote = quoteWithPicture(pngBase64());
        const std::string message =
            [&] {
                try {
                    static_cast<void>(gateway::saveRetrieval(kRetrievalDocument, "P-1042", &quote, dir.file(target)));
                } catch (const ModuleError &e) {
                    return std::string(e.what());
                }
                return std::string("no error");
            }();
        EXPECT_EQ(message.rfind("Impossible d'écrire le fichier " + dir.file(target), 0), 0U) << message;
        EXPECT_EQ(entries(), (std::vector<std::string>{"dossier.xml", "protege.xml"})) << target;
    }
    EXPECT_EQ(readFile(dir.file("protege.xml")), "ancien");
}

} // namespace
