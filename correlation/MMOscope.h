// Oscilloscope sample tap: takes slices of PCM frames from a connector, keeps
// one sample per plot column and, in the connected-lines kind, records the
// amplitude of every plotted point in ColumnValues.
//
// Qt-free. Everything runs on the GUI thread. The widget (qt/MMOscopeWidget)
// supplies the visibility test and the surface to draw on through
// TMMOscopeView / TMMOscopeSurface.
#pragma once

#include "audio/MMConnectorSinks.h"
#include "audio/MMUtils.h"
#include "base/MMTypes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

enum TMMOscopeKind { okDots = 0, okConLines = 1, okVertLines = 2, okMirLines = 3, okSpikes = 4 };
enum TMMOscopeEffect { efNone = 0, efPeak = 1, efSplit = 2 };

class EMMOscopeError : public EMMError {
public:
    using EMMError::EMMError;
};

// Drawing primitives in plot-area coordinates (column, row; row 0 at the top).
class TMMOscopeSurface {
public:
    virtual ~TMMOscopeSurface() = default;
    virtual void Fill(TColor c) = 0;
    virtual void Line(int x0, int y0, int x1, int y1, TColor c) = 0;
    virtual void Pixel(int x, int y, TColor c) = 0;
};

// What the scope asks of the widget that shows it.
class TMMOscopeView {
public:
    virtual ~TMMOscopeView() = default;
    // The control's own visibility: a hidden scope ignores data.
    virtual bool IsShown() const = 0;
    // Shown, has a parent window, and its rectangle meets the parent's
    // visible region: only then is it drawn (and ColumnValues recorded).
    virtual bool CanDraw() const = 0;
    // Schedule a repaint (coalesced to the display refresh).
    virtual void Invalidate() = 0;
};

class TMMOscope : public TMMOscopeSink {
public:
    static constexpr int kColumnValues = 601;
    using TNotify = std::function<void(TMMOscope&)>;

    TMMOscope();
    ~TMMOscope() override;

    // --- connector interface (GUI thread) ---
    void ApplyFormat(const WaveFormat* fmt) override;  // EMMOscopeError "Invalid WaveFormat"
    int DisplayBytes() const override { return mDisplayBytes; }
    void AcceptSamples(const void* frames) override;
    void ClearDisplay() override;
    bool Scroll() const override { return mScroll; }
    bool Accelerate() const override { return mAccelerate; }
    int FFTLength() const override { return mFFTLength; }
    int BitLength() const override { return mBitLength; }
    int Mode() const override { return mMode; }

    // --- geometry ---
    // Client size of the control; the plot area is this less the scales and
    // the bevel.
    void SetClientSize(int width, int height);
    int ClientWidth() const { return mClientW; }
    int ClientHeight() const { return mClientH; }
    const TMMBevel& Bevel() const { return mBevel; }
    void setBevel(const TMMBevel& b);
    // Plot area inside the client rectangle.
    int PlotLeft() const { return mPlotX; }
    int PlotTop() const { return mPlotY; }
    int Columns() const { return mN; }     // N
    int PlotHeight() const { return mH; }  // H
    int MidRow() const { return mH / 2; }  // M

    // --- published properties ---
    TMMOscopeKind Kind() const { return mKind; }
    void setKind(TMMOscopeKind k);
    void setBitLength(int b);
    TMMChannel Channel() const { return mChannel; }
    void setChannel(TMMChannel c);
    void setMode(int m);
    int SampleRate() const { return mSampleRate; }
    void setSampleRate(int r);  // clamped to 8000 .. 88200
    int Zoom() const { return mZoom; }
    void setZoom(int z);  // -9 .. 9, 0 refused
    int Steps() const { return mSteps; }
    void setSteps(int s);  // 1 .. 9
    int Gain() const { return mGain; }
    void setGain(int g);  // -8 .. 32, others refused
    TMMOscopeEffect Effect() const { return mEffect; }
    void setEffect(TMMOscopeEffect e);
    bool Enabled() const { return mEnabled; }
    void setEnabled(bool e);
    void setScroll(bool s);
    void setAccelerate(bool a) { mAccelerate = a; }
    void setFFTLength(int n);  // power of two within 1 .. 4096, rounded down
    bool ShowInfo() const { return mShowInfo; }
    void setShowInfo(bool s) { mShowInfo = s; }
    bool UseSelection() const { return mUseSelection; }
    void setUseSelection(bool u);
    bool Locked() const { return mLocked; }
    void setLocked(bool l) { mLocked = l; }
    bool DrawMidLine() const { return mDrawMidLine; }
    void setDrawMidLine(bool d);
    bool DrawAmpScale() const { return mDrawAmpScale; }
    void setDrawAmpScale(bool d);
    bool DrawTimeScale() const { return mDrawTimeScale; }
    void setDrawTimeScale(bool d);
    bool DrawGrid() const { return mDrawGrid; }
    void setDrawGrid(bool d);
    int BarWidth() const { return mBarWidth; }
    void setBarWidth(int w);

    TColor Color = clBlack;
    TColor ForegroundColor = 0xFFFF00;
    TColor InactiveColor = 0x808000;
    TColor EffectColor = 0x0000FF;
    TColor DisabledColor = 0x808080;
    TColor ScaleTextColor = 0x000000;
    TColor ScaleLineColor = 0x000000;
    TColor GridColor = 0x808080;
    TColor BarColor = 0x808080;
    TColor BarTickColor = 0xFFFFFF;
    TColor SelectionColor = 0x0000FF;
    TColor SelectionDotColor = 0x0000FF;
    TColor LocatorColor = 0x00FFFF;

    // Events, each called only when assigned.
    TNotify OnArrayNew;
    TNotify OnArrayFull;
    TNotify OnPcmOverflow;
    TNotify OnGainOverflow;
    std::function<void(TMMOscope&, TMMOscopeSurface&, const std::vector<int16_t>&)> OnDrawLine;
    TNotify OnPostPaint;
    TNotify OnUpdate;

    // --- data ---
    const std::vector<int16_t>& Samples() const { return mSamples; }
    // Amplitudes of the plotted points by column (0 .. 600), read by the
    // correlation step.
    const std::array<double, kColumnValues>& ColumnValues() const { return mColumnValues; }
    double ColumnValue(int x) const;

    // Row of a sample within the plot area (row 0 at the top), before clipping.
    int RowOf(int16_t s);
    // Amplitude of a point in plot coordinates; 0 outside the plot area.
    float PointToAmplitude(int column, int row) const;
    // Time in ms of a column within the display (pointer readout).
    double ColumnToMs(int column) const;

    // Pointer readout: while active, AcceptSamples ignores data.
    bool ReadoutActive() const { return mReadout; }
    void BeginReadout() { if (mShowInfo) mReadout = true; }
    void EndReadout() { mReadout = false; }

    void SetView(TMMOscopeView* v) { mView = v; }
    // A paint request: records (connected lines) and draws when the view
    // allows it. A null surface records only.
    void Redraw(TMMOscopeSurface* surface);

private:
    void Recalc();
    void RecalcDisplayBytes();
    void Changed();
    int FrameBytes() const { return (mBitLength + 1) * (mMode + 1); }
    void DrawData(TMMOscopeSurface* s);
    int ClipRow(int r) const { return r < 0 ? 0 : (r >= mH ? mH - 1 : r); }

    TMMOscopeView* mView = nullptr;
    int mClientW = 194, mClientH = 90;
    TMMBevel mBevel;
    int mPlotX = 0, mPlotY = 0, mN = 194, mH = 90;
    int mDisplayBytes = 0;

    TMMOscopeKind mKind = okDots;
    int mBitLength = b8Bit;
    TMMChannel mChannel = chBoth;
    int mMode = mMono;
    int mSampleRate = 11025;
    int mZoom = 1;
    int mSteps = 1;
    int mGain = 0;
    TMMOscopeEffect mEffect = efNone;
    bool mEnabled = true;
    bool mScroll = false;
    bool mAccelerate = true;
    int mFFTLength = 128;
    bool mShowInfo = true;
    bool mUseSelection = false;
    bool mLocked = false;
    bool mDrawMidLine = false, mDrawAmpScale = false, mDrawTimeScale = false, mDrawGrid = false;
    int mBarWidth = 5;
    bool mReadout = false;

    std::vector<int16_t> mSamples;
    std::array<double, kColumnValues> mColumnValues{};
    // Scrolling mode: the chart's history, two values per delivery.
    std::vector<int16_t> mScrollMin, mScrollMax;
    int mScrollPos = 0;
};
