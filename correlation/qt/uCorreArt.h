// The correlation window's pictures: the value panel (`Image1`), the scale
// above the strip (`Image3`), the phase-angle scale below it (`Image2`) and
// the strip's end piece (`Image5`). Each paints a picture of `size` at 0, 0.
#pragma once

#include <QSize>

class QPainter;

// Strip column c lies at x = kScaleLeft + c in the two scales.
constexpr int kScaleLeft = 9;

void PaintCorrePanel(QPainter& p, const QSize& size);
void PaintCorreScale(QPainter& p, const QSize& size);
void PaintCorrePhaseScale(QPainter& p, const QSize& size);
void PaintCorreEndPiece(QPainter& p, const QSize& size);
