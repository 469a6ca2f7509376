// The silence detector wired into the main window, offscreen (manual clock:
// the bars stay at level 0 unless pumped).
#include "base/TvConstants.h"
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "app/qt/StripPicture.h"
#include "correlation/qt/uCorre.h"
#include "monitoring/qt/uLogFile.h"
#include "app/qt/uInfo.h"
#include "app/qt/uMain.h"
#include "app/qt/uMultimode.h"
#include "audio/MMSimWaveIn.h"
#include "audio/MMSimWaveOut.h"
#include "audio/MMWaveOutBackend.h"
#include "monitoring/qt/MMWaveOpenDialog.h"
#include "audio/qt/MMConnectorLoop.h"
#include "audio/qt/MMQtPoster.h"
#include "labels_skins/qt/uLabels.h"
#include "labels_skins/qt/uSkin.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/uSet_Level.h"
#include "monitoring/qt/uLogFile.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QCheckBox>
#include <QComboBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <stdexcept>

TMMSimulatedWaveOut* gOutput = nullptr;  // the program's output back end
TMMSimulatedWaveIn* gInput = nullptr;     // manual clock: buffers only when pumped

namespace {

// A 16-bit stereo 44100 Hz WAVE file: a sine of `hz` at -6 dBFS.
std::vector<uint8_t> WriteTone(const QString& path, int frames, double hz)
{
    std::vector<uint8_t> data;
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(std::lround(16384 * std::sin(2 * M_PI * hz * i / 44100)));
        for (int c = 0; c < 2; ++c) {
            data.push_back(static_cast<uint8_t>(v & 0xFF));
            data.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
        }
    }
    QByteArray f;
    auto le = [&f](uint32_t x, int bytes) {
        for (int b = 0; b < bytes; ++b) f.append(static_cast<char>((x >> (8 * b)) & 0xFF));
    };
    f.append("RIFF");
    le(36 + static_cast<uint32_t>(data.size()), 4);
    f.append("WAVEfmt ");
    le(16, 4), le(1, 2), le(2, 2), le(44100, 4), le(44100 * 4, 4), le(4, 2), le(16, 2);
    f.append("data");
    le(static_cast<uint32_t>(data.size()), 4);
    f.append(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(f) != f.size()) ADD_FAILURE() << "cannot write " << path.toStdString();
    return data;
}

QMessageBox* VisibleMessageBox()
{
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    return box;
}

// Runs the event loop until `done` or the timeout; whether it became true.
template <class F>
bool WaitFor(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QTest::qWait(10);
    return done();
}

struct ProgramAudio {
    explicit ProgramAudio(TSettingsAccess& s) : engine(s) {}
    TMeterEngine engine;
    TMainAudio& audio = engine.Audio();
};

struct Program : ProgramAudio, TProgramWindows {
    explicit Program(TMemoryStore& s) : ProgramAudio(s), TProgramWindows(engine)
    {
        fMain.setSaveOnClose(false);
        bool restored = false;
        fMain.OnRestored = [&] { restored = true; };
        fMain.show();
        EXPECT_TRUE(WaitFor([&] { return restored; }, 5000));
    }
    ~Program()
    {
        for (int k = 1; k <= tv::kPairs; ++k) audio.Close(k);
    }
    QTimer* timer(const char* name) { return fMain.findChild<QTimer*>(name); }
};

void DetectorValues(TMemoryStore& store)
{
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 0);
    store.WriteBool("cb detect", true);
    store.WriteInt("db_value2", -40);
    store.WriteInt("db_value", 351);
    store.WriteInt("sec_value", 2);
}

TMemoryStore& Store()
{
    static TMemoryStore store;
    DetectorValues(store);
    return store;
}

TEST(MainSilence, AlarmReachesLabelPictureLogAndBlinkEndSwapsThePictureBack)
{
    Program p(Store());
    TMMSilenceDetector& d = p.engine.Detector();
    EXPECT_TRUE(p.timer("TimerOff")->isActive());
    p.fMain.SetLabelText(1, "Vox");
    ASSERT_EQ(p.fMain.Level(1)->CurrentLevel(), 0);

    for (int i = 0; i < 3; ++i) d.StripTick(1);
    EXPECT_EQ(d.State(1), TSilenceState::Alarm);
    EXPECT_FALSE(p.fMain.Label(1)->isVisible());
    EXPECT_EQ(p.fMain.Label(1)->InactiveColor(), clRed);
    EXPECT_TRUE(p.fMain.Picture(1)->ShowsAlarm());
    EXPECT_TRUE(p.timer("TimerOn")->isActive());
    ASSERT_EQ(p.fLogFile.Lines().size(), 1);  // hidden window, list filled
    EXPECT_TRUE(p.fLogFile.Lines()[0].startsWith("Level 1 : - Vox-   -Inf dB  --> Time: "));
    EXPECT_FALSE(p.fLogFile.isVisible());

    // Blink end: labels shown, standard re-applied by swapping, not redrawing.
    const int redraws = p.fMain.Picture(1)->Redraws();
    ASSERT_TRUE(WaitFor([&] { return !p.timer("TimerOn")->isActive(); }, 2000));
    EXPECT_TRUE(p.fMain.Label(1)->isVisible());
    EXPECT_FALSE(p.fMain.Picture(1)->ShowsAlarm());
    EXPECT_EQ(p.fMain.Picture(1)->Redraws(), redraws);
    p.fMain.Picture(1)->DrawAlarm();
    EXPECT_TRUE(p.fMain.Picture(1)->ShowsAlarm());

    // "Stop Logfile" / "Start Logfile" act on the main window; every one of
    // the 24 counters starts again.
    for (int n = 1; n <= tv::kStrips; ++n) d.setCounter(n, n + 1);
    p.fLogFile.btn_stoplog->click();
    EXPECT_FALSE(p.fMain.LoggingOn());
    for (int n = 1; n <= tv::kStrips; ++n) EXPECT_EQ(d.Counter(n), 0) << n;
    p.fLogFile.btn_startlog->click();
    EXPECT_TRUE(p.fMain.LoggingOn());

    // "Show Logfile" from the main menu.
    for (QAction* a : p.fMain.menuBar()->findChildren<QAction*>())
        if (a->text() == "Show Logfile") a->trigger();
    EXPECT_TRUE(p.fLogFile.isVisible());
}

// Share of a picture's pixels below its top 5 rows that are plain red.
double RedShare(const QImage& image)
{
    int red = 0, all = 0;
    for (int y = 5; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x, ++all) red += image.pixel(x, y) == qRgb(255, 0, 0) ? 1 : 0;
    return all ? double(red) / all : 0;
}

TEST(MainSilence, StandardsWithScaleWidgetsShowTheAlarmFillUntilTheBlinkEnd)
{
    Program p(Store());
    TMMSilenceDetector& d = p.engine.Detector();
    for (int item : {7, 8}) {  // Digital PPM, Peak dBFS
        SCOPED_TRACE(item);
        p.fSetLevel.Core().setMeterItem(item);
        TStripScale* scale = p.fMain.Scale(2);
        ASSERT_TRUE(scale->isVisible());
        ASSERT_FALSE(p.fMain.Picture(2)->isVisible());
        for (int i = 0; i < 3; ++i) d.StripTick(2);
        ASSERT_EQ(d.State(2), TSilenceState::Alarm);
        EXPECT_TRUE(scale->ShowsAlarm());
        EXPECT_FALSE(p.fMain.Scale(1)->ShowsAlarm());
        EXPECT_GT(RedShare(p.fMain.Strip(2).Bar->parentWidget()->grab(scale->geometry()).toImage()), 0.95);
        ASSERT_TRUE(WaitFor([&] { return !p.timer("TimerOn")->isActive(); }, 2000));
        EXPECT_FALSE(scale->ShowsAlarm());
        // Only the red labels of the top zone are left.
        EXPECT_LT(RedShare(scale->grab().toImage()), 0.05);
    }
    p.fSetLevel.Core().setMeterItem(1);
}

TEST(MainSilence, SoundPauseUsesTheDialogAndAFailingPlayIsReported)
{
    Program p(Store());
    TMeterEngine& s = p.engine;
    int plays = 0;
    s.Sound().OnPlay = [&] { ++plays; };
    for (int i = 0; i < 3; ++i) s.Detector().StripTick(2);
    EXPECT_EQ(plays, 1);
    s.Detector().SoundStopped();  // the player's OnStop
    EXPECT_FALSE(p.fSetLevel.cb_arlarm->isChecked());
    EXPECT_TRUE(p.fSetLevel.t_reset->isActive());
    EXPECT_EQ(p.fSetLevel.t_reset->interval(), 10000);
    s.Detector().StripTick(2);
    EXPECT_EQ(plays, 1);
    emit p.fSetLevel.t_reset->timeout({});
    EXPECT_TRUE(p.fSetLevel.cb_arlarm->isChecked());
    EXPECT_FALSE(p.fSetLevel.t_reset->isActive());

    // A failure of Play: shown, the tick ends, no line, the program goes on.
    s.Sound().OnPlay = [] { throw std::runtime_error("Cannot open the output device"); };
    const int lines = p.fLogFile.Lines().size();
    for (int i = 0; i < 3; ++i) s.Detector().StripTick(1);
    EXPECT_EQ(p.fLogFile.Lines().size(), lines);
    EXPECT_TRUE(s.Detector().LogArmed(1));
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains("Cannot open the output device"));
    box->close();
}

TEST(MainSilence, StoredSoundPlaysOnTheStoredOutputAndItsEndStartsThePause)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("alarm.wav");
    const std::vector<uint8_t> data = WriteTone(wav, 8820, 1000);  // 0.2 s
    TMemoryStore store;
    DetectorValues(store);
    store.WriteText("arlam file", wav.toStdString());
    store.WriteInt("out", 1);
    Program p(store);
    TMMAudioPlayer& player = p.SetLevelSound.MMAudioPlayer1;
    EXPECT_EQ(QString::fromStdString(player.FileName()), QFileInfo(wav).absoluteFilePath());
    EXPECT_EQ(p.fSetLevel.lab_file->text(), QString::fromStdString(player.FileName()));
    EXPECT_EQ(player.DeviceID(), 1);
    EXPECT_EQ(player.BufferSize(), 2048);
    EXPECT_EQ(player.NumBuffers(), 5);
    EXPECT_EQ(player.CallBackMode(), cmThread);
    EXPECT_EQ(p.SetLevelSound.MMWaveOpenDialog1()->Title(), "Open Wave File");
    EXPECT_EQ(p.SetLevelSound.MMWaveOpenDialog1()->Filter(), "Wave Files(*.wav)|*.wav");
    EXPECT_TRUE(p.SetLevelSound.MMWaveOpenDialog1()->Preview());

    // The input setup's output list: the mapper, then every output device.
    p.fmulti.show();
    QComboBox* cbOut = p.fmulti.outputList();
    ASSERT_EQ(cbOut->count(), 1 + TMMSimulatedWaveOut::DeviceCount);
    EXPECT_EQ(cbOut->itemText(1), "Simulated output 1");
    EXPECT_EQ(cbOut->itemText(2), "Simulated output 2");
    EXPECT_EQ(cbOut->currentIndex(), 2);  // "out" 1
    p.fmulti.hide();

    gOutput->ClearPlayed(0);
    gOutput->ClearPlayed(1);
    TMMSilenceDetector& d = p.engine.Detector();
    for (int i = 0; i < 3; ++i) d.StripTick(1);
    EXPECT_EQ(d.State(1), TSilenceState::Alarm);
    EXPECT_TRUE(player.Playing());
    d.StripTick(2), d.StripTick(2), d.StripTick(2);  // a second alarm while it plays: ignored
    // The end of the sound unticks "Play Sound File" and arms the pause.
    ASSERT_TRUE(WaitFor([&] { return !p.fSetLevel.cb_arlarm->isChecked(); }, 3000));
    EXPECT_FALSE(player.Playing());
    EXPECT_TRUE(p.fSetLevel.t_reset->isActive());
    const std::vector<uint8_t> played = gOutput->Played(1);
    ASSERT_GE(played.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), played.begin()));
    EXPECT_TRUE(gOutput->Played(0).empty());
    EXPECT_EQ(p.fLogFile.Lines().size(), 2);

    // The output vanishes: the failing Play is reported, the tick logs nothing.
    emit p.fSetLevel.t_reset->timeout({});
    ASSERT_TRUE(p.fSetLevel.cb_arlarm->isChecked());
    gOutput->Vanish(1);
    d.setCounter(1, 0);  // a new silence episode of strip 1
    for (int i = 0; i < 3; ++i) d.StripTick(1);
    gOutput->Restore(1);
    EXPECT_EQ(d.State(1), TSilenceState::Alarm);
    EXPECT_TRUE(d.LogArmed(1));
    EXPECT_EQ(p.fLogFile.Lines().size(), 2);
    EXPECT_FALSE(player.Playing());
    QMessageBox* box = VisibleMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().startsWith("WaveOutOpen:")) << box->text().toStdString();
    // Further failing ticks add no second report while this one is open.
    gOutput->Vanish(1);
    d.StripTick(1), d.StripTick(2);
    gOutput->Restore(1);
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) ++open;
    EXPECT_EQ(open, 1);
    box->close();
    // Back again: the next alarm tick plays and logs.
    d.StripTick(1);
    EXPECT_TRUE(player.Playing());
    EXPECT_EQ(p.fLogFile.Lines().size(), 3);
    EXPECT_TRUE(WaitFor([&] { return !player.Playing(); }, 3000));
}

TEST(MainSilence, StoredSoundThatCannotBeLoadedLeavesNoFileAndStaysStored)
{
    QTemporaryDir dir;
    const QString text = dir.filePath("notes.wav");
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a sound at all\n");
    }
    for (const QString& stored : {dir.filePath("gone.wav"), text}) {
        TMemoryStore store;
        DetectorValues(store);
        store.WriteText("arlam file", stored.toStdString());
        testing::internal::CaptureStderr();
        Program p(store);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(p.SetLevelSound.MMAudioPlayer1.FileName().empty());
        EXPECT_TRUE(p.fSetLevel.lab_file->text().isEmpty());
        EXPECT_NE(err.find(stored.toStdString()), std::string::npos) << err;
        size_t lines = 0;
        for (size_t at = err.find("alarm sound file"); at != std::string::npos; at = err.find("alarm sound file", at + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << err;
        // The alarm goes on without a sound.
        for (int i = 0; i < 3; ++i) p.engine.Detector().StripTick(1);
        EXPECT_EQ(p.fLogFile.Lines().size(), 1);
        p.fMain.SaveAll();
        EXPECT_EQ(store.ReadText("arlam file", ""), stored.toStdString());
    }
}

TEST(MainSilence, LoadAudioFileLoadsTheConfirmedFileAndARefusedOneKeepsThePrevious)
{
    QTemporaryDir dir;
    const QString first = dir.filePath("first.wav"), second = dir.filePath("second.wav");
    WriteTone(first, 441, 500);
    WriteTone(second, 441, 700);
    const QString riffBin = dir.filePath("sound.bin");  // a valid parse, but no reader takes .bin
    WriteTone(riffBin, 441, 700);
    TMemoryStore store;
    DetectorValues(store);
    store.WriteText("arlam file", first.toStdString());
    Program p(store);
    TSetLevelSound& sound = p.SetLevelSound;
    ASSERT_EQ(QString::fromStdString(sound.MMAudioPlayer1.FileName()), first);

    auto choose = [&](const QString& path) {
        QTimer::singleShot(0, sound.MMWaveOpenDialog1(), [&sound, path] {
            // The name as the user types it.
            if (auto* edit = sound.MMWaveOpenDialog1()->findChild<QLineEdit*>("fileNameEdit")) edit->setText(path);
            sound.MMWaveOpenDialog1()->accept();
        });
        p.fSetLevel.btn_load->click();
    };
    choose(second);
    EXPECT_EQ(QString::fromStdString(sound.MMAudioPlayer1.FileName()), second);
    EXPECT_EQ(p.fSetLevel.lab_file->text(), second);

    EXPECT_THROW(sound.setFileName(riffBin.toStdString()), EMMAudioError);
    EXPECT_EQ(QString::fromStdString(sound.MMAudioPlayer1.FileName()), second);
    sound.MMWaveOpenDialog1()->setFilter("All files|*");  // the user typed the name
    choose(riffBin);
    EXPECT_EQ(QString::fromStdString(sound.MMAudioPlayer1.FileName()), second);
    EXPECT_EQ(p.fSetLevel.lab_file->text(), second);
    QMessageBox* box = VisibleMessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "This is not a valid Audiofile");
    box->close();

    // Cancelled: nothing changes.
    QTimer::singleShot(0, sound.MMWaveOpenDialog1(), [&sound] { sound.MMWaveOpenDialog1()->reject(); });
    p.fSetLevel.btn_load->click();
    EXPECT_EQ(p.fSetLevel.lab_file->text(), second);
    p.fMain.SaveAll();
    EXPECT_EQ(store.ReadText("arlam file", ""), second.toStdString());
}

// Two strips in alarm among eight live ones: red pictures, hidden labels,
// their lines in the log window. With TARVOLIN_DOCS_DIR set, the two
// windows are saved there as silence_alarm.png and log_window.png.
TEST(MainSilence, TwoStripsInAlarmAmongLiveOnes)
{
    TMemoryStore store;
    DetectorValues(store);
    store.WriteInt("rg Mode", 2);
    store.WriteInt("rg Mode Din", 1);
    const char* labels[] = {"Vox", "Vox", "Gtr", "Gtr", "Key", "Key", "Drm", "Drm"};
    for (int k = 1; k <= 4; ++k) store.WriteInt("multi_" + std::to_string(k), k - 1);
    for (int n = 1; n <= 8; ++n) store.WriteText("Edit " + std::to_string(n), labels[n - 1]);
    Program p(store);
    p.fMain.findChild<QTimer*>("TimerOff")->stop();  // the ticks below are the only ones
    const char* inputs[] = {"sine:440:-8/sine:440:-12", "sine:997:-18/sine:997:-14", "silence",
                             "noise:-10:1/noise:-16:2"};
    for (int d = 0; d < 4; ++d) gInput->SetSignal(d, inputs[d]);
    for (int i = 0; i < 40; ++i) {
        for (int d = 0; d < 4; ++d) gInput->Pump(d, 1);
        QTest::qWait(10);
    }
    TMMSilenceDetector& d = p.engine.Detector();
    for (int i = 0; i < 3; ++i) d.StripTick(5), d.StripTick(6);
    for (int n = 1; n <= 8; ++n) {
        const bool alarm = n == 5 || n == 6;
        EXPECT_EQ(p.fMain.Picture(n)->ShowsAlarm(), alarm) << n;
        EXPECT_EQ(p.fMain.Label(n)->isVisible(), !alarm) << n;
        if (!alarm) {
            EXPECT_GT(p.fMain.Level(n)->Core().BarSpots(), 0) << n;
        }
    }
    // The alarm fill is red.
    const QImage shot = p.fMain.grab().toImage();
    const QPoint inPicture5 = p.fMain.Picture(5)->mapTo(&p.fMain, p.fMain.Picture(5)->rect().center());
    EXPECT_EQ(shot.pixelColor(inPicture5 * shot.devicePixelRatio()).rgb() & 0xFFFFFF, 0xFF0000u);
    ASSERT_EQ(p.fLogFile.Lines().size(), 2);
    EXPECT_TRUE(p.fLogFile.Lines()[0].startsWith("Level 5 : - Key-   -")) << p.fLogFile.Lines()[0].toStdString();
    EXPECT_TRUE(p.fLogFile.Lines()[1].startsWith("Level 6 : - Key-   -")) << p.fLogFile.Lines()[1].toStdString();

    if (const char* docs = std::getenv("TARVOLIN_DOCS_DIR")) {
        EXPECT_TRUE(shot.save(QDir(docs).filePath("silence_alarm.png")));
        // A second silence episode of both strips, so the log holds more.
        for (int n : {5, 6}) d.setCounter(n, 0);
        for (int i = 0; i < 3; ++i) d.StripTick(5), d.StripTick(6);
        EXPECT_EQ(p.fLogFile.Lines().size(), 4);
        p.fLogFile.show();
        QTest::qWait(50);
        EXPECT_TRUE(p.fLogFile.grab().save(QDir(docs).filePath("log_window.png")));
        p.fLogFile.hide();
    }
}

}  // namespace

// The recorders capture from a manually clocked simulated device, the alarm
// plays on simulated outputs, connector cycles and the players' stop
// messages run on the Qt loop.
class TSilenceEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        mInput = std::make_unique<TMMSimulatedWaveIn>(TMMSimulatedWaveIn::Clock::Manual);
        gInput = mInput.get();
        SetMainCaptureDevice(mInput.get());
        mOutput = std::make_unique<TMMSimulatedWaveOut>();
        gOutput = mOutput.get();
        SetWaveOutDevice(mOutput.get());
        mLoop = std::make_unique<TMMConnectorQtLoop>();
        mPoster = std::make_unique<TMMQtPoster>();
        mPoster->Install();
    }
    void TearDown() override
    {
        SetMainCaptureDevice(nullptr);
        SetWaveOutDevice(nullptr);
        mPoster.reset();
        mLoop.reset();
        gOutput = nullptr;
        gInput = nullptr;
        mOutput.reset();
        mInput.reset();
    }

private:
    std::unique_ptr<TMMSimulatedWaveIn> mInput;
    std::unique_ptr<TMMSimulatedWaveOut> mOutput;
    std::unique_ptr<TMMConnectorQtLoop> mLoop;
    std::unique_ptr<TMMQtPoster> mPoster;
};

[[maybe_unused]] const ::testing::Environment* const kSilenceEnvironment =
    ::testing::AddGlobalTestEnvironment(new TSilenceEnvironment);
