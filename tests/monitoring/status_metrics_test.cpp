// /metrics as a fleet reads it: Prometheus naming (one prefix, `_total` only
// on counters, HELP and TYPE once per family), no NaN, only watched strips and
// used recorders' states, the detector's alarm counts and time, the peak since
// the previous scrape.
#include "metering/MMLevel.h"
#include "monitoring/MMStatus.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TExposition {
    std::map<std::string, std::string> Types;  // family -> type
    std::map<std::string, int> Helps;          // family -> HELP lines
    std::map<std::string, std::string> Samples;  // "name{labels}" -> value
    std::vector<std::string> Order;            // families in the order of their TYPE
};

TExposition Parse(const std::string& text)
{
    TExposition e;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# HELP ", 0) == 0) {
            ++e.Helps[line.substr(7, line.find(' ', 7) - 7)];
        } else if (line.rfind("# TYPE ", 0) == 0) {
            const size_t sp = line.find(' ', 7);
            e.Types[line.substr(7, sp - 7)] = line.substr(sp + 1);
            e.Order.push_back(line.substr(7, sp - 7));
        } else {
            const size_t sp = line.rfind(' ');
            EXPECT_TRUE(e.Samples.emplace(line.substr(0, sp), line.substr(sp + 1)).second) << "twice: " << line;
        }
    }
    return e;
}

std::string Family(const std::string& sample) { return sample.substr(0, sample.find('{')); }

// Meter in 8-channel mode: strips 1-8 watched (5 in alarm, 6 silent), strip 9
// not; recorders 1-4 used (running, lost, not connected, stopped), 5 unused.
TStatusSnapshot Scenario()
{
    TStatusSnapshot s;
    s.TimeMs = 1700000060000;
    s.StartMs = 1700000000250;
    s.UptimeSeconds = 59.75;
    s.Detector = true;
    s.Channels = 8;
    for (int n = 1; n <= 9; ++n) {
        TStripStatus t;
        t.Strip = n;
        t.Label = n == 5 ? "V\"x" : std::to_string(n);
        t.Watched = n <= 8;
        t.Level = 3277;  // -20 dBFS
        t.Peak = 3277;
        s.Strips.push_back(t);
    }
    TStripStatus& alarm = s.Strips[4];
    alarm.State = TSilenceState::Alarm;
    alarm.Level = 0;
    alarm.Peak = 0;
    alarm.PeakHeld = 0;
    alarm.SilentMs = 9000;
    alarm.Episodes = 3;
    alarm.AlarmEpisodes = 2;
    alarm.AlarmMs = 61500;
    alarm.LastAlarmMs = 1700000055999;
    s.Strips[5].State = TSilenceState::Silent;
    s.Strips[0].PeakHeld = 32768;  // a full-scale click between two scrapes
    s.Recorders.push_back({1, "In 1", true, 0, 500, ""});
    s.Recorders.push_back({2, "USB", false, 2, 100, "device removed"});
    s.Recorders.push_back({3, "Desk (not connected)", false, 0, 0, ""});
    s.Recorders.push_back({4, "In 4", false, 0, 0, ""});
    s.Recorders.push_back({5, "In 5", false, 0, 0, ""});
    for (int i = 0; i < 5; ++i) s.Recorders[static_cast<size_t>(i)].Used = i < 4;
    s.Recorders[1].SecondsLost = 12.5;
    s.Recorders[2].NotConnected = true;
    s.DroppedBuffers = 7;
    s.Monitor.JournalErrors = 1;
    s.Monitor.WebhookDropped = 4;
    s.Monitor.CommandFailures = 2;
    return s;
}

TEST(StatusMetrics, FollowsPrometheusNamingAndCarriesTheFleetFigures)
{
    const std::string text = StatusPrometheus(Scenario());
    const TExposition e = Parse(text);

    // Naming: one prefix, counters and only counters end in _total, every family
    // typed and helped once, no NaN anywhere.
    EXPECT_EQ(text.find("NaN"), std::string::npos);
    EXPECT_EQ(std::set<std::string>(e.Order.begin(), e.Order.end()).size(), e.Order.size()) << "a family twice";
    for (const auto& [family, type] : e.Types) {
        EXPECT_EQ(family.rfind("tarvolin_", 0), 0u) << family;
        const bool total = family.size() > 6 && family.compare(family.size() - 6, 6, "_total") == 0;
        EXPECT_EQ(total, type == "counter") << family << " " << type;
        EXPECT_TRUE(type == "counter" || type == "gauge") << family;
        EXPECT_EQ(e.Helps.count(family) ? e.Helps.at(family) : 0, 1) << family;
        EXPECT_EQ(family.find("_ms"), std::string::npos) << family;
    }
    for (const auto& [sample, value] : e.Samples) EXPECT_TRUE(e.Types.count(Family(sample))) << sample;

    // Strips: watched ones only; the detector's alarm state, counts and times.
    const std::string s5 = "{strip=\"5\",label=\"V\\\"x\"}";
    EXPECT_EQ(e.Samples.at("tarvolin_alarm" + s5), "1");
    EXPECT_EQ(e.Samples.at("tarvolin_alarm{strip=\"6\",label=\"6\"}"), "0");
    EXPECT_EQ(e.Samples.at("tarvolin_silence_state{strip=\"6\",label=\"6\"}"), "1");
    EXPECT_EQ(e.Samples.at("tarvolin_alarms_total" + s5), "2");
    EXPECT_EQ(e.Samples.at("tarvolin_silence_episodes_total" + s5), "3");
    EXPECT_EQ(e.Samples.at("tarvolin_alarm_seconds_total" + s5), "61.500");
    EXPECT_EQ(e.Samples.at("tarvolin_silent_seconds" + s5), "9.0");
    EXPECT_EQ(e.Samples.at("tarvolin_last_alarm_timestamp_seconds" + s5), "1700000055");
    EXPECT_EQ(e.Samples.at("tarvolin_level_dbfs" + s5), "-Inf");
    EXPECT_EQ(e.Samples.at("tarvolin_level_dbfs{strip=\"2\",label=\"2\"}"), "-20.00");
    // Peak since the previous scrape: the held one when taken, else the last block's.
    EXPECT_EQ(e.Samples.at("tarvolin_peak_since_scrape_dbfs{strip=\"1\",label=\"1\"}"), "0.00");
    EXPECT_EQ(e.Samples.at("tarvolin_peak_since_scrape_dbfs{strip=\"2\",label=\"2\"}"), "-20.00");
    EXPECT_EQ(e.Samples.at("tarvolin_peak_since_scrape_dbfs" + s5), "-Inf");
    for (const auto& [sample, value] : e.Samples) EXPECT_EQ(sample.find("strip=\"9\""), std::string::npos) << sample;

    // Recorders: one-hot state for the used ones, none for recorder 5.
    auto state = [&](int k, const char* device, const char* st) {
        return e.Samples.at("tarvolin_recorder_state{recorder=\"" + std::to_string(k) + "\",device=\"" + device +
                            "\",state=\"" + st + "\"}");
    };
    const char* states[] = {"running", "stopped", "lost", "not_connected"};
    const std::pair<const char*, const char*> expect[] = {
        {"In 1", "running"}, {"USB", "lost"}, {"Desk (not connected)", "not_connected"}, {"In 4", "stopped"}};
    for (int k = 1; k <= 4; ++k)
        for (const char* st : states)
            EXPECT_EQ(state(k, expect[k - 1].first, st), std::string(st) == expect[k - 1].second ? "1" : "0")
                << k << " " << st;
    int stateSamples = 0;
    for (const auto& [sample, value] : e.Samples) stateSamples += Family(sample) == "tarvolin_recorder_state";
    EXPECT_EQ(stateSamples, 16);
    EXPECT_EQ(e.Samples.at("tarvolin_recorder_running{recorder=\"5\",device=\"In 5\"}"), "0");
    EXPECT_EQ(e.Samples.at("tarvolin_recorder_lost_seconds_total{recorder=\"2\",device=\"USB\"}"), "12.5");
    EXPECT_EQ(e.Samples.at("tarvolin_recorder_reopens_total{recorder=\"2\",device=\"USB\"}"), "2");

    // The meter and its monitoring service.
    EXPECT_EQ(e.Samples.at("tarvolin_start_time_seconds"), "1700000000.250");
    EXPECT_EQ(e.Samples.at("tarvolin_build_info{version=\"" TARVOLIN_VERSION "\"}"), "1");
    EXPECT_EQ(e.Samples.at("tarvolin_dropped_buffers_total"), "7");
    EXPECT_EQ(e.Samples.at("tarvolin_journal_write_errors_total"), "1");
    EXPECT_EQ(e.Samples.at("tarvolin_journal_dropped_lines_total"), "0");
    EXPECT_EQ(e.Samples.at("tarvolin_webhook_dropped_total"), "4");
    EXPECT_EQ(e.Samples.at("tarvolin_action_command_failures_total"), "2");

    // What the shipped rules select exists under these names.
    for (const char* family : {"tarvolin_alarm", "tarvolin_recorder_state", "tarvolin_dropped_buffers_total",
                               "tarvolin_journal_write_errors_total", "tarvolin_journal_dropped_lines_total",
                               "tarvolin_webhook_failures_total", "tarvolin_detector_enabled"})
        EXPECT_TRUE(e.Types.count(family)) << family;
}

TEST(StatusMetrics, AlarmTimeCountsEachAlarmOnceAndRunsUntilRestored)
{
    TMMAlarmTime a;
    a.Event(TSilenceEventKind::SilenceBegan, 3, 1000);  // a silence is no alarm yet
    EXPECT_EQ(a.Alarms(3), 0u);
    EXPECT_EQ(a.AlarmMs(3, 5000), 0);
    a.Event(TSilenceEventKind::SoundRestored, 3, 1500);  // restored without alarm: nothing
    a.Event(TSilenceEventKind::Alarm, 3, 2000);
    a.Event(TSilenceEventKind::Alarm, 3, 2500);  // still the same alarm
    EXPECT_EQ(a.Alarms(3), 1u);
    EXPECT_EQ(a.AlarmMs(3, 4500), 2500);  // the running alarm counts up to now
    a.Event(TSilenceEventKind::LogLine, 3, 5000);
    a.Event(TSilenceEventKind::SoundRestored, 3, 6000);
    EXPECT_EQ(a.AlarmMs(3, 60000), 4000);  // ended: no longer grows
    a.Event(TSilenceEventKind::Alarm, 3, 70000);
    EXPECT_EQ(a.Alarms(3), 2u);
    EXPECT_EQ(a.AlarmMs(3, 70250), 4250);
    EXPECT_EQ(a.AlarmMs(3, 60000), 4000);  // a clock read behind the start adds nothing
    EXPECT_EQ(a.Alarms(4), 0u);
    a.Event(TSilenceEventKind::Alarm, 0, 1);
    a.Event(TSilenceEventKind::Alarm, tv::kStrips + 1, 1);
    EXPECT_EQ(a.Alarms(0) + a.Alarms(tv::kStrips + 1), 0u);
    EXPECT_EQ(a.Alarms(tv::kStrips), 0u);
}

TEST(StatusMetrics, ScrapePeakHoldsTheHighestBlockUntilTaken)
{
    TMMCustomLevel lv;
    lv.setBitLength(b16Bit);
    lv.setSamples(4);
    const int16_t click[] = {0, -32768, 0, 0};
    const int16_t quiet[] = {10, -20, 5, 0};
    EXPECT_EQ(lv.TakeScrapePeak(), 0);  // no block yet: digital silence
    lv.ProcessBlock(click);
    lv.ProcessBlock(quiet);
    lv.RestartSilenceHold();  // the detector's check does not take the scrape's peak
    EXPECT_EQ(lv.LastBlockPeak(), 20);
    EXPECT_EQ(lv.TakeScrapePeak(), 32768);
    EXPECT_EQ(lv.TakeScrapePeak(), 0);  // taken: nothing came since
    lv.ProcessBlock(quiet);
    EXPECT_EQ(lv.TakeScrapePeak(), 20);
}

}  // namespace
