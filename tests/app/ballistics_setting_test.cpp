// "Ballistics": default "As preset", restored onto the dialog's core, saved at exit.
#include "app/MainValues.h"
#include "app/SettingNames.h"
#include "metering/uSet_Level_core.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(BallisticsSetting, DefaultRestoreAndSave)
{
    EXPECT_EQ(DesignLevelSetValues().Ballistics, 0);
    const auto exit = ExitSaveEntries();
    EXPECT_TRUE(std::any_of(exit.begin(), exit.end(), [](const TSettingEntry& e) { return e.readName == "Ballistics"; }));

    TSetLevelCore core;
    TLevelSetValues v = DesignLevelSetValues();
    v.Ballistics = 1;
    ApplyLevelSetStart(core, v);
    EXPECT_EQ(core.BallisticsItem(), 1);
    EXPECT_EQ(LevelSetValuesOf(core).Ballistics, 1);
    v.Ballistics = -3;  // a damaged store
    ApplyLevelSetStart(core, v);
    EXPECT_EQ(LevelSetValuesOf(core).Ballistics, 0);
}

}  // namespace
