// Geometry of the main window's channel strips, in pixels of the client area.
#pragma once

constexpr int CaptionHeight = 25;  // `Panel1`
constexpr int StripWidth = 57;
constexpr int BarWidth = 18;
constexpr int ScaleImageWidth = 37;
constexpr int ScaleWidgetWidth = 31;
constexpr int StripScaleTicks = 26;  // divisions of a strip's scale widget
constexpr int LabelHeight = 26;
constexpr int BarTop = 11;
constexpr int ScaleTop = 12;
constexpr int DesignClientWidth = 1382;
constexpr int DesignClientHeight = 1028;
constexpr int DesignLeft = 8;
constexpr int DesignTop = 7;
constexpr int DesignMaxWidth = 1400;

// Left edge of strip n (1 ... 24) within the client area.
constexpr int StripLeft(int n) { return StripWidth * (n - 1); }

struct TStripGeometry {
    int stripHeight;  // below the caption strip
    int labelTop;     // within the strip
    int barTop, barHeight;
    int imageHeight;
    int scaleTop, scaleHeight;
};

// Layout after a size change, from the client height: the label sits at the
// strip's bottom; bar, image and scale heights are the label top minus 15,
// never below 1.
TStripGeometry StripGeometryFor(int clientHeight);
