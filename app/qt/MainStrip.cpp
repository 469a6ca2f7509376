#include "app/qt/MainStrip.h"

#include "app/MainLayout.h"
#include "app/StripNames.h"
#include "app/qt/StripPicture.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "widgets/qt/MMLEDLbl.h"

void BuildStripComponents(QWidget* panel, int n)
{
    const TStripValues design = DesignStripValues(n);

    auto* bar = new TMMLevel(panel);
    bar->setObjectName(QString::fromStdString(StripComponentName("Level", n)));
    TMMCustomLevel& c = bar->Core();
    TMMBevel bevel;
    bevel.BevelOuter = bvRaised;
    bevel.BevelOuterWidth = 1;
    c.setBevel(bevel);
    c.setKind(lkVertical);
    bar->setGeometry(0, BarTop, BarWidth, 800);
    c.setBitLength(b16Bit);
    c.setMode(mStereo);
    c.setChannel(n % 2 == 1 ? chLeft : chRight);
    c.setBar1Color(clLime);
    c.setBar2Color(clYellow);
    c.setInactive1Color(clBlack);
    c.setInactive2Color(clBlack);
    c.setInactive3Color(clBlack);
    c.setPoint1(design.Point1);
    c.setPoint2(design.Point2);
    c.setSensitivy(design.Sensitivy);
    c.setDecayMode(dmStepUp);
    c.setDecay(design.Decay);
    c.setPeakSpeed(20);

    auto* picture = new TStripPicture(panel);
    picture->setObjectName(QString("ima_nordic%1").arg(n));
    picture->setGeometry(StripWidth - ScaleImageWidth, BarTop, ScaleImageWidth, 800);

    auto* scale = new TMMLevelScale(panel);
    scale->setObjectName(QString("MMLevelScale%1").arg(n));
    scale->setKind(lkVertical);
    scale->setGeometry(StripWidth - ScaleWidgetWidth, ScaleTop, ScaleWidgetWidth, 800);
    scale->hide();

    auto* label = new TMMLEDLABEL(panel);
    label->setObjectName(QString::fromStdString(StripLabelDesignName(n)));
    TMMBevel lb;
    lb.BevelOuter = bvLowered;
    lb.BevelOuterWidth = 1;
    lb.BorderSpace = 2;
    label->setBevel(lb);
    label->setAlign(alBottom);
    label->setAutoSize(true);
    label->setInactiveColor(clBlack);
    label->setCaption(QString::number(n));
    label->setGeometry(0, 800, StripWidth, LabelHeight);
}

TMMLevelSink* LevelSinkOf(TMMLevel* bar) { return bar ? &bar->Sink() : nullptr; }

TStripValues ReadLevelValues(TMMLevel* bar)
{
    const TMMCustomLevel& c = bar->Core();
    TStripValues v;
    v.Decay = c.Decay();
    v.NumPeaks = c.NumPeaks();
    v.Sensitivy = c.Sensitivy();
    v.Bar1Color = c.Bar1Color();
    v.Bar2Color = c.Bar2Color();
    v.Bar3Color = c.Bar3Color();
    v.Point1 = c.Point1();
    v.Point2 = c.Point2();
    v.PeakDelay = c.PeakDelay();
    v.PeakSpeed = c.PeakSpeed();
    return v;
}

void WriteLevelValues(TMMLevel* bar, const TStripValues& v)
{
    TMMCustomLevel& c = bar->Core();
    c.setPeakDelay(v.PeakDelay);
    c.setPeakSpeed(v.PeakSpeed);
    c.setDecay(v.Decay);
    c.setNumPeaks(v.NumPeaks);
    c.setSensitivy(v.Sensitivy);
    c.setBar1Color(v.Bar1Color);
    c.setBar2Color(v.Bar2Color);
    c.setBar3Color(v.Bar3Color);
    c.setPoint1(v.Point1);
    c.setPoint2(v.Point2);
}

int LevelMeterStandard(TMMLevel* bar) { return bar->Core().MeterStandard(); }

void SetLevelStandard(TMMLevel* bar, int meterStandard, int sensitivy, int point1, int point2)
{
    TMMCustomLevel& c = bar->Core();
    c.setMeterStandard(meterStandard);
    c.setSensitivy(sensitivy);
    c.setPoint2(point2);
    c.setPoint1(point1);
}

void SetLevelNumPeaks(TMMLevel* bar, int n) { bar->Core().setNumPeaks(n); }
void SetLevelSpotSpace(TMMLevel* bar, int n) { bar->Core().setSpotSpace(n); }
void SetLevelLeaveMaxPeak(TMMLevel* bar, bool on) { bar->Core().setLeaveMaxPeak(on); }

void SetLevelIntegral(TMMLevel* bar, bool on, int length)
{
    TMMCustomLevel& c = bar->Core();
    c.setIntegralOn(on);
    if (on) c.setIntegralLength(length);
}

void SetLevelReference(TMMLevel* bar, bool m18, bool m20, bool m24)
{
    TMMCustomLevel& c = bar->Core();
    c.setRefMinus18(m18);
    c.setRefMinus20(m20);
    c.setRefMinus24(m24);
}

int LevelBarSpots(TMMLevel* bar) { return bar->Core().BarSpots(); }

void SetScaleSensitivy(TMMLevelScale* scale, int db) { scale->setSensitivy(db); }

TColor LabelColor(TMMLEDLABEL* label) { return label->LEDColor(); }
void SetLabelColor(TMMLEDLABEL* label, TColor c) { label->setLEDColor(c); }
void SetLabelCaption(TMMLEDLABEL* label, const std::string& text)
{
    label->setCaption(QString::fromStdString(text));
}
