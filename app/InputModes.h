// Input modes: index 0 ... 4 for 2, 4, 8, 16 or 24 channels.
#pragma once

#include "base/TvConstants.h"

constexpr int InputModeCount = tv::kInputModes;

// An index outside 0 ... 4 selects the nearest entry.
int ClampInputMode(int mode);
int ChannelsForMode(int mode);   // tv::kModeChannels: 2, 4, 8, 16, 24
int RecordersForMode(int mode);  // 1, 2, 4, 8, 12
// The mode of `channels` active channels; the nearest mode above otherwise.
int ModeForChannels(int channels);

// The input setup's sample rates: index 0 44100 Hz, 1 48000 Hz (clamped).
int SampleRateForIndex(int index);
int SampleRateIndexFor(int rate);  // 48000: 1, any other rate: 0

struct TModeWindowWidth {
    int minWidth;  // the active strips side by side
    int maxWidth;  // set first
    int width;
};
// The main window's client widths for a mode, in pixels: the narrower modes
// are exactly as wide as their strips (no part of the next strip shows), 24
// channels keep the design width and maximum.
TModeWindowWidth WindowWidthForMode(int mode);

// Whether the input list of recorder k (1 ... 12) is enabled in a mode.
bool InputListEnabled(int mode, int k);
