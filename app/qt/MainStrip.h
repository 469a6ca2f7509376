// One channel strip's components as the main window creates and drives
// them: the bar `Level`n, the picture `ima_nordic`n, the scale
// `MMLevelScale`n and the label `LED`n / `led`n. GUI thread only.
#pragma once

#include "app/MainValues.h"

#include <string>

class QWidget;
class TMMLevel;
class TMMLevelScale;
class TMMLEDLABEL;
class TMMLevelSink;

// Creates strip n's components with their design values inside `panel`.
void BuildStripComponents(QWidget* panel, int n);

TMMLevelSink* LevelSinkOf(TMMLevel* bar);
TStripValues ReadLevelValues(TMMLevel* bar);
void WriteLevelValues(TMMLevel* bar, const TStripValues& v);
int LevelMeterStandard(TMMLevel* bar);
void SetLevelStandard(TMMLevel* bar, int meterStandard, int sensitivy, int point1, int point2);
void SetLevelNumPeaks(TMMLevel* bar, int n);
void SetLevelSpotSpace(TMMLevel* bar, int n);
void SetLevelLeaveMaxPeak(TMMLevel* bar, bool on);
void SetLevelIntegral(TMMLevel* bar, bool on, int length);
void SetLevelReference(TMMLevel* bar, bool m18, bool m20, bool m24);
int LevelBarSpots(TMMLevel* bar);

void SetScaleSensitivy(TMMLevelScale* scale, int db);

TColor LabelColor(TMMLEDLABEL* label);
void SetLabelColor(TMMLEDLABEL* label, TColor c);
void SetLabelCaption(TMMLEDLABEL* label, const std::string& text);
