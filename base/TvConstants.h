// Counts that shape the whole program.
#pragma once

namespace tv {
constexpr int kStrips = 24;  // channel strips of the main window, Level1 .. Level24
constexpr int kPairs = 12;   // stereo recorders, recorder k feeds strips 2k-1 and 2k
constexpr int kInputModes = 5;  // the input mode indexes 0 ... 4
// Channels (strips in use) of each input mode; the last is every strip.
inline constexpr int kModeChannels[kInputModes] = {2, 4, 8, 16, kStrips};
static_assert(kStrips == 2 * kPairs);
}  // namespace tv
