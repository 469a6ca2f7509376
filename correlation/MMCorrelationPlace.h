// Where the correlation window opens when no place is stored: beside the main
// window, so that it stays on top without hiding the main window's caption,
// menu or strips. Qt-free; pixels in screen coordinates.
#pragma once

struct TPlaceRect {
    int x = 0, y = 0, w = 0, h = 0;  // top left corner and size
};

struct TPlacePoint {
    int x = 0, y = 0;
};

// Top left corner for a window of w x h on the screen's free area `screen`,
// next to the main window's frame `main`, whose top `band` pixels (caption
// and menu) must stay visible. Tried in turn: right of the main window, below
// it, left of it, above it, and right of it below the band, each pulled
// inside the screen; the first that covers nothing of the main window wins,
// else the one covering least of it and nothing of the band.
TPlacePoint CorrelationWindowPlace(const TPlaceRect& screen, const TPlaceRect& main, int band, int w, int h);
