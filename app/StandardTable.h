// The nine metering standards as the main window applies them at start and
// after a resize: display curve, sensitivity, overload limits, scale picture
// and caption. The level settings dialog owns the full preset routine.
#pragma once

#include "app/StoreAccess.h"

constexpr int StandardCount = 9;

struct TStandardEntry {
    const char* Caption;     // `Panel1`
    const char* TopName;     // overload limit names and defaults (Point2, Point1)
    int TopDefault;
    const char* BottomName;
    int BottomDefault;
    int MeterStandard;       // display curve code
    int Sensitivy;
    bool UsesScaleWidget;    // Digital PPM and Peak dBFS
};

// An index outside 0 ... 8 selects the nearest entry.
int ClampStandard(int standard);
const TStandardEntry& StandardEntry(int standard);

struct TStandardLimits {
    int Point2, Point1;  // clamped to 1 ... 100
};
TStandardLimits ReadStandardLimits(TStoreAccess& store, int standard);
