// The silence detector on a fake clock: timers fire by due time, ties in
// arming order (the detector makes either order give the same result).
#include "base/TvConstants.h"
#include "monitoring/MMSilence.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <stdexcept>

namespace {

struct FakeClock;

struct FakeTimer : IMMSilenceTimer {
    FakeClock* clock = nullptr;
    int interval = 1000;
    bool active = false;
    int64_t due = 0;
    uint64_t seq = 0;
    std::function<void()> onTick;
    void Start() override;
    void Stop() override { active = false; }
    bool Active() const override { return active; }
};

struct FakeClock {
    int64_t now = 0;
    uint64_t seq = 0;
    bool latestFirst = false;  // ties: the most recently armed timer first
    std::vector<FakeTimer*> timers;
    void Run(int64_t ms)
    {
        const int64_t end = now + ms;
        for (;;) {
            FakeTimer* next = nullptr;
            for (FakeTimer* t : timers)
                if (t->active && t->due <= end && (!next || t->due < next->due || (t->due == next->due && (t->seq < next->seq) != latestFirst)))
                    next = t;
            if (!next) break;
            now = next->due;
            next->due += next->interval;
            next->seq = ++seq;
            next->onTick();
        }
        now = end;
    }
};

void FakeTimer::Start()
{
    if (active) return;
    active = true;
    due = clock->now + interval;
    seq = ++clock->seq;
}

struct Host : IMMSilenceHost {
    int mode = 2, channels = 8;
    bool logging = true;
    std::array<int, tv::kStrips> level{};
    std::array<bool, tv::kStrips> visible{}, enabled{};
    std::array<TColor, tv::kStrips> inactive{};
    std::array<int, tv::kStrips> alarmFills{};
    int reapplied = 0;
    std::vector<std::string> errors;
    FakeClock* clock = nullptr;
    Host() { visible.fill(true), enabled.fill(true); }
    int ModeIndex() override { return mode; }
    int ActiveChannelCount() override { return channels; }
    bool LoggingOn() override { return logging; }
    int SilenceLevel(int n) override { return level[n - 1]; }
    std::string LabelText(int n) override { return "Ch" + std::to_string(n); }
    void SetLabelInactiveColor(int n, TColor c) override { inactive[n - 1] = c; }
    void SetLabelVisible(int n, bool v) override { visible[n - 1] = v; }
    void SetLabelEnabled(int n, bool e) override { enabled[n - 1] = e; }
    void DrawAlarm(int n) override { ++alarmFills[n - 1]; }
    void ReapplyStandard() override { ++reapplied; }
    void ReportError(const std::string& t) override { errors.push_back(t); }
    int64_t wallOffset = 0;  // the wall clock set forward or back
    int64_t NowMs() override { return clock->now + wallOffset; }
    int64_t SteadyMs() override { return clock->now; }
    std::string DateTimeText(int64_t ms) override { return "T" + std::to_string(ms / 1000); }
    char DecimalSeparator() override { return ','; }
};

struct Settings : IMMSilenceSettings {
    bool detect = true, play = true;
    int threshold = 351, delay = 5;
    bool Detect() const override { return detect; }
    int ThresholdAmplitude() const override { return threshold; }
    int AlarmSeconds() const override { return delay; }
    bool PlaySound() const override { return play; }
    void setPlaySound(bool on) override { play = on; }
};

struct Player : IMMAlarmSound {
    int plays = 0;
    bool fail = false;
    void Play() override
    {
        if (fail) throw std::runtime_error("Cannot open output device");
        ++plays;
    }
    bool Playing() const override { return false; }
};

struct Rig {
    FakeClock clock;
    Host host;
    Settings settings;
    Player player;
    FakeTimer off, on, reset;
    std::array<FakeTimer, tv::kStrips> strips;
    std::unique_ptr<TMMSilenceDetector> det;
    std::vector<TSilenceEvent> events;
    std::vector<std::string> lines;

    Rig()
    {
        host.clock = &clock;
        TMMSilenceDetector::Timers t;
        t.TimerOff = &off, t.TimerOn = &on, t.Reset = &reset;
        on.interval = 450, reset.interval = 10000;
        for (FakeTimer* f : {&off, &on, &reset}) f->clock = &clock, clock.timers.push_back(f);
        for (int n = 0; n < tv::kStrips; ++n) {
            strips[n].clock = &clock;
            clock.timers.push_back(&strips[n]);
            t.Strip[n] = &strips[n];
        }
        det = std::make_unique<TMMSilenceDetector>(host, settings, t);
        det->setPlayer(&player);
        det->AddListener([this](const TSilenceEvent& e) {
            events.push_back(e);
            if (e.Kind == TSilenceEventKind::LogLine) lines.push_back(e.Line);
        });
        off.onTick = [this] { det->TimerOffTick(); };
        on.onTick = [this] { det->TimerOnTick(); };
        reset.onTick = [this] { det->ResetTick(); };
        for (int n = 0; n < tv::kStrips; ++n) strips[n].onTick = [this, n] { det->StripTick(n + 1); };
        host.level.fill(10000);
        off.Start();
    }
    int LinesOf(int n) const
    {
        int c = 0;
        for (const auto& e : events) c += e.Kind == TSilenceEventKind::LogLine && e.Strip == n;
        return c;
    }
};

TEST(SilenceDetector, DelayFiveAlarmsOnTheSixthTickWithOneLinePerEpisode)
{
    Rig r;
    r.clock.Run(1000);  // first check: all sounding
    r.host.level[2] = 0;
    r.clock.Run(1000);  // check at 2 s arms Timer_start3
    for (int tick = 1; tick <= 5; ++tick) {
        r.clock.Run(1000);
        EXPECT_EQ(r.det->Counter(3), tick);
        EXPECT_EQ(r.host.alarmFills[2], 0) << tick;
    }
    EXPECT_EQ(r.det->State(3), TSilenceState::Silent);
    r.clock.Run(1000);  // sixth strip tick
    EXPECT_EQ(r.det->State(3), TSilenceState::Alarm);
    EXPECT_EQ(r.host.alarmFills[2], 1);
    EXPECT_FALSE(r.host.visible[2]);
    EXPECT_EQ(r.host.inactive[2], clRed);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0], "Level 3 : - Ch3-   -Inf dB  --> Time: T8");
    EXPECT_EQ(r.player.plays, 1);
    r.clock.Run(450);  // blink end
    EXPECT_TRUE(r.host.visible[2]);
    EXPECT_EQ(r.host.reapplied, 1);
    r.clock.Run(4550);  // later alarm ticks blink again, log nothing
    EXPECT_EQ(r.det->Stats(3).Alarms, 6u);
    EXPECT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.det->Stats(3).Silences, 1u);

    // Sound, then silence again: counting restarts and a second line comes.
    r.host.level[2] = 500;
    r.clock.Run(1000);
    EXPECT_EQ(r.det->Counter(3), 0);
    EXPECT_TRUE(r.host.enabled[2] && r.host.visible[2]);
    EXPECT_EQ(r.host.inactive[2], clBlack);
    r.host.level[2] = 117;
    r.clock.Run(7000);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.lines[1].substr(0, 27), "Level 3 : - Ch3-   -48,95 d");
    EXPECT_EQ(r.det->Stats(3).Silences, 2u);
    // Only strip 3 was ever silent.
    for (int n = 1; n <= tv::kStrips; ++n)
        if (n != 3) {
            EXPECT_EQ(r.det->Stats(n).Silences + r.det->Stats(n).Alarms, 0u) << n;
        }
}

TEST(SilenceDetector, ModeBoundsThresholdEqualityAndGroupGate)
{
    Rig r;
    r.host.level.fill(0);  // every bar silent
    r.host.level[0] = 351;  // equal to the threshold: sounding
    r.host.channels = 4;    // strips 5..8 need 8 active channels to log
    r.clock.Run(20000);
    EXPECT_EQ(r.det->Stats(1).Silences, 0u);
    for (int n = 2; n <= 8; ++n) EXPECT_GT(r.det->Stats(n).Alarms, 0u) << n;
    for (int n = 9; n <= tv::kStrips; ++n) EXPECT_EQ(r.det->Stats(n).Silences + r.det->Stats(n).Alarms, 0u) << n;
    EXPECT_EQ(r.det->Stats(4).LogLines, 1u);
    EXPECT_EQ(r.det->Stats(5).LogLines, 0u);
    EXPECT_TRUE(r.det->LogArmed(5));  // kept for a later alarm tick
    r.host.channels = 8;
    r.clock.Run(1000);
    EXPECT_EQ(r.det->Stats(5).LogLines, 1u);

    // Threshold 0 never alarms.
    Rig z;
    z.settings.threshold = 0;
    z.host.level.fill(0);
    z.clock.Run(20000);
    EXPECT_EQ(z.det->Stats(1).Silences, 0u);
}

TEST(SilenceDetector, LevelTextAndLineFormat)
{
    EXPECT_EQ(SilenceLevelText(0, '.'), "-Inf");
    EXPECT_EQ(SilenceLevelText(32768, '.'), "0.00");
    EXPECT_EQ(SilenceLevelText(117, ','), "-48,95");
    EXPECT_EQ(SilenceLevelText(65535, '.'), "6.02");
    EXPECT_EQ(SilenceLogLine(12, "Vox", 32768, '.', "1/2/26 10:00:00"),
              "Level 12 : - Vox-   0.00 dB  --> Time: 1/2/26 10:00:00");
    EXPECT_EQ(SilenceWatchedStrips(5), 0);
    EXPECT_EQ(SilenceWatchedStrips(-1), 0);
    EXPECT_EQ(SilenceGroupBound(9), 16);
    EXPECT_EQ(SilenceGroupBound(17), 24);
}

TEST(SilenceDetector, EitherOrderOfEqualTimersAdvancesTheCounterEverySecond)
{
    for (bool latestFirst : {false, true}) {
        Rig r;
        r.clock.latestFirst = latestFirst;
        r.host.level[0] = 0;
        r.clock.Run(1000);  // the check arms Timer_start1
        for (int s = 1; s <= 5; ++s) {
            r.clock.Run(1000);
            EXPECT_EQ(r.det->Counter(1), s) << latestFirst;
        }
        r.clock.Run(1000);
        EXPECT_EQ(r.det->State(1), TSilenceState::Alarm) << latestFirst;
    }
}

TEST(SilenceDetector, HiddenLabelStaysHiddenWhenAnotherStripStartsCounting)
{
    Rig r;
    r.host.level[0] = 0;
    r.clock.Run(7000);  // strip 1 alarms at 7 s: label hidden, TimerOn armed
    ASSERT_FALSE(r.host.visible[0]);
    ASSERT_TRUE(r.on.active);
    r.host.level[1] = 0;  // strip 2 falls silent
    r.clock.Run(1500);    // blink ends at 7.45 and 8.45; the check at 8 s arms Timer_start2
    EXPECT_TRUE(r.host.visible[0]);
    // At 9 s strip 1's alarm tick hides its label and arms TimerOn, then
    // strip 2's first silent tick disarms TimerOn: no blink end follows.
    r.clock.Run(1000);
    EXPECT_EQ(r.det->Counter(2), 1);
    EXPECT_FALSE(r.on.active);
    EXPECT_FALSE(r.host.visible[0]);
    r.host.level[0] = 20000;
    r.clock.Run(1000);  // the check finds strip 1 sounding
    EXPECT_TRUE(r.host.visible[0]);
}

TEST(SilenceDetector, StopLogfileRestartsTheDelayAndLoggingOffKeepsTheFlag)
{
    Rig r;
    r.host.level[0] = 0;
    r.clock.Run(7000);
    ASSERT_EQ(r.det->State(1), TSilenceState::Alarm);
    ASSERT_EQ(r.lines.size(), 1u);
    // "Stop Logfile": logging off, counters 0.
    r.host.logging = false;
    r.det->ResetCounters();
    const uint64_t alarms = r.det->Stats(1).Alarms;
    r.clock.Run(5000);
    EXPECT_EQ(r.det->Stats(1).Alarms, alarms);  // delay runs anew
    r.clock.Run(2000);
    EXPECT_GT(r.det->Stats(1).Alarms, alarms);
    EXPECT_EQ(r.lines.size(), 1u);
    EXPECT_TRUE(r.det->LogArmed(1));
    // "Start Logfile": the next alarm tick writes the line.
    r.host.logging = true;
    r.clock.Run(1000);
    EXPECT_EQ(r.lines.size(), 2u);
    EXPECT_EQ(r.det->Stats(1).Silences, 1u);  // still one episode
    // One alarm event for it, and its end is a restore even though the
    // delay was restarted meanwhile.
    r.det->ResetCounters();
    r.clock.Run(2000);
    ASSERT_EQ(r.det->State(1), TSilenceState::Silent);
    r.host.level[0] = 20000;
    r.clock.Run(1000);
    int alarmEvents = 0, restored = 0;
    for (const auto& e : r.events) {
        alarmEvents += e.Kind == TSilenceEventKind::Alarm;
        restored += e.Kind == TSilenceEventKind::SoundRestored;
    }
    EXPECT_EQ(alarmEvents, 1);
    EXPECT_EQ(restored, 1);
}

TEST(SilenceDetector, SoundPauseAndPlayerFailure)
{
    Rig r;
    r.host.level[0] = 0;
    r.clock.Run(7000);
    EXPECT_EQ(r.player.plays, 1);
    r.det->SoundStopped();  // the player's OnStop
    EXPECT_FALSE(r.settings.play);
    EXPECT_TRUE(r.reset.active);
    r.clock.Run(5000);
    EXPECT_EQ(r.player.plays, 1);  // quiet during the pause
    r.clock.Run(5000);
    EXPECT_TRUE(r.settings.play);
    EXPECT_FALSE(r.reset.active);
    EXPECT_GT(r.player.plays, 1);

    // A failing Play ends the tick: error shown, no line, flag kept.
    Rig f;
    f.player.fail = true;
    f.host.level[0] = 0;
    f.clock.Run(7000);
    EXPECT_EQ(f.host.errors.size(), 1u);
    EXPECT_TRUE(f.lines.empty());
    EXPECT_TRUE(f.det->LogArmed(1));
    EXPECT_EQ(f.host.alarmFills[0], 1);
    f.player.fail = false;
    f.clock.Run(1000);
    EXPECT_EQ(f.lines.size(), 1u);
}

TEST(SilenceDetector, DetectorOffLetsAnArmedStripTimerFireOnce)
{
    Rig r;
    r.host.level[0] = 0;
    r.clock.Run(1000);  // check arms Timer_start1
    r.off.Stop();
    r.clock.Run(5000);
    EXPECT_EQ(r.det->Counter(1), 1);
    EXPECT_FALSE(r.strips[0].active);
}

}  // namespace

// Strip 3 silent from 1.5 s; with delay 5 its alarm comes at 8 s. Then a
// 0.5 s flicker around the check at 12 s.
static void AlarmThenFlicker(Rig& r)
{
    r.clock.Run(1500);
    r.host.level[2] = 0;
    r.clock.Run(6500);  // 8 s: first alarm tick
    ASSERT_EQ(r.det->State(3), TSilenceState::Alarm);
    EXPECT_EQ(r.det->LastAlarmMs(3), 8000);
    r.clock.Run(3750);  // 11.75 s
    r.host.level[2] = 20000;
    r.clock.Run(500);  // the check at 12 s finds it sounding
    r.host.level[2] = 0;
    r.clock.Run(7750);  // 20 s
}

TEST(SilenceDetector, RecoveryTimeIgnoresAShortFlicker)
{
    Rig r;
    r.det->setRecoverySeconds(2);
    AlarmThenFlicker(r);
    EXPECT_EQ(r.det->State(3), TSilenceState::Alarm);
    EXPECT_EQ(r.det->Stats(3).Silences, 1u);
    EXPECT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.det->LastAlarmMs(3), 8000);  // the same episode
    int restored = 0;
    for (const auto& e : r.events) restored += e.Kind == TSilenceEventKind::SoundRestored;
    EXPECT_EQ(restored, 0);
    EXPECT_GT(r.det->Stats(3).Alarms, 8u);  // alarm ticks went on after the flicker

    // Sound that stays: restored at the third check, 2 s after the first.
    r.host.level[2] = 20000;
    r.clock.Run(1000);  // 21 s
    EXPECT_TRUE(r.det->Recovering(3));
    r.clock.Run(1000);  // 22 s
    EXPECT_EQ(r.det->State(3), TSilenceState::Alarm);
    const uint64_t alarms = r.det->Stats(3).Alarms;
    r.clock.Run(1000);  // 23 s
    EXPECT_EQ(r.det->State(3), TSilenceState::Sounding);
    EXPECT_FALSE(r.det->Recovering(3));
    EXPECT_EQ(r.det->Stats(3).Alarms, alarms);  // no alarm tick while recovering
    ASSERT_EQ(r.events.back().Kind, TSilenceEventKind::SoundRestored);
    EXPECT_EQ(r.events.back().TimeMs, 23000);
    EXPECT_EQ(r.events.back().SilentMs, 21000);  // the check at 2 s found it first
    EXPECT_EQ(r.det->SilentSinceMs(3), -1);
}

TEST(SilenceDetector, WithoutRecoveryTimeAFlickerEndsTheEpisode)
{
    Rig r;
    AlarmThenFlicker(r);
    std::vector<int64_t> restoredAt;
    for (const auto& e : r.events)
        if (e.Kind == TSilenceEventKind::SoundRestored) restoredAt.push_back(e.TimeMs);
    ASSERT_EQ(restoredAt.size(), 1u);
    EXPECT_EQ(restoredAt[0], 12000);
    EXPECT_EQ(r.det->Stats(3).Silences, 2u);
    EXPECT_EQ(r.lines.size(), 2u);  // the new episode logs again after its delay
    EXPECT_EQ(r.det->LastAlarmMs(3), 19000);
    for (const auto& e : r.events)
        if (e.Kind == TSilenceEventKind::Alarm) {
            EXPECT_EQ(e.SilentMs, 6000);
        }
}

TEST(SilenceDetector, LengthsOfSilenceIgnoreWallClockSteps)
{
    // The wall clock goes back an hour during one silence and forward an
    // hour during the next: times follow it, lengths do not.
    Rig r;
    r.clock.Run(1500);
    r.host.level[2] = 0;
    r.clock.Run(3000);  // found silent at 2 s
    r.host.wallOffset = -3600000;
    r.clock.Run(5000);  // alarm at 8 s
    r.host.level[2] = 20000;
    r.clock.Run(1000);
    r.host.level[2] = 0;
    r.clock.Run(2000);  // found silent at 11 s (the check at 10 s restored the first)
    r.host.wallOffset = 0;
    r.clock.Run(6000);  // alarm at 17 s
    r.host.level[2] = 20000;
    r.clock.Run(1000);
    std::vector<TSilenceEvent> got;
    for (const auto& e : r.events)
        if (e.Kind == TSilenceEventKind::Alarm || e.Kind == TSilenceEventKind::SoundRestored) got.push_back(e);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].SilentMs, 6000);
    EXPECT_EQ(got[0].TimeMs, 8000 - 3600000);
    EXPECT_EQ(got[1].SilentMs, 8000);  // restored at the check at 10 s
    EXPECT_EQ(got[2].SilentMs, 6000);
    EXPECT_EQ(got[2].TimeMs, 17000);
    EXPECT_EQ(got[3].SilentMs, 8000);
}

TEST(SilenceDetector, RecoveryTimeLeavesASilentStripBeforeItsAlarmAlone)
{
    // Not yet in alarm: a sounding check resets the count at once.
    Rig r;
    r.det->setRecoverySeconds(5);
    r.clock.Run(1500);
    r.host.level[2] = 0;
    r.clock.Run(2500);  // 4 s: counter 2
    EXPECT_EQ(r.det->State(3), TSilenceState::Silent);
    r.host.level[2] = 20000;
    r.clock.Run(1000);
    EXPECT_EQ(r.det->State(3), TSilenceState::Sounding);
    EXPECT_EQ(r.det->Counter(3), 0);
}

TEST(SilenceDetector, APauseShorterThanTheDelayRestoresNothing)
{
    // Programme pauses that never reach the alarm are no "sound restored"
    // (journal lines, commands and webhooks hang on that event), with or
    // without a recovery time; the one after a real alarm is.
    for (const int recovery : {0, 2}) {
        Rig r;
        r.det->setRecoverySeconds(recovery);
        for (int pause = 0; pause < 3; ++pause) {
            r.clock.Run(1500);
            r.host.level[2] = 0;
            r.clock.Run(2500);
            EXPECT_EQ(r.det->State(3), TSilenceState::Silent);
            r.host.level[2] = 20000;
            r.clock.Run(2000);
            EXPECT_EQ(r.det->State(3), TSilenceState::Sounding);
        }
        int restored = 0, began = 0;
        for (const auto& e : r.events) {
            restored += e.Kind == TSilenceEventKind::SoundRestored;
            began += e.Kind == TSilenceEventKind::SilenceBegan;
        }
        EXPECT_EQ(began, 3) << recovery;
        EXPECT_EQ(restored, 0) << recovery;

        r.host.level[2] = 0;
        r.clock.Run(8000);
        ASSERT_EQ(r.det->State(3), TSilenceState::Alarm);
        r.host.level[2] = 20000;
        r.clock.Run(1000 * (recovery + 2));
        ASSERT_EQ(r.det->State(3), TSilenceState::Sounding) << recovery;
        restored = 0;
        for (const auto& e : r.events) restored += e.Kind == TSilenceEventKind::SoundRestored;
        EXPECT_EQ(restored, 1) << recovery;
    }
}

// While held (the input setup is open) nothing counts, alarms, plays or logs,
// however long the strips stay dark; the release starts every count afresh.
// An episode already in alarm stays open: after the hold it ends with one
// restored event, or goes on without a second alarm event.
TEST(SilenceDetector, HoldPausesEverythingAndReleaseCountsAfresh)
{
    Rig r;
    std::vector<std::pair<bool, std::string>> holds;
    r.det->OnHold = [&holds](bool held, const std::string& why) { holds.emplace_back(held, why); };
    r.host.level[0] = 0;  // strip 1 silent into its alarm
    r.clock.Run(8000);
    ASSERT_EQ(r.det->State(1), TSilenceState::Alarm);
    r.host.level[2] = 0;  // strip 3 silent, not yet alarmed
    r.clock.Run(2000);
    ASSERT_EQ(r.det->State(3), TSilenceState::Silent);
    const size_t eventsBefore = r.events.size();
    const int playsBefore = r.player.plays;

    r.det->setHeld(true, "input setup");
    r.host.level.fill(0);  // every recorder closed
    r.clock.Run(30000);
    EXPECT_EQ(r.events.size(), eventsBefore);
    EXPECT_EQ(r.player.plays, playsBefore);
    EXPECT_EQ(r.det->State(3), TSilenceState::Sounding) << "an unalarmed silence ends with the hold";
    for (int n = 1; n <= 8; ++n) EXPECT_EQ(r.det->Counter(n), 0) << n;

    r.host.level.fill(10000);
    r.host.level[1] = 0;  // strip 2 dark after the setup
    r.det->setHeld(false, "input setup");
    ASSERT_EQ(holds.size(), 2u);
    EXPECT_EQ(holds[0], std::make_pair(true, std::string("input setup")));
    EXPECT_FALSE(holds[1].first);
    r.clock.Run(1000);
    int restored = 0, alarms = 0;
    for (size_t i = eventsBefore; i < r.events.size(); ++i) {
        restored += r.events[i].Kind == TSilenceEventKind::SoundRestored && r.events[i].Strip == 1;
        alarms += r.events[i].Kind == TSilenceEventKind::Alarm;
    }
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(r.det->State(3), TSilenceState::Sounding);
    r.clock.Run(5000);  // strip 2: counted from the release, not yet past the delay
    EXPECT_EQ(r.det->State(2), TSilenceState::Silent);
    r.clock.Run(2000);
    EXPECT_EQ(r.det->State(2), TSilenceState::Alarm);
    alarms = 0;
    for (size_t i = eventsBefore; i < r.events.size(); ++i) alarms += r.events[i].Kind == TSilenceEventKind::Alarm;
    EXPECT_EQ(alarms, 1);
}
