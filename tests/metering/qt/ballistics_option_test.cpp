// The ballistics option of the level settings: default "As preset", and the
// choice reaches every bar of the meter window.
#include "metering/qt/uSet_Level.h"

#include "app/StoreAccess.h"
#include "app/qt/SetLevelLink.h"
#include "app/qt/StripPicture.h"
#include "metering/MainBar.h"
#include "metering/qt/MMLevel.h"
#include "metering/qt/MMLevelScale.h"
#include "metering/qt/uSet_LevelControls.h"
#include "widgets/qt/MMLEDLbl.h"

#include <QApplication>
#include <QLabel>
#include <QRadioButton>

#include <gtest/gtest.h>

namespace {

struct Strips : QWidget {
    TMainMeterLink::TStrips strips;
    QLabel* panel1 = new QLabel("DIN 45406", this);
    Strips()
    {
        for (int i = 0; i < tv::kStrips; ++i) {
            TStrip& s = strips[i];
            s.Bar = new TMMLevel(this);
            ApplyMainBarDesign(s.Bar->Core(), i + 1);
            s.Scale = new TStripScale(this);
            s.Picture = new TStripPicture(this);
            s.Label = new TMMLEDLABEL(this);
        }
    }
    int WithDetector() const
    {
        int n = 0;
        for (const TStrip& s : strips) n += s.Bar->Core().Detector() != nullptr;
        return n;
    }
};

TEST(BallisticsOption, ChoiceReachesEveryBar)
{
    Strips main;
    TMainMeterLink link{main.strips, main.panel1};
    TMemoryStore store;
    TfSetLevel dlg;
    dlg.setMeterWindow(&link);
    dlg.setStore(&store);

    EXPECT_EQ(dlg.rg_ballistics->Count(), 2);
    EXPECT_EQ(dlg.rg_ballistics->Button(0)->text(), "As preset");
    EXPECT_EQ(dlg.rg_ballistics->Button(1)->text(), "Standard instrument");
    EXPECT_EQ(dlg.rg_ballistics->ItemIndex(), 0);
    EXPECT_EQ(main.WithDetector(), 0);

    dlg.rg_ballistics->Button(1)->click();
    EXPECT_EQ(dlg.Core().BallisticsItem(), 1);
    EXPECT_EQ(main.WithDetector(), tv::kStrips);
    // A standard chosen afterwards keeps the instrument and picks its kind.
    dlg.Core().setMeterItem(2);
    EXPECT_EQ(main.WithDetector(), tv::kStrips);

    dlg.Core().ApplyBallisticsItem(7);  // a stored value out of range: "As preset"
    EXPECT_EQ(dlg.rg_ballistics->ItemIndex(), 0);
    EXPECT_EQ(main.WithDetector(), 0);
}

}  // namespace
