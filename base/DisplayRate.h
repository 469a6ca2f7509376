// How often the bars, peak marks, scopes and correlation strip are painted:
// frames per second, one of kDisplayRates. The analysis runs every 1 ms
// whatever the rate; only painting is less often.
#pragma once

#include <algorithm>
#include <iterator>

namespace tv {

inline constexpr int kDisplayRates[] = {60, 50, 30, 25, 12};
// A 60 Hz screen shows every level the meter has: no frame is a copy of the
// one before. The lower rates trade that for CPU on a machine that meters
// many sources or paints over a remote desktop.
inline constexpr int kDefaultDisplayRate = 60;

inline bool IsDisplayRate(int fps)
{
    return std::find(std::begin(kDisplayRates), std::end(kDisplayRates), fps) != std::end(kDisplayRates);
}

// A stored rate that is not one of the list reads as the default.
inline int DisplayRateOrDefault(int fps) { return IsDisplayRate(fps) ? fps : kDefaultDisplayRate; }

}  // namespace tv
