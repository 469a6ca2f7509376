#include "correlation/MMCorrelationPlace.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

int64_t Overlap(const TPlaceRect& a, const TPlaceRect& b)
{
    const int64_t w = std::min(a.x + a.w, b.x + b.w) - std::max(a.x, b.x);
    const int64_t h = std::min(a.y + a.h, b.y + b.h) - std::max(a.y, b.y);
    return w > 0 && h > 0 ? w * h : 0;
}

// Pulled inside the screen; a window larger than the screen keeps its top left
// corner on it.
int Inside(int v, int lo, int size, int span) { return std::max(lo, std::min(v, lo + span - size)); }

}  // namespace

TPlacePoint CorrelationWindowPlace(const TPlaceRect& screen, const TPlaceRect& main, int band, int w, int h)
{
    const TPlacePoint tries[] = {
        {main.x + main.w, main.y},         // right
        {main.x, main.y + main.h},         // below
        {main.x - w, main.y},              // left
        {main.x, main.y - h},              // above
        {main.x + main.w, main.y + band},  // right, under the caption and menu
    };
    const TPlaceRect top{main.x, main.y, main.w, std::clamp(band, 0, main.h)};
    TPlacePoint best{Inside(main.x, screen.x, w, screen.w), Inside(main.y, screen.y, h, screen.h)};
    int64_t bestCost = std::numeric_limits<int64_t>::max();
    for (const TPlacePoint& t : tries) {
        const TPlaceRect r{Inside(t.x, screen.x, w, screen.w), Inside(t.y, screen.y, h, screen.h), w, h};
        // Hiding the caption or menu is worse than hiding any part of the strips.
        const int64_t cost = Overlap(r, main) + (Overlap(r, top) > 0 ? int64_t{1} << 40 : 0);
        if (cost < bestCost) {
            bestCost = cost;
            best = {r.x, r.y};
        }
        if (cost == 0) break;
    }
    return best;
}
