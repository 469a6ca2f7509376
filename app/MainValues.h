// The stored values of the main window and of the windows it restores, the
// restore sequence run when the main window is first shown, and the save run
// when it closes. Qt-free: the windows implement TMainTarget.
#pragma once

#include "app/StripNames.h"
#include "base/MMTypes.h"
#include "base/SettingsAccess.h"

class TSetLevelCore;

#include <string>

// One strip's stored bar and label values.
class TMMCustomLevel;

struct TStripValues {
    int Decay = 0;
    int NumPeaks = 0;
    int Sensitivy = 0;
    TColor Bar1Color = clBlack;
    TColor Bar2Color = clBlack;
    TColor Bar3Color = clBlack;
    int Point1 = 0;
    int Point2 = 0;
    TColor LEDColor = clBlack;
    int PeakDelay = 0;  // written at exit, never read
    int PeakSpeed = 0;
};
// Design values of strip n, from the table of stored values (app/SettingNames.h).
TStripValues DesignStripValues(int n);
// The stored values a bar core holds; the label's colour is kept beside it.
TStripValues BarStripValues(const TMMCustomLevel& bar, TColor ledColor);
void ApplyBarStripValues(TMMCustomLevel& bar, const TStripValues& v);

struct TWindowPlacement {
    int Left = 0, Top = 0, Height = 0, Width = 0;
};
// The stored place of the main window ("Window Left", "Window top", "Window
// height", "Input Mode" its outer width); p's values where none is stored.
TWindowPlacement ReadPlacement(TSettingsAccess& s, TWindowPlacement p);
// The place the table of stored values gives as default.
TWindowPlacement DesignPlacement();

// Values kept by the level settings dialog and the silence detector.
struct TLevelSetValues {
    int PeaksNr = 0;
    int PSpotSpace = 0;
    int ArlamSec = 0;
    std::string ArlamFile;
    bool LeavePeaks = false;
    int MeterStandard = 0;  // "rg Mode Din"
    int IntegralMs = 0;     // "rg Integral ms"
    int Reference = 0;      // "rg Integral"
    int Stereo = 0;         // "rg Stereo"
    int ThresholdAmplitude = 0;
    int ThresholdDb = 0;
    int SecValue = 0;
    int NEdit2 = 0;
    bool Detect = false;
    bool StayTop = false;
    int Ballistics = 0;  // "Ballistics"
};
// Defaults of the level settings, from the table of stored values.
TLevelSetValues DesignLevelSetValues();

// The level settings' part of the restore and the save, on the dialog's core.
// Step 5: peaks, spot space, alarm repeat, sound file, "Leave max Peak", ballistics.
void ApplyLevelSetStart(TSetLevelCore& core, const TLevelSetValues& v);
// Step 7: standard, integration time and reference level, each applied.
void ApplyLevelSetStandard(TSetLevelCore& core, int standard, int integralMs, int reference);
// Step 10: thresholds (the amplitude follows the dBFS value), alarm delay,
// spare value, detector switch (arms or disarms TimerOff when it changes).
void ApplyLevelSetDetector(TSetLevelCore& core, const TLevelSetValues& v);
// The values written at exit.
TLevelSetValues LevelSetValuesOf(const TSetLevelCore& core);

// Values kept by the correlation window.
struct TCorreValues {
    int Top = 0, Left = 0, Speed = 1, Channel = 0;
};

// What the restore and save sequences ask of the windows, in their order.
// Every call runs on the GUI thread.
class TMainTarget {
public:
    virtual ~TMainTarget() = default;

    virtual TStripValues StripValues(int n) = 0;
    virtual void ApplyStripValues(int n, const TStripValues& v) = 0;  // also zeroes the silence counter
    virtual TWindowPlacement Placement() = 0;
    virtual void ApplyPlacement(const TWindowPlacement& p) = 0;
    virtual void SetLabelText(int n, const std::string& text) = 0;
    virtual TLevelSetValues LevelSetValues() = 0;
    virtual TCorreValues CorreValues() = 0;
    virtual int InputMode() = 0;
    virtual int SampleRateIndex() = 0;

    virtual void SetLoggingOn() = 0;
    virtual void ApplyLevelSetStart(const TLevelSetValues& v) = 0;  // peaks, spot space, alarm sound, leave peaks
    virtual void ApplyInputMode(int mode) = 0;
    virtual void ApplyStandard(int standard, int integralMs, int reference) = 0;
    virtual void ApplySampleRate(int index) = 0;
    virtual void ApplyStereo(int stereo) = 0;
    virtual void ApplyDetector(const TLevelSetValues& v) = 0;
    virtual void ShowInputSetupModal() = 0;
    virtual void SetRecorderDevice(int k, int deviceId) = 0;
    // Recorder k's remembered device `name` is not connected: it stays closed.
    virtual void SetRecorderNotConnected(int k, const std::string& name) = 0;
    virtual void SetAlarmOutDevice(int deviceId) = 0;
    // May throw; each call is a step of its own.
    virtual void CloseRecorder(int k) = 0;
    virtual void StartRecorder(int k) = 0;
    virtual void ShowCorrelation() = 0;
};

// Restore sequence: reads through `store`, applies to `target` in order.
void RestoreMainValues(TSettingsAccess& store, TMainTarget& target);

// Close recorders 1 ... 12, then start those of `mode`; a failure of one
// step is swallowed and the next runs. Returns the number started.
void CloseAllRecorders(TMainTarget& target);
int StartRecordersOfMode(TMainTarget& target, int mode);

// Save at exit: the 289 values (11 per strip and 25 others).
void SaveMainValues(TSettingsAccess& store, TMainTarget& target);
