#include "metering/qt/uSet_Level.h"

#include "base/qt/MMBevelPaint.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "metering/qt/uSet_LevelControls.h"
#include "widgets/qt/MMLEDLbl.h"
#include "widgets/qt/MMLEDS.h"
#include "widgets/qt/MMSpin.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <functional>

namespace {

constexpr int kClientWidth = 687, kClientHeight = 627;
constexpr int kPictureWidth = 37, kPictureHeight = 520;

TMMLEDSpin* MakeSpin(QWidget* parent, int digits, int lo, int hi, int value)
{
    auto* s = new TMMLEDSpin(parent);
    s->setProperty("tag", 99);  // drawn by the program under every skin
    s->setDigitSize(ls11x19);
    s->setNumDigits(digits);
    s->setMinValue(lo);
    s->setMaxValue(hi);
    s->setValue(value);
    s->setLEDColor(clLime);
    s->setInactiveColor(RGBColor(0, 64, 0));
    s->setFixedSize(s->size());  // the spin sizes itself to its digits
    return s;
}

QLabel* MakeLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QGroupBox* MakeBox(const QString& title, QWidget* parent, const QRect& r)
{
    auto* b = new QGroupBox(title, parent);
    b->setGeometry(r);
    return b;
}

}  // namespace

TfSetLevel::TfSetLevel(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName("fSetLevel");
    setWindowTitle("Level settings");
    setFixedSize(kClientWidth, kClientHeight);
    QFont f = font();
    f.setPointSize(8);
    setFont(f);
    build();
    wire();
    mCore->setView(this);
    ControlsChanged();
}

TfSetLevel::~TfSetLevel() { mCore->setView(nullptr); }

void TfSetLevel::UseCore(TSetLevelCore* core)
{
    if (!core) core = &mOwnCore;
    if (core == mCore) return;
    mCore->setView(nullptr);
    mCore = core;
    mCore->setView(this);
    ControlsChanged();
}

// ------------------------------------------------------------------ layout

void TfSetLevel::build()
{
    QStringList standards;
    for (int k = 0; k < PresetCount; ++k) standards << PresetOf(k).Text;
    rg_Meter = new TSetLevelRadioGroup(" Meter ballistics ", standards, 3, this);
    rg_Meter->setGeometry(8, 6, 576, 86);
    rg_integral = new TSetLevelRadioGroup(
        " Integration time ", {"none", "5 ms ", "10 ms", "15 ms", "20 ms", "300 ms"}, 6, this);
    rg_integral->setGeometry(8, 96, 576, 46);
    rg_referenz = new TSetLevelRadioGroup(
        " Referenz Level ", {"0 dBFS", "- 18 dBFS", "-20 dBFS", "-24 dBFS"}, 4, this);
    rg_referenz->setGeometry(8, 146, 576, 46);

    // Overload limits, peaks and decay.
    QGroupBox* zones = MakeBox(QString(), this, QRect(8, 196, 206, 182));
    auto* zg = new QGridLayout(zones);
    zg->setContentsMargins(8, 6, 8, 6);
    ol_top = MakeSpin(zones, 3, 1, 100, 84);
    ol_button = MakeSpin(zones, 3, 1, 100, 57);
    sp_peaks = MakeSpin(zones, 2, 0, 5, 3);
    MMLEDSpin5 = MakeSpin(zones, 2, 0, 2, 0);
    MMLEDSpin4 = MakeSpin(zones, 3, 5, 16, 11);
    CheckBox2 = new QCheckBox("Leave max Peak", zones);
    CheckBox2->setChecked(true);
    zg->setVerticalSpacing(2);
    zg->addWidget(MakeLabel("OL Level Top", zones), 0, 0);
    zg->addWidget(ol_top, 0, 1, Qt::AlignLeft);
    zg->addWidget(MakeLabel("OL Level Button", zones), 1, 0);
    zg->addWidget(ol_button, 1, 1, Qt::AlignLeft);
    zg->addWidget(MakeLabel("Nr of Peak  & Spot Space", zones), 2, 0, 1, 2);
    auto* peaksRow = new QHBoxLayout;
    peaksRow->addStretch();
    peaksRow->addWidget(sp_peaks);
    peaksRow->addWidget(MMLEDSpin5);
    peaksRow->addStretch();
    zg->addLayout(peaksRow, 3, 0, 1, 2);
    zg->addWidget(MakeLabel("Decay ( speed )", zones), 4, 0);
    zg->addWidget(MMLEDSpin4, 4, 1, Qt::AlignLeft);
    zg->addWidget(CheckBox2, 5, 0, 1, 2);

    // Colour groups: columns are the groups, rows top / middle / bottom.
    QGroupBox* colours = MakeBox(QString(), this, QRect(220, 196, 364, 182));
    auto* cg = new QGridLayout(colours);
    cg->setContentsMargins(4, 6, 4, 6);
    cg->setHorizontalSpacing(2);
    cg->setColumnStretch(0, 1);
    MMColorButton[0] = nullptr;
    for (int b = 1; b <= ColorButtonCount; ++b) {
        MMColorButton[b] = new TMMColorButton(colours);
        MMColorButton[b]->setObjectName(QString("MMColorButton%1").arg(b));
        MMColorButton[b]->setColor(mCore->Color(b));
    }
    const char* rows[3] = {"Bar Color Top", "Bar Color Middle", "Bar Color Button"};
    for (int r = 0; r < 3; ++r) cg->addWidget(MakeLabel(rows[r], colours), r + 1, 0);
    for (int g = 0; g < ColorGroupCount; ++g) {
        // "Levels" over the range: the row captions keep their room.
        auto* head = MakeLabel(ColorGroupCaption(g), colours);
        head->setAlignment(Qt::AlignCenter);
        head->setWordWrap(true);
        cg->addWidget(head, 0, g + 1);
        cg->addWidget(MMColorButton[TopColorButton(g)], 1, g + 1, Qt::AlignCenter);
        cg->addWidget(MMColorButton[MiddleColorButton(g)], 2, g + 1, Qt::AlignCenter);
        cg->addWidget(MMColorButton[BottomColorButton(g)], 3, g + 1, Qt::AlignCenter);
    }
    cg->addWidget(MakeLabel("Color of Lebels", colours), 4, 0);
    cg->addWidget(MMColorButton[LabelColorButton], 4, 1, Qt::AlignCenter);

    rg_stereo = new TSetLevelRadioGroup(" Lelvel Display ", {"Mono  Mode", "Stereo Mode"}, 2, this);
    rg_stereo->setGeometry(8, 382, 276, 46);
    rg_ballistics = new TSetLevelRadioGroup(" Ballistics ", {"As preset", "Standard instrument"}, 2, this);
    rg_ballistics->setObjectName("rg_ballistics");
    rg_ballistics->setGeometry(8, 583, 376, 42);
    QGroupBox* top = MakeBox(" Meter stay on top ", this, QRect(290, 382, 294, 46));
    auto* tl = new QHBoxLayout(top);
    tl->setContentsMargins(8, 2, 8, 2);
    cb_top = new QCheckBox("Stay on Top", top);
    cb_top->setChecked(true);
    tl->addWidget(cb_top);

    buildSilence();
    buildPreview();

    Button2 = new QPushButton("Preview", this);
    btn_save = new QPushButton("Save", this);
    Button1 = new QPushButton("Save && Close", this);
    Button2->setGeometry(391, 590, 80, 28);
    btn_save->setGeometry(475, 590, 80, 28);
    Button1->setGeometry(559, 590, 120, 28);
    connect(btn_actions, &QPushButton::clicked, this, [this] {
        if (OnActions) OnActions();
    });

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    Timer1->setInterval(1000);
    t_reset = new QTimer(this);
    t_reset->setInterval(mCore->ResetIntervalMs());
}

void TfSetLevel::buildSilence()
{
    QGroupBox* box = MakeBox(QString(), this, QRect(8, 432, 576, 150));
    auto* g = new QGridLayout(box);
    g->setContentsMargins(8, 4, 8, 6);
    chb_detect = new QCheckBox("Silence Detector", box);
    QFont bold = chb_detect->font();
    bold.setBold(true);
    chb_detect->setFont(bold);
    g->addWidget(chb_detect, 0, 0, 1, 2);

    nEdit = new QLineEdit(box);
    nEdit->setValidator(new QIntValidator(ThresholdDbMin, ThresholdDbMax, nEdit));
    nEdit->setFixedWidth(44);
    spin_db2 = new TMMSpinButton(box);
    spin_db2->setMinValue(ThresholdDbMin);
    spin_db2->setMaxValue(ThresholdDbMax);
    spin_db2->setValue(mCore->ThresholdDb());
    spin_db2->setFixedSize(16, 22);
    auto* dbRow = new QHBoxLayout;
    dbRow->setSpacing(2);
    dbRow->addWidget(nEdit);
    dbRow->addWidget(spin_db2);
    dbRow->addStretch();
    g->addWidget(MakeLabel("Silence Detector dBFS", box), 1, 0);
    g->addLayout(dbRow, 1, 1);

    spin_db = new TMMSpinButton(box);
    spin_db->setMinValue(0);
    spin_db->setMaxValue(32768);
    spin_db->setValue(mCore->ThresholdAmplitude());
    spin_db->hide();
    led_db = new TMMLEDPanel(box);
    led_db->setNumDigits(5);
    led_db->setMinValue(0);
    led_db->setMaxValue(32768);
    led_db->setDigitSize(ls08x13);
    led_db->setValue(mCore->ThresholdAmplitude());
    led_db->hide();

    spin_sec = MakeSpin(box, 5, 1, 32768, 5);
    g->addWidget(MakeLabel("Alarm in x sec", box), 2, 0);
    g->addWidget(spin_sec, 2, 1, Qt::AlignLeft);

    cb_arlarm = new QCheckBox("Play Sound File", box);
    cb_arlarm->setChecked(true);
    g->addWidget(cb_arlarm, 1, 2);
    sp_arlarm = MakeSpin(box, 2, 1, 60, 10);
    g->addWidget(MakeLabel("Repet in x sec", box), 2, 2);
    g->addWidget(sp_arlarm, 2, 3, Qt::AlignLeft);

    btn_load = new QPushButton("Load Audio File", box);
    lab_file = MakeLabel(QString(), box);
    lab_file->setMinimumWidth(300);
    // The silence monitor's actions beside the alarm sound.
    btn_actions = new QPushButton("Actions...", box);
    g->addWidget(btn_load, 3, 0);
    g->addWidget(lab_file, 3, 1, 1, 2);
    g->addWidget(btn_actions, 3, 3, Qt::AlignRight);
    g->setColumnStretch(3, 1);
}

void TfSetLevel::buildPreview()
{
    Panel3 = new QWidget(this);
    Panel3->setObjectName("Panel3");
    Panel3->setProperty("tag", 99);
    Panel3->setGeometry(592, 6, 88, 576);
    Panel3->setAutoFillBackground(true);
    QPalette pal = Panel3->palette();
    pal.setColor(QPalette::Window, Qt::black);
    Panel3->setPalette(pal);

    Level8 = new TMMLevel(Panel3);
    Level8->setObjectName("Level8");
    TMMCustomLevel& bar = Level8->Core();
    bar.setKind(lkVertical);
    Level8->setGeometry(8, 10, 18, kPictureHeight);
    bar.setBitLength(b16Bit);
    bar.setMode(mStereo);
    bar.setChannel(chLeft);
    bar.setSensitivy(-52);
    bar.setDecayMode(dmStepUp);
    bar.setDecay(7);
    bar.setSpotSpace(0);
    bar.setBar1Color(clLime);
    bar.setBar2Color(clYellow);
    bar.setInactive1Color(clBlack);
    bar.setInactive2Color(clBlack);
    bar.setInactive3Color(clBlack);
    bar.setPoint1(56);
    bar.setPoint2(73);

    ima_nordic1 = new QLabel(Panel3);
    ima_nordic1->setObjectName("ima_nordic1");
    ima_nordic1->setGeometry(46, 10, kPictureWidth, kPictureHeight);
    mPicture = QImage(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    mPicture.fill(Qt::black);
    ima_nordic1->setPixmap(QPixmap::fromImage(mPicture));

    Scale_outfit = new TMMLevelScale(Panel3);
    Scale_outfit->setObjectName("Scale_outfit");
    Scale_outfit->setKind(lkVertical);
    Scale_outfit->setGeometry(46, 10, 31, kPictureHeight);
    Scale_outfit->setScaleTicks(26);
    Scale_outfit->setPoint1(91);
    Scale_outfit->setPoint2(92);
    Scale_outfit->setScale1Color(clSilver);
    Scale_outfit->setScale2Color(clSilver);
    Scale_outfit->setSensitivy(-42);
    Scale_outfit->setFont(QFont("Tahoma", 7));
    Scale_outfit->Scale().setTickCount(10);
    Scale_outfit->Scale().setEnlargeEvery(1);
    Scale_outfit->Scale().setSize(7);
    Scale_outfit->Scale().setOrigin(soInner);
    Scale_outfit->Scale().setConnect(false);
    Scale_outfit->hide();

    LED8 = new TMMLEDLABEL(Panel3);
    LED8->setObjectName("LED8");
    TMMBevel bevel;
    bevel.BevelOuter = bvLowered;
    bevel.BorderSpace = 2;
    LED8->setBevel(bevel);
    LED8->setColor(clBlack);
    LED8->setInactiveColor(clBlack);
    LED8->setLEDColor(clCream);
    LED8->setCaption("Git");
    LED8->move(17, kPictureHeight + 24);
}

// ------------------------------------------------------------------ wiring

void TfSetLevel::wire()
{
    rg_Meter->OnClick = [this](int k) { mCore->setMeterItem(k); };
    rg_integral->OnClick = [this](int k) { mCore->setIntegralItem(k); };
    rg_referenz->OnClick = [this](int k) { mCore->setReferenceItem(k); };
    rg_stereo->OnClick = [this](int k) { mCore->setStereoItem(k); };
    rg_ballistics->OnClick = [this](int k) { mCore->setBallisticsItem(k); };

    auto spin = [this](TMMLEDSpin* s, void (TSetLevelCore::*set)(int)) {
        s->OnChange = [this, s, set](QObject*) {
            if (!mSyncing) std::invoke(set, *mCore, s->Value());
        };
    };
    spin(ol_top, &TSetLevelCore::setOlTop);
    spin(ol_button, &TSetLevelCore::setOlBottom);
    spin(sp_peaks, &TSetLevelCore::setPeaks);
    spin(MMLEDSpin5, &TSetLevelCore::setSpotSpace);
    spin(MMLEDSpin4, &TSetLevelCore::setDecay);
    spin(spin_sec, &TSetLevelCore::setAlarmSeconds);
    spin(sp_arlarm, &TSetLevelCore::setRepeatSeconds);
    spin_db2->OnChange = [this](QObject*) {
        if (!mSyncing) mCore->setThresholdDb(spin_db2->Value());
    };
    spin_db->OnChange = [this](QObject*) {
        if (!mSyncing) mCore->setThresholdAmplitude(spin_db->Value());
    };
    connect(nEdit, &QLineEdit::editingFinished, this, [this] {
        bool ok = false;
        const int v = nEdit->text().toInt(&ok);
        if (ok) mCore->setThresholdDb(v);
        ControlsChanged();  // an empty or partial entry shows the value again
    });

    auto box = [this](QCheckBox* b, void (TSetLevelCore::*set)(bool)) {
        connect(b, &QCheckBox::toggled, this, [this, set](bool on) {
            if (!mSyncing) std::invoke(set, *mCore, on);
        });
    };
    box(CheckBox2, &TSetLevelCore::setLeaveMaxPeak);
    box(cb_top, &TSetLevelCore::setStayOnTop);
    box(chb_detect, &TSetLevelCore::setDetect);
    box(cb_arlarm, &TSetLevelCore::setPlaySound);

    for (int b = 1; b <= ColorButtonCount; ++b)
        MMColorButton[b]->OnChange = [this, b](TColor c) { mCore->setColor(b, c); };

    connect(Button2, &QPushButton::clicked, this, [this] { mCore->Preview(); });
    connect(btn_save, &QPushButton::clicked, this, [this] { mCore->SaveLimits(); });
    connect(Button1, &QPushButton::clicked, this, [this] {
        mCore->Preview();
        hide();
    });
    connect(btn_load, &QPushButton::clicked, this, [this] {
        if (OnLoadAudioFile) OnLoadAudioFile();
    });
    connect(Timer1, &QTimer::timeout, this, &TfSetLevel::finishShowing);
    // The pause after an alarm sound ends: the sound may play again.
    connect(t_reset, &QTimer::timeout, this, [this] {
        mCore->setPlaySound(true);
        t_reset->stop();
    });
}

void TfSetLevel::ChooseAlarmFile(const QString& path) { mCore->setAlarmFile(path.toStdString()); }

void TfSetLevel::setDrawScale(TDrawScale draw)
{
    mDrawScale = std::move(draw);
    if (mPictureStandard >= 0) DrawPreviewPicture(static_cast<TMMScalePicture>(mPictureStandard));
}

// ----------------------------------------------------------------- showing

void TfSetLevel::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (e->spontaneous()) return;
    if (!mCentred) {
        mCentred = true;
        if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
            move(s->availableGeometry().center() - rect().center());
    }
    mCore->Showing();
    Timer1->start();
}

void TfSetLevel::finishShowing()
{
    for (TMMLEDSpin* s : {ol_top, ol_button, sp_peaks, MMLEDSpin4, MMLEDSpin5, spin_sec, sp_arlarm})
        s->setColor(clBlack);
    led_db->setColor(clBlack);
    mCore->FinishShowing();
}

// -------------------------------------------------------------------- view

void TfSetLevel::SetPreviewPoint1(int percent) { Level8->Core().setPoint1(percent); }
void TfSetLevel::SetPreviewPoint2(int percent) { Level8->Core().setPoint2(percent); }
void TfSetLevel::SetPreviewValue(int percent) { Level8->setValue(percent); }

void TfSetLevel::SetPreviewColor(int bar, TColor c)
{
    TMMCustomLevel& level = Level8->Core();
    if (bar == 1) level.setBar1Color(c);
    if (bar == 2) level.setBar2Color(c);
    if (bar == 3) level.setBar3Color(c);
}

void TfSetLevel::SetPreviewLabelColor(TColor c) { LED8->setLEDColor(c); }

void TfSetLevel::DrawPreviewPicture(TMMScalePicture picture)
{
    mPictureStandard = picture;
    mPicture = QImage(ima_nordic1->width(), ima_nordic1->height(), QImage::Format_RGB32);
    mPicture.fill(Qt::black);
    if (mDrawScale) mDrawScale(mPicture, picture);
    ima_nordic1->setPixmap(QPixmap::fromImage(mPicture));
}

// Puts the core's values into the controls without running their handlers.
void TfSetLevel::ControlsChanged()
{
    if (mSyncing) return;
    mSyncing = true;
    rg_Meter->setItemIndex(mCore->MeterItem());
    rg_integral->setItemIndex(mCore->IntegralItem());
    rg_referenz->setItemIndex(mCore->ReferenceItem());
    rg_referenz->setEnabled(mCore->ReferenceEnabled());
    rg_stereo->setItemIndex(mCore->StereoItem());
    rg_ballistics->setItemIndex(mCore->BallisticsItem());
    ol_top->setValue(mCore->OlTop());
    ol_button->setValue(mCore->OlBottom());
    sp_peaks->setValue(mCore->Peaks());
    MMLEDSpin5->setValue(mCore->SpotSpace());
    MMLEDSpin4->setValue(mCore->Decay());
    CheckBox2->setChecked(mCore->LeaveMaxPeak());
    for (int b = 1; b <= ColorButtonCount; ++b) MMColorButton[b]->setColor(mCore->Color(b));
    cb_top->setChecked(mCore->StayOnTop());
    chb_detect->setChecked(mCore->Detect());
    spin_db2->setValue(mCore->ThresholdDb());
    if (!nEdit->hasFocus()) nEdit->setText(QString::number(mCore->ThresholdDb()));
    spin_db->setValue(mCore->ThresholdAmplitude());
    led_db->setValue(mCore->ThresholdAmplitude());
    spin_sec->setValue(mCore->AlarmSeconds());
    cb_arlarm->setChecked(mCore->PlaySound());
    sp_arlarm->setValue(mCore->RepeatSeconds());
    if (t_reset->interval() != mCore->ResetIntervalMs()) t_reset->setInterval(mCore->ResetIntervalMs());
    lab_file->setText(QString::fromStdString(mCore->AlarmFile()));
    lab_file->setToolTip(lab_file->text());
    ima_nordic1->setVisible(mCore->PreviewPictureVisible());
    Scale_outfit->setVisible(mCore->ScaleOutfitVisible());
    mSyncing = false;
}

#include "moc_uSet_Level.cpp"
