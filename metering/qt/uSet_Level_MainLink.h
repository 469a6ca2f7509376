// Binds the level settings to the real meter window. Templates, so this
// header needs none of the window's headers: the program instantiates
//   TSetLevelMainLink<TfMain> link(*fMain);
// where the window type offers Level(n), Scale(n), Picture(n), Label(n)
// (n = 1 .. 24, null when missing) and Panel1(). The window's own switches
// that it does not publish (stay on top, TimerOff) come in as callbacks.
// GUI thread only.
#pragma once

#include "metering/uSet_Level_core.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

// One bar: forwards the settings' calls to the core of a level widget of
// type L (L::Core() gives the bar's properties).
template <class L> class TPresetLevelOf : public TMMPresetLevel {
public:
    void Bind(L* level) { FLevel = level; }
    L* Bound() const { return FLevel; }

    int MeterStandard() const override { return FLevel->Core().MeterStandard(); }
    void setMeterStandard(int code) override { FLevel->Core().setMeterStandard(code); }
    void setSensitivy(int db) override { FLevel->Core().setSensitivy(db); }
    int Point1() const override { return FLevel->Core().Point1(); }
    void setPoint1(int v) override { FLevel->Core().setPoint1(v); }
    int Point2() const override { return FLevel->Core().Point2(); }
    void setPoint2(int v) override { FLevel->Core().setPoint2(v); }
    int Decay() const override { return FLevel->Core().Decay(); }
    void setDecay(int v) override { FLevel->Core().setDecay(v); }
    int NumPeaks() const override { return FLevel->Core().NumPeaks(); }
    void setNumPeaks(int v) override { FLevel->Core().setNumPeaks(v); }
    void setSpotSpace(int v) override { FLevel->Core().setSpotSpace(v); }
    void setLeaveMaxPeak(bool on) override { FLevel->Core().setLeaveMaxPeak(on); }
    void setIntegralOn(bool on) override { FLevel->Core().setIntegralOn(on); }
    void setIntegralLength(int v) override { FLevel->Core().setIntegralLength(v); }
    void setRefMinus18(bool on) override { FLevel->Core().setRefMinus18(on); }
    void setRefMinus20(bool on) override { FLevel->Core().setRefMinus20(on); }
    void setRefMinus24(bool on) override { FLevel->Core().setRefMinus24(on); }
    TColor Bar1Color() const override { return FLevel->Core().Bar1Color(); }
    void setBar1Color(TColor c) override { FLevel->Core().setBar1Color(c); }
    TColor Bar2Color() const override { return FLevel->Core().Bar2Color(); }
    void setBar2Color(TColor c) override { FLevel->Core().setBar2Color(c); }
    TColor Bar3Color() const override { return FLevel->Core().Bar3Color(); }
    void setBar3Color(TColor c) override { FLevel->Core().setBar3Color(c); }

private:
    L* FLevel = nullptr;
};

template <class TMain> class TSetLevelMainLink : public TMMMeterWindow {
public:
    explicit TSetLevelMainLink(TMain& main) : FMain(main) {}

    std::function<void(bool)> OnStayOnTop;    // stay-on-top style of the window
    std::function<void(bool)> OnSilenceCheck; // arm (true) or disarm TimerOff

    TMMPresetLevel* Level(int n) override
    {
        if (n < 1 || n > StripCount) return nullptr;
        auto* level = FMain.Level(n);
        if (!level) return nullptr;
        auto& slot = FLevels[static_cast<size_t>(n - 1)];
        slot.Bind(level);
        return &slot;
    }
    void SetLevelTop(int n, int top) override { Move(FMain.Level(n), top); }
    void SetScaleTop(int n, int top) override { Move(FMain.Scale(n), top); }
    void SetStripHeight(int n, int height) override
    {
        Height(FMain.Level(n), height);
        Height(FMain.Picture(n), height);
        Height(FMain.Scale(n), height);
    }
    void SetPictureVisible(int n, bool visible) override { Show(FMain.Picture(n), visible); }
    void SetScaleVisible(int n, bool visible) override { Show(FMain.Scale(n), visible); }
    void SetScaleSensitivy(int n, int db) override
    {
        if (auto* s = FMain.Scale(n)) s->setSensitivy(db);
    }
    void DrawPicture(int n, TMMScalePicture picture) override
    {
        if (auto* p = FMain.Picture(n)) p->DrawStandard(picture);
    }
    int LabelTop() const override
    {
        auto* l = FMain.Label(1);
        return l ? l->y() : 0;
    }
    TColor LabelColor(int n) const override
    {
        auto* l = FMain.Label(n);
        return l ? l->LEDColor() : clLime;
    }
    void SetLabelColor(int n, TColor c) override
    {
        if (auto* l = FMain.Label(n)) l->setLEDColor(c);
    }
    void SetCaption(const std::string& text) override
    {
        if (auto* p = FMain.Panel1()) p->setText(QString::fromStdString(text));
    }
    void SetStayOnTop(bool on) override
    {
        if (OnStayOnTop) OnStayOnTop(on);
    }
    void SetSilenceCheck(bool on) override
    {
        if (OnSilenceCheck) OnSilenceCheck(on);
    }

private:
    static void Move(QWidget* w, int top)
    {
        if (w) w->move(w->x(), top);
    }
    static void Height(QWidget* w, int h)
    {
        if (w) w->resize(w->width(), h);
    }
    static void Show(QWidget* w, bool visible)
    {
        if (w) w->setVisible(visible);
    }

    TMain& FMain;
    std::array<TPresetLevelOf<std::remove_pointer_t<decltype(std::declval<TMain&>().Level(1))>>,
               StripCount>
        FLevels;
};

// The settings over a store of type S with ReadInt/WriteInt, ReadBool/
// WriteBool and ReadText/WriteText (the program's settings access).
template <class S> class TSettingsAccessOf : public TMMSettingsAccess {
public:
    explicit TSettingsAccessOf(S& store) : FStore(store) {}
    int ReadInt(const std::string& name, int def) override { return FStore.ReadInt(name, def); }
    void WriteInt(const std::string& name, int v) override { FStore.WriteInt(name, v); }
    bool ReadBool(const std::string& name, bool def) override { return FStore.ReadBool(name, def); }
    void WriteBool(const std::string& name, bool v) override { FStore.WriteBool(name, v); }
    std::string ReadText(const std::string& name, const std::string& def) override
    {
        return FStore.ReadText(name, def);
    }
    void WriteText(const std::string& name, const std::string& v) override { FStore.WriteText(name, v); }

private:
    S& FStore;
};

// The restore steps and the save of the dialog's values over a value record
// V with the members PeaksNr, PSpotSpace, ArlamSec, ArlamFile, LeavePeaks,
// MeterStandard, IntegralMs, Reference, Stereo, DbValue, DbValue2, SecValue,
// NEdit2, Detect and StayTop (the main window's record of them).
// Step 5: peaks, spot space, alarm repeat, sound file, "Leave max Peak".
template <class V> void ApplyLevelSetStart(TSetLevelCore& core, const V& v)
{
    core.setPeaks(v.PeaksNr);
    core.setSpotSpace(v.PSpotSpace);
    core.setRepeatSeconds(v.ArlamSec);
    core.setAlarmFile(v.ArlamFile);
    core.ApplyLeaveMaxPeak(v.LeavePeaks);
}
// Step 7: standard, integration time and reference level, each applied.
inline void ApplyLevelSetStandard(TSetLevelCore& core, int standard, int integralMs, int reference)
{
    core.ApplyMeterItem(standard);
    core.ApplyIntegralItem(integralMs);
    core.ApplyReferenceItem(reference);
}
// Step 10: thresholds (the amplitude follows the dBFS value), alarm delay,
// spare value, detector switch (arms or disarms TimerOff when it changes).
template <class V> void ApplyLevelSetDetector(TSetLevelCore& core, const V& v)
{
    core.setThresholdAmplitude(v.DbValue);
    core.setThresholdDb(v.DbValue2);
    core.setAlarmSeconds(v.SecValue);
    core.setSpare(v.NEdit2);
    core.setDetect(v.Detect);
}
// The values written at exit.
template <class V> V LevelSetValuesOf(const TSetLevelCore& core)
{
    V v;
    v.PeaksNr = core.Peaks();
    v.PSpotSpace = core.SpotSpace();
    v.ArlamSec = core.RepeatSeconds();
    v.ArlamFile = core.AlarmFile();
    v.LeavePeaks = core.LeaveMaxPeak();
    v.MeterStandard = core.MeterItem();
    v.IntegralMs = core.IntegralItem();
    v.Reference = core.ReferenceItem();
    v.Stereo = core.StereoItem();
    v.DbValue = core.ThresholdAmplitude();
    v.DbValue2 = core.ThresholdDb();
    v.SecValue = core.AlarmSeconds();
    v.NEdit2 = core.Spare();
    v.Detect = core.Detect();
    v.StayTop = core.StayOnTop();
    return v;
}

// Stay-on-top for a top-level window: changes the flag and shows the window
// again if it was visible (Qt hides a window whose flags change).
inline void SetWindowStayOnTop(QWidget* window, bool on)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on) return;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (visible) window->show();
}
