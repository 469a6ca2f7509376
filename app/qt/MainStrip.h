// One channel strip of the main window: the bar `Level`n, the picture
// `ima_nordic`n, the scale `MMLevelScale`n and the label `LED`n / `led`n,
// created with their design values and named so that they can also be found
// by prefix + number. GUI thread only.
#pragma once

#include "app/MainValues.h"

class QWidget;
class TMMLevel;
class TMMLEDLABEL;
class TStripPicture;
class TStripScale;
class TMMCustomLevel;

struct TStrip {
    TMMLevel* Bar = nullptr;
    TStripScale* Scale = nullptr;
    TStripPicture* Picture = nullptr;
    TMMLEDLABEL* Label = nullptr;
};

// Creates strip n's components inside `panel` (which owns them).
TStrip BuildStrip(QWidget* panel, int n);

// The stored bar values of a strip and their application (label colour included).
TStripValues ReadStripValues(const TStrip& strip);
void WriteStripValues(const TStrip& strip, const TStripValues& v);
