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
    bool Enabled() const { return fEnabled; }
    void setEnabled(bool v);
    TMMLevelKind Kind() const { return fKind; }
    void setKind(TMMLevelKind v);
    TMMLevelDirection Direction() const { return fDirection; }
    void setDirection(TMMLevelDirection v);
    int SpotWidth() const { return fSpotWidth; }
    void setSpotWidth(int v);
    int SpotSpace() const { return fSpotSpace; }
    void setSpotSpace(int v);
    int Point1() const { return fPoint1; }
    void setPoint1(int v);
    int Point2() const { return fPoint2; }
    void setPoint2(int v);
    TColor Bar1Color() const { return fBar[0]; }
    void setBar1Color(TColor c) { setColorOf(fBar[0], c); }
    TColor Bar2Color() const { return fBar[1]; }
    void setBar2Color(TColor c) { setColorOf(fBar[1], c); }
    TColor Bar3Color() const { return fBar[2]; }
    void setBar3Color(TColor c) { setColorOf(fBar[2], c); }
    TColor Inactive1Color() const { return fInactive[0]; }
    void setInactive1Color(TColor c) { setColorOf(fInactive[0], c); }
    TColor Inactive2Color() const { return fInactive[1]; }
    void setInactive2Color(TColor c) { setColorOf(fInactive[1], c); }
    TColor Inactive3Color() const { return fInactive[2]; }
    void setInactive3Color(TColor c) { setColorOf(fInactive[2], c); }
    bool ActiveDoted() const { return fActiveDoted; }
    void setActiveDoted(bool v);
    bool InactiveDoted() const { return fInactiveDoted; }
    void setInactiveDoted(bool v);
    TColor Color() const { return fColor; }
    void setColor(TColor c) { setColorOf(fColor, c); }
    TMMBits BitLength() const { return fBitLength; }
    void setBitLength(TMMBits v);
    // 0 mono, 1 stereo, 2 multichannel; 3 for four-channel streams.
    int Mode() const { return fMode; }
    void setMode(int v);
    TMMChannel Channel() const { return fChannel; }
    void setChannel(TMMChannel v);
    int Samples() const { return fSamples; }
    void setSamples(int v);  // 1 .. 1048576
    int Gain() const { return fGain; }
    void setGain(int v);  // ignored outside -8 .. 32
    int Sensitivy() const { return fSensitivy; }
    void setSensitivy(int v);
    bool LogAmp() const { return fLogAmp; }
    void setLogAmp(bool v);
    TMMDecayMode DecayMode() const { return fDecayMode; }
    void setDecayMode(TMMDecayMode v);
    int Decay() const { return fDecay; }
    void setDecay(int v);
    int NumPeaks() const { return fNumPeaks; }
    void setNumPeaks(int v);
    int PeakDelay() const { return fPeakDelay; }
    void setPeakDelay(int v);
    int PeakSpeed() const { return fPeakSpeed; }
    void setPeakSpeed(int v);
    int DCOffsetL() const { return fDCOffsetL; }
    void setDCOffsetL(int v);  // limited to +-65535
    int DCOffsetR() const { return fDCOffsetR; }
    void setDCOffsetR(int v);
    int Value() const;
    void setValue(int v);
    int Width() const { return fWidth; }
    int Height() const { return fHeight; }
    void SetBounds(int width, int height);
    const TMMBevel& Bevel() const { return fBevel; }
    void setBevel(const TMMBevel& b);
    // Depth of both bitmaps: 8 or 24, anything else raises EMMDIBError.
    int BitDepth() const { return fWork.BitCount(); }
    void setBitDepth(int bits);

    // ---- metering state set by the presets -------------------------------
    int MeterStandard() const { return fMeterStandard; }
    void setMeterStandard(int v);  // 0 .. 7 (other values draw no curve)
    bool RefMinus18() const { return fRef[0]; }
    void setRefMinus18(bool v) { fRef[0] = v; }
    bool RefMinus20() const { return fRef[1]; }
    void setRefMinus20(bool v) { fRef[1] = v; }
    bool RefMinus24() const { return fRef[2]; }
    void setRefMinus24(bool v) { fRef[2] = v; }
    bool IntegralOn() const { return fIntegralOn; }
    void setIntegralOn(bool v) { fIntegralOn = v; }
    int IntegralLength() const { return fIntegralLength; }
    void setIntegralLength(int v);  // 1 .. 300 blocks
    int IntegralFill() const { return fIntegralFill; }
    // bmStandard: a per-sample detector of the standard's instrument
    // (metering/MMBallistics) replaces the block peak, the integration and
    // the decay; reference scaling, display curve and geometry stay.
    TMMBallisticsMode Ballistics() const { return mDetector ? bmStandard : bmAsPreset; }
    void setBallistics(TMMBallisticsMode v);
    // The detector in use, or null under bmAsPreset.
    const TMMBallistics* Detector() const { return mDetector.get(); }
    bool LeaveMaxPeak() const { return fLeaveMaxPeak; }
    void setLeaveMaxPeak(bool v) { fLeaveMaxPeak = v; }
    // The host's visibility; nothing is analysed while hidden.
    bool Visible() const { return fVisible; }
    void setVisible(bool v);

    // ---- operations of the connector --------------------------------------
    // Raises EMMLevelError "Invalid WaveFormat" for anything IsValidPcmFormat refuses.
    void SetWaveFormat(const WaveFormat* format);
    int BlockBytes() const { return fBlockBytes; }
    // Analyses `Samples` frames at data; BlockBytes() bytes must be readable.
    void ProcessBlock(const void* data);
    void ResetData();
    // Amplitude handed to the last update step (units of MaxValue).
    int CurrentLevel() const { return fCurrentLevel; }
    // Peak of the last analysed block, before reference scaling.
    int LastBlockPeak() const { return fLastBlockPeak; }

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
    bool DrawNeeded() const { return fRedraw || fBarSpots != fDrawnBar || fPeakSpot != fDrawnPeak; }
    // True when something other than the bar and peak (a property, the size)
    // was invalidated since the last DrawLevel.
    bool PropertiesChanged() const { return fRedraw; }
    const TMMDIBCanvas& WorkCanvas() const { return fWork; }
    const TMMDIBCanvas& BackCanvas() const { return fBack; }
    // Rectangle of segment i (1 .. NumSpots) in the drawing area.
    TMMRect SpotRect(int i) const;
    // Zone colour index (1, 2, 3) of segment i.
    int ZoneOf(int i) const;

    int DrawWidth() const { return fDrawWidth; }
    int DrawHeight() const { return fDrawHeight; }
    int NumSpots() const { return fNumSpots; }
    int SpotOffset() const { return fSpotOffset; }
    int Zone1Spots() const { return fZone1Spots; }
    int Zone2Spots() const { return fZone2Spots; }
    int BarSpots() const { return fBarSpots; }
    int PeakSpot() const { return fPeakSpot; }
    int PeakCounter() const { return fPeakCounter; }
    bool PeakChanged() const { return fPeakChanged; }
    int GainScale() const { return fGainScale; }
    float DecayFactor() const { return fDecayFactor; }
    int DecayLength() const { return fDecayLength; }
    float DecayValue() const { return fDecayValue; }
    // True while the peak tick should run (NumPeaks > 0 and Enabled).
    bool TickWanted() const { return fEnabled && fNumPeaks > 0; }

    // ---- events ------------------------------------------------------------
    TMMLevelNotify OnPaint;
    TMMLevelNotify OnPcmOverflow;
    TMMLevelNotify OnGainOverflow;
    const TMMLevelDrawBar& OnDrawBar() const { return fOnDrawBar; }
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
        fRedraw = true;
        if (OnInvalidate) OnInvalidate();
    }

private:
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
    bool fEnabled = true;
    bool fVisible = true;
    TMMLevelKind fKind = lkHorizontal;
    TMMLevelDirection fDirection = dirNormal;
    int fSpotWidth = 1, fSpotSpace = 1;
    int fPoint1 = 50, fPoint2 = 85;
    TColor fBar[3] = {clAqua, clAqua, clRed};
    TColor fInactive[3] = {clTeal, clTeal, clMaroon};
    bool fActiveDoted = false, fInactiveDoted = false;
    TColor fColor = clBlack;
    TMMBits fBitLength = b8Bit;
    int fMode = mMono;
    TMMChannel fChannel = chBoth;
    int fSamples = 50;
    int fGain = 0, fGainScale = 8;
    int fSensitivy = -35;
    bool fLogAmp = true;
    TMMDecayMode fDecayMode = dmNone;
    int fDecay = 1;
    int fNumPeaks = 1, fPeakDelay = 20, fPeakSpeed = 0;
    int fDCOffsetL = 0, fDCOffsetR = 0;
    int fWidth = 200, fHeight = 17;
    TMMBevel fBevel;
    TMMLevelDrawBar fOnDrawBar;

    // metering state
    int fMeterStandard = 0;
    bool fRef[3] = {false, false, false};
    bool fIntegralOn = false;
    int fIntegralLength = 1, fIntegralFill = 0;
    int32_t fIntegralWindow[mmlevel::IntegralWindowSize] = {};
    int32_t fLastAverage = 0;  // "the r or the average computed last"
    bool fLeaveMaxPeak = false;
    int fCurrentLevel = 0;
    int fLastBlockPeak = 0;
    int fBlockBytes = 50;
    int mSampleRate = 48000;
    std::unique_ptr<TMMBallistics> mDetector;

    // geometry and bar
    int fDrawWidth = 1, fDrawHeight = 1;
    int fNumSpots = 1, fSpotOffset = 0, fZone1Spots = 0, fZone2Spots = 0;
    int fBarSpots = 0, fPeakSpot = 0, fPeakCounter = 0;
    bool fPeakChanged = false;
    int fDrawnBar = -1, fDrawnPeak = -1;  // state of the last DrawLevel
    bool fRedraw = true;                  // invalidated by anything but the bar and peak

    // decay
    float fDecayFactor = 0.0001f;
    int fDecayLength = 1;
    float fDecayValue = 0.0f;
    int32_t fDecayRing[mmlevel::DecayRingSize] = {};
    int fDecayPos = 0, fDecayCount = 0;
    int64_t fDecaySum = 0;

    TMMDIBCanvas fWork{"TMMLevel"};
    TMMDIBCanvas fBack{"TMMLevel"};
};
