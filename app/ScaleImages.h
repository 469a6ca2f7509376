// The scale pictures of the drawn metering standards and the alarm fill.
// Each routine records its drawing on a TScaleCanvas of the picture's current
// size (W x H), at exact integer coordinates; app/qt/ScaleImagesPaint renders
// it. GUI thread; a few dozen operations per picture.
#pragma once

#include "metering/MMScale.h"

// Cream (255, 251, 240): the lines and figures of every picture.
constexpr TColor ScaleCream = RGBColor(255, 251, 240);
static_assert(ScaleCream == 15793151, "cream as the platform stores it");

void DrawN9Scale(TScaleCanvas& image);    // standard 0, Nordic N9
void DrawDINScale(TScaleCanvas& image);   // standard 1, DIN 45406
void DrawBBCScale(TScaleCanvas& image);   // standard 2, BBC
void DrawEBUScale(TScaleCanvas& image);   // standard 3, EBU
void DrawK20Scale(TScaleCanvas& image);   // standard 4, K-System K-20
void DrawK14Scale(TScaleCanvas& image);   // standard 5, K-System K-14
void DrawK12Scale(TScaleCanvas& image);   // standard 6, K-System K-12
// Red over all but the top 5 rows; draws over what the picture holds.
void DrawAlarmFill(TScaleCanvas& image);

// Draws the picture of standard 0 .. 6 and returns true; any other standard
// (Digital PPM, Peak dBFS use the scale widget) draws nothing and returns false.
bool DrawStandardScale(TScaleCanvas& image, int standard);
