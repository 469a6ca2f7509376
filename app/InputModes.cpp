#include "app/InputModes.h"

#include "app/MainLayout.h"

#include <algorithm>

int ClampInputMode(int mode) { return std::clamp(mode, 0, InputModeCount - 1); }

int ChannelsForMode(int mode) { return tv::kModeChannels[ClampInputMode(mode)]; }

int RecordersForMode(int mode) { return ChannelsForMode(mode) / 2; }

int ModeForChannels(int channels)
{
    for (int m = 0; m < InputModeCount; ++m)
        if (channels <= tv::kModeChannels[m]) return m;
    return InputModeCount - 1;
}

int SampleRateForIndex(int index) { return index > 0 ? 48000 : 44100; }
int SampleRateIndexFor(int rate) { return rate == 48000 ? 1 : 0; }

TModeWindowWidth WindowWidthForMode(int mode)
{
    const int strips = ChannelsForMode(mode) * StripWidth;
    if (ClampInputMode(mode) == InputModeCount - 1)
        return {strips, std::max(strips, DesignMaxWidth), std::max(strips, DesignClientWidth)};
    return {strips, strips, strips};
}

bool InputListEnabled(int mode, int k) { return k == 1 || k <= RecordersForMode(mode); }
