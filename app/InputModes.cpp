#include "app/InputModes.h"

#include <algorithm>

int ClampInputMode(int mode) { return std::clamp(mode, 0, InputModeCount - 1); }

int ChannelsForMode(int mode) { return tv::kModeChannels[ClampInputMode(mode)]; }

int RecordersForMode(int mode) { return ChannelsForMode(mode) / 2; }

TModeWindowWidth WindowWidthForMode(int mode)
{
    // 16 channels: the width of 16 strips plus the frame allowance of the
    // narrower modes; 24 channels: the design width and maximum.
    static const TModeWindowWidth widths[InputModeCount] = {
        {100, 100}, {236, 236}, {467, 467}, {923, 923}, {1400, 1382}};
    return widths[ClampInputMode(mode)];
}

bool InputListEnabled(int mode, int k) { return k == 1 || k <= RecordersForMode(mode); }
