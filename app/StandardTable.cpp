#include "app/StandardTable.h"

#include <algorithm>

namespace {

const TStandardEntry kStandards[StandardCount] = {
    {"Nordic N9", "N9", 90, "N92", 57, 0, -49, false},
    {"DIN 45406", "DIN", 84, "DIN2", 57, 1, -71, false},
    {"BBC", "BBC", 84, "BBC2", 57, 2, -50, false},
    {"EBU", "EBU", 84, "EBU2", 57, 3, -49, false},
    {"K-System K20", "K20", 79, "K202", 73, 5, -70, false},
    {"K-System K14", "K14", 84, "K142", 79, 6, -64, false},
    {"K-System K12", "K12", 90, "K122", 84, 7, -68, false},
    {"Digital PPM", "PPM", 84, "PPM2", 57, 4, -72, true},
    {"Peak dBFS", "FS", 84, "FS2", 57, 4, -72, true},
};

}  // namespace

int ClampStandard(int standard) { return std::clamp(standard, 0, StandardCount - 1); }

const TStandardEntry& StandardEntry(int standard) { return kStandards[ClampStandard(standard)]; }

TStandardLimits ReadStandardLimits(TStoreAccess& store, int standard)
{
    const TStandardEntry& e = StandardEntry(standard);
    return {std::clamp(store.ReadInt(e.TopName, e.TopDefault), 1, 100),
            std::clamp(store.ReadInt(e.BottomName, e.BottomDefault), 1, 100)};
}
