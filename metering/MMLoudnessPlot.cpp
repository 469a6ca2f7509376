#include "metering/MMLoudnessPlot.h"

#include <cmath>

namespace {

constexpr double kBelowTarget = 18, kAboveTarget = 9, kStep = 6, kRoom = 3;
constexpr int kMaxRaises = 5;

}  // namespace

TLoudnessPlotRange LoudnessPlotRange(double target, const std::vector<double>& history)
{
    double loudest = -INFINITY;
    for (double v : history)
        if (std::isfinite(v) && v > loudest) loudest = v;
    TLoudnessPlotRange r{target + kAboveTarget, target - kBelowTarget};
    for (int i = 0; i < kMaxRaises && loudest > r.Top - kRoom; ++i) r.Top += kStep;
    return r;
}

std::vector<double> LoudnessPlotLines(const TLoudnessPlotRange& range)
{
    std::vector<double> lines;
    for (double l = range.Bottom; l <= range.Top - kRoom + 1e-9; l += kStep) lines.push_back(l);
    return lines;
}

int LoudnessPlotY(double lufs, const TLoudnessPlotRange& range, int height)
{
    if (!std::isfinite(lufs) || lufs < range.Bottom) lufs = range.Bottom;
    if (lufs > range.Top) lufs = range.Top;
    return static_cast<int>(std::lround((range.Top - lufs) / (range.Top - range.Bottom) * (height - 1)));
}
