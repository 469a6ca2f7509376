#include "correlation/qt/uCorre.h"

#include "audio/MMNotify.h"
#include "correlation/MMCorrelationSettings.h"
#include "base/qt/MMBevelPaint.h"
#include "correlation/MMCorrelationPlace.h"
#include "correlation/qt/uCorreArt.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

// The window's colour $423831.
const QColor kWindowColor(0x31, 0x38, 0x42);

QLabel* ValueLabel(const QString& text, int x, int y, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f("Arial");
    f.setPixelSize(9);
    f.setBold(true);
    l->setFont(f);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, ToQColor(clSilver));
    l->setPalette(p);
    l->setAttribute(Qt::WA_TranslucentBackground);
    l->move(x, y);
    l->adjustSize();
    return l;
}

// Sets a label's text when it differs from what it shows.
void ShowText(QLabel* label, std::string& shown, const std::string& text)
{
    if (text == shown) return;
    shown = text;
    label->setText(QString::fromStdString(text));
    label->adjustSize();
}

}  // namespace

// ---- TCorreRadioGroup --------------------------------------------------------

TCorreRadioGroup::TCorreRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), mGroup(new QButtonGroup(this))
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, caption.isEmpty() ? 2 : 4, 8, 2);
    grid->setVerticalSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        mGroup->addButton(b, i);
        grid->addWidget(b, i / columns, i % columns);
        mButtons.push_back(b);
    }
    connect(mGroup, &QButtonGroup::idClicked, this, [this](int id) { setItemIndex(id); });
}

QRadioButton* TCorreRadioGroup::Button(int index) const
{
    return index >= 0 && index < static_cast<int>(mButtons.size()) ? mButtons[static_cast<size_t>(index)] : nullptr;
}

void TCorreRadioGroup::setItemIndex(int index)
{
    if (mButtons.empty()) return;
    index = std::clamp(index, 0, static_cast<int>(mButtons.size()) - 1);
    mButtons[static_cast<size_t>(index)]->setChecked(true);
    if (index == mIndex) return;
    mIndex = index;
    if (OnClick) OnClick();
}

// ---- TCorrePicture -----------------------------------------------------------

TCorrePicture::TCorrePicture(TPainter painter, QWidget* parent) : QWidget(parent), mPainter(std::move(painter)) {}

void TCorrePicture::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    mPainter(p, size());
}

void TCorrePicture::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && OnClick) OnClick();
    QWidget::mousePressEvent(e);
}

// ---- TCorreStripView ---------------------------------------------------------

TCorreStripView::TCorreStripView(const TMMCorrelationStrip& strip, QWidget* parent)
    : QWidget(parent),
      mStrip(strip),
      mImage(TMMCorrelationStrip::kWidth, TMMCorrelationStrip::kHeight, QImage::Format_RGB32)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    mImage.fill(Qt::black);
}

// The steps of one wake-up of the connectors' loop run back to back, so their
// update() requests merge into one paint at the end of the wake-up.
void TCorreStripView::Changed()
{
    if (isVisible()) update();
}

void TCorreStripView::paintEvent(QPaintEvent*)
{
    ++mPaints;
    const TMMCorrelationStrip::TPixel* px = mStrip.Pixels();
    for (int y = 0; y < TMMCorrelationStrip::kHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(mImage.scanLine(y));
        for (int x = 0; x < TMMCorrelationStrip::kWidth; ++x) {
            const TColor c = *px++;
            line[x] = qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c));
        }
    }
    QPainter p(this);
    p.drawImage(0, 0, mImage);
}

// ---- TfCorre -----------------------------------------------------------------

TfCorre::TfCorre(TCorrelationHost& host, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      mHost(host)
{
    setObjectName("fCorre");
    setWindowTitle("Correlation");
    resize(kWidth - kFrameWidth, kHeight - kFrameHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kWindowColor);
    pal.setColor(QPalette::WindowText, ToQColor(clSilver));
    setPalette(pal);
    setAutoFillBackground(true);

    mImage1 = new TCorrePicture(PaintCorrePanel, this);
    mImage1->setObjectName("Image1");
    mImage1->setGeometry(48, 25, 117, 64);
    mImage1->setToolTip("Click to reset...");
    mImage1->OnClick = [this] { Image1Click(); };

    mLabMin = ValueLabel("0", 79, 36, this);
    mLabMin->setObjectName("Lab_Min");
    mLabMax = ValueLabel("0", 115, 36, this);
    mLabMax->setObjectName("Lab_Max");
    mLabCorP2 = ValueLabel("0 %", 85, 66, this);
    mLabCorP2->setObjectName("lab_cor_p2");
    mLabCorP2->setToolTip("Displays the procentual correlation (Click on it to reset)");
    mLabCorP = ValueLabel("100 %", 120, 66, this);
    mLabCorP->setObjectName("lab_cor_p");
    mLabCorP->setToolTip("Displays the percentaged correlation (Click it to reset)");
    // A click on an extreme is a click on the panel beneath it.
    for (QLabel* l : {mLabMin, mLabMax}) l->setAttribute(Qt::WA_TransparentForMouseEvents);
    for (QLabel* l : {mLabCorP2, mLabCorP}) l->installEventFilter(this);

    mImage3 = new TCorrePicture(PaintCorreScale, this);
    mImage3->setObjectName("Image3");
    mImage3->setGeometry(160, 25, 328, 24);
    mImage4 = new TCorreStripView(mStrip, this);
    mImage4->setObjectName("Image4");
    mImage4->setGeometry(169, 48, TMMCorrelationStrip::kWidth, TMMCorrelationStrip::kHeight);
    mImage2 = new TCorrePicture(PaintCorrePhaseScale, this);
    mImage2->setObjectName("Image2");
    mImage2->setGeometry(160, 64, 328, 24);
    mImage5 = new TCorrePicture(PaintCorreEndPiece, this);
    mImage5->setObjectName("Image5");
    mImage5->setGeometry(468, 48, 20, 19);

    // The taps: all but their bottom row lies above the client area.
    TMMBevel bevel;
    bevel.BevelOuter = bvLowered;
    bevel.BevelOuterWidth = 1;
    mOsL = new TCorreScope(this);
    mOsL->setObjectName("os_l");
    mOsL->setGeometry(1, -199, 200, 200);
    mOsR = new TCorreScope(this);
    mOsR->setObjectName("os_r");
    mOsR->setGeometry(200, -199, 200, 200);
    for (TCorreScope* s : {mOsL, mOsR}) {
        s->setBevel(bevel);
        s->Scope().SetClientSize(s->width(), s->height());  // before its first resize event
        TMMOscope& o = s->Scope();
        o.setKind(okConLines);
        o.setBitLength(b16Bit);
        o.setMode(mStereo);
        o.setSampleRate(44100);
    }
    mOsL->Scope().setChannel(chLeft);
    mOsR->Scope().setChannel(chRight);
    mOsR->Scope().setLocked(true);
    mOsR->Scope().setBarWidth(1);

    mButton1 = new QPushButton("Set", this);
    mButton1->setObjectName("Button1");
    mButton1->setGeometry(503, 62, 45, 25);
    mButton1->setPalette(QGuiApplication::palette());
    connect(mButton1, &QPushButton::clicked, this, [this] { Button1Click(); });

    mRgChannel = new TCorreRadioGroup(" Correlation between ",
                                      {"Channel 1 && 2", "Channel 3 && 4", "Channel 5 && 6", "Channel 7 && 8",
                                       "Channel 9 && 10", "Channel 11 && 12"},
                                      3, this);
    mRgChannel->setObjectName("rg_channel");
    mRgChannel->setGeometry(48, 104, 441, 73);
    mRgChannel->setItemIndex(0);
    mRgChannel->OnClick = [this] { rg_channelClick(); };
    mRgCorrelation = new TCorreRadioGroup("", {" FAST", " MIDDEL", " SLOW"}, 3, this);
    mRgCorrelation->setObjectName("rg_correlation");
    mRgCorrelation->setGeometry(45, 186, 444, 31);
    mRgCorrelation->setItemIndex(1);
    mRgCorrelation->OnClick = [this] { rg_correlationClick(); };
    // Left as drawn by the program when skins are applied.
    mRgChannel->setProperty("tag", 99);
    mRgCorrelation->setProperty("tag", 99);

    mConnectCore.setEnterIdle(false);
    mConnectCore.setOscope1(&mOsL->Scope());
    mConnectCore.setOscope2(&mOsR->Scope());
    mConnectCore.OnTrigger = [this](TMMConnector*) { mConnectCoreTrigger(); };
    mHost.Connector(1).setOutput(&mConnectCore);

    mTCorre = new QTimer(this);
    mTCorre->setObjectName("t_corre");
    mTCorre->setInterval(200);
    connect(mTCorre, &QTimer::timeout, this, [this] { t_correTimer(); });
    mTCorre->start();
    mTimer1 = new QTimer(this);
    mTimer1->setObjectName("Timer1");
    mTimer1->setInterval(1000);
    connect(mTimer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    mTimer1->start();
}

TfCorre::~TfCorre()
{
    mConnectCore.OnTrigger = nullptr;
    mConnectCore.setOutput(nullptr);
    mConnectCore.setInput(nullptr);
}

void TfCorre::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (!e->spontaneous()) FormShow();
}

void TfCorre::FormShow()
{
    // Shown again from the menu, the window stays where it was closed.
    if (!mPlaced) move(StartPlace());
    mPlaced = true;
    // Applied even when the item stays the same.
    const int speed = mHost.ReadInt(kCorreSpeed.Name, SpeedIndex());
    const int before = SpeedIndex();
    mRgCorrelation->setItemIndex(speed);
    if (SpeedIndex() == before) rg_correlationClick();
    mStrip.SetColors(clYellow, clRed, clLime);
}

QPoint TfCorre::StartPlace()
{
    constexpr int kNone = std::numeric_limits<int>::min();
    const int left = mHost.ReadInt(kCorreLeft.Name, kNone), top = mHost.ReadInt(kCorreTop.Name, kNone);
    if (left == kNone && top == kNone) return PlaceBesideMain();
    const QPoint at(left == kNone ? 0 : left, top == kNone ? 0 : top);
    // A stored place on no screen would leave the window unreachable.
    for (const QScreen* s : QGuiApplication::screens())
        if (s->availableGeometry().intersects(QRect(at, frameGeometry().size()))) return at;
    return QPoint(0, 0);
}

QPoint TfCorre::PlaceBesideMain() const
{
    const QWidget* main = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* screen = main ? main->screen() : QGuiApplication::primaryScreen();
    if (!main || !screen) return QPoint(0, 0);
    const QRect s = screen->availableGeometry();
    const QRect m = main->frameGeometry();
    int band = main->geometry().top() - m.top();
    if (const auto* mw = qobject_cast<const QMainWindow*>(main); mw && mw->menuWidget())
        band += mw->menuWidget()->height();
    const TPlacePoint p = CorrelationWindowPlace({s.x(), s.y(), s.width(), s.height()},
                                                 {m.x(), m.y(), m.width(), m.height()}, band,
                                                 width() + kFrameWidth, OuterHeight());
    return QPoint(p.x, p.y);
}

void TfCorre::rg_correlationClick() { mCorr.ApplySpeed(SpeedIndex()); }

void TfCorre::rg_channelClick()
{
    // The new pair's readings start afresh, whatever the rewiring raises.
    RestartReadings();
    try {
        SelectCorrelationPair(mHost, mConnectCore, ChannelIndex());
    } catch (const std::exception& e) {
        ShowError(e);
    }
}

void TfCorre::RestartReadings()
{
    if (mCorr.SpeedApplied()) mCorr.ApplySpeed(mCorr.SpeedIndex());
    mCorr.ResetExtremes();
    ShowText(mLabMin, mMinText, "0");
    ShowText(mLabMax, mMaxText, "0");
    PercentClick();
}

void TfCorre::mConnectCoreTrigger()
{
    const TMMCorrelation::TStepResult r =
        mCorr.Step(mOsL->Scope().ColumnValues().data(), mOsR->Scope().ColumnValues().data());
    if (r.minChanged) ShowText(mLabMin, mMinText, FormatCorrelationExtreme(mCorr.Minimum()));
    if (r.maxChanged) ShowText(mLabMax, mMaxText, FormatCorrelationExtreme(mCorr.Maximum()));
    if (mStrip.Draw(mCorr.SmoothedPosition(), mCorr.BarPosition())) mImage4->Changed();
}

void TfCorre::t_correTimer()
{
    mCorr.Tick();
    const int p = mCorr.PositivePercent();
    ShowText(mLabCorP, mPercentText, FormatCorrelationPercent(p));
    ShowText(mLabCorP2, mPercent2Text, FormatCorrelationPercent(100 - p));
}

bool TfCorre::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonPress && (watched == mLabCorP || watched == mLabCorP2) &&
        static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
        PercentClick();
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

void TfCorre::Image1Click() { mCorr.ResetExtremes(); }

void TfCorre::PercentClick()
{
    mCorr.ResetTicks();
    ShowText(mLabCorP, mPercentText, "100 %");
    ShowText(mLabCorP2, mPercent2Text, "0 %");
}

void TfCorre::Timer1Timer()
{
    mTimer1->stop();
    mRgChannel->setItemIndex(mHost.ReadInt(kCorreChannel.Name, ChannelIndex()));
}

void TfCorre::Button1Click() { setOuterHeight(OuterHeight() == kSetHeight ? kNoSetHeight : kSetHeight); }

void TfCorre::setOuterHeight(int h) { resize(width(), std::max(h - kFrameHeight, 1)); }

int TfCorre::TappedPair() const
{
    for (int k = 1; k <= TCorrelationHost::kPairs; ++k)
        if (mHost.Connector(k).Output() == &mConnectCore) return k;
    return 0;
}

void TfCorre::ShowError(const std::exception& e) { ShowApplicationError(e.what()); }
