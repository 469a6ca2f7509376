#include "metering/MainBar.h"

int MainBarSensitivy(int strip)
{
    if (strip <= 2) return -40;
    if (strip <= 10) return -50;
    return -52;
}

void ApplyMainBarDesign(TMMCustomLevel& bar, int strip)
{
    TMMBevel bevel;
    bevel.BevelOuter = bvRaised;
    bevel.BevelOuterWidth = 1;
    bar.setBevel(bevel);
    bar.setKind(lkVertical);
    bar.setBitLength(b16Bit);
    bar.setMode(mStereo);
    bar.setChannel(strip % 2 == 1 ? chLeft : chRight);
    bar.setBar1Color(clLime);
    bar.setBar2Color(clYellow);
    bar.setInactive1Color(clBlack);
    bar.setInactive2Color(clBlack);
    bar.setInactive3Color(clBlack);
    bar.setPoint1(MainBarPoint1);
    bar.setPoint2(MainBarPoint2);
    bar.setSensitivy(MainBarSensitivy(strip));
    bar.setDecayMode(dmStepUp);
    bar.setDecay(MainBarDecay);
    bar.setPeakSpeed(20);
}
