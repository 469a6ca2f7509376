// Off-screen pixel buffer of the display components, without Qt.
// 8 bits per pixel (indices into a palette holding the 20 static colours at
// entries 0 .. 9 and 246 .. 255; every colour is drawn as its nearest entry)
// or 24 bits per pixel (B, G, R bytes). Row 0 is the top row; rows are
// padded to 4 bytes. Drawing is serialised by one process-wide lock.
#pragma once

#include "audio/MMUtils.h"
#include "base/MMTypes.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class EMMDIBError : public EMMError {
public:
    using EMMError::EMMError;
};

// A rectangle, right and bottom exclusive.
struct TMMRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TMMRect& o) const
    {
        return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
    }
};

// The lock held by every component while it draws into a canvas.
std::recursive_mutex& DIBDrawLock();

class TMMDIBCanvas {
public:
    // `ownerClass` starts the text of the "initialized for drawing" error.
    explicit TMMDIBCanvas(std::string ownerClass = "TMMDIBCanvas");

    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    int BitCount() const { return mBitCount; }
    int Stride() const { return mStride; }

    // Both refuse while the canvas is prepared for drawing; SetBitCount
    // accepts only 8 and 24. Sizes are cut to 0 .. 16384.
    void SetSize(int width, int height);
    void SetBitCount(int bits);

    // Prepare for drawing / release; BeginDraw takes DIBDrawLock().
    void BeginDraw();
    void EndDraw();
    bool Drawing() const { return mDrawing > 0; }

    uint8_t* Bits() { return mBits.data(); }
    const uint8_t* Bits() const { return mBits.data(); }

    // All drawing is clipped to the canvas and to the clip rectangle, if set.
    void SetClip(const TMMRect& r);
    void ClearClip();
    void FillRect(const TMMRect& r, TColor c);
    // Every second pixel of every second row, from the top-left pixel of r.
    void FillRectDoted(const TMMRect& r, TColor c);
    // Copies a canvas of the same size and depth (otherwise does nothing);
    // only the clip rectangle when one is set.
    void CopyFrom(const TMMDIBCanvas& src);

    // The colour a pixel holds (after palette matching); black outside.
    TColor Pixel(int x, int y) const;

    // The 8-bit palette: 20 static colours, the rest black.
    static const std::array<TColor, 256>& Palette();
    // Nearest palette entry (squared RGB distance, lowest index on a tie).
    static uint8_t NearestIndex(TColor c);

private:
    void allocate(int width, int height, int bits);
    void checkNotDrawing() const;
    void updateClip();  // mClip from the asked clip and the size
    uint8_t indexOf(TColor c) const;  // NearestIndex with a one-entry cache

    std::string mOwner;
    int mWidth = 0, mHeight = 0, mBitCount = 8, mStride = 0;
    int mDrawing = 0;
    bool mClipped = false;
    TMMRect mClipAsked;
    TMMRect mClip;  // the rectangle drawing is cut to: clip and canvas
    std::vector<uint8_t> mBits;
    mutable TColor mCachedColor = clBlack;
    mutable uint8_t mCachedIndex = 0;
};
