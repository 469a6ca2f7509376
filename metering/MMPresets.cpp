#include "metering/MMPresets.h"

#include <array>
#include <cfenv>
#include <cmath>

namespace {

const TMMPreset kPresets[PresetCount] = {
    {"Nordic N9", "N9", 90, "N92", 57, "N9", "N92", 0, -49, spN9, "Nordic N9"},
    {"DIN 45406", "DIN", 84, "DIN2", 57, "Din", "Din2", 1, -71, spDIN, "DIN 45406"},
    {"BBC Scale", "BBC", 84, "BBC2", 57, "BBC", "BBC2", 2, -50, spBBC, "BBC"},
    {"EBU Scale", "EBU", 84, "EBU2", 57, "EBU", "EBU2", 3, -49, spEBU, "EBU"},
    {"K-System K-20", "K20", 79, "K202", 73, "K20", "K202", 5, -70, spK20, "K-System K20"},
    {"K-System K-14", "K14", 84, "K142", 79, "K14", "K142", 6, -64, spK14, "K-System K14"},
    {"K-System K-12", "K12", 90, "K122", 84, "K12", "K122", 7, -68, spK12, "K-System K12"},
    {"Digital PPM", "PPM", 84, "PPM2", 57, "PPM", "PPM2", 4, -72, spScaleWidget, "Digital PPM"},
    {"Peak dBFS", "FS", 84, "FS2", 57, "FS", "FS2", 4, -72, spScaleWidget, "Peak dBFS"},
};

const int kIntegralLength[IntegralCount] = {0, 5, 10, 15, 20, 299};

const int kSourceBar[ColorGroupCount] = {1, 6, 11, 16};
const char* const kGroupCaption[ColorGroupCount] = {"Levels 1-4", "Levels 5-8", "Levels 9-12",
                                                    "Levels 13-16"};

using ThresholdTable = std::array<int, ThresholdDbMax - ThresholdDbMin + 1>;

// One pass over all amplitudes: the level rises with i, so the last i whose
// rounded level is t is the largest reading t. A t that no amplitude reads
// as takes the answer of the next lower t (the largest amplitude reading
// below it), and 1 when there is none.
ThresholdTable BuildThresholds()
{
    ThresholdTable table;
    table.fill(0);
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    for (int i = 1; i <= 32768; ++i) {
        const long double level = 8.7396L * std::log(static_cast<long double>(i)) - 90.7406L;
        const int r = static_cast<int>(std::nearbyint(level));
        if (r >= ThresholdDbMin && r <= ThresholdDbMax) table[r - ThresholdDbMin] = i;
    }
    std::fesetround(saved);
    int below = 1;
    for (int& amplitude : table) {
        if (amplitude == 0) amplitude = below;
        below = amplitude;
    }
    return table;
}

}  // namespace

int ClampPresetIndex(int k) { return ClampInt(k, 0, PresetCount - 1); }

const TMMPreset& PresetOf(int k) { return kPresets[ClampPresetIndex(k)]; }

int IntegralLengthOf(int item) { return kIntegralLength[ClampInt(item, 0, IntegralCount - 1)]; }

TMMRefFlags ReferenceFlagsOf(int item)
{
    TMMRefFlags f;
    switch (ClampInt(item, 0, ReferenceCount - 1)) {
    case 1: f.Minus18 = true; break;
    case 2: f.Minus20 = true; break;
    case 3: f.Minus24 = true; break;
    default: break;
    }
    return f;
}

int ColorGroupOfBar(int n)
{
    if (n < 1 || n > tv::kStrips) return -1;
    if (n >= 17) return (n - 17) / 4;  // 17-20 -> group 0, 21-24 -> group 1
    return (n - 1) / 4;
}

int ColorGroupSourceBar(int group) { return kSourceBar[ClampInt(group, 0, ColorGroupCount - 1)]; }

const char* ColorGroupCaption(int group)
{
    return kGroupCaption[ClampInt(group, 0, ColorGroupCount - 1)];
}

int SilenceThresholdAmplitude(int dbfs)
{
    static const ThresholdTable table = BuildThresholds();
    return table[ClampInt(dbfs, ThresholdDbMin, ThresholdDbMax) - ThresholdDbMin];
}
