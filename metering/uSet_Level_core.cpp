#include "metering/uSet_Level_core.h"

#include <algorithm>

namespace {

const int kTop[ColorGroupCount] = {1, 7, 10, 13};
const int kMiddle[ColorGroupCount] = {2, 6, 9, 12};
const int kBottom[ColorGroupCount] = {3, 5, 8, 11};

}  // namespace

int TopColorButton(int group) { return kTop[ClampInt(group, 0, ColorGroupCount - 1)]; }
int MiddleColorButton(int group) { return kMiddle[ClampInt(group, 0, ColorGroupCount - 1)]; }
int BottomColorButton(int group) { return kBottom[ClampInt(group, 0, ColorGroupCount - 1)]; }

// Nested handlers (the preset routine sets spins, which run their own
// handlers) report one change to the view, when the outermost one ends.
class TSetLevelCore::Batch {
public:
    explicit Batch(TSetLevelCore& c) : mCore(c) { ++mCore.mDepth; }
    ~Batch()
    {
        if (--mCore.mDepth == 0) mCore.Changed();
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    TSetLevelCore& mCore;
};

TSetLevelCore::TSetLevelCore(TMMMeterWindow* window, TSettingsAccess* store, TSetLevelView* view)
    : mWindow(window), mStore(store), mView(view)
{
    for (int g = 0; g < ColorGroupCount; ++g) {
        mColors[TopColorButton(g)] = clRed;
        mColors[MiddleColorButton(g)] = clYellow;
        mColors[BottomColorButton(g)] = clLime;
    }
    mColors[0] = clBlack;
    mColors[LabelColorButton] = clCream;
    // Consistent with the -40 dBFS shown from the start.
    mThresholdAmplitude = SilenceThresholdAmplitude(mThresholdDb);
}

TMMCustomLevel* TSetLevelCore::bar(int n) const { return mWindow ? mWindow->Level(n) : nullptr; }

template <class F> void TSetLevelCore::ForEachBar(F f) const
{
    for (int n = 1; n <= tv::kStrips; ++n)
        if (TMMCustomLevel* l = bar(n)) f(*l, n);
}

void TSetLevelCore::Changed()
{
    if (mDepth > 0) return;
    if (mView) mView->ControlsChanged();
    if (OnChange) OnChange();
}

// ---------------------------------------------------------------- standard

void TSetLevelCore::setMeterItem(int k)
{
    k = ClampPresetIndex(k);
    if (k == mMeterItem) return;
    ApplyMeterItem(k);
}

void TSetLevelCore::ApplyMeterItem(int k)
{
    mMeterItem = ClampPresetIndex(k);
    RunPreset();
}

void TSetLevelCore::RestoreLayout(bool full)
{
    const int height = std::max(0, mWindow->LabelTop() - 15);
    for (int n = 1; n <= tv::kStrips; ++n) {
        mWindow->SetLevelTop(n, 11);
        if (!full) continue;
        mWindow->SetScaleTop(n, 12);
        mWindow->SetStripHeight(n, height);
        mWindow->SetScaleVisible(n, false);
        mWindow->SetPictureVisible(n, true);
    }
}

void TSetLevelCore::RunPreset()
{
    Batch batch(*this);
    const TMMPreset& p = PresetOf(mMeterItem);
    const bool widget = p.Scale == spScaleWidget;

    mScaleOutfitVisible = false;
    mPreviewPictureVisible = true;
    mReferenceEnabled = true;

    // The layout is restored in full only when the standard in force until
    // now may have changed it (any code above DIN).
    if (mWindow) {
        TMMCustomLevel* first = mWindow->Level(1);
        RestoreLayout(first && first->MeterStandard() > 1);
    }

    setOlTop(mStore ? mStore->ReadInt(p.TopName, p.TopDefault) : p.TopDefault);
    setOlBottom(mStore ? mStore->ReadInt(p.BottomName, p.BottomDefault) : p.BottomDefault);

    ForEachBar([&](TMMCustomLevel& l, int) {
        l.setMeterStandard(p.MeterStandard);
        l.setSensitivy(p.Sensitivy);
        l.setPoint2(mOlTop);
        l.setPoint1(mOlBottom);
    });
    if (mWindow) {
        for (int n = 1; n <= tv::kStrips; ++n) {
            if (widget) {
                mWindow->SetScaleSensitivy(n, ScaleWidgetSensitivy);
                mWindow->SetPictureVisible(n, false);
                mWindow->SetScaleVisible(n, true);
            } else {
                mWindow->DrawPicture(n, p.Scale);
            }
        }
    }
    if (widget) {
        mPreviewPictureVisible = false;
        mScaleOutfitVisible = true;
        if (mMeterItem == PresetPeakDBFS) mReferenceEnabled = false;
    } else if (mView) {
        mView->DrawPreviewPicture(p.Scale);
    }

    if (mWindow) {
        mWindow->SetCaption(p.Caption);
        // The steps above show every strip's scale; keep the stereo layout.
        if (mStereoItem == 1) HideEvenScales();
    }

    RecomputeThreshold();
    PreviewLimits();
}

void TSetLevelCore::setIntegralItem(int k)
{
    k = ClampInt(k, 0, IntegralCount - 1);
    if (k == mIntegralItem) return;
    ApplyIntegralItem(k);
}

void TSetLevelCore::ApplyIntegralItem(int k)
{
    Batch batch(*this);
    mIntegralItem = ClampInt(k, 0, IntegralCount - 1);
    const int length = IntegralLengthOf(mIntegralItem);
    ForEachBar([&](TMMCustomLevel& l, int) {
        l.setIntegralOn(mIntegralItem != 0);
        if (mIntegralItem != 0) l.setIntegralLength(length);  // "none" keeps the length
    });
}

void TSetLevelCore::setReferenceItem(int k)
{
    k = ClampInt(k, 0, ReferenceCount - 1);
    if (k == mReferenceItem) return;
    ApplyReferenceItem(k);
}

void TSetLevelCore::ApplyReferenceItem(int k)
{
    Batch batch(*this);
    mReferenceItem = ClampInt(k, 0, ReferenceCount - 1);
    const TMMRefFlags f = ReferenceFlagsOf(mReferenceItem);
    ForEachBar([&](TMMCustomLevel& l, int) {
        l.setRefMinus18(f.Minus18);
        l.setRefMinus20(f.Minus20);
        l.setRefMinus24(f.Minus24);
    });
    RunPreset();
}

void TSetLevelCore::setStereoItem(int k)
{
    k = ClampInt(k, 0, 1);
    if (k == mStereoItem) return;
    ApplyStereoItem(k);
}

void TSetLevelCore::ApplyStereoItem(int k)
{
    Batch batch(*this);
    mStereoItem = ClampInt(k, 0, 1);
    if (!mWindow) return;
    if (mStereoItem == 0)
        ShowEvenScales();
    else
        HideEvenScales();
}

// Each even strip shows the kind of scale the standard uses.
void TSetLevelCore::ShowEvenScales()
{
    const bool widget = PresetOf(mMeterItem).Scale == spScaleWidget;
    for (int n = 2; n <= tv::kStrips; n += 2) {
        mWindow->SetPictureVisible(n, !widget);
        mWindow->SetScaleVisible(n, widget);
    }
}

void TSetLevelCore::HideEvenScales()
{
    for (int n = 2; n <= tv::kStrips; n += 2) {
        mWindow->SetPictureVisible(n, false);
        mWindow->SetScaleVisible(n, false);
    }
}

// ------------------------------------------------------- limits and preview

void TSetLevelCore::PreviewLimits()
{
    if (!mView) return;
    mView->SetPreviewPoint2(mOlTop);
    mView->SetPreviewPoint1(mOlBottom);
    mView->SetPreviewValue(100);
}

void TSetLevelCore::setOlTop(int v)
{
    v = ClampInt(v, 1, 100);
    if (v == mOlTop) return;
    Batch batch(*this);
    mOlTop = v;
    PreviewLimits();
}

void TSetLevelCore::setOlBottom(int v)
{
    v = ClampInt(v, 1, 100);
    if (v == mOlBottom) return;
    Batch batch(*this);
    mOlBottom = v;
    PreviewLimits();
}

void TSetLevelCore::setPeaks(int v)
{
    v = ClampInt(v, 0, 5);
    if (v == mPeaks) return;
    Batch batch(*this);
    mPeaks = v;
    ForEachBar([&](TMMCustomLevel& l, int) { l.setNumPeaks(v); });
}

void TSetLevelCore::setSpotSpace(int v)
{
    v = ClampInt(v, 0, 2);
    if (v == mSpotSpace) return;
    Batch batch(*this);
    mSpotSpace = v;
    ForEachBar([&](TMMCustomLevel& l, int) { l.setSpotSpace(v); });
}

void TSetLevelCore::setDecay(int v)
{
    v = ClampInt(v, 5, 16);
    if (v == mDecay) return;
    Batch batch(*this);
    mDecay = v;
    ForEachBar([&](TMMCustomLevel& l, int) { l.setDecay(v); });
}

void TSetLevelCore::setLeaveMaxPeak(bool on)
{
    if (on == mLeaveMaxPeak) return;
    ApplyLeaveMaxPeak(on);
}

void TSetLevelCore::ApplyLeaveMaxPeak(bool on)
{
    Batch batch(*this);
    mLeaveMaxPeak = on;
    ForEachBar([&](TMMCustomLevel& l, int) { l.setLeaveMaxPeak(on); });
}

void TSetLevelCore::setBallisticsItem(int k)
{
    if (k == mBallisticsItem) return;
    ApplyBallisticsItem(k);
}

void TSetLevelCore::ApplyBallisticsItem(int k)
{
    Batch batch(*this);
    mBallisticsItem = k == bmStandard ? bmStandard : bmAsPreset;
    const auto mode = static_cast<TMMBallisticsMode>(mBallisticsItem);
    ForEachBar([&](TMMCustomLevel& l, int) { l.setBallistics(mode); });
}

TColor TSetLevelCore::Color(int button) const
{
    return button >= 1 && button <= ColorButtonCount ? mColors[button] : clBlack;
}

void TSetLevelCore::setColor(int button, TColor c)
{
    if (button < 1 || button > ColorButtonCount || mColors[button] == c) return;
    Batch batch(*this);
    mColors[button] = c;
    if (button == LabelColorButton) {
        if (mView) mView->SetPreviewLabelColor(c);
    } else {
        PreviewColors();
    }
}

// The preview bar shows the colours of the group "Levels 1-4".
void TSetLevelCore::PreviewColors()
{
    if (!mView) return;
    mView->SetPreviewColor(3, mColors[TopColorButton(0)]);
    mView->SetPreviewColor(2, mColors[MiddleColorButton(0)]);
    mView->SetPreviewColor(1, mColors[BottomColorButton(0)]);
}

void TSetLevelCore::Preview()
{
    if (!mWindow) return;
    Batch batch(*this);
    for (int n = 1; n <= tv::kStrips; ++n) {
        if (TMMCustomLevel* l = bar(n)) {
            const int g = ColorGroupOfBar(n);
            l->setDecay(mDecay);
            l->setNumPeaks(mPeaks);
            l->setBar1Color(mColors[BottomColorButton(g)]);
            l->setBar2Color(mColors[MiddleColorButton(g)]);
            l->setBar3Color(mColors[TopColorButton(g)]);
            l->setPoint1(mOlBottom);
            l->setPoint2(mOlTop);
        }
        mWindow->SetLabelColor(n, mColors[LabelColorButton]);
    }
}

void TSetLevelCore::SaveLimits()
{
    if (!mStore) return;
    const TMMPreset& p = PresetOf(mMeterItem);
    mStore->WriteInt(p.TopWriteName, mOlTop);
    mStore->WriteInt(p.BottomWriteName, mOlBottom);
}

void TSetLevelCore::setStayOnTop(bool on)
{
    if (on == mStayOnTop) return;
    Batch batch(*this);
    mStayOnTop = on;
    if (mWindow) mWindow->SetStayOnTop(on);
}

// ---------------------------------------------------------- silence detector

void TSetLevelCore::setDetect(bool on)
{
    if (on == mDetect) return;
    Batch batch(*this);
    mDetect = on;
    if (mWindow) mWindow->SetSilenceCheck(on);
}

void TSetLevelCore::setThresholdDb(int dbfs)
{
    dbfs = ClampInt(dbfs, ThresholdDbMin, ThresholdDbMax);
    if (dbfs == mThresholdDb) return;
    Batch batch(*this);
    mThresholdDb = dbfs;
    RecomputeThreshold();
}

// The amplitude always follows the dBFS value; writing it only triggers
// the conversion again.
void TSetLevelCore::setThresholdAmplitude(int v)
{
    v = ClampInt(v, 0, 32768);
    if (v == mThresholdAmplitude) return;
    Batch batch(*this);
    mThresholdAmplitude = v;
    RecomputeThreshold();
}

void TSetLevelCore::RecomputeThreshold()
{
    const int a = SilenceThresholdAmplitude(mThresholdDb);
    if (a == mThresholdAmplitude) return;
    Batch batch(*this);
    mThresholdAmplitude = a;
}

void TSetLevelCore::setAlarmSeconds(int v)
{
    v = ClampInt(v, 1, 32768);
    if (v == mAlarmSeconds) return;
    Batch batch(*this);
    mAlarmSeconds = v;
}

void TSetLevelCore::setPlaySound(bool on)
{
    if (on == mPlaySound) return;
    Batch batch(*this);
    mPlaySound = on;
}

void TSetLevelCore::setRepeatSeconds(int v)
{
    v = ClampInt(v, 1, 60);
    if (v == mRepeatSeconds) return;
    Batch batch(*this);
    mRepeatSeconds = v;
}

void TSetLevelCore::setAlarmFile(const std::string& path)
{
    if (path == mAlarmFile) return;
    Batch batch(*this);
    mAlarmFile = path;
}

// ------------------------------------------------------------- showing

bool TSetLevelCore::ShowsScaleOutfit(int item)
{
    return PresetOf(item).Scale == spScaleWidget;
}

void TSetLevelCore::Showing()
{
    Batch batch(*this);
    if (mView) mView->SetPreviewValue(100);
    mScaleOutfitVisible = false;
    if (TMMCustomLevel* first = bar(1)) {
        setDecay(first->Decay());
        setPeaks(first->NumPeaks());
    }
    for (int g = 0; g < ColorGroupCount; ++g) {
        if (TMMCustomLevel* l = bar(ColorGroupSourceBar(g))) {
            setColor(BottomColorButton(g), l->Bar1Color());
            setColor(MiddleColorButton(g), l->Bar2Color());
            setColor(TopColorButton(g), l->Bar3Color());
        }
    }
    if (TMMCustomLevel* first = bar(1)) {
        setOlBottom(first->Point1());
        setOlTop(first->Point2());
    }
    if (mWindow) setColor(LabelColorButton, mWindow->LabelColor(1));
}

void TSetLevelCore::FinishShowing()
{
    Batch batch(*this);
    if (ShowsScaleOutfit(mMeterItem)) mScaleOutfitVisible = true;
}
