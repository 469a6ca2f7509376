#include "app/qt/uMain.h"

#include "app/InputModes.h"
#include "app/MainLayout.h"
#include "app/StripNames.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MainSilence.h"
#include "app/qt/MainStrip.h"
#include "app/qt/SetLevelLink.h"
#include "app/qt/ScaleImagesPaint.h"
#include "app/qt/StripPicture.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/uLogFile.h"
#include "correlation/qt/uCorre.h"
#include "metering/qt/uSet_Level.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "widgets/qt/MMLEDLbl.h"
#include "app/qt/uInfo.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "labels_skins/qt/SkinData.h"
#include "labels_skins/SkinChoice.h"
#include "audio/MMWaveOutBackend.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include <iostream>

namespace {

QString ProgramFolder() { return QCoreApplication::applicationDirPath() + "/"; }

}  // namespace

TfMain::TfMain(TSettingsAccess& store, TMainAudio& audio, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowStaysOnTopHint), mStore(store), mAudio(audio)
{
    setObjectName("fMain");
    setWindowTitle("Tarvolin ");
    buildMenu();

    mClient = new QWidget(this);
    mClient->setObjectName("ClientArea");
    QPalette pal = mClient->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);  // legible under dark skins
    mClient->setPalette(pal);
    mClient->setAutoFillBackground(true);
    setCentralWidget(mClient);

    mPanel1 = new QLabel("DIN 45406", mClient);
    mPanel1->setObjectName("Panel1");
    mPanel1->setAlignment(Qt::AlignCenter);
    QFont f("Arial");
    f.setBold(true);
    f.setPixelSize(16);
    mPanel1->setFont(f);
    mPanel1->setAutoFillBackground(true);
    mPanel1->setPalette(pal);

    buildStrips(mClient);
    mClient->installEventFilter(this);

    mTimer1 = new QTimer(this);
    mTimer1->setObjectName("Timer1");
    mTimer1->setSingleShot(true);
    mTimer1->setInterval(2000);
    connect(mTimer1, &QTimer::timeout, this, [this] {
        if (mW.SetLevel && mW.SetLevel->Core().Detect() && !mTimerOff->isActive()) mTimerOff->start();
    });
    mDisplayTimer = new QTimer(this);
    mDisplayTimer->setObjectName("tDisplay");
    mDisplayTimer->setSingleShot(true);
    mDisplayTimer->setInterval(500);
    connect(mDisplayTimer, &QTimer::timeout, this, [this] { RedrawScales(); });
    mTimerOff = new QTimer(this);
    mTimerOff->setObjectName("TimerOff");
    mTimerOff->setInterval(1000);
    mTimerOn = new QTimer(this);
    mTimerOn->setObjectName("TimerOn");
    mTimerOn->setInterval(450);
    mTimer1->start();

    // Skin file: the stored choice, else the program folder's default; a
    // stored path that is gone falls back to the same file beside the program.
    SkinData1 = new TSkinData(this);
    SkinData1->OnFault = [](const QString& message) { std::cerr << "tarvolin: " << message.toStdString() << std::endl; };
    const std::string folder = ProgramFolder().toStdString();
    SkinData1->setSkinFile(QString::fromStdString(
        StartSkinPath(mStore.ReadText(kSkinSettingName, folder + kDefaultSkinFile), folder)));

    menuBar()->installEventFilter(this);
    applyModeWidths(false);
    resize(DesignClientWidth, DesignClientHeight);
    move(DesignLeft, DesignTop);
}

std::string TfMain::SkinFile() const { return SkinData1->SkinFile().toStdString(); }

TfMain::~TfMain()
{
    // The bars go before the recorders and connectors that feed them.
    for (int k = 1; k <= tv::kPairs; ++k) mAudio.SetLevelSinks(k, nullptr, nullptr);
}

void TfMain::SetWindows(const Windows& w)
{
    mW = w;
    if (mW.SetLevel) {
        mLevelLink = std::make_unique<TMainMeterLink>(mStrips, mPanel1);
        mLevelLink->OnStayOnTop = [this](bool on) { SetWindowStayOnTop(this, on); };
        mLevelLink->OnSilenceCheck = [this](bool on) {
            if (!on)
                mTimerOff->stop();
            else if (!mTimerOff->isActive())
                mTimerOff->start();
        };
        mW.SetLevel->setMeterWindow(mLevelLink.get());
        mW.SetLevel->setStore(&mStore);
        mW.SetLevel->setDrawScale([](QImage& image, int standard) { return DrawScaleImage(image, standard); });
        mSilence = std::make_unique<TMainSilence>(*this, mW.SetLevel->Core(), mTimerOff, mTimerOn, mW.SetLevel->t_reset);
    }
    if (mW.Sound && mSilence) {
        // The alarm sound: an alarm tick plays it, its end starts the pause.
        TMMAudioPlayer* player = &mW.Sound->MMAudioPlayer1;
        mSilence->Sound().OnPlay = [player] { player->Play(); };
        mSilence->Sound().OnPlaying = [player] { return player->Playing(); };
        TMMSilenceDetector* detector = &mSilence->Detector();
        player->OnStop = [detector](TMMCustomDSPComponent*) { detector->SoundStopped(); };
    }
    if (mW.LogFile) {
        mW.LogFile->setExportFolder(ProgramFolder() + "Tarvolin export");
        mW.LogFile->OnStopLog = [this] {
            mLoggingOn = false;
            if (mSilence) mSilence->Detector().ResetCounters();
        };
        mW.LogFile->OnStartLog = [this] { mLoggingOn = true; };
        if (mSilence)
            mSilence->Detector().AddListener([log = mW.LogFile](const TSilenceEvent& e) {
                if (e.Kind == TSilenceEventKind::LogLine) log->Append(e.Line);
            });
    }
    if (mW.Skin) {
        mW.Skin->setSkinData(SkinData1);
        mW.Skin->WriteText = [this](const std::string& n, const std::string& v) { mStore.WriteText(n, v); };
    }
    if (mW.Labels) {
        mW.Labels->ReadText = [this](const std::string& n, const std::string& d) { return mStore.ReadText(n, d); };
        mW.Labels->WriteText = [this](const std::string& n, const std::string& v) { mStore.WriteText(n, v); };
        mW.Labels->SetStripLabel = [this](int n, const std::string& t) { SetLabelText(n, t); };
    }
}

void TfMain::buildMenu()
{
    QMenu* settings = menuBar()->addMenu("Settings");
    settings->addAction("Select audio input", this, [this] { SelectAudioInput(); });
    settings->addAction("Level outfit", this, [this] {
        if (mW.SetLevel) mW.SetLevel->show();
    });
    settings->addAction("Level labels", this, [this] { showLabelsDialog(); });
    settings->addAction("Program Skin", this, [this] {
        if (mW.Skin) mW.Skin->exec();
    });
    settings->addAction("Loudness meter", this, [this] {
        if (OnShowLoudness) OnShowLoudness();
    });
    // The correlation window opens at start; once closed, only this brings it back.
    settings->addAction("Correlation meter", this, [this] {
        if (!mW.Corre) return;
        mW.Corre->showCorrelation();
        mW.Corre->raise();
        mW.Corre->activateWindow();
    });
    settings->addAction("Show Logfile", this, [this] {
        if (mW.LogFile) mW.LogFile->show();
    });
    settings->addSeparator();
    settings->addAction("Exit && Save", this, [this] { close(); });

    QMenu* help = menuBar()->addMenu("Help");
    help->addAction("Help File", this, [this] { openHelp(false); });
    help->addAction("Verholt homepage", this, [this] { openHelp(true); });
    help->addAction("Info", this, [this] {
        if (mW.Info) mW.Info->show();
    });
}

void TfMain::buildStrips(QWidget* client)
{
    for (int n = 1; n <= tv::kStrips; ++n) {
        auto* panel = new QWidget(client);
        panel->setProperty("tag", 99);
        QPalette pal = panel->palette();
        pal.setColor(QPalette::Window, Qt::black);
        panel->setPalette(pal);
        panel->setAutoFillBackground(true);
        panel->setGeometry(StripLeft(n), CaptionHeight, StripWidth, DesignClientHeight - CaptionHeight);
        mStrips[n - 1] = BuildStrip(panel, n);
        mStrips[n - 1].Label->installEventFilter(this);
        auto* t = new QTimer(this);
        t->setObjectName(QString("Timer_start%1").arg(n));
        t->setInterval(1000);
        mSilenceTimers[n - 1] = t;
    }
    for (int k = 1; k <= tv::kPairs; ++k)
        mAudio.SetLevelSinks(k, &Level(2 * k - 1)->Sink(), &Level(2 * k)->Sink());
}

QObject* TfMain::FindComponent(const std::string& prefix, int n) const
{
    const std::string wanted = StripComponentName(prefix, n);
    for (QObject* o : findChildren<QObject*>())
        if (SameNameNoCase(o->objectName().toStdString(), wanted)) return o;
    return nullptr;
}


void TfMain::layoutStrips()
{
    const TStripGeometry g = StripGeometryFor(mClient->height());
    mPanel1->setGeometry(0, 0, mClient->width(), CaptionHeight);
    for (int n = 1; n <= tv::kStrips; ++n) {
        const TStrip& s = mStrips[n - 1];
        s.Bar->parentWidget()->setGeometry(StripLeft(n), CaptionHeight, StripWidth, g.stripHeight);
        s.Label->setGeometry(0, g.labelTop, StripWidth, LabelHeight);
        s.Bar->setGeometry(0, g.barTop, BarWidth, g.barHeight);
        s.Picture->setGeometry(StripWidth - ScaleImageWidth, g.barTop, ScaleImageWidth, g.imageHeight);
        s.Scale->setGeometry(StripWidth - ScaleWidgetWidth, g.scaleTop, ScaleWidgetWidth, g.scaleHeight);
        s.Scale->hide();
        s.Picture->show();
    }
    // Armed already: the burst keeps its first deadline.
    if (!mDisplayTimer->isActive()) mDisplayTimer->start();
}

bool TfMain::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == mClient && e->type() == QEvent::Resize) {
        layoutStrips();
    } else if (watched == menuBar() && (e->type() == QEvent::StyleChange || e->type() == QEvent::FontChange)) {
        // A skin restyles the menu: its width is known once it has polished.
        QTimer::singleShot(0, this, [this] { applyModeWidths(false); });
    } else if (e->type() == QEvent::MouseButtonDblClick) {
        for (const TStrip& s : mStrips)
            if (watched == s.Label) {
                showLabelsDialog();
                return true;
            }
    }
    return QMainWindow::eventFilter(watched, e);
}

void TfMain::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (mRestored) return;
    mRestored = true;
    // After the show has finished: the restore may open the setup dialog modally.
    QTimer::singleShot(0, this, [this] {
        RestoreMainValues(mStore, *this);
        if (OnRestored) OnRestored();
    });
}

void TfMain::closeEvent(QCloseEvent* e)
{
    if (mSaveOnClose && !mSaved) SaveAll();
    e->accept();
    QCoreApplication::quit();
}

void TfMain::SaveSettingsNow()
{
    if (!mSaveOnClose) return;
    SaveAll();
    mSaved = false;
}

void TfMain::SaveAll()
{
    mSaved = true;
    SaveMainValues(mStore, *this);
    if (OnSaveAll) OnSaveAll();
}

void TfMain::clearHeldPeaks()
{
    const int peaks = mW.SetLevel ? mW.SetLevel->Core().Peaks() : 3;
    for (const TStrip& s : mStrips) {
        s.Bar->Core().setNumPeaks(0);
        s.Bar->Core().setNumPeaks(peaks);
        s.Bar->Core().ClearPeak();  // the marks go at once, a held maximum too
    }
}

void TfMain::keyPressEvent(QKeyEvent* e)
{
    clearHeldPeaks();
    const int key = e->key();
    if ((e->modifiers() & Qt::KeypadModifier) && key >= Qt::Key_1 && key <= Qt::Key_9) {
        // A change of choice: the standard already selected changes nothing.
        if (mW.SetLevel) mW.SetLevel->Core().setMeterItem(key - Qt::Key_1);
    } else if (key >= Qt::Key_F6 && key <= Qt::Key_F10) {
        if (mW.Multi) mW.Multi->setMode(key - Qt::Key_F6);
    }
    e->accept();
}

void TfMain::showLabelsDialog()
{
    if (mW.Labels && !mW.Labels->isVisible()) mW.Labels->exec();
}

void TfMain::openHelp(bool homepage)
{
    QString manual = ProgramFolder() + "manual.html";
    if (!QFileInfo::exists(manual)) manual = QString(TARVOLIN_SOURCE_DIR) + "/resources/manual.html";
    QUrl url = QUrl::fromLocalFile(manual);
    if (homepage) url.setFragment("about");
    if (QDesktopServices::openUrl(url)) return;
    // Nothing could show it (no browser): say where the manual is.
    const QString where = QDir::toNativeSeparators(manual);
    const QString text = QFileInfo::exists(manual) ? "No web browser could be started to show the manual. It is here:"
                                                   : "The manual is not installed; it was looked for here:";
    std::cerr << "tarvolin: " << text.toStdString() << " " << where.toStdString() << std::endl;
    auto* box = new QMessageBox(QMessageBox::Information, "Tarvolin", text + "\n\n" + where, QMessageBox::Ok, this);
    box->setObjectName("HelpFileMissing");
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

void TfMain::SelectAudioInput()
{
    // Strips the operator darkens here are no programme fault: the detector
    // holds until the chosen recorders run again.
    if (mSilence) mSilence->Detector().setHeld(true, "input setup");
    CloseAllRecorders(*this);
    if (mW.Multi) mW.Multi->exec();
    StartRecordersOfMode(*this, InputMode());
    if (mSilence) mSilence->Detector().setHeld(false, "input setup");
}

int TfMain::CurrentStandard() const { return mW.SetLevel ? mW.SetLevel->Core().MeterItem() : 1; }

void TfMain::RedrawScales()
{
    if (!mW.SetLevel) return;
    TSetLevelCore& core = mW.SetLevel->Core();
    core.RunPreset();
    // The strip layout shows every picture again; in stereo mode the even
    // strips' scales stay hidden.
    if (core.StereoItem() == 1) core.ApplyStereoItem(1);
}

// ---- TMainTarget -----------------------------------------------------------

TStripValues TfMain::StripValues(int n)
{
    return ReadStripValues(mStrips[n - 1]);
}

void TfMain::ApplyStripValues(int n, const TStripValues& v)
{
    WriteStripValues(mStrips[n - 1], v);
    mSilenceCounter[n - 1] = 0;
    if (mSilence) mSilence->Detector().setCounter(n, 0);
}

TWindowPlacement TfMain::Placement()
{
    return {x(), y(), height(), width()};
}

void TfMain::ApplyPlacement(const TWindowPlacement& p)
{
    const QSize size(qBound(std::max(1, minimumWidth()), p.Width, maximumWidth()), qMax(1, p.Height));
    // A stored position on no screen (another monitor layout, a damaged
    // value) would leave the meter unreachable: use the design position.
    bool onScreen = false;
    for (const QScreen* s : QGuiApplication::screens())
        onScreen = onScreen || s->availableGeometry().intersects(QRect(QPoint(p.Left, p.Top), size));
    if (onScreen)
        move(p.Left, p.Top);
    else
        move(DesignLeft, DesignTop);
    resize(size);
}

void TfMain::SetLabelText(int n, const std::string& text)
{
    mStrips[n - 1].Label->setCaption(QString::fromStdString(text));
}

TLevelSetValues TfMain::LevelSetValues()
{
    TLevelSetValues v = mW.SetLevel ? LevelSetValuesOf(mW.SetLevel->Core()) : DesignLevelSetValues();
    // A stored sound file that could not be loaded (a drive not mounted at
    // start) stays stored until the user chooses another one.
    if (v.ArlamFile.empty()) v.ArlamFile = mUnloadedAlarmFile;
    return v;
}

TCorreValues TfMain::CorreValues()
{
    if (!mW.Corre) return {};
    TCorreValues c;
    c.Top = mW.Corre->WindowTop();
    c.Left = mW.Corre->WindowLeft();
    c.Speed = mW.Corre->SpeedIndex();
    c.Channel = mW.Corre->ChannelIndex();
    return c;
}

int TfMain::InputMode() { return mW.Multi ? mW.Multi->mode() : 2; }
int TfMain::SampleRateIndex() { return mW.Multi ? mW.Multi->sampleRateIndex() : 0; }

void TfMain::ApplyLevelSetStart(const TLevelSetValues& v)
{
    if (mW.SetLevel) ::ApplyLevelSetStart(mW.SetLevel->Core(), v);
    // The player loads the file; the dialog's label shows what it loaded.
    mUnloadedAlarmFile.clear();
    if (mW.Sound && !mW.Sound->RestoreFile(v.ArlamFile, std::cerr)) mUnloadedAlarmFile = v.ArlamFile;
}

void TfMain::ApplyInputMode(int mode)
{
    // Run at start even when the stored mode is the design choice, so the
    // width, the lists and the active channel count always match it.
    if (mW.Multi) mW.Multi->setMode(mode, true);
}

void TfMain::ApplyStandard(int standard, int integralMs, int reference)
{
    if (mW.SetLevel) ApplyLevelSetStandard(mW.SetLevel->Core(), standard, integralMs, reference);
}

void TfMain::ApplySampleRate(int index)
{
    if (mW.Multi) mW.Multi->setSampleRateIndex(index, true);
}

void TfMain::ApplyStereo(int stereo)
{
    if (mW.SetLevel) mW.SetLevel->Core().ApplyStereoItem(stereo);
}

void TfMain::ApplyDetector(const TLevelSetValues& v)
{
    if (mW.SetLevel) ApplyLevelSetDetector(mW.SetLevel->Core(), v);
}

void TfMain::ShowInputSetupModal()
{
    // No recorder runs yet: the detector holds while the dialog is open.
    if (mSilence) mSilence->Detector().setHeld(true, "input setup");
    if (mW.Multi) mW.Multi->exec();
    if (mSilence) mSilence->Detector().setHeld(false, "input setup");
}

void TfMain::SetRecorderDevice(int k, int deviceId)
{
    try {
        mAudio.SetDevice(k, deviceId);
    } catch (...) {
        // refused while open; the recorder keeps its device
    }
}

void TfMain::SetRecorderNotConnected(int k, const std::string& name) { mAudio.SetNotConnected(k, name); }

void TfMain::SetAlarmOutDevice(int deviceId)
{
    mAlarmOutDevice = deviceId;
    if (!mW.Sound) return;
    try {
        // An id the back end does not have leaves the player without a
        // device; Play then reports it.
        mW.Sound->MMAudioPlayer1.setDeviceID(deviceId);
    } catch (const EMMError& e) {
        std::cerr << "tarvolin: alarm sound output " << deviceId << ": " << e.what() << std::endl;
    }
}
void TfMain::CloseRecorder(int k) { mAudio.Close(k); }
void TfMain::StartRecorder(int k) { mAudio.Start(k); }

void TfMain::ShowCorrelation()
{
    if (mW.Corre) mW.Corre->showCorrelation();
}

// ---- TMultiHost --------------------------------------------------------------

void TfMain::SetMainWidths(const TModeWindowWidth& w)
{
    mModeWidths = w;
    applyModeWidths(true);
}

void TfMain::applyModeWidths(bool resizeToMode)
{
    // The menu bar wraps entries it has no room for behind an extension
    // button: the window is at least as wide as the whole menu.
    const int least = std::max(mModeWidths.minWidth, menuBar()->sizeHint().width());
    setMinimumWidth(0);
    setMaximumWidth(std::max(mModeWidths.maxWidth, least));
    setMinimumWidth(least);
    if (resizeToMode) resize(std::max(mModeWidths.width, least), height());
}

void TfMain::SetActiveChannelCount(int channels)
{
    mActiveChannels = channels;
    // Strips beyond the mode's never show, even where the menu widens the window.
    for (int n = 1; n <= tv::kStrips; ++n) mStrips[n - 1].Bar->parentWidget()->setVisible(n <= channels);
}

void TfMain::SetRecorderSampleRate(int k, int rate)
{
    mAudio.SetSampleRate(k, rate);
    mSampleRate = rate;
}

int TfMain::InputDeviceCount() { return mAudio.InputDeviceCount(); }
std::string TfMain::InputDeviceName(int id) { return mAudio.InputDeviceName(id); }
int TfMain::OutputDeviceCount() { return WaveOutDevice().GetNumDevs(); }

std::string TfMain::OutputDeviceName(int id)
{
    // A device the back end cannot describe gives an empty item, so items
    // keep matching ids.
    for (const TMMDeviceInfo& d : ListWaveOutDevices(WaveOutDevice()))
        if (d.id == id) return d.name;
    return std::string();
}

void TfMain::CollectStats(TRunStats& s) const
{
    for (int n = 1; n <= tv::kStrips; ++n) s.paints[n - 1] = static_cast<uint64_t>(mStrips[n - 1].Bar->PaintCount());
}
