// The level settings without a display: the values of the dialog's controls
// and their handlers, acting on the meter window through TMMMeterWindow and on
// the stored settings through TSettingsAccess. The dialog (qt/uSet_Level) is
// a thin view over this; tests drive it with fakes. GUI thread only.
#pragma once

#include "base/MMTypes.h"
#include "base/SettingsAccess.h"
#include "metering/MMLevel.h"
#include "metering/MMPresets.h"

#include <functional>
#include <string>

// The meter window as the settings act on it. Strips are numbered 1 .. 24.
class TMMMeterWindow {
public:
    virtual ~TMMMeterWindow() = default;
    virtual TMMCustomLevel* Level(int n) = 0;  // the bar core; null when the strip has no bar
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
    TSetLevelCore(TMMMeterWindow* window = nullptr, TSettingsAccess* store = nullptr,
                  TSetLevelView* view = nullptr);

    void setWindow(TMMMeterWindow* w) { mWindow = w; }
    void setStore(TSettingsAccess* s) { mStore = s; }
    void setView(TSetLevelView* v) { mView = v; }

    // --- choices. setX runs the handler only when the value changes (a user
    // click or a choice from code); ApplyX always runs it (restore, timers).
    int MeterItem() const { return mMeterItem; }
    void setMeterItem(int k);
    void ApplyMeterItem(int k);
    void RunPreset();  // the preset routine for the current item
    int IntegralItem() const { return mIntegralItem; }
    void setIntegralItem(int k);
    void ApplyIntegralItem(int k);
    int ReferenceItem() const { return mReferenceItem; }
    void setReferenceItem(int k);
    void ApplyReferenceItem(int k);
    bool ReferenceEnabled() const { return mReferenceEnabled; }
    int StereoItem() const { return mStereoItem; }
    void setStereoItem(int k);
    void ApplyStereoItem(int k);

    // --- overload limits (1 .. 100): preview only until Preview.
    int OlTop() const { return mOlTop; }
    void setOlTop(int v);
    int OlBottom() const { return mOlBottom; }
    void setOlBottom(int v);

    // --- immediate settings on all bars.
    int Peaks() const { return mPeaks; }
    void setPeaks(int v);  // 0 .. 5
    int SpotSpace() const { return mSpotSpace; }
    void setSpotSpace(int v);  // 0 .. 2
    int Decay() const { return mDecay; }
    void setDecay(int v);  // 5 .. 16
    bool LeaveMaxPeak() const { return mLeaveMaxPeak; }
    void setLeaveMaxPeak(bool on);
    void ApplyLeaveMaxPeak(bool on);
    // 0 "As preset", 1 "Standard instrument" (TMMBallisticsMode); others read 0.
    int BallisticsItem() const { return mBallisticsItem; }
    void setBallisticsItem(int k);
    void ApplyBallisticsItem(int k);

    // --- colours; preview only until Preview.
    TColor Color(int button) const;
    void setColor(int button, TColor c);

    void Preview();     // "Preview"; "Save && Close" is Preview, then hide
    void SaveLimits();  // "Save": the overload limits of the current standard

    bool StayOnTop() const { return mStayOnTop; }
    void setStayOnTop(bool on);

    // --- silence detector and alarm.
    bool Detect() const { return mDetect; }
    void setDetect(bool on);
    int ThresholdDb() const { return mThresholdDb; }  // spin_db2, mirrored by nEdit
    void setThresholdDb(int dbfs);
    int ThresholdAmplitude() const { return mThresholdAmplitude; }  // spin_db, led_db
    void setThresholdAmplitude(int v);
    void RecomputeThreshold();
    int AlarmSeconds() const { return mAlarmSeconds; }
    void setAlarmSeconds(int v);  // 1 .. 32768
    bool PlaySound() const { return mPlaySound; }
    void setPlaySound(bool on);
    int RepeatSeconds() const { return mRepeatSeconds; }
    void setRepeatSeconds(int v);  // 1 .. 60
    int ResetIntervalMs() const { return mRepeatSeconds * 1000; }
    const std::string& AlarmFile() const { return mAlarmFile; }
    void setAlarmFile(const std::string& path);
    int Spare() const { return mSpare; }  // "nEdit2", kept and stored only
    void setSpare(int v) { mSpare = v; }

    // --- the dialog's preview column.
    bool PreviewPictureVisible() const { return mPreviewPictureVisible; }
    bool ScaleOutfitVisible() const { return mScaleOutfitVisible; }
    void Showing();         // the dialog is being shown: load from the bars
    void FinishShowing();   // one second later
    static bool ShowsScaleOutfit(int item);  // the standards that use the scale widget

    // Fires after values changed from code (for logging or tests).
    std::function<void()> OnChange;

private:
    class Batch;
    friend class Batch;
    TMMCustomLevel* bar(int n) const;
    template <class F> void ForEachBar(F f) const;
    void RestoreLayout(bool full);
    void ShowEvenScales();
    void HideEvenScales();
    void PreviewLimits();
    void PreviewColors();
    void Changed();

    TMMMeterWindow* mWindow;
    TSettingsAccess* mStore;
    TSetLevelView* mView;
    int mDepth = 0;  // nesting of handlers; the view hears of changes at 0

    int mMeterItem = 1, mIntegralItem = 0, mReferenceItem = 0, mStereoItem = 0;
    bool mReferenceEnabled = true;
    int mOlTop = 84, mOlBottom = 57;
    int mPeaks = 3, mSpotSpace = 0, mDecay = 11;
    bool mLeaveMaxPeak = true;
    int mBallisticsItem = 0;
    TColor mColors[ColorButtonCount + 1];
    bool mStayOnTop = true;
    bool mDetect = false;
    int mThresholdDb = -40;
    int mThresholdAmplitude;
    int mAlarmSeconds = 5;
    bool mPlaySound = true;
    int mRepeatSeconds = 10;
    std::string mAlarmFile;
    int mSpare = 0;
    bool mPreviewPictureVisible = true;
    bool mScaleOutfitVisible = false;
};
