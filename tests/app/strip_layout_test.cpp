#include "app/InputModes.h"
#include "app/MainLayout.h"
#include "app/RunStats.h"
#include "app/StripNames.h"

#include <gtest/gtest.h>

TEST(StripNames, PrefixPlusNumberFoundWithoutRegardToCase)
{
    const std::vector<std::string> names = {"Panel1", "LED7", "led17", "ima_nordic7", "Level1", "Level10"};
    EXPECT_EQ(FindStripComponent(names, LabelPrefix, 7), 1);
    EXPECT_EQ(FindStripComponent(names, LabelPrefix, 17), 2);
    EXPECT_EQ(FindStripComponent(names, ImagePrefix, 7), 3);
    EXPECT_EQ(FindStripComponent(names, LevelPrefix, 1), 4);  // not "Level10"
    EXPECT_EQ(FindStripComponent(names, LevelPrefix, 10), 5);
    EXPECT_EQ(FindStripComponent(names, LevelPrefix, 2), -1);
    EXPECT_EQ(StripLabelDesignName(8), "LED8");
    EXPECT_EQ(StripLabelDesignName(9), "led9");
    EXPECT_FALSE(SameNameNoCase("Level1", "Level1 "));
}

TEST(InputModes, ChannelsRecordersWidthsAndLists)
{
    const int recorders[] = {1, 2, 4, 8, 12};
    for (int m = 0; m < 5; ++m) EXPECT_EQ(RecordersForMode(m), recorders[m]);
    EXPECT_EQ(ChannelsForMode(3), 16);
    EXPECT_EQ(RecordersForMode(-3), 1);  // out of range: nearest entry
    EXPECT_EQ(RecordersForMode(99), 12);
    // The narrower modes fit their strips exactly: no sliver of the next one.
    EXPECT_EQ(WindowWidthForMode(0).width, 2 * StripWidth);
    EXPECT_EQ(WindowWidthForMode(2).width, 8 * StripWidth);
    EXPECT_EQ(WindowWidthForMode(3).maxWidth, 16 * StripWidth);
    EXPECT_EQ(WindowWidthForMode(4).width, 1382);
    EXPECT_EQ(WindowWidthForMode(4).maxWidth, 1400);
    for (int m = 0; m < 5; ++m) {
        const TModeWindowWidth w = WindowWidthForMode(m);
        EXPECT_TRUE(InputListEnabled(m, 1));
        EXPECT_EQ(w.minWidth, ChannelsForMode(m) * StripWidth);  // no strip cut
        EXPECT_LE(w.minWidth, w.width);
        EXPECT_GE(w.maxWidth, w.width);
    }
    EXPECT_FALSE(InputListEnabled(0, 2));
    EXPECT_TRUE(InputListEnabled(2, 4));
    EXPECT_FALSE(InputListEnabled(2, 5));
    EXPECT_TRUE(InputListEnabled(4, 12));
}

TEST(MainLayout, HeightsFollowLabelTopMinusFifteen)
{
    EXPECT_EQ(StripLeft(1), 0);
    EXPECT_EQ(StripLeft(24), 57 * 23);
    const TStripGeometry g = StripGeometryFor(1000);
    EXPECT_EQ(g.labelTop, 1000 - 25 - 26);
    EXPECT_EQ(g.barHeight, g.labelTop - 15);
    EXPECT_EQ(g.imageHeight, g.barHeight);
    EXPECT_EQ(g.scaleHeight, g.barHeight);
    EXPECT_EQ(g.barTop, 11);
    EXPECT_EQ(g.scaleTop, 12);
    const TStripGeometry tiny = StripGeometryFor(10);  // never negative or zero
    EXPECT_EQ(tiny.labelTop, 0);
    EXPECT_EQ(tiny.barHeight, 1);
}

TEST(RunStats, JsonHasEveryFieldAndArrayLength)
{
    TRunStats s;
    s.seconds = 20.0004;
    s.sample_rate = 48000;
    s.blocks[23] = 18750;
    const std::string j = RunStatsJson(s);
    for (const char* key : {"seconds", "cpu_seconds", "sample_rate", "recorders_running", "buffers", "blocks",
                            "paints", "trigger_cycles", "dropped_buffers", "max_rss_kb"})
        EXPECT_NE(j.find(std::string("\"") + key + "\":"), std::string::npos) << key;
    EXPECT_NE(j.find("\"seconds\":20.000"), std::string::npos);
    EXPECT_NE(j.find(",18750]"), std::string::npos);
    s.reopens[2] = 3;
    s.seconds_lost[2] = 4.25;
    EXPECT_NE(RunStatsJson(s).find("\"reopens\":[0,0,3,0,0,0,0,0,0,0,0,0],\"seconds_lost\":[0.000,0.000,4.250,"),
              std::string::npos);
    EXPECT_EQ(j.front(), '{');
    EXPECT_EQ(j.back(), '}');
    EXPECT_GT(ProcessMaxRssKb(), 0);

    s.correlation.pair = 4;
    s.correlation.mean = -0.9996;
    EXPECT_NE(RunStatsJson(s).find("\"correlation\":{\"pair\":4,\"steps\":0,\"mean\":-1.000,"), std::string::npos);
}
