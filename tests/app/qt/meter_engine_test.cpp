// One meter engine with its views: the main window (strip labels, log
// window) and what headless mode reports (the --log-out stream, the journal,
// the status snapshot) see the same silence, alarm and restore, fed by
// simulated inputs pumped by hand; the detector's ticks run by hand too. The
// engine goes on metering after its window has gone.
#include "app/CommandLine.h"
#include "app/StoreAccess.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "app/qt/ProgramWindows.h"
#include "audio/MMNotify.h"
#include "metering/qt/MMLevel.h"
#include "monitoring/qt/MMMonitorService.h"
#include "tests/support/qt/SimulatedCapture.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

const ::testing::Environment* const kCapture = ::testing::AddGlobalTestEnvironment(new TSimulatedCapture);

std::vector<std::string> FileLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::vector<std::string> LinesWith(const std::vector<std::string>& lines, const std::string& part)
{
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
}

// About `ms` of audio from recorders 1 and 2, handed down to the bars.
void Feed(int ms)
{
    for (int t = 0; t < ms; t += 10) {
        for (int d = 0; d < 2; ++d) TSimulatedCapture::Device()->PumpFrames(d, 480);
        WindowPoster().ProcessMessages();
        QTest::qWait(10);
    }
}

TSilenceState StateIn(const TStatusSnapshot& s, int n) { return s.Strips[static_cast<size_t>(n - 1)].State; }

TEST(MeterEngine, WindowAndHeadlessReportsOfOneEngineAgreeAndTheEngineOutlivesItsWindow)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    setenv("XDG_DATA_HOME", dir.path().toLocal8Bit().constData(), 1);  // the journal's folder
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("rg Mode", 1);  // 4 channels: recorders 1 and 2
    store.WriteInt("Samplerate", 1);
    store.WriteBool("cb detect", true);
    store.WriteInt("db_value2", -40);
    store.WriteInt("sec_value", 2);
    store.WriteText("Edit 4", "Vox");
    TMMSimulatedWaveIn& sim = *TSimulatedCapture::Device();
    sim.SetSignal(0, "sine:1000:-20");
    sim.SetSignal(1, "sine:1000:-20/silence");  // strip 4 is silent

    TMeterEngine engine(store);
    CommandLine cl;
    cl.logOut = dir.filePath("log-out.txt").toStdString();
    ASSERT_TRUE(engine.Start(cl, std::cerr));
    auto w = std::make_unique<TProgramWindows>(engine);
    w->fMain.setSaveOnClose(false);
    bool restored = false;
    w->fMain.OnRestored = [&] { restored = true; };
    w->fMain.show();
    QTRY_VERIFY_WITH_TIMEOUT(restored, 5000);
    ASSERT_TRUE(engine.Audio().Running(1) && engine.Audio().Running(2));
    EXPECT_EQ(engine.SampleRate(), 48000);
    // The window shows the engine's analysers and labels.
    EXPECT_EQ(&w->fMain.Level(4)->Core(), &engine.Bar(4));
    EXPECT_EQ(w->fMain.Label(4)->Caption(), "Vox");

    TMMSilenceDetector& d = engine.Detector();
    Feed(200);
    d.TimerOffTick();
    d.StripTick(4);
    EXPECT_EQ(d.State(3), TSilenceState::Sounding);
    EXPECT_EQ(d.State(4), TSilenceState::Silent);
    EXPECT_EQ(StateIn(engine.Snapshot(), 4), TSilenceState::Silent);
    for (int i = 0; i < 2; ++i) d.StripTick(4);
    ASSERT_EQ(d.State(4), TSilenceState::Alarm);
    // The window: the red label; the status endpoint: the same alarm.
    EXPECT_EQ(w->fMain.Label(4)->InactiveColor(), clRed);
    EXPECT_EQ(StateIn(engine.Snapshot(), 4), TSilenceState::Alarm);
    EXPECT_EQ(StateIn(engine.Snapshot(), 3), TSilenceState::Sounding);

    sim.SetSignal(1, "sine:1000:-20");
    Feed(200);
    d.TimerOffTick();
    EXPECT_EQ(d.State(4), TSilenceState::Sounding);
    EXPECT_EQ(StateIn(engine.Snapshot(), 4), TSilenceState::Sounding);

    // The log window and --log-out hold the same lines, the journal one alarm
    // and one restore of strip 4, nothing of the others.
    std::vector<std::string> shown;
    for (const QString& l : w->fLogFile.Lines())
        if (l.startsWith("Level")) shown.push_back(l.toStdString());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown, FileLines(cl.logOut));
    EXPECT_NE(shown[0].find("Vox"), std::string::npos);
    ASSERT_TRUE(engine.Service().Journal().Flush());
    const std::string journal = engine.Service().Journal().FileFor(QDateTime::currentMSecsSinceEpoch());
    const std::vector<std::string> events = FileLines(journal);

    EXPECT_EQ(LinesWith(events, " alarm strip=").size(), 1u);
    EXPECT_EQ(LinesWith(LinesWith(events, " alarm strip="), "strip=4 ").size(), 1u);
    EXPECT_EQ(LinesWith(events, " restored strip=").size(), 1u);

    // The window closes; the engine meters on as headless mode does: a new
    // silence of strip 4 reaches --log-out and the journal, on the engine's
    // own timers.
    w.reset();
    sim.SetSignal(1, "silence");
    const uint64_t blocks = engine.Audio().Blocks(1);
    Feed(200);
    EXPECT_GT(engine.Audio().Blocks(1), blocks);
    EXPECT_GT(engine.Bar(1).SilenceLevel(), 3000);  // -20 dBFS
    d.TimerOffTick();
    for (int i = 0; i < 3; ++i) d.StripTick(4);
    EXPECT_EQ(d.State(4), TSilenceState::Alarm);
    EXPECT_EQ(FileLines(cl.logOut).size(), 2u);
    ASSERT_TRUE(engine.Service().Journal().Flush());
    EXPECT_EQ(LinesWith(FileLines(journal), " alarm strip=").size(), 2u);
    for (int k = 1; k <= tv::kPairs; ++k) engine.Audio().Close(k);
}

}  // namespace
