#include "base/qt/MMBevelPaint.h"

#include <QPainter>

namespace {

// One raised or lowered ring `width` pixels wide, shrinking r.
void ring(QPainter& p, QRect& r, TMMBevelCut cut, int width, const TMMBevel& b)
{
    if (cut == bvNone) return;
    const QColor topLeft = ToQColor(cut == bvRaised ? b.HighlightColor : b.ShadowColor);
    const QColor bottomRight = ToQColor(cut == bvRaised ? b.ShadowColor : b.HighlightColor);
    for (int i = 0; i < width && r.width() > 0 && r.height() > 0; ++i) {
        p.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
        p.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
        p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
        p.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
        r.adjust(1, 1, -1, -1);
    }
}

}  // namespace

QRect PaintBevel(QPainter& p, const QRect& outer, const TMMBevel& b)
{
    QRect r = outer;
    if (b.BorderLine) {
        p.setPen(ToQColor(b.BorderColor));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        r.adjust(1, 1, -1, -1);
    }
    ring(p, r, b.BevelOuter, b.BevelOuterWidth, b);
    r.adjust(b.BorderWidth, b.BorderWidth, -b.BorderWidth, -b.BorderWidth);
    ring(p, r, b.BevelInner, b.BevelInnerWidth, b);
    r.adjust(b.BorderSpace, b.BorderSpace, -b.BorderSpace, -b.BorderSpace);
    return r;
}
