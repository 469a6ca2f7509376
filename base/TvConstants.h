// Counts that shape the whole program.
#pragma once

namespace tv {
constexpr int kStrips = 24;  // channel strips of the main window, Level1 .. Level24
constexpr int kPairs = 12;   // stereo recorders, recorder k feeds strips 2k-1 and 2k
}  // namespace tv
