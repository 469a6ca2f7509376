#include "app/InputModes.h"
#include "app/MainValues.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <stdexcept>
#include <vector>

namespace {

// Records the calls of the restore sequence and holds the state it applies.
struct FakeMain : TMainTarget {
    std::array<TStripValues, MainStripCount> strips;
    std::array<std::string, MainStripCount> labels;
    TWindowPlacement placement;
    TLevelSetValues level;
    TCorreValues corre;
    int mode = 2, rate = 0, outDevice = 99;
    std::array<int, MainRecorderCount> devices{};
    std::vector<std::string> log;
    std::set<int> failing;  // recorders whose Close/Start throw
    std::function<void()> onSetup;

    FakeMain()
    {
        for (int n = 1; n <= MainStripCount; ++n) strips[n - 1] = DesignStripValues(n);
    }
    TStripValues StripValues(int n) override { return strips[n - 1]; }
    void ApplyStripValues(int n, const TStripValues& v) override { strips[n - 1] = v; }
    TWindowPlacement Placement() override { return placement; }
    void ApplyPlacement(const TWindowPlacement& p) override { placement = p; }
    void SetLabelText(int n, const std::string& t) override { labels[n - 1] = t; }
    TLevelSetValues LevelSetValues() override { return level; }
    TCorreValues CorreValues() override { return corre; }
    int InputMode() override { return mode; }
    int SampleRateIndex() override { return rate; }
    void SetLoggingOn() override { log.push_back("logging"); }
    void ApplyLevelSetStart(const TLevelSetValues& v) override { level = v; }
    void ApplyInputMode(int m) override
    {
        mode = ClampInputMode(m);
        log.push_back("mode " + std::to_string(mode));
    }
    void ApplyStandard(int s, int i, int r) override
    {
        level.MeterStandard = s;
        level.IntegralMs = i;
        level.Reference = r;
        log.push_back("standard");
    }
    void ApplySampleRate(int i) override { rate = i; }
    void ApplyStereo(int s) override { level.Stereo = s; }
    void ApplyDetector(const TLevelSetValues& v) override { level = v; }
    void ShowInputSetupModal() override
    {
        log.push_back("setup");
        if (onSetup) onSetup();
    }
    void SetRecorderDevice(int k, int id) override { devices[k - 1] = id; }
    void SetAlarmOutDevice(int id) override { outDevice = id; }
    void CloseRecorder(int k) override
    {
        log.push_back("close " + std::to_string(k));
        if (failing.count(k)) throw std::runtime_error("close");
    }
    void StartRecorder(int k) override
    {
        log.push_back("start " + std::to_string(k));
        if (failing.count(k)) throw std::runtime_error("Invalid DeviceID");
    }
    void ShowCorrelation() override { log.push_back("corre"); }

    int indexOf(const std::string& what) const
    {
        for (size_t i = 0; i < log.size(); ++i)
            if (log[i] == what) return static_cast<int>(i);
        return -1;
    }
};

TEST(MainRestore, FirstStartAsksForDevicesBeforeAnyRecorderAndKeepsDesignValues)
{
    TMemoryStore store;
    FakeMain m;
    RestoreMainValues(store, m);
    const int setup = m.indexOf("setup");
    ASSERT_GE(setup, 0);
    EXPECT_LT(setup, m.indexOf("close 1"));
    EXPECT_LT(m.indexOf("close 12"), m.indexOf("start 1"));
    EXPECT_EQ(m.indexOf("start 5"), -1);  // design mode 2: recorders 1-4
    EXPECT_GE(m.indexOf("start 4"), 0);
    EXPECT_EQ(m.log.back(), "corre");
    for (int n = 1; n <= MainStripCount; ++n) {
        EXPECT_EQ(m.labels[n - 1], "") << n;
        EXPECT_EQ(m.strips[n - 1].Sensitivy, DesignStripValues(n).Sensitivy);
        EXPECT_EQ(m.strips[n - 1].PeakDelay, 49);
        EXPECT_EQ(m.strips[n - 1].PeakSpeed, 1);
    }
    EXPECT_EQ(m.devices[0], 0);
    EXPECT_EQ(m.outDevice, 0);
    EXPECT_EQ(m.level.ArlamSec, 10);
    EXPECT_EQ(store.Writes(), 0);  // restoring writes nothing
}

TEST(MainRestore, StoredModeZeroStartsOnlyRecorderOneAndSkipsTheDialog)
{
    TMemoryStore store;
    store.WriteInt("rg Mode", 0);
    store.WriteBool("is Sound", true);
    FakeMain m;
    RestoreMainValues(store, m);
    EXPECT_EQ(m.indexOf("setup"), -1);
    EXPECT_GE(m.indexOf("start 1"), 0);
    EXPECT_EQ(m.indexOf("start 2"), -1);
}

TEST(MainRestore, FailingRecordersAreSkippedAndTheRestStillRun)
{
    TMemoryStore store;
    store.WriteInt("rg Mode", 4);
    store.WriteBool("is Sound", true);
    FakeMain m;
    m.failing = {1, 7, 12};
    RestoreMainValues(store, m);
    for (int k = 1; k <= 12; ++k) {
        EXPECT_GE(m.indexOf("close " + std::to_string(k)), 0) << k;
        EXPECT_GE(m.indexOf("start " + std::to_string(k)), 0) << k;
    }
    EXPECT_EQ(m.log.back(), "corre");
    EXPECT_EQ(StartRecordersOfMode(m, 4), 9);
}

TEST(MainRestore, SetupDialogChoicesAreReadAfterItCloses)
{
    TMemoryStore store;
    FakeMain m;
    m.onSetup = [&] {
        store.WriteInt("multi_3", -1);
        store.WriteInt("out", 2);
        store.WriteBool("is Sound", true);
    };
    RestoreMainValues(store, m);
    EXPECT_EQ(m.devices[2], -1);
    EXPECT_EQ(m.outDevice, 2);
}

TEST(MainRestore, WrongKindsAndOddNamesGiveDefaults)
{
    TMemoryStore store;
    store.WriteText("Level Decay3", "fast");  // text where an integer is expected
    store.WriteInt("WINDOW TOP", 321);        // any case names the same value
    store.WriteInt("Edit 5", 7);              // integer where a text is expected
    FakeMain m;
    m.strips[2].Decay = 9;
    RestoreMainValues(store, m);
    EXPECT_EQ(m.strips[2].Decay, 9);
    EXPECT_EQ(m.placement.Top, 321);
    EXPECT_EQ(m.labels[4], "");
}

TEST(MainSave, WritesAllValuesAndTheyRoundTrip)
{
    FakeMain a;
    for (int n = 1; n <= MainStripCount; ++n) {
        TStripValues& v = a.strips[n - 1];
        v.Decay = n % 16 + 1;
        v.NumPeaks = n % 6;
        v.Sensitivy = -40 - n;
        v.Bar1Color = 0x010000u * n;
        v.Bar2Color = 0x000100u * n;
        v.Bar3Color = 0x000001u * n;
        v.Point1 = n;
        v.Point2 = 50 + n;
        v.LEDColor = 0xF0FBFF;
    }
    a.placement = {11, 22, 333, 444};
    a.level = {5, 2, 33, "/tmp/alarm.wav", false, 6, 5, 3, 1, 351, -41, 77, 13, true, false};
    a.corre = {40, 50, 2, 5};
    a.mode = 3;

    TMemoryStore store;
    SaveMainValues(store, a);
    EXPECT_EQ(store.Writes(), 288);
    EXPECT_EQ(store.Size(), 288u);
    EXPECT_TRUE(store.Has("Window Top"));
    EXPECT_EQ(store.ReadInt("Window top", 0), 22);  // read name, written name: one value
    EXPECT_EQ(store.ReadInt("Level Delay7", 0), 49);
    EXPECT_EQ(store.ReadInt("Level Speed7", 0), 1);

    store.WriteBool("is Sound", true);
    FakeMain b;
    RestoreMainValues(store, b);
    for (int n = 1; n <= MainStripCount; ++n) {
        const TStripValues &x = a.strips[n - 1], &y = b.strips[n - 1];
        EXPECT_EQ(x.Decay, y.Decay);
        EXPECT_EQ(x.NumPeaks, y.NumPeaks);
        EXPECT_EQ(x.Sensitivy, y.Sensitivy);
        EXPECT_EQ(x.Bar1Color, y.Bar1Color);
        EXPECT_EQ(x.Bar2Color, y.Bar2Color);
        EXPECT_EQ(x.Bar3Color, y.Bar3Color);
        EXPECT_EQ(x.Point1, y.Point1);
        EXPECT_EQ(x.Point2, y.Point2);
        EXPECT_EQ(x.LEDColor, y.LEDColor);
    }
    EXPECT_EQ(b.placement.Left, 11);
    EXPECT_EQ(b.placement.Top, 22);
    EXPECT_EQ(b.placement.Height, 333);
    EXPECT_EQ(b.placement.Width, 444);
    EXPECT_EQ(b.mode, 3);
    EXPECT_EQ(b.level.PeaksNr, 5);
    EXPECT_EQ(b.level.PSpotSpace, 2);
    EXPECT_EQ(b.level.ArlamSec, 33);
    EXPECT_EQ(b.level.ArlamFile, "/tmp/alarm.wav");
    EXPECT_FALSE(b.level.LeavePeaks);
    EXPECT_EQ(b.level.MeterStandard, 6);
    EXPECT_EQ(b.level.IntegralMs, 5);
    EXPECT_EQ(b.level.Reference, 3);
    EXPECT_EQ(b.level.Stereo, 1);
    EXPECT_EQ(b.level.DbValue, 351);
    EXPECT_EQ(b.level.DbValue2, -41);
    EXPECT_EQ(b.level.SecValue, 77);
    EXPECT_EQ(b.level.NEdit2, 13);
    EXPECT_TRUE(b.level.Detect);

    // A second save of the restored state writes the same values.
    TMemoryStore again;
    b.corre = a.corre;
    b.level.StayTop = a.level.StayTop;
    SaveMainValues(again, b);
    for (const auto& [key, e] : store.Values()) {
        if (key == "is sound") continue;
        ASSERT_TRUE(again.Has(key)) << key;
        EXPECT_EQ(again.Values().at(key).i, e.i) << key;
        EXPECT_EQ(again.Values().at(key).text, e.text) << key;
    }
}

}  // namespace
