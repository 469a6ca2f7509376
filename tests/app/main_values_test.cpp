#include "base/TvConstants.h"
#include "app/InputModes.h"
#include "app/MainValues.h"
#include "app/StoreAccess.h"
#include "metering/MainBar.h"
#include "metering/uSet_Level_core.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <stdexcept>
#include <vector>

namespace {

// Records the calls of the restore sequence and holds the state it applies.
struct FakeMain : TMainTarget {
    std::array<TStripValues, tv::kStrips> strips;
    std::array<std::string, tv::kStrips> labels;
    TWindowPlacement placement;
    TLevelSetValues level = DesignLevelSetValues();
    TCorreValues corre;
    int mode = 2, rate = 0, outDevice = 99;
    std::array<int, tv::kPairs> devices{};
    std::array<std::string, tv::kPairs> missing;
    std::vector<std::string> log;
    std::set<int> failing;  // recorders whose Close/Start throw
    std::function<void()> onSetup;

    FakeMain()
    {
        for (int n = 1; n <= tv::kStrips; ++n) strips[n - 1] = DesignStripValues(n);
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
    void SetRecorderNotConnected(int k, const std::string& name) override { missing[k - 1] = name; }
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
    for (int n = 1; n <= tv::kStrips; ++n) {
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
    for (int k = 1; k <= tv::kPairs; ++k) {
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
    for (int n = 1; n <= tv::kStrips; ++n) {
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
    EXPECT_EQ(store.Writes(), 289);
    EXPECT_EQ(store.Size(), 289u);
    EXPECT_TRUE(store.Has("Window Top"));
    EXPECT_EQ(store.ReadInt("Window top", 0), 22);  // read name, written name: one value
    EXPECT_EQ(store.ReadInt("Level Delay7", 0), 49);
    EXPECT_EQ(store.ReadInt("Level Speed7", 0), 1);

    store.WriteBool("is Sound", true);
    FakeMain b;
    RestoreMainValues(store, b);
    for (int n = 1; n <= tv::kStrips; ++n) {
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
    EXPECT_EQ(b.level.ThresholdAmplitude, 351);
    EXPECT_EQ(b.level.ThresholdDb, -41);
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

// The meter window as the level settings see it: real bar cores with the
// main window's design values, a record of the rest.
struct CoreWindow : TMMMeterWindow {
    std::array<TMMCustomLevel, tv::kStrips> bars;
    std::array<bool, tv::kStrips + 1> picture{};
    bool check = false;

    CoreWindow()
    {
        for (int n = 1; n <= tv::kStrips; ++n) ApplyMainBarDesign(bars[n - 1], n);
    }
    TMMCustomLevel* Level(int n) override { return &bars[n - 1]; }
    void SetLevelTop(int, int) override {}
    void SetScaleTop(int, int) override {}
    void SetStripHeight(int, int) override {}
    void SetPictureVisible(int n, bool v) override { picture[n] = v; }
    void SetScaleVisible(int, bool) override {}
    void SetScaleSensitivy(int, int) override {}
    void DrawPicture(int, TMMScalePicture) override {}
    int LabelTop() const override { return 918; }
    TColor LabelColor(int) const override { return clLime; }
    void SetLabelColor(int, TColor) override {}
    void SetCaption(const std::string&) override {}
    void SetStayOnTop(bool) override {}
    void SetSilenceCheck(bool on) override { check = on; }
};

// The restore target with the level settings handled by a real core, as the
// main window hands them on.
struct CoreMain : FakeMain {
    CoreWindow window;
    TSetLevelCore core{&window};

    TLevelSetValues LevelSetValues() override { return LevelSetValuesOf(core); }
    void ApplyLevelSetStart(const TLevelSetValues& v) override { ::ApplyLevelSetStart(core, v); }
    void ApplyStandard(int s, int i, int r) override { ApplyLevelSetStandard(core, s, i, r); }
    void ApplyStereo(int s) override { core.ApplyStereoItem(s); }
    void ApplyDetector(const TLevelSetValues& v) override { ApplyLevelSetDetector(core, v); }
};

TEST(LevelSettings, TheDialogStartsWithTheStoredDefaults)
{
    // The amplitude is not a default of its own: it follows the dBFS value.
    TLevelSetValues design = DesignLevelSetValues();
    design.ThresholdAmplitude = SilenceThresholdAmplitude(design.ThresholdDb);
    const TLevelSetValues core = LevelSetValuesOf(TSetLevelCore());
    EXPECT_EQ(core.PeaksNr, design.PeaksNr);
    EXPECT_EQ(core.PSpotSpace, design.PSpotSpace);
    EXPECT_EQ(core.ArlamSec, design.ArlamSec);
    EXPECT_EQ(core.ArlamFile, design.ArlamFile);
    EXPECT_EQ(core.LeavePeaks, design.LeavePeaks);
    EXPECT_EQ(core.MeterStandard, design.MeterStandard);
    EXPECT_EQ(core.IntegralMs, design.IntegralMs);
    EXPECT_EQ(core.Reference, design.Reference);
    EXPECT_EQ(core.Stereo, design.Stereo);
    EXPECT_EQ(core.ThresholdAmplitude, design.ThresholdAmplitude);
    EXPECT_EQ(core.ThresholdDb, design.ThresholdDb);
    EXPECT_EQ(core.SecValue, design.SecValue);
    EXPECT_EQ(core.NEdit2, design.NEdit2);
    EXPECT_EQ(core.Detect, design.Detect);
    EXPECT_EQ(core.StayTop, design.StayTop);

    CoreWindow w;
    for (int n = 1; n <= tv::kStrips; ++n) {
        const TStripValues v = DesignStripValues(n);
        EXPECT_EQ(w.bars[n - 1].Sensitivy(), v.Sensitivy) << n;
        EXPECT_EQ(w.bars[n - 1].Decay(), v.Decay);
        EXPECT_EQ(w.bars[n - 1].NumPeaks(), v.NumPeaks);
        EXPECT_EQ(w.bars[n - 1].Point1(), v.Point1);
        EXPECT_EQ(w.bars[n - 1].Point2(), v.Point2);
        EXPECT_EQ(w.bars[n - 1].Bar3Color(), v.Bar3Color);
    }
    EXPECT_EQ(DesignStripValues(2).Sensitivy, -40);
    EXPECT_EQ(DesignStripValues(3).Sensitivy, -50);
    EXPECT_EQ(DesignStripValues(10).Sensitivy, -50);
    EXPECT_EQ(DesignStripValues(11).Sensitivy, -52);
}

TEST(LevelSettings, RestoreReachesTheBarsAndSaveWritesTheDialogsValues)
{
    TMemoryStore store;
    store.WriteBool("is Sound", true);
    store.WriteInt("peaks NR", 0);
    store.WriteInt("rg mode din", 6);
    store.WriteInt("rg Integral ms", 2);
    store.WriteInt("rg Integral", 3);
    store.WriteInt("rg Stereo", 1);
    store.WriteInt("db_value", 12345);
    store.WriteInt("db_value2", -60);
    store.WriteInt("sec_value", 99999);
    store.WriteBool("cb detect", true);
    store.WriteText("arlam file", "/tmp/alarm.wav");
    store.WriteBool("Leave Peaks", false);
    CoreMain m;
    RestoreMainValues(store, m);
    const TMMCustomLevel& bar = m.window.bars[3];
    // The strip values come first (one peak), the dialog's peaks after them.
    EXPECT_EQ(bar.NumPeaks(), 0);
    EXPECT_FALSE(bar.LeaveMaxPeak());
    EXPECT_EQ(bar.MeterStandard(), 7);
    EXPECT_EQ(bar.IntegralLength(), 10);
    EXPECT_TRUE(bar.RefMinus24());
    EXPECT_FALSE(m.window.picture[4]);  // stereo: even strips without scale
    EXPECT_EQ(m.core.ThresholdAmplitude(), 35);  // follows the dBFS value
    EXPECT_EQ(m.core.AlarmSeconds(), 32768);
    EXPECT_TRUE(m.window.check);
    EXPECT_EQ(m.core.AlarmFile(), "/tmp/alarm.wav");
    EXPECT_EQ(m.core.ResetIntervalMs(), 10000);

    TMemoryStore out;
    SaveMainValues(out, m);
    EXPECT_EQ(out.ReadInt("rg Mode Din", -1), 6);
    EXPECT_EQ(out.ReadInt("db_value", -1), 35);
    EXPECT_EQ(out.ReadInt("db_value2", 0), -60);
    EXPECT_TRUE(out.ReadBool("Stay Top", false));
    EXPECT_EQ(out.ReadText("arlam file", ""), "/tmp/alarm.wav");
    EXPECT_EQ(out.ReadInt("Peaks nr", -1), 0);
}

}  // namespace
