// The stored values of the main window and of the windows it restores, the
// restore sequence run when the main window is first shown, and the save run
// when it closes. Qt-free: the windows implement TMainTarget.
#pragma once

#include "app/StoreAccess.h"
#include "app/StripNames.h"
#include "base/MMTypes.h"

#include <string>

// One strip's stored bar and label values.
struct TStripValues {
    int Decay = 12;
    int NumPeaks = 1;
    int Sensitivy = -40;
    TColor Bar1Color = clLime;
    TColor Bar2Color = clYellow;
    TColor Bar3Color = clRed;
    int Point1 = 56;
    int Point2 = 70;
    TColor LEDColor = clLime;
    int PeakDelay = 49;  // written at exit, never read
    int PeakSpeed = 1;
};
// Design values of strip n (Sensitivy -40, -50 or -52 by strip).
TStripValues DesignStripValues(int n);

struct TWindowPlacement {
    int Left = 8, Top = 7, Height = 1028, Width = 1382;
};

// Values kept by the level settings dialog and the silence detector.
struct TLevelSetValues {
    int PeaksNr = 3;
    int PSpotSpace = 0;
    int ArlamSec = 10;
    std::string ArlamFile;
    bool LeavePeaks = true;
    int MeterStandard = 1;  // "rg Mode Din"
    int IntegralMs = 0;     // "rg Integral ms"
    int Reference = 0;      // "rg Integral"
    int Stereo = 0;         // "rg Stereo"
    int DbValue = 0;
    int DbValue2 = -40;
    int SecValue = 5;
    int NEdit2 = 0;
    bool Detect = false;
    bool StayTop = true;
};

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
    virtual void SetAlarmOutDevice(int deviceId) = 0;
    // May throw; each call is a step of its own.
    virtual void CloseRecorder(int k) = 0;
    virtual void StartRecorder(int k) = 0;
    virtual void ShowCorrelation() = 0;
};

// Restore sequence: reads through `store`, applies to `target` in order.
void RestoreMainValues(TStoreAccess& store, TMainTarget& target);

// Close recorders 1 ... 12, then start those of `mode`; a failure of one
// step is swallowed and the next runs. Returns the number started.
void CloseAllRecorders(TMainTarget& target);
int StartRecordersOfMode(TMainTarget& target, int mode);

// Save at exit: the 288 values (11 per strip and 24 others).
void SaveMainValues(TStoreAccess& store, TMainTarget& target);
