// Renders the scale pictures onto QImages. GUI thread.
#pragma once

#include "app/ScaleImages.h"

#include <QFont>
#include <QImage>

// The pictures' 8-point interface font ("MS Sans Serif" at design), drawn as
// Liberation Sans with an 11-pixel em (cell height 12, digits 6 pixels
// wide), without antialiasing.
QFont ScaleImageFont();

// Paints recorded operations onto image (nothing is cleared first).
void PaintScaleImage(QImage& image, const TScaleCanvas& drawing);

// Draws the picture of standard 0 .. 6 over the whole of image at its current
// size; returns false, leaving image alone, for any other standard.
bool DrawScaleImage(QImage& image, int standard);

// The alarm fill over image: red below the top 5 rows.
void DrawAlarmImage(QImage& image);

// A new picture of the given size for standard 0 .. 6 (black for others).
QImage MakeScaleImage(int width, int height, int standard);
