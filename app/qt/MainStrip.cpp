#include "app/qt/MainStrip.h"

#include "app/MainLayout.h"
#include "app/StripNames.h"
#include "app/qt/StripPicture.h"
#include "metering/MainBar.h"
#include "metering/qt/MMLevel.h"
#include "widgets/qt/MMLEDLbl.h"

TStrip BuildStrip(QWidget* panel, int n)
{
    TStrip s;
    s.Bar = new TMMLevel(panel);
    s.Bar->setObjectName(QString::fromStdString(StripComponentName("Level", n)));
    ApplyMainBarDesign(s.Bar->Core(), n);
    s.Bar->setGeometry(0, BarTop, BarWidth, 800);

    s.Picture = new TStripPicture(panel);
    s.Picture->setObjectName(QString("ima_nordic%1").arg(n));
    s.Picture->setGeometry(StripWidth - ScaleImageWidth, BarTop, ScaleImageWidth, 800);

    s.Scale = new TStripScale(panel);
    s.Scale->setObjectName(QString("MMLevelScale%1").arg(n));
    s.Scale->setKind(lkVertical);
    s.Scale->setScaleTicks(StripScaleTicks);
    s.Scale->setGeometry(StripWidth - ScaleWidgetWidth, ScaleTop, ScaleWidgetWidth, 800);
    s.Scale->hide();

    s.Label = new TMMLEDLABEL(panel);
    s.Label->setObjectName(QString::fromStdString(StripLabelDesignName(n)));
    TMMBevel lb;
    lb.BevelOuter = bvLowered;
    lb.BevelOuterWidth = 1;
    lb.BorderSpace = 2;
    s.Label->setBevel(lb);
    s.Label->setAlign(alBottom);
    s.Label->setAutoSize(true);
    s.Label->setInactiveColor(clBlack);
    s.Label->setCaption(QString::number(n));
    s.Label->setGeometry(0, 800, StripWidth, LabelHeight);
    return s;
}

TStripValues ReadStripValues(const TStrip& strip)
{
    return BarStripValues(strip.Bar->Core(), strip.Label->LEDColor());
}

void WriteStripValues(const TStrip& strip, const TStripValues& v)
{
    ApplyBarStripValues(strip.Bar->Core(), v);
    strip.Label->setLEDColor(v.LEDColor);
}
