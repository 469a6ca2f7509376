// The level bar without a display: block analysis, display curves,
// integration, decay, peak hold, geometry and rendering into a pixel buffer.
// Everything here runs on the GUI thread (the connector's trigger cycles,
// property setters, paints, and the peak tick posted there); TMMLevel in
// metering/qt wraps it as a widget, the file meter tool drives it directly.
#pragma once

#include "audio/MMUtils.h"
#include "metering/MMBallistics.h"
#include "metering/MMDIBCv.h"
#include "metering/MMLevelMath.h"
#include "base/MMTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

class EMMLevelError : public EMMError {
public:
    using EMMError::EMMError;
};

enum TMMDecayMode { dmNone = 0, dmStepUp = 1, dmExponential = 2, dmUniform = 3 };

class TMMCustomLevel;
using TMMLevelNotify = std::function<void(TMMCustomLevel* sender)>;
using TMMLevelDrawBar = std::function<void(TMMCustomLevel* sender, TMMDIBCanvas& dib, const TMMRect& rect,
                                           int nSpots, int peak)>;

class TMMCustomLevel {
public:
    static constexpr int MaxValue = mmlevel::MaxValue;

    TMMCustomLevel();
    virtual ~TMMCustomLevel() = default;
    TMMCustomLevel(const TMMCustomLevel&) = delete;
    TMMCustomLevel& operator=(const TMMCustomLevel&) = delete;

    // ---- published properties -------------------------------------------
    bool Enabled() const { return mEnabled; }
    void setEnabled(bool v);
    TMMLevelKind Kind() const { return mKind; }
    void setKind(TMMLevelKind v);
    TMMLevelDirection Direction() const { return mDirection; }
    void setDirection(TMMLevelDirection v);
    int SpotWidth() const { return mSpotWidth; }
    void setSpotWidth(int v);
    int SpotSpace() const { return mSpotSpace; }
    void setSpotSpace(int v);
    int Point1() const { return mPoint1; }
    void setPoint1(int v);
    int Point2() const { return mPoint2; }
    void setPoint2(int v);
    TColor Bar1Color() const { return mBar[0]; }
    void setBar1Color(TColor c) { setColorOf(mBar[0], c); }
    TColor Bar2Color() const { return mBar[1]; }
    void setBar2Color(TColor c) { setColorOf(mBar[1], c); }
    TColor Bar3Color() const { return mBar[2]; }
    void setBar3Color(TColor c) { setColorOf(mBar[2], c); }
    TColor Inactive1Color() const { return mInactive[0]; }
    void setInactive1Color(TColor c) { setColorOf(mInactive[0], c); }
    TColor Inactive2Color() const { return mInactive[1]; }
    void setInactive2Color(TColor c) { setColorOf(mInactive[1], c); }
    TColor Inactive3Color() const { return mInactive[2]; }
    void setInactive3Color(TColor c) { setColorOf(mInactive[2], c); }
    bool ActiveDoted() const { return mActiveDoted; }
    void setActiveDoted(bool v);
    bool InactiveDoted() const { return mInactiveDoted; }
    void setInactiveDoted(bool v);
    TColor Color() const { return mColor; }
    void setColor(TColor c) { setColorOf(mColor, c); }
    TMMBits BitLength() const { return mBitLength; }
    void setBitLength(TMMBits v);
    // 0 mono, 1 stereo, 2 multichannel; 3 for four-channel streams.
    int Mode() const { return mMode; }
    void setMode(int v);
    TMMChannel Channel() const { return mChannel; }
    void setChannel(TMMChannel v);
    int Samples() const { return mSamples; }
    void setSamples(int v);  // 1 .. 1048576
    int Gain() const { return mGain; }
    void setGain(int v);  // ignored outside -8 .. 32
    int Sensitivy() const { return mSensitivy; }
    void setSensitivy(int v);
    bool LogAmp() const { return mLogAmp; }
    void setLogAmp(bool v);
    TMMDecayMode DecayMode() const { return mDecayMode; }
    void setDecayMode(TMMDecayMode v);
    int Decay() const { return mDecay; }
    void setDecay(int v);
    int NumPeaks() const { return mNumPeaks; }
    void setNumPeaks(int v);
    int PeakDelay() const { return mPeakDelay; }
    void setPeakDelay(int v);
    int PeakSpeed() const { return mPeakSpeed; }
    void setPeakSpeed(int v);
    // Drops the held peak mark at once (a LeaveMaxPeak maximum too); the next
    // block captures a new one.
    void ClearPeak();
    int DCOffsetL() const { return mDCOffsetL; }
    void setDCOffsetL(int v);  // limited to +-65535
    int DCOffsetR() const { return mDCOffsetR; }
    void setDCOffsetR(int v);
    int Value() const;
    void setValue(int v);
    int Width() const { return mWidth; }
    int Height() const { return mHeight; }
    void SetBounds(int width, int height);
    const TMMBevel& Bevel() const { return mBevel; }
    void setBevel(const TMMBevel& b);
    // Depth of both bitmaps: 8 or 24, anything else raises EMMDIBError.
    int BitDepth() const { return mWork.BitCount(); }
    void setBitDepth(int bits);

    // ---- metering state set by the presets -------------------------------
    int MeterStandard() const { return mMeterStandard; }
    void setMeterStandard(int v);  // 0 .. 7 (other values draw no curve)
    bool RefMinus18() const { return mRef[0]; }
    void setRefMinus18(bool v) { mRef[0] = v; }
    bool RefMinus20() const { return mRef[1]; }
    void setRefMinus20(bool v) { mRef[1] = v; }
    bool RefMinus24() const { return mRef[2]; }
    void setRefMinus24(bool v) { mRef[2] = v; }
    bool IntegralOn() const { return mIntegralOn; }
    void setIntegralOn(bool v) { mIntegralOn = v; }
    int IntegralLength() const { return mIntegralLength; }
    void setIntegralLength(int v);  // 1 .. 300 blocks
    int IntegralFill() const { return mIntegralFill; }
    // bmStandard: a per-sample detector of the standard's instrument
    // (metering/MMBallistics) replaces the block peak, the integration and
    // the decay; reference scaling, display curve and geometry stay.
    TMMBallisticsMode Ballistics() const { return mDetector ? bmStandard : bmAsPreset; }
    void setBallistics(TMMBallisticsMode v);
    // The detector in use, or null under bmAsPreset.
    const TMMBallistics* Detector() const { return mDetector.get(); }
    bool LeaveMaxPeak() const { return mLeaveMaxPeak; }
    void setLeaveMaxPeak(bool v) { mLeaveMaxPeak = v; }
    // The host's visibility; nothing is analysed while hidden.
    bool Visible() const { return mVisible; }
    void setVisible(bool v);

    // ---- operations of the connector --------------------------------------
    // Raises EMMLevelError "Invalid WaveFormat" for anything IsValidPcmFormat refuses.
    void SetWaveFormat(const WaveFormat* format);
    int BlockBytes() const { return mBlockBytes; }
    // Analyses `Samples` frames at data; BlockBytes() bytes must be readable.
    void ProcessBlock(const void* data);
    // `count` blocks `stride` bytes apart, as as many ProcessBlock calls.
    void ProcessBlocks(const void* first, int count, int stride);
    void ResetData();
    // Amplitude handed to the last update step (units of MaxValue).
    int CurrentLevel() const { return mCurrentLevel; }
    // Peak of the last analysed block, before reference scaling.
    int LastBlockPeak() const { return mLastBlockPeak; }
    // The signal's own level for the silence detector, in units of MaxValue
    // (relative to full scale, before reference scaling, display curve and
    // integration): the last block's sample peak.
    int SilenceLevel() const { return mLastBlockPeak; }
    // The highest SilenceLevel since the last RestartSilenceHold (0 when no
    // block came): what the silence detector compares once per check, so a
    // check that lands on a quiet block of a low tone does not read silence.
    int SilenceHeld() const { return mSilenceHeld; }
    void RestartSilenceHold() { mSilenceHeld = 0; }
    // The highest SilenceLevel since the previous call (0 when no block
    // came), and a fresh hold: the peak a scrape of /metrics reports.
    int TakeScrapePeak() { return std::exchange(mScrapeHeld, 0); }

    // The update step (also used by Value).
    void UpdateLevel(int32_t a);
    // One 25 ms step of the held peak. Call it on the thread that runs
    // ProcessBlock (the widget posts it to the GUI thread).
    void PeakTick();

    // ---- geometry and drawing ---------------------------------------------
    void CalcSpots();
    void RenderBackground();
    // Composes the working bitmap (background, bar, peak) under the drawing lock.
    void DrawLevel();
    // The same, redrawing only `area` of the working bitmap (the rest keeps
    // what it holds); an OnDrawBar handler always gets the whole bitmap.
    void DrawLevel(const TMMRect& area);
    // The part of the working bitmap the next DrawLevel can change: empty when
    // nothing is needed, the whole bitmap after anything but a move of the bar
    // or the peak.
    TMMRect ChangedArea() const;
    // False when DrawLevel would draw what it drew last time: the bar and peak
    // are back where they were and nothing else was invalidated since.
    bool DrawNeeded() const { return mRedraw || mBarSpots != mDrawnBar || mPeakSpot != mDrawnPeak; }
    // True when something other than the bar and peak (a property, the size)
    // was invalidated since the last DrawLevel.
    bool PropertiesChanged() const { return mRedraw; }
    const TMMDIBCanvas& WorkCanvas() const { return mWork; }
    const TMMDIBCanvas& BackCanvas() const { return mBack; }
    // Rectangle of segment i (1 .. NumSpots) in the drawing area.
    TMMRect SpotRect(int i) const;
    // Zone colour index (1, 2, 3) of segment i.
    int ZoneOf(int i) const;

    int DrawWidth() const { return mDrawWidth; }
    int DrawHeight() const { return mDrawHeight; }
    int NumSpots() const { return mNumSpots; }
    int SpotOffset() const { return mSpotOffset; }
    int Zone1Spots() const { return mZone1Spots; }
    int Zone2Spots() const { return mZone2Spots; }
    int BarSpots() const { return mBarSpots; }
    int PeakSpot() const { return mPeakSpot; }
    int PeakCounter() const { return mPeakCounter; }
    bool PeakChanged() const { return mPeakChanged; }
    int GainScale() const { return mGainScale; }
    float DecayFactor() const { return mDecayFactor; }
    int DecayLength() const { return mDecayLength; }
    float DecayValue() const { return mDecayValue; }
    // True while the peak tick should run (NumPeaks > 0 and Enabled).
    bool TickWanted() const { return mEnabled && mNumPeaks > 0; }

    // ---- events ------------------------------------------------------------
    TMMLevelNotify OnPaint;
    TMMLevelNotify OnPcmOverflow;
    TMMLevelNotify OnGainOverflow;
    const TMMLevelDrawBar& OnDrawBar() const { return mOnDrawBar; }
    void setOnDrawBar(TMMLevelDrawBar handler);

    // ---- host hooks --------------------------------------------------------
    // Something visible changed: the host schedules a repaint.
    std::function<void()> OnInvalidate;
    // TickWanted() changed.
    std::function<void(bool wanted)> OnTickWanted;
    // setKind swapped Width and Height: the host resizes itself.
    std::function<void(int width, int height)> OnBoundsChange;

protected:
    void Invalidate()
    {
        mRedraw = true;
        if (OnInvalidate) OnInvalidate();
    }

private:
    int64_t spotOf(int64_t g)
    {
        if (!mSpotTable || !mSpotTable->Fits(mSensitivy, mNumSpots, mLogAmp))
            mSpotTable = mmlevel::TSpotTable::For(mSensitivy, mNumSpots, mLogAmp);
        return mSpotTable->Spot(g);
    }
    void setColorOf(TColor& slot, TColor c);
    void calcBlockBytes();
    void calcDrawArea();
    void resetDecay();
    void tickStateChanged(bool before);
    void drawSpot(TMMDIBCanvas& dib, int i, TColor c, bool doted) const;
    void drawLevel(const TMMRect* area);
    int32_t analyse(const void* data) const;
    void updateFromPeak(int32_t peak);
    void updateFromDetector(const void* data);
    void configureDetector();

    // properties
    bool mEnabled = true;
    bool mVisible = true;
    TMMLevelKind mKind = lkHorizontal;
    TMMLevelDirection mDirection = dirNormal;
    int mSpotWidth = 1, mSpotSpace = 1;
    int mPoint1 = 50, mPoint2 = 85;
    TColor mBar[3] = {clAqua, clAqua, clRed};
    TColor mInactive[3] = {clTeal, clTeal, clMaroon};
    bool mActiveDoted = false, mInactiveDoted = false;
    TColor mColor = clBlack;
    TMMBits mBitLength = b8Bit;
    int mMode = mMono;
    TMMChannel mChannel = chBoth;
    int mSamples = 50;
    int mGain = 0, mGainScale = 8;
    int mSensitivy = -35;
    bool mLogAmp = true;
    std::shared_ptr<const mmlevel::TSpotTable> mSpotTable;  // of the geometry in use, taken when a level needs it
    TMMDecayMode mDecayMode = dmNone;
    int mDecay = 1;
    int mNumPeaks = 1, mPeakDelay = 20, mPeakSpeed = 0;
    int mDCOffsetL = 0, mDCOffsetR = 0;
    int mWidth = 200, mHeight = 17;
    TMMBevel mBevel;
    TMMLevelDrawBar mOnDrawBar;

    // metering state
    int mMeterStandard = 0;
    bool mRef[3] = {false, false, false};
    bool mIntegralOn = false;
    int mIntegralLength = 1, mIntegralFill = 0;
    int32_t mIntegralWindow[mmlevel::IntegralWindowSize] = {};
    int32_t mLastAverage = 0;  // "the r or the average computed last"
    bool mLeaveMaxPeak = false;
    int mCurrentLevel = 0;
    int mLastBlockPeak = 0;
    int mSilenceHeld = 0;
    int mScrapeHeld = 0;
    int mBlockBytes = 50;
    int mSampleRate = 48000;
    std::unique_ptr<TMMBallistics> mDetector;

    // geometry and bar
    int mDrawWidth = 1, mDrawHeight = 1;
    int mNumSpots = 1, mSpotOffset = 0, mZone1Spots = 0, mZone2Spots = 0;
    int mBarSpots = 0, mPeakSpot = 0, mPeakCounter = 0;
    bool mPeakChanged = false;
    int mDrawnBar = -1, mDrawnPeak = -1;  // state of the last DrawLevel
    bool mRedraw = true;                  // invalidated by anything but the bar and peak

    // decay
    float mDecayFactor = 0.0001f;
    int mDecayLength = 1;
    float mDecayValue = 0.0f;
    int32_t mDecayRing[mmlevel::DecayRingSize] = {};
    int mDecayPos = 0, mDecayCount = 0;
    int64_t mDecaySum = 0;

    TMMDIBCanvas mWork{"TMMLevel"};
    TMMDIBCanvas mBack{"TMMLevel"};
};
