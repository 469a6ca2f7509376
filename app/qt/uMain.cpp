#include "app/qt/uMain.h"

#include "app/InputModes.h"
#include "app/SettingNames.h"
#include "base/DisplayRate.h"
#include "app/MainLayout.h"
#include "app/StripNames.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/MainStrip.h"
#include "app/qt/SetLevelLink.h"
#include "app/qt/ScaleImagesPaint.h"
#include "app/qt/StripPicture.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/MMErrorReport.h"
#include "monitoring/qt/uLogFile.h"
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

#include <QActionGroup>
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
#include <QTime>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

#include <iostream>

namespace {

QString ProgramFolder() { return QCoreApplication::applicationDirPath() + "/"; }

}  // namespace

TfMain::TfMain(TSettingsAccess& store, TMeterEngine& engine, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowStaysOnTopHint), mStore(store), mEngine(engine)
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
    connect(mTimer1, &QTimer::timeout, this, [this] { mEngine.StartCheck(); });
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
    TMeterEngine::TTimers timers;
    timers.TimerOff = mTimerOff;
    timers.TimerOn = mTimerOn;
    timers.Strip = mSilenceTimers;
    mEngine.UseTimers(timers);
    mEngine.AddView(*this);

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
    // The engine outlives its views: it takes back its timers and its sound.
    mEngine.RemoveView(*this);
    mEngine.UseTimers({});
    mEngine.Sound().OnPlay = nullptr;
    mEngine.Sound().OnPlaying = nullptr;
}

void TfMain::SetWindows(const Windows& w)
{
    mW = w;
    if (mW.SetLevel) {
        mLevelLink = std::make_unique<TMainMeterLink>(mStrips, mPanel1);
        mLevelLink->OnStayOnTop = [this](bool on) { SetWindowStayOnTop(this, on); };
        mW.SetLevel->UseCore(&mEngine.LevelSettings());
        mW.SetLevel->setDrawScale([](QImage& image, int standard) { return DrawScaleImage(image, standard); });
        TMeterEngine::TTimers timers;
        timers.TimerOff = mTimerOff;
        timers.TimerOn = mTimerOn;
        timers.Reset = mW.SetLevel->t_reset;
        timers.Strip = mSilenceTimers;
        mEngine.UseTimers(timers);
    }
    if (mW.Sound) {
        // The alarm sound: an alarm tick plays it, its end starts the pause.
        TMMAudioPlayer* player = &mW.Sound->MMAudioPlayer1;
        mEngine.Sound().OnPlay = [player] { player->Play(); };
        mEngine.Sound().OnPlaying = [player] { return player->Playing(); };
        TMMSilenceDetector* detector = &mEngine.Detector();
        player->OnStop = [detector](TMMCustomDSPComponent*) { detector->SoundStopped(); };
    }
    if (mW.LogFile) {
        mW.LogFile->setExportFolder(ProgramFolder() + "Tarvolin export");
        mW.LogFile->OnStopLog = [this] { mEngine.StopLogging(); };
        mW.LogFile->OnStartLog = [this] { mEngine.setLoggingOn(true); };
    }
    if (mW.Skin) {
        mW.Skin->setSkinData(SkinData1);
        mW.Skin->WriteText = [this](const std::string& n, const std::string& v) { mStore.WriteText(n, v); };
    }
    if (mW.Labels) {
        mW.Labels->ReadText = [this](const std::string& n, const std::string& d) { return mStore.ReadText(n, d); };
        mW.Labels->WriteText = [this](const std::string& n, const std::string& v) { mStore.WriteText(n, v); };
        mW.Labels->SetStripLabel = [this](int n, const std::string& t) { mEngine.SetLabelText(n, t); };
    }
}

void TfMain::setDisplayRate(int fps)
{
    mDisplayRate = fps;
    if (!mRateMenu) return;
    for (QAction* a : mRateMenu->actions()) a->setChecked(a->data().toInt() == fps);
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
    // Painting only; the analysis runs every millisecond at any rate.
    mRateMenu = settings->addMenu("Display rate");
    auto* rates = new QActionGroup(mRateMenu);
    for (int fps : tv::kDisplayRates) {
        QAction* a = mRateMenu->addAction(QString("%1 frames/s").arg(fps));
        a->setCheckable(true);
        a->setData(fps);
        rates->addAction(a);
        connect(a, &QAction::triggered, this, [this, fps] {
            kDisplayRateSetting.Write(mStore, fps);
            setDisplayRate(fps);
            if (OnDisplayRate) OnDisplayRate(fps);
        });
    }
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
    for (int n = 1; n <= tv::kStrips; ++n) Level(n)->setCore(&mEngine.Bar(n));
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
        mEngine.Restore();
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
    mEngine.Save();
    if (OnSaveAll) OnSaveAll();
}

void TfMain::clearHeldPeaks()
{
    const int peaks = mEngine.LevelSettings().Peaks();
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
        mEngine.LevelSettings().setMeterItem(key - Qt::Key_1);
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
    mEngine.SelectInputs([this] {
        if (mW.Multi) mW.Multi->exec();
    });
}

int TfMain::CurrentStandard() const { return mEngine.LevelSettings().MeterItem(); }
bool TfMain::LoggingOn() const { return mEngine.LoggingOn(); }
int TfMain::InputMode() const { return mEngine.InputMode(); }
void TfMain::SetLabelText(int n, const std::string& text) { mEngine.SetLabelText(n, text); }

void TfMain::RedrawScales()
{
    TSetLevelCore& core = mEngine.LevelSettings();
    core.RunPreset();
    // The strip layout shows every picture again; in stereo mode the even
    // strips' scales stay hidden.
    if (core.StereoItem() == 1) core.ApplyStereoItem(1);
}

// ---- TMeterView ----------------------------------------------------------------

TMMMeterWindow* TfMain::StripDisplay() { return mLevelLink.get(); }

void TfMain::ShowLabelText(int n, const std::string& text)
{
    mStrips[n - 1].Label->setCaption(QString::fromStdString(text));
}

void TfMain::ShowLEDColor(int n, TColor c) { mStrips[n - 1].Label->setLEDColor(c); }

void TfMain::ShowInputMode(int mode)
{
    // Forced: the width, the lists and the strips always match the mode.
    if (mW.Multi) mW.Multi->setMode(mode, true);
}

void TfMain::ShowSampleRate(int index)
{
    if (mW.Multi) mW.Multi->setSampleRateIndex(index, true);
}

void TfMain::SilenceEvent(const TSilenceEvent& e)
{
    if (e.Kind == TSilenceEventKind::LogLine && mW.LogFile) mW.LogFile->Append(e.Line);
}

void TfMain::OperatorLine(const std::string& line)
{
    if (mW.LogFile) mW.LogFile->Append(QTime::currentTime().toString("HH:mm:ss").toStdString() + " " + line);
}

void TfMain::SetLabelInactiveColor(int n, TColor c) { mStrips[n - 1].Label->setInactiveColor(c); }
void TfMain::SetLabelVisible(int n, bool visible) { mStrips[n - 1].Label->setVisible(visible); }
void TfMain::SetLabelEnabled(int n, bool enabled) { mStrips[n - 1].Label->setEnabled(enabled); }

void TfMain::DrawAlarm(int n)
{
    mStrips[n - 1].Picture->DrawAlarm();
    // Digital PPM and Peak dBFS show the scale widget instead of the picture.
    if (TStripScale* s = mStrips[n - 1].Scale; !s->isHidden()) s->DrawAlarm();
}

bool TfMain::ReportError(const std::string& text)
{
    // A failing alarm sound fails again at every alarm tick of every strip
    // in alarm: while a report of the same failure is still open, it stands
    // for them all.
    const QString t = QString::fromStdString(text);
    for (const QMessageBox* box : findChildren<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly))
        if (box->isVisible() && box->text() == t) return true;
    ShowErrorReport(this, t);
    return true;
}

bool TfMain::Placement(TWindowPlacement& p)
{
    p = {x(), y(), height(), width()};
    return true;
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

bool TfMain::CorreValues(TCorreValues& c)
{
    if (!mW.Corre) return false;
    c.Top = mW.Corre->WindowTop();
    c.Left = mW.Corre->WindowLeft();
    c.Speed = mW.Corre->SpeedIndex();
    c.Channel = mW.Corre->ChannelIndex();
    return true;
}

bool TfMain::RestoreAlarmFile(const std::string& path)
{
    // The player loads the file; the dialog's label shows what it loaded.
    return !mW.Sound || mW.Sound->RestoreFile(path, std::cerr);
}

void TfMain::ShowInputSetupModal()
{
    if (mW.Multi) mW.Multi->exec();
}

void TfMain::SetAlarmOutDevice(int deviceId)
{
    if (!mW.Sound) return;
    try {
        // An id the back end does not have leaves the player without a
        // device; Play then reports it.
        mW.Sound->MMAudioPlayer1.setDeviceID(deviceId);
    } catch (const EMMError& e) {
        std::cerr << "tarvolin: alarm sound output " << deviceId << ": " << e.what() << std::endl;
    }
}

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
    mEngine.SetInputMode(ModeForChannels(channels));
    // Strips beyond the mode's never show, even where the menu widens the window.
    for (int n = 1; n <= tv::kStrips; ++n) mStrips[n - 1].Bar->parentWidget()->setVisible(n <= channels);
}

void TfMain::SetRecorderSampleRate(int k, int rate) { mEngine.SetRecorderSampleRate(k, rate); }
void TfMain::SetRecorderDevice(int k, int deviceId) { mEngine.SetRecorderDevice(k, deviceId); }
void TfMain::SetRecorderNotConnected(int k, const std::string& name) { mEngine.SetRecorderNotConnected(k, name); }

int TfMain::InputDeviceCount() { return mEngine.Audio().InputDeviceCount(); }
std::string TfMain::InputDeviceName(int id) { return mEngine.Audio().InputDeviceName(id); }
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
