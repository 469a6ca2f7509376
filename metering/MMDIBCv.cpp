#include "metering/MMDIBCv.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kMaxSide = 16384;  // pixels; larger requests are cut to this
}

std::recursive_mutex& DIBDrawLock()
{
    static std::recursive_mutex lock;
    return lock;
}

const std::array<TColor, 256>& TMMDIBCanvas::Palette()
{
    static const std::array<TColor, 256> pal = [] {
        std::array<TColor, 256> p{};
        const TColor low[10] = {clBlack, clMaroon, clGreen, clOlive,      clNavy,
                                clPurple, clTeal, clSilver, clMoneyGreen, clSkyBlue};
        const TColor high[10] = {clCream, clMedGray, clGray,    clRed,  clLime,
                                 clYellow, clBlue,   clFuchsia, clAqua, clWhite};
        for (int i = 0; i < 10; ++i) {
            p[i] = low[i];
            p[246 + i] = high[i];
        }
        return p;
    }();
    return pal;
}

uint8_t TMMDIBCanvas::NearestIndex(TColor c)
{
    const auto& pal = Palette();
    int best = 0;
    long bestDist = -1;
    for (int i = 0; i < 256; ++i) {
        if (i == 10) i = 246;  // entries 10 .. 245 are unused
        const long dr = ColorRed(c) - ColorRed(pal[i]);
        const long dg = ColorGreen(c) - ColorGreen(pal[i]);
        const long db = ColorBlue(c) - ColorBlue(pal[i]);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    return static_cast<uint8_t>(best);
}

TMMDIBCanvas::TMMDIBCanvas(std::string ownerClass) : mOwner(std::move(ownerClass)) {}

uint8_t TMMDIBCanvas::indexOf(TColor c) const
{
    if (c != mCachedColor) {
        mCachedColor = c;
        mCachedIndex = NearestIndex(c);
    }
    return mCachedIndex;
}

void TMMDIBCanvas::checkNotDrawing() const
{
    if (mDrawing > 0)
        throw EMMDIBError(mOwner + ": Attempt to create new DIB while initialized for drawing");
}

void TMMDIBCanvas::allocate(int width, int height, int bits)
{
    width = std::clamp(width, 0, kMaxSide);
    height = std::clamp(height, 0, kMaxSide);
    const int stride = ((width * (bits / 8)) + 3) & ~3;
    mBits.assign(static_cast<size_t>(stride) * static_cast<size_t>(height), 0);
    mWidth = width;
    mHeight = height;
    mBitCount = bits;
    mStride = stride;
    updateClip();
}

void TMMDIBCanvas::SetSize(int width, int height)
{
    checkNotDrawing();
    width = std::clamp(width, 0, kMaxSide);
    height = std::clamp(height, 0, kMaxSide);
    if (width == mWidth && height == mHeight) return;
    allocate(width, height, mBitCount);
}

void TMMDIBCanvas::SetBitCount(int bits)
{
    if (bits != 8 && bits != 24) throw EMMDIBError("Bitlength not supported yet");
    checkNotDrawing();
    if (bits == mBitCount) return;
    allocate(mWidth, mHeight, bits);
}

void TMMDIBCanvas::BeginDraw()
{
    DIBDrawLock().lock();
    ++mDrawing;
}

void TMMDIBCanvas::EndDraw()
{
    if (mDrawing <= 0) return;
    --mDrawing;
    DIBDrawLock().unlock();
}

void TMMDIBCanvas::SetClip(const TMMRect& r)
{
    mClipAsked = r;
    mClipped = true;
    updateClip();
}

void TMMDIBCanvas::ClearClip()
{
    mClipped = false;
    updateClip();
}

void TMMDIBCanvas::updateClip()
{
    mClip = {0, 0, mWidth, mHeight};
    if (!mClipped) return;
    mClip = {std::max(mClipAsked.Left, 0), std::max(mClipAsked.Top, 0), std::min(mClipAsked.Right, mWidth),
             std::min(mClipAsked.Bottom, mHeight)};
}

void TMMDIBCanvas::FillRect(const TMMRect& r, TColor c)
{
    const TMMRect& k = mClip;
    const int x0 = std::max(r.Left, k.Left), x1 = std::min(r.Right, k.Right);
    const int y0 = std::max(r.Top, k.Top), y1 = std::min(r.Bottom, k.Bottom);
    if (x0 >= x1 || y0 >= y1) return;
    if (mBitCount == 8) {
        const uint8_t idx = indexOf(c);
        for (int y = y0; y < y1; ++y)
            std::memset(mBits.data() + static_cast<size_t>(y) * mStride + x0, idx, x1 - x0);
        return;
    }
    const uint8_t b = ColorBlue(c), g = ColorGreen(c), rr = ColorRed(c);
    for (int y = y0; y < y1; ++y) {
        uint8_t* p = mBits.data() + static_cast<size_t>(y) * mStride + x0 * 3;
        for (int x = x0; x < x1; ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = rr;
        }
    }
}

void TMMDIBCanvas::FillRectDoted(const TMMRect& r, TColor c)
{
    // The grid is anchored at r's top-left pixel, even where that is clipped.
    const TMMRect& k = mClip;
    int x0 = r.Left, y0 = r.Top;
    if (x0 < k.Left) x0 += ((k.Left - x0 + 1) / 2) * 2;
    if (y0 < k.Top) y0 += ((k.Top - y0 + 1) / 2) * 2;
    const int x1 = std::min(r.Right, k.Right), y1 = std::min(r.Bottom, k.Bottom);
    if (x0 >= x1 || y0 >= y1) return;
    const uint8_t idx = mBitCount == 8 ? indexOf(c) : 0;
    for (int y = y0; y < y1; y += 2) {
        uint8_t* row = mBits.data() + static_cast<size_t>(y) * mStride;
        for (int x = x0; x < x1; x += 2) {
            if (mBitCount == 8) {
                row[x] = idx;
            } else {
                uint8_t* p = row + x * 3;
                p[0] = ColorBlue(c);
                p[1] = ColorGreen(c);
                p[2] = ColorRed(c);
            }
        }
    }
}

void TMMDIBCanvas::CopyFrom(const TMMDIBCanvas& src)
{
    if (&src == this || src.mWidth != mWidth || src.mHeight != mHeight || src.mBitCount != mBitCount)
        return;
    if (mBits.empty()) return;
    if (!mClipped) {
        std::memcpy(mBits.data(), src.mBits.data(), mBits.size());
        return;
    }
    const TMMRect& k = mClip;
    if (k.Left >= k.Right || k.Top >= k.Bottom) return;
    const size_t bpp = static_cast<size_t>(mBitCount / 8);
    const size_t off = static_cast<size_t>(k.Left) * bpp, n = static_cast<size_t>(k.Width()) * bpp;
    for (int y = k.Top; y < k.Bottom; ++y) {
        const size_t row = static_cast<size_t>(y) * static_cast<size_t>(mStride) + off;
        std::memcpy(mBits.data() + row, src.mBits.data() + row, n);
    }
}

TColor TMMDIBCanvas::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= mWidth || y >= mHeight) return clBlack;
    const uint8_t* p = mBits.data() + static_cast<size_t>(y) * mStride;
    if (mBitCount == 8) return Palette()[p[x]];
    p += x * 3;
    return RGBColor(p[2], p[1], p[0]);
}
