// The design values of the main window's level bars, as the window creates
// them before any stored value is restored. Qt-free; the main window, the
// stored-settings table, the benchmarks and the tests share them.
#pragma once

#include "metering/MMLevel.h"

constexpr int MainBarPoint1 = 56;     // % of the bar where the middle colour starts
constexpr int MainBarPoint2 = 70;     // % of the bar where the top colour starts
constexpr int MainBarDecay = 12;
constexpr int MainBarNumPeaks = 1;
constexpr int MainBarPeakDelay = 49;  // written at exit, the value the restore sets
constexpr int MainBarPeakSpeed = 1;   // the same; the bar is created with 20

// Sensitivity (dB at the bottom of the bar) of strip n: -40 for strips 1-2,
// -50 for 3-10, -52 for 11-24.
int MainBarSensitivy(int strip);

// Gives `bar` the design values of strip n (1 .. 24): raised one-pixel bevel,
// vertical, 16 bit stereo, left channel on odd strips and right on even ones,
// lime / yellow / red on black, points, sensitivity, stepped decay.
void ApplyMainBarDesign(TMMCustomLevel& bar, int strip);
