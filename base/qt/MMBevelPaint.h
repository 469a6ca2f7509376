// Draws a TMMBevel frame with QPainter and converts colours to Qt.
#pragma once

#include "base/MMTypes.h"

#include <QColor>
#include <QRect>

class QPainter;

inline QColor ToQColor(TColor c) { return QColor(ColorRed(c), ColorGreen(c), ColorBlue(c)); }
inline TColor FromQColor(const QColor& c) { return RGBColor(c.red(), c.green(), c.blue()); }

// Paints the frame inside `outer` and returns the drawing area inside it.
QRect PaintBevel(QPainter& p, const QRect& outer, const TMMBevel& bevel);
