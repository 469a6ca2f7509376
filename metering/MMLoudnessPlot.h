// The loudness window's history plot: the loudness range it spans and where a
// value lies in it. Qt-free; loudness in LUFS, positions in pixels.
#pragma once

#include <vector>

struct TLoudnessPlotRange {
    double Top = 0;     // loudness at the top edge
    double Bottom = 0;  // loudness at the bottom edge
};

// Bottom: the target -18 LU. Top: the target +9 LU, raised by 6 LU at a time
// (to the target +39 LU at most) until the loudest finite value of `history`
// lies at least 3 LU below it. So the target always has room above it, and
// so has programme louder than the target.
TLoudnessPlotRange LoudnessPlotRange(double target, const std::vector<double>& history);

// The grid: every 6 LU from the bottom edge up; the highest lies 3 LU under
// the top edge, so a label drawn above it stays inside the plot. The target
// is one of the lines.
std::vector<double> LoudnessPlotLines(const TLoudnessPlotRange& range);

// Row of `lufs` in a plot `height` rows high: 0 at the top edge, height - 1
// at the bottom; values beyond an edge and undefined ones lie on it.
int LoudnessPlotY(double lufs, const TLoudnessPlotRange& range, int height);
