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
    explicit Batch(TSetLevelCore& c) : c_(c) { ++c_.depth_; }
    ~Batch()
    {
        if (--c_.depth_ == 0) c_.Changed();
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    TSetLevelCore& c_;
};

TSetLevelCore::TSetLevelCore(TMMMeterWindow* window, TMMSettingsAccess* store, TSetLevelView* view)
    : window_(window), store_(store), view_(view)
{
    for (int g = 0; g < ColorGroupCount; ++g) {
        colors_[TopColorButton(g)] = clRed;
        colors_[MiddleColorButton(g)] = clYellow;
        colors_[BottomColorButton(g)] = clLime;
    }
    colors_[0] = clBlack;
    colors_[LabelColorButton] = clCream;
    // Consistent with the -40 dBFS shown from the start.
    thresholdAmplitude_ = SilenceThresholdAmplitude(thresholdDb_);
}

TMMPresetLevel* TSetLevelCore::bar(int n) const { return window_ ? window_->Level(n) : nullptr; }

template <class F> void TSetLevelCore::ForEachBar(F f) const
{
    for (int n = 1; n <= StripCount; ++n)
        if (TMMPresetLevel* l = bar(n)) f(*l, n);
}

void TSetLevelCore::Changed()
{
    if (depth_ > 0) return;
    if (view_) view_->ControlsChanged();
    if (OnChange) OnChange();
}

// ---------------------------------------------------------------- standard

void TSetLevelCore::setMeterItem(int k)
{
    k = ClampPresetIndex(k);
    if (k == meter_) return;
    ApplyMeterItem(k);
}

void TSetLevelCore::ApplyMeterItem(int k)
{
    meter_ = ClampPresetIndex(k);
    RunPreset();
}

void TSetLevelCore::RestoreLayout(bool full)
{
    const int height = std::max(0, window_->LabelTop() - 15);
    for (int n = 1; n <= StripCount; ++n) {
        window_->SetLevelTop(n, 11);
        if (!full) continue;
        window_->SetScaleTop(n, 12);
        window_->SetStripHeight(n, height);
        window_->SetScaleVisible(n, false);
        window_->SetPictureVisible(n, true);
    }
}

void TSetLevelCore::RunPreset()
{
    Batch batch(*this);
    const TMMPreset& p = PresetOf(meter_);
    const bool widget = p.Scale == spScaleWidget;

    scaleOutfitVisible_ = false;
    previewPictureVisible_ = true;
    referenceEnabled_ = true;

    // The layout is restored in full only when the standard in force until
    // now may have changed it (any code above DIN).
    if (window_) {
        TMMPresetLevel* first = window_->Level(1);
        RestoreLayout(first && first->MeterStandard() > 1);
    }

    setOlTop(store_ ? store_->ReadInt(p.TopName, p.TopDefault) : p.TopDefault);
    setOlButton(store_ ? store_->ReadInt(p.BottomName, p.BottomDefault) : p.BottomDefault);

    ForEachBar([&](TMMPresetLevel& l, int) {
        l.setMeterStandard(p.MeterStandard);
        l.setSensitivy(p.Sensitivy);
        l.setPoint2(olTop_);
        l.setPoint1(olButton_);
    });
    if (window_) {
        for (int n = 1; n <= StripCount; ++n) {
            if (widget) {
                window_->SetScaleSensitivy(n, ScaleWidgetSensitivy);
                window_->SetPictureVisible(n, false);
                window_->SetScaleVisible(n, true);
            } else {
                window_->DrawPicture(n, p.Scale);
            }
        }
    }
    if (widget) {
        previewPictureVisible_ = false;
        scaleOutfitVisible_ = true;
        if (meter_ == PresetPeakDBFS) referenceEnabled_ = false;
    } else if (view_) {
        view_->DrawPreviewPicture(p.Scale);
    }

    if (window_) {
        window_->SetCaption(p.Caption);
        // The steps above show every strip's scale; keep the stereo layout.
        if (stereo_ == 1) HideEvenScales();
    }

    RecomputeThreshold();
    PreviewLimits();
}

void TSetLevelCore::setIntegralItem(int k)
{
    k = ClampInt(k, 0, IntegralCount - 1);
    if (k == integral_) return;
    ApplyIntegralItem(k);
}

void TSetLevelCore::ApplyIntegralItem(int k)
{
    Batch batch(*this);
    integral_ = ClampInt(k, 0, IntegralCount - 1);
    const int length = IntegralLengthOf(integral_);
    ForEachBar([&](TMMPresetLevel& l, int) {
        l.setIntegralOn(integral_ != 0);
        if (integral_ != 0) l.setIntegralLength(length);  // "none" keeps the length
    });
}

void TSetLevelCore::setReferenceItem(int k)
{
    k = ClampInt(k, 0, ReferenceCount - 1);
    if (k == reference_) return;
    ApplyReferenceItem(k);
}

void TSetLevelCore::ApplyReferenceItem(int k)
{
    Batch batch(*this);
    reference_ = ClampInt(k, 0, ReferenceCount - 1);
    const TMMRefFlags f = ReferenceFlagsOf(reference_);
    ForEachBar([&](TMMPresetLevel& l, int) {
        l.setRefMinus18(f.Minus18);
        l.setRefMinus20(f.Minus20);
        l.setRefMinus24(f.Minus24);
    });
    RunPreset();
}

void TSetLevelCore::setStereoItem(int k)
{
    k = ClampInt(k, 0, 1);
    if (k == stereo_) return;
    ApplyStereoItem(k);
}

void TSetLevelCore::ApplyStereoItem(int k)
{
    Batch batch(*this);
    stereo_ = ClampInt(k, 0, 1);
    if (!window_) return;
    if (stereo_ == 0)
        ShowEvenScales();
    else
        HideEvenScales();
}

// Each even strip shows the kind of scale the standard uses.
void TSetLevelCore::ShowEvenScales()
{
    const bool widget = PresetOf(meter_).Scale == spScaleWidget;
    for (int n = 2; n <= StripCount; n += 2) {
        window_->SetPictureVisible(n, !widget);
        window_->SetScaleVisible(n, widget);
    }
}

void TSetLevelCore::HideEvenScales()
{
    for (int n = 2; n <= StripCount; n += 2) {
        window_->SetPictureVisible(n, false);
        window_->SetScaleVisible(n, false);
    }
}

// ------------------------------------------------------- limits and preview

void TSetLevelCore::PreviewLimits()
{
    if (!view_) return;
    view_->SetPreviewPoint2(olTop_);
    view_->SetPreviewPoint1(olButton_);
    view_->SetPreviewValue(100);
}

void TSetLevelCore::setOlTop(int v)
{
    v = ClampInt(v, 1, 100);
    if (v == olTop_) return;
    Batch batch(*this);
    olTop_ = v;
    PreviewLimits();
}

void TSetLevelCore::setOlButton(int v)
{
    v = ClampInt(v, 1, 100);
    if (v == olButton_) return;
    Batch batch(*this);
    olButton_ = v;
    PreviewLimits();
}

void TSetLevelCore::setPeaks(int v)
{
    v = ClampInt(v, 0, 5);
    if (v == peaks_) return;
    Batch batch(*this);
    peaks_ = v;
    ForEachBar([&](TMMPresetLevel& l, int) { l.setNumPeaks(v); });
}

void TSetLevelCore::setSpotSpace(int v)
{
    v = ClampInt(v, 0, 2);
    if (v == spotSpace_) return;
    Batch batch(*this);
    spotSpace_ = v;
    ForEachBar([&](TMMPresetLevel& l, int) { l.setSpotSpace(v); });
}

void TSetLevelCore::setDecay(int v)
{
    v = ClampInt(v, 5, 16);
    if (v == decay_) return;
    Batch batch(*this);
    decay_ = v;
    ForEachBar([&](TMMPresetLevel& l, int) { l.setDecay(v); });
}

void TSetLevelCore::setLeaveMaxPeak(bool on)
{
    if (on == leaveMaxPeak_) return;
    ApplyLeaveMaxPeak(on);
}

void TSetLevelCore::ApplyLeaveMaxPeak(bool on)
{
    Batch batch(*this);
    leaveMaxPeak_ = on;
    ForEachBar([&](TMMPresetLevel& l, int) { l.setLeaveMaxPeak(on); });
}

TColor TSetLevelCore::Color(int button) const
{
    return button >= 1 && button <= ColorButtonCount ? colors_[button] : clBlack;
}

void TSetLevelCore::setColor(int button, TColor c)
{
    if (button < 1 || button > ColorButtonCount || colors_[button] == c) return;
    Batch batch(*this);
    colors_[button] = c;
    if (button == LabelColorButton) {
        if (view_) view_->SetPreviewLabelColor(c);
    } else {
        PreviewColors();
    }
}

// The preview bar shows the colours of the group "Levels 1-4".
void TSetLevelCore::PreviewColors()
{
    if (!view_) return;
    view_->SetPreviewColor(3, colors_[TopColorButton(0)]);
    view_->SetPreviewColor(2, colors_[MiddleColorButton(0)]);
    view_->SetPreviewColor(1, colors_[BottomColorButton(0)]);
}

void TSetLevelCore::Preview()
{
    if (!window_) return;
    Batch batch(*this);
    for (int n = 1; n <= StripCount; ++n) {
        if (TMMPresetLevel* l = bar(n)) {
            const int g = ColorGroupOfBar(n);
            l->setDecay(decay_);
            l->setNumPeaks(peaks_);
            l->setBar1Color(colors_[BottomColorButton(g)]);
            l->setBar2Color(colors_[MiddleColorButton(g)]);
            l->setBar3Color(colors_[TopColorButton(g)]);
            l->setPoint1(olButton_);
            l->setPoint2(olTop_);
        }
        window_->SetLabelColor(n, colors_[LabelColorButton]);
    }
}

void TSetLevelCore::SaveLimits()
{
    if (!store_) return;
    const TMMPreset& p = PresetOf(meter_);
    store_->WriteInt(p.TopWriteName, olTop_);
    store_->WriteInt(p.BottomWriteName, olButton_);
}

void TSetLevelCore::setStayOnTop(bool on)
{
    if (on == stayOnTop_) return;
    Batch batch(*this);
    stayOnTop_ = on;
    if (window_) window_->SetStayOnTop(on);
}

// ---------------------------------------------------------- silence detector

void TSetLevelCore::setDetect(bool on)
{
    if (on == detect_) return;
    Batch batch(*this);
    detect_ = on;
    if (window_) window_->SetSilenceCheck(on);
}

void TSetLevelCore::setThresholdDb(int dbfs)
{
    dbfs = ClampInt(dbfs, ThresholdDbMin, ThresholdDbMax);
    if (dbfs == thresholdDb_) return;
    Batch batch(*this);
    thresholdDb_ = dbfs;
    RecomputeThreshold();
}

// The amplitude always follows the dBFS value; writing it only triggers
// the conversion again.
void TSetLevelCore::setThresholdAmplitude(int v)
{
    v = ClampInt(v, 0, 32768);
    if (v == thresholdAmplitude_) return;
    Batch batch(*this);
    thresholdAmplitude_ = v;
    RecomputeThreshold();
}

void TSetLevelCore::RecomputeThreshold()
{
    const int a = SilenceThresholdAmplitude(thresholdDb_);
    if (a == thresholdAmplitude_) return;
    Batch batch(*this);
    thresholdAmplitude_ = a;
}

void TSetLevelCore::setAlarmSeconds(int v)
{
    v = ClampInt(v, 1, 32768);
    if (v == alarmSeconds_) return;
    Batch batch(*this);
    alarmSeconds_ = v;
}

void TSetLevelCore::setPlaySound(bool on)
{
    if (on == playSound_) return;
    Batch batch(*this);
    playSound_ = on;
}

void TSetLevelCore::setRepeatSeconds(int v)
{
    v = ClampInt(v, 1, 60);
    if (v == repeatSeconds_) return;
    Batch batch(*this);
    repeatSeconds_ = v;
}

void TSetLevelCore::setAlarmFile(const std::string& path)
{
    if (path == alarmFile_) return;
    Batch batch(*this);
    alarmFile_ = path;
}

// ------------------------------------------------------------- showing

bool TSetLevelCore::ShowsScaleOutfit(int item)
{
    return PresetOf(item).Scale == spScaleWidget;
}

void TSetLevelCore::Showing()
{
    Batch batch(*this);
    if (view_) view_->SetPreviewValue(100);
    scaleOutfitVisible_ = false;
    if (TMMPresetLevel* first = bar(1)) {
        setDecay(first->Decay());
        setPeaks(first->NumPeaks());
    }
    for (int g = 0; g < ColorGroupCount; ++g) {
        if (TMMPresetLevel* l = bar(ColorGroupSourceBar(g))) {
            setColor(BottomColorButton(g), l->Bar1Color());
            setColor(MiddleColorButton(g), l->Bar2Color());
            setColor(TopColorButton(g), l->Bar3Color());
        }
    }
    if (TMMPresetLevel* first = bar(1)) {
        setOlButton(first->Point1());
        setOlTop(first->Point2());
    }
    if (window_) setColor(LabelColorButton, window_->LabelColor(1));
}

void TSetLevelCore::FinishShowing()
{
    Batch batch(*this);
    if (ShowsScaleOutfit(meter_)) scaleOutfitVisible_ = true;
}

// ------------------------------------------------------ restore and save

void TSetLevelCore::RestoreAlarmAndPeaks()
{
    if (!store_) return;
    Batch batch(*this);
    setPeaks(store_->ReadInt("Peaks nr", peaks_));
    setSpotSpace(store_->ReadInt("PSpot Space", spotSpace_));
    setRepeatSeconds(store_->ReadInt("arlam sec", 10));
    setAlarmFile(store_->ReadText("arlam file", std::string()));
    ApplyLeaveMaxPeak(store_->ReadBool("Leave Peaks", leaveMaxPeak_));
}

void TSetLevelCore::RestoreStandard()
{
    Batch batch(*this);
    const int meter = store_ ? store_->ReadInt("rg Mode Din", meter_) : meter_;
    ApplyMeterItem(meter);
    ApplyIntegralItem(store_ ? store_->ReadInt("rg Integral ms", integral_) : integral_);
    ApplyReferenceItem(store_ ? store_->ReadInt("rg Integral", 0) : 0);
}

void TSetLevelCore::RestoreStripMode()
{
    ApplyStereoItem(store_ ? store_->ReadInt("rg Stereo", stereo_) : stereo_);
}

void TSetLevelCore::RestoreDetector()
{
    if (!store_) return;
    Batch batch(*this);
    setThresholdAmplitude(store_->ReadInt("db_value", thresholdAmplitude_));
    setThresholdDb(store_->ReadInt("db_value2", thresholdDb_));
    setAlarmSeconds(store_->ReadInt("sec_value", alarmSeconds_));
    setSpare(store_->ReadInt("nEdit2", spare_));
    setDetect(store_->ReadBool("cb detect", detect_));
}

void TSetLevelCore::Save()
{
    if (!store_) return;
    store_->WriteInt("rg Mode Din", meter_);
    store_->WriteInt("rg Integral ms", integral_);
    store_->WriteInt("rg Integral", reference_);
    store_->WriteInt("rg Stereo", stereo_);
    store_->WriteInt("Peaks nr", peaks_);
    store_->WriteInt("PSpot Space", spotSpace_);
    store_->WriteBool("Leave Peaks", leaveMaxPeak_);
    store_->WriteBool("Stay Top", stayOnTop_);
    store_->WriteInt("db_value", thresholdAmplitude_);
    store_->WriteInt("db_value2", thresholdDb_);
    store_->WriteInt("sec_value", alarmSeconds_);
    store_->WriteInt("nEdit2", spare_);
    store_->WriteBool("cb detect", detect_);
    store_->WriteInt("arlam sec", repeatSeconds_);
    store_->WriteText("arlam file", alarmFile_);
}
