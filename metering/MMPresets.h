// The nine metering standards and the pure rules of the level settings:
// preset table, integration lengths, reference flags, colour groups and the
// silence threshold conversion. No display code; everything runs on the GUI
// thread but depends on nothing but the standard library.
#pragma once

#include "base/TvConstants.h"

#include "base/MMTypes.h"

#include <string>

constexpr int PresetCount = 9;

// How a standard shows its scale beside the bars: one of the seven drawn
// pictures, or the scale widget.
enum TMMScalePicture {
    spN9 = 0,
    spDIN = 1,
    spBBC = 2,
    spEBU = 3,
    spK20 = 4,
    spK14 = 5,
    spK12 = 6,
    spScaleWidget = 7,
};

struct TMMPreset {
    const char* Text;              // entry of the "Meter ballistics" group
    const char* TopName;           // stored overload limits, as read
    int TopDefault;
    const char* BottomName;
    int BottomDefault;
    const char* TopWriteName;      // as written by "Save" (same value, other case)
    const char* BottomWriteName;
    int MeterStandard;             // display-curve code of the level bar
    int Sensitivy;                 // dB at the bottom of the bar
    TMMScalePicture Scale;
    const char* Caption;           // text of the main window's caption strip
};

// Standard k (0 .. 8); an index outside clamps to the nearest entry.
const TMMPreset& PresetOf(int k);
int ClampPresetIndex(int k);

// Display-curve code 4 (no curve) draws no picture; the scale widgets
// show instead, with this sensitivity.
constexpr int ScaleWidgetSensitivy = -72;
constexpr int PresetDigitalPPM = 7;
constexpr int PresetPeakDBFS = 8;

// Integration time choice 0 .. 5 ("none", 5, 10, 15, 20, 300 ms): the window
// length in blocks of 50 frames; 0 for "none" (integration off).
constexpr int IntegralCount = 6;
int IntegralLengthOf(int item);

// Reference level choice 0 .. 3 ("0 dBFS", "- 18 dBFS", "-20 dBFS", "-24 dBFS").
constexpr int ReferenceCount = 4;
struct TMMRefFlags {
    bool Minus18 = false, Minus20 = false, Minus24 = false;
};
TMMRefFlags ReferenceFlagsOf(int item);

// Colour groups of the settings: group 0 "Levels 1-4" (bars 1-4 and 17-20),
// 1 "Levels 5-8" (5-8 and 21-24), 2 "Levels 9-12", 3 "Levels 13-16".
constexpr int ColorGroupCount = 4;
int ColorGroupOfBar(int n);           // n = 1 .. 24; -1 outside
int ColorGroupSourceBar(int group);   // the bar a group is loaded from (1, 6, 11, 16)
const char* ColorGroupCaption(int group);

// Silence threshold: dBFS (-99 .. -1, clamped) to the amplitude in units of
// full scale 32767 below which a bar counts as silent. It is the largest
// amplitude i (1 .. 32768) with Round(8.7396 ln i - 90.7406) at most t, halves
// to even; so for every t that some amplitude reads as, it is the largest
// amplitude reading exactly t. Below -91 dBFS nothing reads as low; there the
// result is 1, so only digital silence counts.
constexpr int ThresholdDbMin = -99, ThresholdDbMax = -1;
int SilenceThresholdAmplitude(int dbfs);
// The comparison the silence check makes: signed, strictly below.
inline bool IsBelowThreshold(int currentLevel, int amplitude) { return currentLevel < amplitude; }

// Clamps v into lo .. hi.
inline int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }
