#include "metering/MMPresets.h"
#include "metering/MainBar.h"
#include "metering/uSet_Level_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <vector>

namespace {

struct Strip {
    TMMCustomLevel level;
    int levelTop = 0, scaleTop = 0, height = 500, scaleSens = -35, drawn = -1, draws = 0;
    bool picture = true, scale = false;
    TColor label = clLime;
};

struct FakeWindow : TMMMeterWindow {
    Strip s[tv::kStrips + 1];
    int labelTop = 918;
    std::string caption = "DIN 45406";
    bool onTop = true, check = false;
    int checkCalls = 0;

    FakeWindow()
    {
        for (int n = 1; n <= tv::kStrips; ++n) ApplyMainBarDesign(s[n].level, n);
    }

    TMMCustomLevel* Level(int n) override { return &s[n].level; }
    void SetLevelTop(int n, int v) override { s[n].levelTop = v; }
    void SetScaleTop(int n, int v) override { s[n].scaleTop = v; }
    void SetStripHeight(int n, int h) override { s[n].height = h; }
    void SetPictureVisible(int n, bool v) override { s[n].picture = v; }
    void SetScaleVisible(int n, bool v) override { s[n].scale = v; }
    void SetScaleSensitivy(int n, int v) override { s[n].scaleSens = v; }
    void DrawPicture(int n, TMMScalePicture p) override { s[n].drawn = p, ++s[n].draws; }
    int LabelTop() const override { return labelTop; }
    TColor LabelColor(int n) const override { return s[n].label; }
    void SetLabelColor(int n, TColor c) override { s[n].label = c; }
    void SetCaption(const std::string& t) override { caption = t; }
    void SetStayOnTop(bool on) override { onTop = on; }
    void SetSilenceCheck(bool on) override { check = on, ++checkCalls; }
};

// Names match without regard to case; the spelling written last is kept.
struct FakeStore : TSettingsAccess {
    std::map<std::string, std::pair<std::string, std::string>> values;  // lower -> (name, value)
    std::vector<std::string> written;

    static std::string Lower(std::string s)
    {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    }
    const std::string* Find(const std::string& name) const
    {
        auto it = values.find(Lower(name));
        return it == values.end() ? nullptr : &it->second.second;
    }
    void Put(const std::string& name, const std::string& v)
    {
        values[Lower(name)] = {name, v};
        written.push_back(name);
    }
    int ReadInt(const std::string& name, int def) override
    {
        const std::string* v = Find(name);
        return v ? std::stoi(*v) : def;
    }
    void WriteInt(const std::string& name, int v) override { Put(name, std::to_string(v)); }
    bool ReadBool(const std::string& name, bool def) override
    {
        const std::string* v = Find(name);
        return v ? std::stoi(*v) != 0 : def;
    }
    void WriteBool(const std::string& name, bool v) override { Put(name, v ? "1" : "0"); }
    std::string ReadText(const std::string& name, const std::string& def) override
    {
        const std::string* v = Find(name);
        return v ? *v : def;
    }
    void WriteText(const std::string& name, const std::string& v) override { Put(name, v); }
};

struct FakeView : TSetLevelView {
    int p1 = 0, p2 = 0, value = 0, picture = -1, changes = 0;
    TColor colors[4] = {0, 0, 0, 0}, label = 0;
    void SetPreviewPoint1(int v) override { p1 = v; }
    void SetPreviewPoint2(int v) override { p2 = v; }
    void SetPreviewValue(int v) override { value = v; }
    void SetPreviewColor(int bar, TColor c) override { colors[bar] = c; }
    void SetPreviewLabelColor(TColor c) override { label = c; }
    void DrawPreviewPicture(TMMScalePicture p) override { picture = p; }
    void ControlsChanged() override { ++changes; }
};

struct Presets : ::testing::Test {
    FakeWindow win;
    FakeStore store;
    FakeView view;
    TSetLevelCore core{&win, &store, &view};
};

TEST(SilenceThreshold, ListedExamplesAndTheComparison)
{
    const int db[] = {-1, -6, -10, -20, -24, -30, -40, -60, -72};
    const int amp[] = {30500, 17212, 10890, 3468, 2194, 1104, 351, 35, 9};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(SilenceThresholdAmplitude(db[i]), amp[i]) << db[i];
    EXPECT_TRUE(IsBelowThreshold(350, SilenceThresholdAmplitude(-40)));
    EXPECT_FALSE(IsBelowThreshold(351, SilenceThresholdAmplitude(-40)));
    EXPECT_FALSE(IsBelowThreshold(0, 0));  // a zero threshold sees nothing as silent
}

TEST(SilenceThreshold, ValuesNoAmplitudeReadsAsStayOrderedAndUsable)
{
    // The smallest amplitude, 1, reads as -91 dBFS; below that only digital
    // silence counts. The gaps take the largest amplitude reading lower.
    for (int t = -99; t <= -91; ++t) EXPECT_EQ(SilenceThresholdAmplitude(t), 1) << t;
    EXPECT_EQ(SilenceThresholdAmplitude(-85), 2);
    EXPECT_EQ(SilenceThresholdAmplitude(-84), 2);
    EXPECT_EQ(SilenceThresholdAmplitude(-82), 2);
    EXPECT_EQ(SilenceThresholdAmplitude(-81), 3);
    EXPECT_EQ(SilenceThresholdAmplitude(-80), 3);
    EXPECT_EQ(SilenceThresholdAmplitude(-78), 4);
    EXPECT_EQ(SilenceThresholdAmplitude(-76), 5);
    for (int t = -98; t <= -1; ++t)
        EXPECT_LE(SilenceThresholdAmplitude(t - 1), SilenceThresholdAmplitude(t)) << t;
    // Out of range clamps to the ends of the spin.
    EXPECT_EQ(SilenceThresholdAmplitude(-500), 1);
    EXPECT_EQ(SilenceThresholdAmplitude(0), 30500);
    EXPECT_EQ(SilenceThresholdAmplitude(12), 30500);
}

TEST(PresetTables, LookupsClampAndGroupsCoverEveryBar)
{
    EXPECT_STREQ(PresetOf(-3).Text, "Nordic N9");
    EXPECT_STREQ(PresetOf(42).Text, "Peak dBFS");
    EXPECT_EQ(IntegralLengthOf(5), 299);
    EXPECT_EQ(IntegralLengthOf(9), 299);
    const int expected[tv::kStrips + 1] = {-1, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                          3, 3, 3, 3, 0, 0, 0, 0, 1, 1, 1, 1};
    for (int n = 1; n <= tv::kStrips; ++n) EXPECT_EQ(ColorGroupOfBar(n), expected[n]) << n;
    EXPECT_EQ(ColorGroupOfBar(0), -1);
    EXPECT_EQ(ColorGroupOfBar(25), -1);
}

TEST_F(Presets, K20WithAnEmptyStore)
{
    core.setMeterItem(4);
    for (int n = 1; n <= tv::kStrips; ++n) {
        const TMMCustomLevel& l = win.s[n].level;
        EXPECT_EQ(l.MeterStandard(), 5);
        EXPECT_EQ(l.Sensitivy(), -70);
        EXPECT_EQ(l.Point2(), 79);
        EXPECT_EQ(l.Point1(), 73);
        EXPECT_EQ(win.s[n].drawn, spK20);
        EXPECT_EQ(win.s[n].levelTop, 11);
    }
    EXPECT_EQ(view.picture, spK20);
    EXPECT_EQ(win.caption, "K-System K20");
    EXPECT_EQ(view.p2, 79);
    EXPECT_EQ(view.p1, 73);
    EXPECT_EQ(view.value, 100);
    EXPECT_EQ(view.changes, 1);  // one report for the whole routine
}

TEST_F(Presets, PeakDbfsSwapsToWidgetsAndNordicRestoresPicturesAndPositions)
{
    core.setMeterItem(8);
    EXPECT_FALSE(core.ReferenceEnabled());
    EXPECT_FALSE(core.PreviewPictureVisible());
    EXPECT_TRUE(core.ScaleOutfitVisible());
    EXPECT_EQ(win.caption, "Peak dBFS");
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_FALSE(win.s[n].picture);
        EXPECT_TRUE(win.s[n].scale);
        EXPECT_EQ(win.s[n].scaleSens, -72);
        EXPECT_EQ(win.s[n].draws, 0);
        win.s[n].height = 40;  // a resize moved things meanwhile
    }
    core.setMeterItem(0);
    EXPECT_TRUE(core.ReferenceEnabled());
    EXPECT_TRUE(core.PreviewPictureVisible());
    EXPECT_FALSE(core.ScaleOutfitVisible());
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_TRUE(win.s[n].picture);
        EXPECT_FALSE(win.s[n].scale);
        EXPECT_EQ(win.s[n].height, 918 - 15);
        EXPECT_EQ(win.s[n].scaleTop, 12);
        EXPECT_EQ(win.s[n].drawn, spN9);
    }
    // Digital PPM keeps the reference choice open.
    core.setMeterItem(7);
    EXPECT_TRUE(core.ReferenceEnabled());
}

TEST_F(Presets, FromDinOnlyTheTopsAreSet)
{
    core.ApplyMeterItem(1);
    for (int n = 1; n <= tv::kStrips; ++n) {
        win.s[n].height = 40;
        win.s[n].scale = true;
        win.s[n].levelTop = 3;
    }
    core.setMeterItem(0);
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_EQ(win.s[n].levelTop, 11);
        EXPECT_EQ(win.s[n].height, 40);
        EXPECT_TRUE(win.s[n].scale);
    }
}

TEST_F(Presets, SaveUnderDinWritesTheWriteNamesAndPresetReadsThemBack)
{
    core.ApplyMeterItem(1);
    core.setOlTop(66);
    core.setOlBottom(33);
    core.SaveLimits();
    ASSERT_EQ(store.written, (std::vector<std::string>{"Din", "Din2"}));
    core.setMeterItem(0);
    EXPECT_EQ(core.OlTop(), 90);
    core.setMeterItem(1);
    EXPECT_EQ(core.OlTop(), 66);
    EXPECT_EQ(core.OlBottom(), 33);
    EXPECT_EQ(win.s[24].level.Point2(), 66);
    EXPECT_EQ(win.s[24].level.Point1(), 33);

    // Stored limits outside 1 .. 100 are clamped; a label at the very top
    // gives no negative height.
    store.WriteInt("BBC", 250);
    store.WriteInt("BBC2", -4);
    win.labelTop = 3;
    core.setMeterItem(2);
    EXPECT_EQ(win.s[1].level.Point2(), 100);
    EXPECT_EQ(win.s[1].level.Point1(), 1);
    core.setMeterItem(3);  // BBC (code 2) was in force: full restore
    EXPECT_EQ(win.s[5].height, 0);
}

TEST_F(Presets, IntegrationAndReference)
{
    core.setIntegralItem(5);
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_TRUE(win.s[n].level.IntegralOn());
        EXPECT_EQ(win.s[n].level.IntegralLength(), 299);
    }
    core.setIntegralItem(0);
    EXPECT_FALSE(win.s[7].level.IntegralOn());
    EXPECT_EQ(win.s[7].level.IntegralLength(), 299);

    win.caption.clear();
    core.setReferenceItem(1);
    EXPECT_TRUE(win.s[3].level.RefMinus18());
    EXPECT_FALSE(win.s[3].level.RefMinus20());
    EXPECT_EQ(win.caption, "DIN 45406");  // the preset ran again
    core.setReferenceItem(3);
    EXPECT_FALSE(win.s[3].level.RefMinus18());
    EXPECT_TRUE(win.s[3].level.RefMinus24());
    core.setReferenceItem(0);
    EXPECT_FALSE(win.s[3].level.RefMinus18() || win.s[3].level.RefMinus20() || win.s[3].level.RefMinus24());
}

TEST_F(Presets, ChoicesRunOnlyOnChangeButApplyAlwaysRuns)
{
    core.setMeterItem(1);  // already the default item
    EXPECT_EQ(win.s[1].draws, 0);
    core.ApplyMeterItem(1);
    EXPECT_EQ(win.s[1].draws, 1);
    core.setMeterItem(99);  // beyond the last entry selects the last
    EXPECT_EQ(core.MeterItem(), 8);

    core.setDetect(false);
    EXPECT_EQ(win.checkCalls, 0);
    core.setDetect(true);
    EXPECT_TRUE(win.check);
    core.setStayOnTop(false);
    EXPECT_FALSE(win.onTop);
}

TEST_F(Presets, PreviewAppliesColourGroupsAndLimits)
{
    core.setColor(1, clFuchsia);   // group 1-4 top
    core.setColor(2, clAqua);      // group 1-4 middle
    core.setColor(5, clBlue);      // group 5-8 bottom
    core.setColor(13, clWhite);    // group 13-16 top
    core.setColor(LabelColorButton, clRed);
    core.setDecay(7);
    core.setPeaks(5);
    core.setOlTop(95);
    EXPECT_EQ(view.colors[3], clFuchsia);
    EXPECT_EQ(view.colors[2], clAqua);
    EXPECT_EQ(view.label, clRed);
    EXPECT_EQ(view.p2, 95);
    EXPECT_EQ(win.s[17].level.Bar3Color(), clRed);  // colours wait for Preview
    EXPECT_EQ(win.s[17].level.Point2(), 70);

    core.Preview();
    for (int n : {1, 4, 17, 20}) {
        EXPECT_EQ(win.s[n].level.Bar3Color(), clFuchsia) << n;
        EXPECT_EQ(win.s[n].level.Bar2Color(), clAqua) << n;
    }
    for (int n : {5, 8, 21, 24}) EXPECT_EQ(win.s[n].level.Bar1Color(), clBlue) << n;
    EXPECT_EQ(win.s[9].level.Bar1Color(), clLime);
    EXPECT_EQ(win.s[16].level.Bar3Color(), clWhite);
    EXPECT_EQ(win.s[12].level.Bar3Color(), clRed);
    for (int n = 1; n <= tv::kStrips; ++n) {
        EXPECT_EQ(win.s[n].label, clRed);
        EXPECT_EQ(win.s[n].level.Decay(), 7);
        EXPECT_EQ(win.s[n].level.NumPeaks(), 5);
        EXPECT_EQ(win.s[n].level.Point2(), 95);
    }
}

TEST_F(Presets, StereoStripsSurviveTheNextPresetAndMonoShowsTheStandardsScale)
{
    core.ApplyMeterItem(4);
    core.setStereoItem(1);
    for (int n : {2, 24}) EXPECT_FALSE(win.s[n].picture || win.s[n].scale);
    EXPECT_TRUE(win.s[1].picture);
    core.RunPreset();  // as after a resize: K-20 (code 5) restores all strips first
    for (int n : {2, 24}) EXPECT_FALSE(win.s[n].picture || win.s[n].scale);
    EXPECT_TRUE(win.s[23].picture);

    core.setStereoItem(0);  // K-20 uses pictures: no scale widget on top of them
    for (int n : {2, 24}) {
        EXPECT_TRUE(win.s[n].picture);
        EXPECT_FALSE(win.s[n].scale);
    }
    core.setMeterItem(7);
    core.setStereoItem(1);
    core.setStereoItem(0);
    EXPECT_TRUE(win.s[2].scale);
    EXPECT_FALSE(win.s[2].picture);
}

TEST_F(Presets, ShowingLoadsFromTheBars)
{
    win.s[1].level.setDecay(3);  // below the spin's 5
    win.s[1].level.setNumPeaks(2);
    win.s[1].level.setPoint1(40);
    win.s[1].level.setPoint2(60);
    win.s[6].level.setBar1Color(clNavy);
    win.s[16].level.setBar3Color(clPurple);
    win.s[1].label = clAqua;
    core.ApplyMeterItem(7);
    win.s[1].level.setPoint1(40);
    win.s[1].level.setPoint2(60);
    core.Showing();
    EXPECT_EQ(core.Decay(), 5);
    EXPECT_EQ(win.s[9].level.Decay(), 5);  // the spin's change reaches every bar
    EXPECT_EQ(core.Peaks(), 2);
    EXPECT_EQ(core.OlBottom(), 40);
    EXPECT_EQ(core.OlTop(), 60);
    EXPECT_EQ(core.Color(BottomColorButton(1)), clNavy);
    EXPECT_EQ(core.Color(TopColorButton(3)), clPurple);
    EXPECT_EQ(core.Color(LabelColorButton), clAqua);
    EXPECT_FALSE(core.ScaleOutfitVisible());
    core.FinishShowing();
    EXPECT_TRUE(core.ScaleOutfitVisible());
    EXPECT_FALSE(TSetLevelCore::ShowsScaleOutfit(4));
}

TEST(PresetsAlone, WithoutWindowStoreOrViewNothingFails)
{
    TSetLevelCore core;
    core.ApplyMeterItem(4);
    EXPECT_EQ(core.OlTop(), 79);
    core.Preview();
    core.Showing();
    core.ApplyReferenceItem(2);
    core.ApplyStereoItem(1);
    core.SaveLimits();
    core.setColor(0, clRed);   // no such button
    core.setColor(14, clRed);
    EXPECT_EQ(core.Color(14), clBlack);
    EXPECT_EQ(core.ThresholdAmplitude(), 351);
}

}  // namespace
