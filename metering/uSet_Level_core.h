// The level settings without a display: the values of the dialog's controls
// and their handlers, acting on the meter window through TMMMeterWindow and on
// the stored settings through TMMSettingsAccess. The dialog (qt/uSet_Level) is
// a thin view over this; tests drive it with fakes. GUI thread only.
#pragma once

#include "metering/MMPresets.h"
#include "base/MMTypes.h"

#include <functional>
#include <string>

// One level bar as the settings act on it.
class TMMPresetLevel {
public:
    virtual ~TMMPresetLevel() = default;
    virtual int MeterStandard() const = 0;
    virtual void setMeterStandard(int code) = 0;
    virtual void setSensitivy(int db) = 0;
    virtual int Point1() const = 0;
    virtual void setPoint1(int percent) = 0;
    virtual int Point2() const = 0;
    virtual void setPoint2(int percent) = 0;
    virtual int Decay() const = 0;
    virtual void setDecay(int v) = 0;
    virtual int NumPeaks() const = 0;
    virtual void setNumPeaks(int v) = 0;
    virtual void setSpotSpace(int v) = 0;
    virtual void setLeaveMaxPeak(bool on) = 0;
    virtual void setIntegralOn(bool on) = 0;
    virtual void setIntegralLength(int blocks) = 0;
    virtual void setRefMinus18(bool on) = 0;
    virtual void setRefMinus20(bool on) = 0;
    virtual void setRefMinus24(bool on) = 0;
    virtual TColor Bar1Color() const = 0;
    virtual void setBar1Color(TColor c) = 0;
    virtual TColor Bar2Color() const = 0;
    virtual void setBar2Color(TColor c) = 0;
    virtual TColor Bar3Color() const = 0;
    virtual void setBar3Color(TColor c) = 0;
};

// The meter window as the settings act on it. Strips are numbered 1 .. 24.
class TMMMeterWindow {
public:
    virtual ~TMMMeterWindow() = default;
    virtual TMMPresetLevel* Level(int n) = 0;  // null when the strip has no bar
    virtual void SetLevelTop(int n, int top) = 0;
    virtual void SetScaleTop(int n, int top) = 0;
    // Height of the bar, the scale picture and the scale widget of strip n.
    virtual void SetStripHeight(int n, int height) = 0;
    virtual void SetPictureVisible(int n, bool visible) = 0;
    virtual void SetScaleVisible(int n, bool visible) = 0;
    virtual void SetScaleSensitivy(int n, int db) = 0;
    virtual void DrawPicture(int n, TMMScalePicture picture) = 0;
    virtual int LabelTop() const = 0;  // top edge of the first channel label
    virtual TColor LabelColor(int n) const = 0;
    virtual void SetLabelColor(int n, TColor c) = 0;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void SetStayOnTop(bool on) = 0;
    virtual void SetSilenceCheck(bool on) = 0;  // arms or disarms TimerOff
};

// Named stored values; names compare without regard to case, a missing or
// unreadable value gives the default, a failed write is ignored.
class TMMSettingsAccess {
public:
    virtual ~TMMSettingsAccess() = default;
    virtual int ReadInt(const std::string& name, int def) = 0;
    virtual void WriteInt(const std::string& name, int value) = 0;
    virtual bool ReadBool(const std::string& name, bool def) = 0;
    virtual void WriteBool(const std::string& name, bool value) = 0;
    virtual std::string ReadText(const std::string& name, const std::string& def) = 0;
    virtual void WriteText(const std::string& name, const std::string& value) = 0;
};

// What the settings do to the dialog's own preview column.
class TSetLevelView {
public:
    virtual ~TSetLevelView() = default;
    virtual void SetPreviewPoint1(int percent) = 0;
    virtual void SetPreviewPoint2(int percent) = 0;
    virtual void SetPreviewValue(int percent) = 0;
    virtual void SetPreviewColor(int bar, TColor c) = 0;  // bar 1 bottom, 2 middle, 3 top
    virtual void SetPreviewLabelColor(TColor c) = 0;
    virtual void DrawPreviewPicture(TMMScalePicture picture) = 0;
    // Control values or enabled/visible states changed from code: re-read them.
    virtual void ControlsChanged() = 0;
};

// Colour buttons are numbered 1 .. 13 as on the dialog; 4 is the label colour.
constexpr int ColorButtonCount = 13;
constexpr int LabelColorButton = 4;
int TopColorButton(int group);     // 1, 7, 10, 13
int MiddleColorButton(int group);  // 2, 6, 9, 12
int BottomColorButton(int group);  // 3, 5, 8, 11

class TSetLevelCore {
public:
    // The window, the store and the view may be null (missing parts are
    // skipped; a missing store gives the defaults) and may be set later.
    TSetLevelCore(TMMMeterWindow* window = nullptr, TMMSettingsAccess* store = nullptr,
                  TSetLevelView* view = nullptr);

    void setWindow(TMMMeterWindow* w) { window_ = w; }
    void setStore(TMMSettingsAccess* s) { store_ = s; }
    void setView(TSetLevelView* v) { view_ = v; }

    // --- choices. setX runs the handler only when the value changes (a user
    // click or a choice from code); ApplyX always runs it (restore, timers).
    int MeterItem() const { return meter_; }
    void setMeterItem(int k);
    void ApplyMeterItem(int k);
    void RunPreset();  // the preset routine for the current item
    int IntegralItem() const { return integral_; }
    void setIntegralItem(int k);
    void ApplyIntegralItem(int k);
    int ReferenceItem() const { return reference_; }
    void setReferenceItem(int k);
    void ApplyReferenceItem(int k);
    bool ReferenceEnabled() const { return referenceEnabled_; }
    int StereoItem() const { return stereo_; }
    void setStereoItem(int k);
    void ApplyStereoItem(int k);

    // --- overload limits (1 .. 100): preview only until Preview.
    int OlTop() const { return olTop_; }
    void setOlTop(int v);
    int OlButton() const { return olButton_; }
    void setOlButton(int v);

    // --- immediate settings on all bars.
    int Peaks() const { return peaks_; }
    void setPeaks(int v);  // 0 .. 5
    int SpotSpace() const { return spotSpace_; }
    void setSpotSpace(int v);  // 0 .. 2
    int Decay() const { return decay_; }
    void setDecay(int v);  // 5 .. 16
    bool LeaveMaxPeak() const { return leaveMaxPeak_; }
    void setLeaveMaxPeak(bool on);
    void ApplyLeaveMaxPeak(bool on);

    // --- colours; preview only until Preview.
    TColor Color(int button) const;
    void setColor(int button, TColor c);

    void Preview();     // "Preview"; "Save && Close" is Preview, then hide
    void SaveLimits();  // "Save": the overload limits of the current standard

    bool StayOnTop() const { return stayOnTop_; }
    void setStayOnTop(bool on);

    // --- silence detector and alarm.
    bool Detect() const { return detect_; }
    void setDetect(bool on);
    int ThresholdDb() const { return thresholdDb_; }  // spin_db2, mirrored by nEdit
    void setThresholdDb(int dbfs);
    int ThresholdAmplitude() const { return thresholdAmplitude_; }  // spin_db, led_db
    void setThresholdAmplitude(int v);
    void RecomputeThreshold();
    int AlarmSeconds() const { return alarmSeconds_; }
    void setAlarmSeconds(int v);  // 1 .. 32768
    bool PlaySound() const { return playSound_; }
    void setPlaySound(bool on);
    int RepeatSeconds() const { return repeatSeconds_; }
    void setRepeatSeconds(int v);  // 1 .. 60
    int ResetIntervalMs() const { return repeatSeconds_ * 1000; }
    const std::string& AlarmFile() const { return alarmFile_; }
    void setAlarmFile(const std::string& path);
    int Spare() const { return spare_; }  // "nEdit2", kept and stored only
    void setSpare(int v) { spare_ = v; }

    // --- the dialog's preview column.
    bool PreviewPictureVisible() const { return previewPictureVisible_; }
    bool ScaleOutfitVisible() const { return scaleOutfitVisible_; }
    void Showing();         // the dialog is being shown: load from the bars
    void FinishShowing();   // one second later
    static bool ShowsScaleOutfit(int item);  // the standards that use the scale widget

    // --- start and exit of the main window.
    void RestoreAlarmAndPeaks();  // peaks, spot space, repeat, sound file, "Leave max Peak"
    void RestoreStandard();       // standard, integration, reference, each applied
    void RestoreStripMode();      // mono or stereo strips, applied
    void RestoreDetector();       // thresholds, alarm delay, spare, detector switch
    void Save();                  // every value of the dialog, at exit

    // Fires after values changed from code (for logging or tests).
    std::function<void()> OnChange;

private:
    class Batch;
    friend class Batch;
    TMMPresetLevel* bar(int n) const;
    template <class F> void ForEachBar(F f) const;
    void RestoreLayout(bool full);
    void ShowEvenScales();
    void HideEvenScales();
    void PreviewLimits();
    void PreviewColors();
    void Changed();

    TMMMeterWindow* window_;
    TMMSettingsAccess* store_;
    TSetLevelView* view_;
    int depth_ = 0;  // nesting of handlers; the view hears of changes at 0

    int meter_ = 1, integral_ = 0, reference_ = 0, stereo_ = 0;
    bool referenceEnabled_ = true;
    int olTop_ = 84, olButton_ = 57;
    int peaks_ = 3, spotSpace_ = 0, decay_ = 11;
    bool leaveMaxPeak_ = true;
    TColor colors_[ColorButtonCount + 1];
    bool stayOnTop_ = true;
    bool detect_ = false;
    int thresholdDb_ = -40;
    int thresholdAmplitude_;
    int alarmSeconds_ = 5;
    bool playSound_ = true;
    int repeatSeconds_ = 10;
    std::string alarmFile_;
    int spare_ = 0;
    bool previewPictureVisible_ = true;
    bool scaleOutfitVisible_ = false;
};
