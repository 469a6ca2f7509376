#include "correlation/qt/uCorreArt.h"

#include <QPainter>

#include <cmath>

namespace {

const QColor kBack(0x31, 0x38, 0x42);  // the window's colour
const QColor kPanel(0x3C, 0x44, 0x50);
const QColor kLight(0x5A, 0x66, 0x78);
const QColor kDark(0x1C, 0x20, 0x26);
const QColor kText(0xC0, 0xC0, 0xC0);
const QColor kNegative(0xE0, 0x50, 0x50);
const QColor kPositive(0x50, 0xD0, 0x50);
const QColor kCentre(0xE0, 0xE0, 0x40);

QFont SmallFont(int pixels, bool bold)
{
    QFont f("Arial");
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A lowered (or raised) one-pixel frame around r.
void Frame(QPainter& p, const QRect& r, bool lowered)
{
    p.setPen(lowered ? kDark : kLight);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(lowered ? kLight : kDark);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

// A black value box with a lowered frame.
void Box(QPainter& p, const QRect& r)
{
    p.fillRect(r, Qt::black);
    Frame(p, r, true);
}

void CentredText(QPainter& p, int x, int y, const QString& text)
{
    const int w = p.fontMetrics().horizontalAdvance(text);
    p.drawText(x - w / 2, y, text);
}

QColor SideColor(int column)
{
    return column < 150 ? kNegative : (column > 150 ? kPositive : kCentre);
}

}  // namespace

void PaintCorrePanel(QPainter& p, const QSize& size)
{
    const QRect all(0, 0, size.width(), size.height());
    p.fillRect(all, kPanel);
    Frame(p, all.adjusted(0, 0, -1, -1), false);

    // Row MAX: minimum and maximum; row PERC: negative and positive share.
    p.setFont(SmallFont(8, true));
    p.setPen(kText);
    p.drawText(4, 20, "MAX");
    p.drawText(4, 50, "PERC");
    Box(p, QRect(32, 8, 28, 16));
    Box(p, QRect(70, 8, 28, 16));
    Box(p, QRect(34, 38, 28, 16));
    Box(p, QRect(70, 38, 28, 16));
    p.setFont(SmallFont(9, true));
    p.setPen(kText);
    CentredText(p, 65, 20, QStringLiteral("+-"));
    CentredText(p, 66, 50, QStringLiteral("%"));
}

void PaintCorreScale(QPainter& p, const QSize& size)
{
    p.fillRect(QRect(0, 0, size.width(), size.height()), kBack);
    const int base = size.height() - 1;
    for (int c = 0; c <= 300; c += 15) {
        const int len = c % 150 == 0 ? 8 : (c % 75 == 0 ? 6 : 3);
        p.setPen(SideColor(c));
        p.drawLine(kScaleLeft + c, base, kScaleLeft + c, base - len + 1);
    }
    p.setFont(SmallFont(9, true));
    const char* labels[] = {"-1", "-.5", "0", "+.5", "+1"};
    for (int i = 0; i < 5; ++i) {
        const int c = 75 * i;
        p.setPen(i == 2 ? kCentre : kText);
        CentredText(p, kScaleLeft + c, 12, QString::fromLatin1(labels[i]));
    }
}

void PaintCorrePhaseScale(QPainter& p, const QSize& size)
{
    p.fillRect(QRect(0, 0, size.width(), size.height()), kBack);
    // Two equal tones shifted by phi correlate with cos(phi).
    auto column = [](int degrees) {
        return static_cast<int>(std::lround(150 + 150 * std::cos(degrees * M_PI / 180)));
    };
    for (int d = 0; d <= 180; d += 15) {
        const int c = column(d);
        const bool major = d % 30 == 0 || d == 90;
        p.setPen(SideColor(c));
        p.drawLine(kScaleLeft + c, 0, kScaleLeft + c, major ? 5 : 2);
    }
    p.setFont(SmallFont(9, true));
    p.setPen(kText);
    for (int d : {180, 120, 90, 60, 0})
        CentredText(p, kScaleLeft + column(d), 17, QString::number(d) + QChar(0x00B0));
}

void PaintCorreEndPiece(QPainter& p, const QSize& size)
{
    const QRect all(0, 0, size.width(), size.height());
    p.fillRect(all, kBack);
    const QRect cap(1, 0, size.width() - 3, 16);
    p.fillRect(cap, kPanel);
    Frame(p, cap, false);
    p.setPen(kPositive);
    p.drawLine(cap.center().x() - 2, cap.center().y(), cap.center().x() + 2, cap.center().y());
    p.drawLine(cap.center().x(), cap.center().y() - 2, cap.center().x(), cap.center().y() + 2);
}
