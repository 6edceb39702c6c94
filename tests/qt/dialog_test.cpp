#include "dialog_harness.h"

#include <QKeyEvent>
#include <QTest>
#include <QTimer>

namespace {

using DialogTest = DialogHarness;

struct BrandingCase {
    const char *configurateur;
    const char *caption;
    bool vestioraShown;
    bool duranelShown;
};

class DialogBrandingTest : public DialogHarness, public testing::WithParamInterface<BrandingCase> {};

TEST_P(DialogBrandingTest, CaptionAndLogoFollowTheConfigurator)
{
    const BrandingCase &c = GetParam();
    writeConfig(config("1", c.configurateur));
    start();
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(c.caption));
    EXPECT_EQ(child<QLabel>("imgVestiora")->isVisible(), c.vestioraShown);
    EXPECT_EQ(child<QLabel>("imgDuranel")->isVisible(), c.duranelShown);
    EXPECT_TRUE(dialog->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Configurators, DialogBrandingTest,
    testing::Values(BrandingCase{"vestiora", "Veltrano - Configurateur vestiora", true, false},
                    BrandingCase{"duranel", "Veltrano - Configurateur duranel", false, true},
                    BrandingCase{"Vestiora", "Configurateur Valmora", false, false},
                    BrandingCase{"other", "Configurateur Valmora", false, false},
                    BrandingCase{"", "Configurateur Valmora", false, false}),
    [](const testing::TestParamInfo<BrandingCase> &param) {
        return param.param.configurateur[0] == '\0' ? std::string("Empty") : std::string(param.param.configurateur);
    });

TEST_F(DialogTest, VersionLabelReadsModuleVersionAndEndsAtButtonColumn)
{
    writeConfig(config("1", "vestiora"));
    start();
    const auto *label = child<QLabel>("lblVersion");
    EXPECT_EQ(label->text(), QStringLiteral("Version 1.3 du 08/01/2024"));
    EXPECT_EQ(label->geometry().right() + 1, 327);
    EXPECT_GE(label->width(), label->sizeHint().width());
}

TEST_F(DialogTest, EveryTextFitsItsWidget)
{
    writeConfig(config("1", "vestiora"));
    start();
    for (const char *name : {"lblChiffrage", "lblOu", "lblVersion"}) {
        const auto *label = child<QLabel>(name);
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
        EXPECT_LE(label->geometry().right(), 351) << name;
    }
    // The instruction line's longest progress texts fit in it too.
    const auto *line = child<QLabel>("lblChiffrage");
    for (const std::string &text : {form::progressText(form::Step::Devis, 268'435'456, 268'435'456),
                                    form::progressText(form::Step::Document, 4'194'304, 4'194'304),
                                    form::progressText(form::Step::Jeton, 4'194'304, 4'194'304)})
        EXPECT_GE(line->width(), line->fontMetrics().horizontalAdvance(QString::fromStdString(text))) << text;
    for (const char *name : {"btnDevisRecuperer", "btnAnnulerRecuperation"}) {
        const auto *button = child<QPushButton>(name);
        EXPECT_LT(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 8) << name;
    }
    EXPECT_EQ(dialog->size(), QSize(351, 234));
}

// Counts paint events, to tell what the user saw before the activation ran; can also
// swallow them, as a window that never gets drawn.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool swallow = false;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        ++paints;
        return swallow;
    }
};

TEST_F(DialogTest, ActivationWaitsUntilTheDialogHasBeenDrawn)
{
    writeConfig(config("2", "vestiora"));
    PaintCounter counter;
    int paintsBeforeActivation = -1;
    onMessage = [&](const QString &) { paintsBeforeActivation = counter.paints; };
    dialog = std::make_unique<FicheDialog>(endpoint());
    dialog->installEventFilter(&counter);
    dialog->fiche().setFichierTemp(resultPath);
    dialog->fiche().setFichierConfig(configPath);
    dialog->show();
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_GE(paintsBeforeActivation, 1);
}

TEST_F(DialogTest, ActivationRunsEvenWhenNothingIsDrawn)
{
    writeConfig(config("2", "vestiora"));
    PaintCounter counter;
    counter.swallow = true;
    dialog = std::make_unique<FicheDialog>(endpoint());
    dialog->installEventFilter(&counter);
    dialog->fiche().setFichierTemp(resultPath);
    dialog->fiche().setFichierConfig(configPath);
    dialog->show();
    EXPECT_TRUE(waitFor([&] { return !messages.isEmpty(); }, 3000));
}

// "Annuler" and the close box end the event loop and leave the result file as it was.
class DialogClosingTest : public DialogHarness, public testing::WithParamInterface<const char *> {};

TEST_P(DialogClosingTest, EndsTheLoopWithoutTouchingTheResultFile)
{
    const std::string earlier = "<?xml version=\"1.0\"?>\r\n<Configurateur/>\r\n\r\n";
    test_support::writeFile(resultPath, earlier);
    const auto before = std::filesystem::last_write_time(resultPath);
    writeConfig(config("1", "duranel"));
    start();
    const std::string how = GetParam();
    QTimer::singleShot(0, dialog.get(), [&] {
        if (how == "Annuler")
            QTest::mouseClick(child<QPushButton>("btnAnnulerRecuperation"), Qt::LeftButton);
        else
            dialog->close();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    bool timedOut = false;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        QApplication::quit();
    });
    watchdog.start(5000);
    QApplication::exec();
    EXPECT_FALSE(timedOut);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(test_support::readFile(resultPath), earlier);
    EXPECT_EQ(std::filesystem::last_write_time(resultPath), before);
    EXPECT_TRUE(messages.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Ways, DialogClosingTest, testing::Values("Annuler", "CloseBox"));

TEST_F(DialogTest, EscapeDoesNotCloseTheDialog)
{
    writeConfig(config("1", "vestiora"));
    start();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    processEventsFor(20);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(DialogTest, TabGoesFromRecupererToAnnulerAndEnterActsOnTheFocusedButton)
{
    writeConfig(config("1", "vestiora"));
    start();
    auto *recuperer = child<QPushButton>("btnDevisRecuperer");
    auto *annuler = child<QPushButton>("btnAnnulerRecuperation");
    QWidget *next = recuperer->nextInFocusChain();
    while (next != recuperer && !(next->focusPolicy() & Qt::TabFocus))
        next = next->nextInFocusChain();
    EXPECT_EQ(next, annuler);

    // The retrieval fails, so the dialog stays open after Récupérer acts.
    gateway.script(R"({"/recuperation": [{"status": 503}]})");
    int recupererClicks = 0;
    QObject::connect(recuperer, &QPushButton::clicked, [&] { ++recupererClicks; });
    recuperer->setFocus();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_EQ(recupererClicks, 1);
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.front().contains(QStringLiteral("503")));

    annuler->setFocus();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_EQ(recupererClicks, 1);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(DialogTest, DuringARequestTheWindowWaitsAndItsCloseBoxStopsIt)
{
    gateway.script(R"({"/index.php/Services/jeton": [{"hang": 20}]})");
    writeConfig(config("1", "vestiora"));
    // The request runs in the dialog's own event loop: the user acts from a timer.
    QElapsedTimer sinceClose;
    bool acted = false;
    QTimer::singleShot(900, [&] {
        acted = true;
        EXPECT_EQ(gateway.requests().size(), 1U);
        EXPECT_FALSE(child<QPushButton>("btnDevisRecuperer")->isEnabled());
        EXPECT_EQ(dialog->cursor().shape(), Qt::WaitCursor);
        EXPECT_EQ(child<QPushButton>("btnAnnulerRecuperation")->cursor().shape(), Qt::ArrowCursor);
        EXPECT_EQ(child<QLabel>("lblChiffrage")->text(), QStringLiteral("Connexion à la passerelle…"));
        sinceClose.start();
        dialog->close();
        EXPECT_TRUE(dialog->isVisible()) << "the dialog closes once the request has stopped";
    });
    start();
    ASSERT_TRUE(waitFor([&] { return acted && !dialog->isVisible(); }, 5000));
    EXPECT_LT(sinceClose.elapsed(), 500);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
    EXPECT_TRUE(browserUrls.empty());
}

} // namespace
