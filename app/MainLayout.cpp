#include "app/MainLayout.h"

#include <algorithm>

TStripGeometry StripGeometryFor(int clientHeight)
{
    TStripGeometry g{};
    g.stripHeight = std::max(0, clientHeight - CaptionHeight);
    g.labelTop = std::max(0, g.stripHeight - LabelHeight);
    const int h = std::max(1, g.labelTop - 15);
    g.barTop = BarTop;
    g.barHeight = h;
    g.imageHeight = h;
    g.scaleTop = ScaleTop;
    g.scaleHeight = h;
    return g;
}
