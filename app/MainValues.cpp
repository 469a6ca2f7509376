#include "app/MainValues.h"

#include "app/DeviceNames.h"
#include "correlation/MMCorrelationSettings.h"
#include "app/InputModes.h"
#include "app/SettingNames.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMWavIn.h"
#include "audio/MMWaveOutBackend.h"
#include "labels_skins/Labels.h"
#include "metering/MMLevel.h"
#include "metering/uSet_Level_core.h"

#include <algorithm>

namespace {

int Default(const std::string& name) { return SettingDefaultInt(name); }
TColor DefaultColor(const std::string& name) { return static_cast<TColor>(SettingDefaultInt(name)); }

}  // namespace

TStripValues DesignStripValues(int n)
{
    TStripValues v;
    v.Decay = Default(NumberedName("Level Decay", n));
    v.NumPeaks = Default(NumberedName("Level NumPeaks", n));
    v.Sensitivy = Default(NumberedName("Level Sensi", n));
    v.Bar1Color = DefaultColor(NumberedName("Level Bar1Color", n));
    v.Bar2Color = DefaultColor(NumberedName("Level Bar2Color", n));
    v.Bar3Color = DefaultColor(NumberedName("Level Bar3Color", n));
    v.Point1 = Default(NumberedName("Level Point1", n));
    v.Point2 = Default(NumberedName("Level Point2", n));
    v.LEDColor = DefaultColor(NumberedName("LedColor", n));
    v.PeakDelay = Default(NumberedName("Level Delay", n));
    v.PeakSpeed = Default(NumberedName("Level Speed", n));
    return v;
}

TLevelSetValues DesignLevelSetValues()
{
    TLevelSetValues v;
    v.PeaksNr = Default("Peaks nr");
    v.PSpotSpace = Default("PSpot Space");
    v.ArlamSec = Default("arlam sec");
    v.ArlamFile = SettingDefaultText("arlam file");
    v.LeavePeaks = Default("Leave Peaks") != 0;
    v.MeterStandard = Default("rg Mode Din");
    v.IntegralMs = Default("rg Integral ms");
    v.Reference = Default("rg Integral");
    v.Stereo = Default("rg Stereo");
    v.ThresholdAmplitude = Default("db_value");
    v.ThresholdDb = Default("db_value2");
    v.SecValue = Default("sec_value");
    v.NEdit2 = Default("nEdit2");
    v.Detect = Default("cb detect") != 0;
    v.StayTop = Default("Stay Top") != 0;
    v.Ballistics = Default("Ballistics");
    return v;
}

void ApplyLevelSetStart(TSetLevelCore& core, const TLevelSetValues& v)
{
    core.setPeaks(v.PeaksNr);
    core.setSpotSpace(v.PSpotSpace);
    core.setRepeatSeconds(v.ArlamSec);
    core.setAlarmFile(v.ArlamFile);
    core.ApplyLeaveMaxPeak(v.LeavePeaks);
    core.ApplyBallisticsItem(v.Ballistics);
}

void ApplyLevelSetStandard(TSetLevelCore& core, int standard, int integralMs, int reference)
{
    core.ApplyMeterItem(standard);
    core.ApplyIntegralItem(integralMs);
    core.ApplyReferenceItem(reference);
}

void ApplyLevelSetDetector(TSetLevelCore& core, const TLevelSetValues& v)
{
    core.setThresholdAmplitude(v.ThresholdAmplitude);
    core.setThresholdDb(v.ThresholdDb);
    core.setAlarmSeconds(v.SecValue);
    core.setSpare(v.NEdit2);
    core.setDetect(v.Detect);
}

TLevelSetValues LevelSetValuesOf(const TSetLevelCore& core)
{
    TLevelSetValues v;
    v.PeaksNr = core.Peaks();
    v.PSpotSpace = core.SpotSpace();
    v.ArlamSec = core.RepeatSeconds();
    v.ArlamFile = core.AlarmFile();
    v.LeavePeaks = core.LeaveMaxPeak();
    v.MeterStandard = core.MeterItem();
    v.IntegralMs = core.IntegralItem();
    v.Reference = core.ReferenceItem();
    v.Stereo = core.StereoItem();
    v.ThresholdAmplitude = core.ThresholdAmplitude();
    v.ThresholdDb = core.ThresholdDb();
    v.SecValue = core.AlarmSeconds();
    v.NEdit2 = core.Spare();
    v.Detect = core.Detect();
    v.StayTop = core.StayOnTop();
    v.Ballistics = core.BallisticsItem();
    return v;
}

namespace {

TColor ReadColor(TSettingsAccess& s, const std::string& name, TColor def)
{
    return static_cast<TColor>(s.ReadInt(name, static_cast<int>(def)));
}

void WriteColor(TSettingsAccess& s, const std::string& name, TColor c) { s.WriteInt(name, static_cast<int>(c)); }

}  // namespace

void CloseAllRecorders(TMainTarget& target)
{
    for (int k = 1; k <= tv::kPairs; ++k) {
        try {
            target.CloseRecorder(k);
        } catch (...) {
            // a recorder that cannot be closed is skipped silently
        }
    }
}

int StartRecordersOfMode(TMainTarget& target, int mode)
{
    int started = 0;
    for (int k = 1; k <= RecordersForMode(mode); ++k) {
        try {
            target.StartRecorder(k);
            ++started;
        } catch (...) {
            // a recorder that cannot start leaves its two bars at rest
        }
    }
    return started;
}

TWindowPlacement ReadPlacement(TSettingsAccess& s, TWindowPlacement p)
{
    p.Left = s.ReadInt("Window Left", p.Left);
    p.Top = s.ReadInt("Window top", p.Top);
    p.Height = s.ReadInt("Window height", p.Height);
    p.Width = s.ReadInt("Input Mode", p.Width);
    return p;
}

TWindowPlacement DesignPlacement()
{
    return {Default("Window Left"), Default("Window top"), Default("Window height"), Default("Input Mode")};
}

void RestoreMainValues(TSettingsAccess& s, TMainTarget& t)
{
    t.SetLoggingOn();

    for (int n = 1; n <= tv::kStrips; ++n) {
        TStripValues v = t.StripValues(n);
        v.PeakDelay = Default(NumberedName("Level Delay", n));
        v.PeakSpeed = Default(NumberedName("Level Speed", n));
        v.Decay = s.ReadInt(NumberedName("Level Decay", n), v.Decay);
        v.NumPeaks = s.ReadInt(NumberedName("Level NumPeaks", n), v.NumPeaks);
        v.Sensitivy = s.ReadInt(NumberedName("Level Sensi", n), v.Sensitivy);
        v.Bar1Color = ReadColor(s, NumberedName("Level Bar1Color", n), v.Bar1Color);
        v.Bar2Color = ReadColor(s, NumberedName("Level Bar2Color", n), v.Bar2Color);
        v.Bar3Color = ReadColor(s, NumberedName("Level Bar3Color", n), v.Bar3Color);
        v.Point1 = s.ReadInt(NumberedName("Level Point1", n), v.Point1);
        v.Point2 = s.ReadInt(NumberedName("Level Point2", n), v.Point2);
        v.LEDColor = ReadColor(s, NumberedName("LedColor", n), v.LEDColor);
        t.ApplyStripValues(n, v);
    }

    t.ApplyPlacement(ReadPlacement(s, t.Placement()));

    // A longer stored label is cut to the whole letters a strip shows.
    for (int n = 1; n <= tv::kStrips; ++n)
        t.SetLabelText(n, StripLabelText(s.ReadText(NumberedName("Edit ", n), SettingDefaultText(NumberedName("Edit ", n)))));

    TLevelSetValues lv = t.LevelSetValues();
    lv.PeaksNr = s.ReadInt("Peaks nr", lv.PeaksNr);
    lv.PSpotSpace = s.ReadInt("PSpot Space", lv.PSpotSpace);
    lv.ArlamSec = s.ReadInt("arlam sec", Default("arlam sec"));
    lv.ArlamFile = s.ReadText("arlam file", SettingDefaultText("arlam file"));
    lv.LeavePeaks = s.ReadBool("Leave Peaks", lv.LeavePeaks);
    lv.Ballistics = s.ReadInt("Ballistics", lv.Ballistics);
    t.ApplyLevelSetStart(lv);

    t.ApplyInputMode(s.ReadInt("rg Mode", t.InputMode()));

    lv = t.LevelSetValues();
    const int standard = s.ReadInt("rg Mode Din", lv.MeterStandard);
    const int integralMs = s.ReadInt("rg Integral ms", lv.IntegralMs);
    const int reference = s.ReadInt("rg Integral", Default("rg Integral"));
    t.ApplyStandard(standard, integralMs, reference);

    t.ApplySampleRate(kSampleRateSetting.Read(s, t.SampleRateIndex()));
    t.ApplyStereo(s.ReadInt("rg Stereo", t.LevelSetValues().Stereo));

    lv = t.LevelSetValues();
    lv.ThresholdAmplitude = s.ReadInt("db_value", lv.ThresholdAmplitude);
    lv.ThresholdDb = s.ReadInt("db_value2", lv.ThresholdDb);
    lv.SecValue = s.ReadInt("sec_value", lv.SecValue);
    lv.NEdit2 = s.ReadInt("nEdit2", lv.NEdit2);
    lv.Detect = s.ReadBool("cb detect", lv.Detect);
    t.ApplyDetector(lv);

    if (!kIsSoundSetting.Read(s)) t.ShowInputSetupModal();

    // A remembered device is found by its name, wherever it is now.
    const std::vector<std::string> inputs = InputDeviceNames(WaveInDevice());
    for (int k = 1; k <= tv::kPairs; ++k) {
        const TDeviceChoice c = StoredRecorderDevice(s, k, DefaultRecorderDevice(WaveInDevice(), k), inputs);
        if (c.Missing)
            t.SetRecorderNotConnected(k, StoredRecorderName(s, k));
        else
            t.SetRecorderDevice(k, c.Id);
    }
    // The outputs as the input setup lists them: those of the back end the
    // alarm sound plays on.
    std::vector<std::string> outputs;
    for (const TMMDeviceInfo& d : WaveOutDevice().OutputDevices())
        if (d.id >= 0) {
            outputs.resize(std::max(outputs.size(), static_cast<size_t>(d.id) + 1));
            outputs[static_cast<size_t>(d.id)] = d.name;
        }
    t.SetAlarmOutDevice(StoredOutDevice(s, outputs).Id);

    CloseAllRecorders(t);
    StartRecordersOfMode(t, t.InputMode());

    t.ShowCorrelation();
}

void SaveMainValues(TSettingsAccess& s, TMainTarget& t)
{
    for (int n = 1; n <= tv::kStrips; ++n) {
        const TStripValues v = t.StripValues(n);
        s.WriteInt(NumberedName("Level Decay", n), v.Decay);
        s.WriteInt(NumberedName("Level NumPeaks", n), v.NumPeaks);
        s.WriteInt(NumberedName("Level Sensi", n), v.Sensitivy);
        WriteColor(s, NumberedName("Level Bar1Color", n), v.Bar1Color);
        WriteColor(s, NumberedName("Level Bar2Color", n), v.Bar2Color);
        WriteColor(s, NumberedName("Level Bar3Color", n), v.Bar3Color);
        s.WriteInt(NumberedName("Level Point1", n), v.Point1);
        s.WriteInt(NumberedName("Level Point2", n), v.Point2);
        WriteColor(s, NumberedName("LedColor", n), v.LEDColor);
        s.WriteInt(NumberedName("Level Delay", n), v.PeakDelay);
        s.WriteInt(NumberedName("Level Speed", n), v.PeakSpeed);
    }

    const TWindowPlacement p = t.Placement();
    s.WriteInt("Window Left", p.Left);
    s.WriteInt("Window Top", p.Top);
    s.WriteInt("Window height", p.Height);
    s.WriteInt("Input Mode", p.Width);

    const TLevelSetValues lv = t.LevelSetValues();
    s.WriteInt("rg Mode Din", lv.MeterStandard);
    s.WriteInt("rg Integral ms", lv.IntegralMs);
    s.WriteInt("rg Integral", lv.Reference);
    s.WriteInt("rg Stereo", lv.Stereo);
    s.WriteInt("Peaks nr", lv.PeaksNr);
    s.WriteInt("PSpot Space", lv.PSpotSpace);
    s.WriteBool("Leave Peaks", lv.LeavePeaks);
    s.WriteBool("Stay Top", lv.StayTop);
    s.WriteInt("db_value", lv.ThresholdAmplitude);
    s.WriteInt("db_value2", lv.ThresholdDb);
    s.WriteInt("sec_value", lv.SecValue);
    s.WriteInt("nEdit2", lv.NEdit2);
    s.WriteBool("cb detect", lv.Detect);
    s.WriteInt("arlam sec", lv.ArlamSec);
    s.WriteText("arlam file", lv.ArlamFile);
    s.WriteInt("Ballistics", lv.Ballistics);

    s.WriteInt("rg Mode", t.InputMode());

    const TCorreValues c = t.CorreValues();
    kCorreTop.Write(s, c.Top);
    kCorreLeft.Write(s, c.Left);
    kCorreSpeed.Write(s, c.Speed);
    kCorreChannel.Write(s, c.Channel);
}

TStripValues BarStripValues(const TMMCustomLevel& bar, TColor ledColor)
{
    TStripValues v;
    v.Decay = bar.Decay();
    v.NumPeaks = bar.NumPeaks();
    v.Sensitivy = bar.Sensitivy();
    v.Bar1Color = bar.Bar1Color();
    v.Bar2Color = bar.Bar2Color();
    v.Bar3Color = bar.Bar3Color();
    v.Point1 = bar.Point1();
    v.Point2 = bar.Point2();
    v.LEDColor = ledColor;
    v.PeakDelay = bar.PeakDelay();
    v.PeakSpeed = bar.PeakSpeed();
    return v;
}

void ApplyBarStripValues(TMMCustomLevel& bar, const TStripValues& v)
{
    bar.setPeakDelay(v.PeakDelay);
    bar.setPeakSpeed(v.PeakSpeed);
    bar.setDecay(v.Decay);
    bar.setNumPeaks(v.NumPeaks);
    bar.setSensitivy(v.Sensitivy);
    bar.setBar1Color(v.Bar1Color);
    bar.setBar2Color(v.Bar2Color);
    bar.setBar3Color(v.Bar3Color);
    bar.setPoint1(v.Point1);
    bar.setPoint2(v.Point2);
}
