// The monitoring service's stored values: defaults, ranges, round trip.
#include "monitoring/MMMonitorSettings.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct Store : TSettingsAccess {
    std::map<std::string, int> ints;
    std::map<std::string, std::string> texts;
    int ReadInt(const std::string& n, int d) override { return ints.count(n) ? ints[n] : d; }
    bool ReadBool(const std::string& n, bool d) override { return ints.count(n) ? ints[n] != 0 : d; }
    std::string ReadText(const std::string& n, const std::string& d) override { return texts.count(n) ? texts[n] : d; }
    void WriteInt(const std::string& n, int v) override { ints[n] = v; }
    void WriteBool(const std::string& n, bool v) override { ints[n] = v; }
    void WriteText(const std::string& n, const std::string& v) override { texts[n] = v; }
};

TEST(MonitorSettings, DefaultsRangesAndRoundTrip)
{
    Store store;
    TMonitorSettings s = ReadMonitorSettings(store);
    EXPECT_EQ(s.JournalDays, 90);
    EXPECT_EQ(s.RecoverySeconds, 0);
    EXPECT_EQ(s.Actions.TimeLimitSeconds, 30);
    EXPECT_TRUE(s.Actions.AlarmCommand.empty() && s.Actions.RestoredUrl.empty());

    store.ints = {{"Journal Days", 0}, {"Recovery Seconds", -1}, {"Action Time Limit", 3601}};
    s = ReadMonitorSettings(store);
    EXPECT_EQ(s.JournalDays, 90);
    EXPECT_EQ(s.RecoverySeconds, 0);
    EXPECT_EQ(s.Actions.TimeLimitSeconds, 30);

    s.JournalDays = 7;
    s.RecoverySeconds = 3;
    s.Actions.AlarmCommand = "/usr/local/bin/page ops 'silence on $TARVOLIN_LABEL'";
    s.Actions.RestoredCommand = "logger restored";
    s.Actions.AlarmUrl = "http://127.0.0.1:9000/a";
    s.Actions.RestoredUrl = "https://example.invalid/r";
    s.Actions.TimeLimitSeconds = 3600;
    WriteMonitorSettings(store, s);
    const TMonitorSettings r = ReadMonitorSettings(store);
    EXPECT_EQ(r.JournalDays, 7);
    EXPECT_EQ(r.RecoverySeconds, 3);
    EXPECT_EQ(r.Actions.AlarmCommand, s.Actions.AlarmCommand);
    EXPECT_EQ(r.Actions.RestoredCommand, s.Actions.RestoredCommand);
    EXPECT_EQ(r.Actions.AlarmUrl, s.Actions.AlarmUrl);
    EXPECT_EQ(r.Actions.RestoredUrl, s.Actions.RestoredUrl);
    EXPECT_EQ(r.Actions.TimeLimitSeconds, 3600);
}

}  // namespace
