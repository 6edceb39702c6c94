#include "qt/FicheDialog.h"
#include "ui_FicheDialog.h"

#include "qt/browser.h"
#include "qt/fonts.h"
#include "qt/message_box.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPalette>
#include <QPixmap>
#include <QShowEvent>
#include <QTimer>

#include <thread>

// The logos live in a static library: their resources must be registered by hand.
static void initLogoResources() { Q_INIT_RESOURCE(logos); }

namespace {

// The instruction line keeps this width whatever it says, so the layout never moves:
// from its left edge to the right edge of the buttons.
constexpr int kInstructionWidth = 327 - 22;

} // namespace

FicheDialog::FicheDialog(GatewayEndpoint endpoint, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::FicheDialog>())
{
    initLogoResources();
    ui->setupUi(this);

    // Fixed dialog frame with a close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(351, 234);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    setFont(platform::dialogFont());
    ui->lblChiffrage->setFont(platform::captionFont());
    ui->lblVersion->setText(QStringLiteral("Version ") + QString::fromUtf8(valmora::VersionModule)
                            + QStringLiteral(".3 du 08/01/2024"));
    instructionText_ = ui->lblChiffrage->text();
    placeLabels();
    // "Annuler" stays a pointer while the rest of the dialog waits.
    ui->btnAnnulerRecuperation->setCursor(Qt::ArrowCursor);

    fiche_ = std::make_unique<TFicheConfigurateurRecupDevis>(*this, std::move(endpoint));
    connect(ui->btnDevisRecuperer, &QPushButton::clicked, this, [this] { fiche_->btnDevisRecupererClick(); });
    connect(ui->btnAnnulerRecuperation, &QPushButton::clicked, this,
            [this] { fiche_->btnAnnulerRecuperationClick(); });
}

FicheDialog::~FicheDialog() = default;

// Labels size themselves to their text: the left edge stays, except for the version
// label, whose right edge stays at the button column.
void FicheDialog::placeLabels()
{
    const QPoint topLeft = ui->lblOu->pos();
    ui->lblOu->adjustSize();
    ui->lblOu->move(topLeft);
    ui->lblChiffrage->setFixedWidth(kInstructionWidth);
    ui->lblChiffrage->setFixedHeight(ui->lblChiffrage->sizeHint().height());
    const int right = ui->lblVersion->geometry().right();
    ui->lblVersion->adjustSize();
    ui->lblVersion->move(right - ui->lblVersion->width() + 1, ui->lblVersion->y());
}

bool FicheDialog::event(QEvent *event)
{
    // Back from the browser, or the pointer on its way to a button.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::Enter)
        fiche_->userReturned();
    return QDialog::event(event);
}

void FicheDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Should no paint come (a hidden or minimised start), the sequence runs anyway.
    QTimer::singleShot(500, this, &FicheDialog::scheduleActivation);
}

void FicheDialog::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    // The window is drawn before the token request starts.
    scheduleActivation();
}

void FicheDialog::scheduleActivation()
{
    if (activationScheduled_)
        return;
    activationScheduled_ = true;
    QTimer::singleShot(0, this, [this] { fiche_->FormActivate(); });
}

void FicheDialog::keyPressEvent(QKeyEvent *event)
{
    // Escape does nothing: only "Annuler" and the close box close the dialog.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FicheDialog::closeEvent(QCloseEvent *event)
{
    if (!fiche_->closeRequested()) {
        event->ignore(); // the request stops first, then the dialog closes
        return;
    }
    QDialog::closeEvent(event);
}

void FicheDialog::setCaptionAndLogo(const std::string &caption, form::Logo logo)
{
    setWindowTitle(QString::fromStdString(caption));
    QLabel *label = logo == form::Logo::Vestiora ? ui->imgVestiora : ui->imgDuranel;
    const QString name = logo == form::Logo::Vestiora ? QStringLiteral("vestiora") : QStringLiteral("duranel");
    // Loaded only when shown: reading a picture costs the first paint a few milliseconds.
    label->setPixmap(QPixmap(QStringLiteral(":/logos/") + name + QStringLiteral(".png")));
    label->setVisible(true);
}

void FicheDialog::showMessage(const std::string &text)
{
    platform::showMessage(QString::fromStdString(text), this);
}

bool FicheDialog::openInBrowser(const std::string &url)
{
    return platform::openInBrowser(url);
}

void FicheDialog::setProgressText(const std::string &text)
{
    ui->lblChiffrage->setText(text.empty() ? instructionText_ : QString::fromStdString(text));
}

void FicheDialog::setRetrievalEnabled(bool enabled)
{
    ui->btnDevisRecuperer->setEnabled(enabled);
}

void FicheDialog::setBusy(bool busy)
{
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void FicheDialog::closeWindow()
{
    close();
}

void FicheDialog::runInBackground(const std::function<void()> &work, const std::function<void()> &tick)
{
    QEventLoop loop;
    QTimer timer;
    timer.setInterval(250);
    connect(&timer, &QTimer::timeout, this, [&tick] { tick(); });
    timer.start();
    // The worker only posts the end of the wait to this thread; it touches no widget.
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}
