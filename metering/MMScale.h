// Level scale geometry without a display: the tick row (TMMCustomScale,
// TMMScale, TMMLevScale), the label layout of the level scale
// (TMMCustomLevelScale) and a canvas that records drawing operations at exact
// integer coordinates. The Qt widget and the scale pictures render the
// recorded operations; tests read them directly.
//
// All of it runs on the GUI thread.
#pragma once

#include "audio/MMUtils.h"
#include "base/MMTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class EMMScaleError : public EMMError {
public:
    using EMMError::EMMError;
};

namespace ScaleMath {
// a*b/c with a 64-bit product, rounded to nearest, halves away from zero.
// A zero divisor gives -1, as the platform's MulDiv does.
int MulDiv(int a, int b, int c);
// (a*b + c div 2) div c with truncating division and a 64-bit product.
// A zero divisor gives 0.
int RoundDiv(int a, int b, int c);
// Nearest integer, halves to even.
int Round(long double x);
}  // namespace ScaleMath

// Upper bound of the counts (tick and label positions); keeps a drawing finite.
constexpr int MaxScaleCount = 32767;

// A rectangle whose Right column and Bottom row lie outside it.
struct TScaleRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TScaleRect& o) const
    {
        return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
    }
};

// Measures text in the font the canvas draws with (pixels).
class IScaleTextMeasure {
public:
    virtual ~IScaleTextMeasure() = default;
    virtual int TextWidth(const std::string& text) const = 0;
    virtual int TextHeight(const std::string& text) const = 0;
};

enum class TScaleOpKind { Line, FillRect, Text };

// One recorded drawing operation.
//  Line: from (X1, Y1) up to, not including, (X2, Y2), one pixel wide.
//  FillRect: (X1, Y1)-(X2, Y2) without the right column and bottom row.
//  Text: top-left corner of the text cell at (X1, Y1); Back is the cell's
//  background when Opaque.
struct TScaleOp {
    TScaleOpKind Kind = TScaleOpKind::Line;
    int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;
    TColor Color = clBlack;
    TColor Back = clBlack;
    bool Opaque = false;
    std::string Text;
};

// The pixel runs a Line operation covers: one rectangle for a horizontal or
// vertical line, one per pixel otherwise. Empty for a zero-length line.
std::vector<TScaleRect> LineSpans(const TScaleOp& line);

// A drawing surface of Width x Height pixels that records operations.
class TScaleCanvas {
public:
    explicit TScaleCanvas(int width = 0, int height = 0,
                          const IScaleTextMeasure* measure = nullptr);

    int Width() const { return mWidth; }
    int Height() const { return mHeight; }

    TColor PenColor = clBlack;
    TColor BrushColor = clWhite;   // fills and the cell of opaque text
    TColor FontColor = clBlack;
    bool TextOpaque = true;

    void Line(int x1, int y1, int x2, int y2);
    void FillRect(int left, int top, int right, int bottom);  // in BrushColor
    void TextOut(int x, int y, const std::string& text);

    // 0 without a measure.
    int TextWidth(const std::string& text) const;
    int TextHeight(const std::string& text) const;

    const std::vector<TScaleOp>& Ops() const { return mOps; }
    void Clear() { mOps.clear(); }

private:
    int mWidth;
    int mHeight;
    const IScaleTextMeasure* mMeasure;
    std::vector<TScaleOp> mOps;
};

enum TMMScaleStyle { stColor = 0, stLowered = 1, stRaised = 2 };
enum TMMScaleOrigin { soInner = 0, soOuter = 1 };
enum TMMScalePos { spAboveOrLeft = 0, spBelowOrRight = 1, spBoth = 2 };

class TMMCustomLevelScale;

// A row of tick marks that draws itself into a rectangle of a canvas.
class TMMCustomScale {
public:
    TMMCustomScale() = default;
    virtual ~TMMCustomScale() = default;
    TMMCustomScale(const TMMCustomScale&) = delete;
    TMMCustomScale& operator=(const TMMCustomScale&) = delete;

    bool Visible() const { return mVisible; }
    void setVisible(bool v);
    TColor Color() const { return mColor; }
    TColor MiddleColor() const { return mColor2; }
    TColor TopColor() const { return mColor3; }
    TMMScaleStyle Style() const { return mStyle; }
    int TickCount() const { return mTickCount; }
    void setTickCount(int v);  // clamp 2 .. MaxScaleCount
    int EnlargeEvery() const { return mEnlargeEvery; }
    void setEnlargeEvery(int v);  // at least 1
    int Size() const { return mSize; }
    void setSize(int v);  // clamp 1 .. MaxScaleCount
    TMMScaleOrigin Origin() const { return mOrigin; }
    void setOrigin(TMMScaleOrigin v);
    bool Connect() const { return mConnect; }
    void setConnect(bool v);
    int Zone1() const { return mZ1; }
    int Zone2() const { return mZ2; }

    TScaleCanvas* Canvas() const { return mCanvas; }
    void setCanvas(TScaleCanvas* c) { mCanvas = c; }

    // Size, +1 with Connect, +1 more with Connect and a style other than stColor.
    int BandWidth() const;

    // Draws the row into r: firstSide for the left or top row. Raises
    // EMMScaleError without a canvas.
    void DrawScale(const TScaleRect& r, bool firstSide);
    void DrawScale(TScaleCanvas* canvas, const TScaleRect& r, bool firstSide);

    // Copies Visible, Color, Style, TickCount, EnlargeEvery, Size, Origin and
    // Connect, then notifies.
    void Assign(const TMMCustomScale& src);

    // Called after a property changed (the owner repaints).
    std::function<void(TMMCustomScale*)> OnChange;

protected:
    void setColor(TColor c);  // also sets the middle and top colours
    void setMiddleColor(TColor c);
    void setTopColor(TColor c);
    void setStyle(TMMScaleStyle s);
    void Changed();

    bool mVisible = true;

private:
    friend class TMMCustomLevelScale;
    // Set by the owner before drawing; no notification.
    void SetZoneColors(TColor low, TColor middle, TColor top);
    void SetZones(int z1, int z2);

    void DrawLine(int x1, int y1, int x2, int y2, TColor color);

    TColor mColor = clBlack;
    TColor mColor2 = clBlack;
    TColor mColor3 = clBlack;
    int mZ1 = 0;
    int mZ2 = 0;
    TMMScaleStyle mStyle = stColor;
    int mTickCount = 11;
    int mEnlargeEvery = 5;
    int mSize = 7;
    TMMScaleOrigin mOrigin = soInner;
    bool mConnect = false;
    TScaleCanvas* mCanvas = nullptr;
};

// A tick row with all its properties public.
class TMMScale : public TMMCustomScale {
public:
    using TMMCustomScale::setColor;
    using TMMCustomScale::setMiddleColor;
    using TMMCustomScale::setStyle;
    using TMMCustomScale::setTopColor;
};

// The tick row owned by a level scale: invisible at first; its colours and
// zones come from the level scale.
class TMMLevScale : public TMMCustomScale {
public:
    TMMLevScale() { mVisible = false; }
};

// State and drawing of the level scale, without a display. Width and Height
// are the control's client size; Paint draws the whole control.
class TMMCustomLevelScale {
public:
    TMMCustomLevelScale();
    TMMCustomLevelScale(const TMMCustomLevelScale&) = delete;
    TMMCustomLevelScale& operator=(const TMMCustomLevelScale&) = delete;

    int ScaleTicks() const { return mScaleTicks; }
    void setScaleTicks(int v);  // clamp 2 .. MaxScaleCount
    int Sensitivy() const { return mSensitivy; }
    void setSensitivy(int v);  // clamp -90 .. -9, dB
    bool LogAmp() const { return mLogAmp; }
    void setLogAmp(bool v);
    int Point1() const { return mPoint1; }
    void setPoint1(int v);  // clamp 1 .. 100, percent
    int Point2() const { return mPoint2; }
    void setPoint2(int v);
    TColor Scale1Color() const { return mScale1Color; }
    void setScale1Color(TColor c);
    TColor Scale2Color() const { return mScale2Color; }
    void setScale2Color(TColor c);
    TColor Scale3Color() const { return mScale3Color; }
    void setScale3Color(TColor c);
    TMMLevelKind Kind() const { return mKind; }
    void setKind(TMMLevelKind k);  // swaps Width and Height when needed
    TMMLevelDirection Direction() const { return mDirection; }
    void setDirection(TMMLevelDirection d);
    TMMScalePos ScalePos() const { return mScalePos; }
    void setScalePos(TMMScalePos p);
    TColor Color() const { return mColor; }
    void setColor(TColor c);
    int Width() const { return mWidth; }
    void setWidth(int v);  // at least 0
    int Height() const { return mHeight; }
    void setHeight(int v);
    void setBounds(int width, int height);

    TMMLevScale& Scale() { return mScale; }
    const TMMLevScale& Scale() const { return mScale; }
    void setScale(const TMMCustomScale& src) { mScale.Assign(src); }

    // Draws the control onto canvas (text measured through it).
    void Paint(TScaleCanvas& canvas);

    // The label spacing k over positions 0 .. n: the smallest k >= 1 with
    // length div ((n div k) * textSize) >= 1; every k-th position gets a
    // label. A text size below 1 pixel gives k = 1. When not even the whole
    // length holds one text, k = n: only the two end positions remain, each
    // drawn only where it fits.
    static int LabelSpacing(int length, int textSize, int n);
    // The label value in dB. With logAmp m counts from the 0 dB end
    // (MulDiv(m, sensitivy, n)); without it m counts from the empty end.
    static int LabelValue(int m, int n, int sensitivy, bool logAmp);
    // The label text: "--" for the values a vertical scale leaves unwritten.
    static std::string LabelText(int value, bool vertical);

    // Called after any property change (the widget repaints).
    std::function<void(TMMCustomLevelScale*)> OnChange;

private:
    void Changed();
    void PaintLabels(TScaleCanvas& canvas, const TScaleRect& r);

    int mScaleTicks = 8;
    int mSensitivy = -35;
    bool mLogAmp = true;
    int mPoint1 = 50;
    int mPoint2 = 85;
    TColor mScale1Color = clWhite;
    TColor mScale2Color = clWhite;
    TColor mScale3Color = clRed;
    TMMLevelKind mKind = lkHorizontal;
    TMMLevelDirection mDirection = dirNormal;
    TMMScalePos mScalePos = spBoth;
    TColor mColor = clBlack;
    int mWidth = 200;
    int mHeight = 7;
    TMMLevScale mScale;
};
