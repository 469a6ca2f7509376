// Actions: the argv split, the environment and JSON of an event, and the
// command runner (environment seen by the command, one per strip and event,
// time limit over the whole process group, failures reported).
#include "monitoring/MMActions.h"
#include "monitoring/MMSilence.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Words = std::vector<std::string>;

TActionEvent Event(TActionKind k = TActionKind::Alarm, int strip = 3)
{
    TActionEvent e;
    e.Kind = k;
    e.Strip = strip;
    e.Label = "Vox \"1\"";
    e.Level = 117;
    e.SilentMs = 6500;
    e.TimeMs = 1773532799000;  // 2026-03-14 23:59:59 UTC
    return e;
}

// Polls until no command runs or `ms` passed.
bool WaitIdle(TMMCommandRunner& r, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        r.Poll();
        if (r.Running() == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string Read(const fs::path& p)
{
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class ActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        char tmpl[] = "/tmp/tv_actions_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        runner.OnError = [this](const std::string& e) { errors.push_back(e); };
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
    TMMCommandRunner runner;
    std::vector<std::string> errors;
};

TEST(SplitCommandLine, SplitsOnceWithoutExpansion)
{
    EXPECT_EQ(SplitCommandLine("  /usr/bin/page  --to  ops  "), (Words{"/usr/bin/page", "--to", "ops"}));
    EXPECT_EQ(SplitCommandLine("a 'b c' \"d \\\"e\\\" \\\\ \\n\" f\\ g"),
              (Words{"a", "b c", "d \"e\" \\ \\n", "f g"}));
    EXPECT_EQ(SplitCommandLine("echo $HOME `id` ; rm -rf * | x"),
              (Words{"echo", "$HOME", "`id`", ";", "rm", "-rf", "*", "|", "x"}));
    EXPECT_EQ(SplitCommandLine("x''y \"\""), (Words{"xy", ""}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    std::string err;
    EXPECT_TRUE(SplitCommandLine("a 'b", &err).empty());
    EXPECT_EQ(err, "unterminated single quote");
    EXPECT_TRUE(SplitCommandLine("a \"b\\\"", &err).empty());
    EXPECT_EQ(err, "unterminated double quote");
    EXPECT_TRUE(SplitCommandLine("a \\", &err).empty());
    EXPECT_EQ(err, "backslash at the end");
}

TEST_F(ActionsTest, EnvironmentAndJsonOfAnEvent)
{
    const auto env = ActionEnvironment(Event());
    const std::map<std::string, std::string> m(env.begin(), env.end());
    EXPECT_EQ(m.at("TARVOLIN_EVENT"), "alarm");
    EXPECT_EQ(m.at("TARVOLIN_STRIP"), "3");
    EXPECT_EQ(m.at("TARVOLIN_LABEL"), "Vox \"1\"");
    EXPECT_EQ(m.at("TARVOLIN_LEVEL_DB"), "-48.95");
    EXPECT_EQ(m.at("TARVOLIN_SILENT_SECONDS"), "6.5");
    EXPECT_EQ(m.at("TARVOLIN_TIME"), "2026-03-14T23:59:59.000+0000");

    TActionEvent e = Event(TActionKind::Restored, 24);
    e.Level = 0;
    EXPECT_EQ(ActionJson(e), "{\"event\":\"restored\",\"strip\":24,\"label\":\"Vox \\\"1\\\"\",\"level_db\":null,"
                             "\"silent_seconds\":6.5,\"time\":\"2026-03-14T23:59:59.000+0000\"}");
    EXPECT_EQ(JsonString("a\x01\n\xc3\xa9\xff\\"), "\"a\\u0001\\u000a\xc3\xa9\xef\xbf\xbd\\\\\"");

    TSilenceEvent s{TSilenceEventKind::SoundRestored, 5, "L", 300, 42, {}, 9000};
    TActionEvent a;
    ASSERT_TRUE(ActionEventFrom(s, a));
    EXPECT_EQ(a.Kind, TActionKind::Restored);
    EXPECT_EQ(a.SilentMs, 9000);
    s.Kind = TSilenceEventKind::LogLine;
    EXPECT_FALSE(ActionEventFrom(s, a));
}

TEST_F(ActionsTest, CommandGetsTheEventsEnvironmentAndNoShell)
{
    setenv("TARVOLIN_STRIP", "stale", 1);  // ours replace inherited ones
    const fs::path out = dir / "env.txt";
    runner.setCommand(TActionKind::Alarm, "/bin/sh -c 'env > \"$0\"; printf %s \"$1\" > \"$0.arg\"' " + out.string() +
                                              " '$HOME;id'");
    ASSERT_TRUE(runner.Run(Event()));
    ASSERT_TRUE(WaitIdle(runner, 5000));
    unsetenv("TARVOLIN_STRIP");
    const std::string env = Read(out);
    for (const char* line : {"TARVOLIN_EVENT=alarm\n", "TARVOLIN_STRIP=3\n", "TARVOLIN_LABEL=Vox \"1\"\n",
                             "TARVOLIN_LEVEL_DB=-48.95\n", "TARVOLIN_SILENT_SECONDS=6.5\n",
                             "TARVOLIN_TIME=2026-03-14T23:59:59.000+0000\n"})
        EXPECT_NE(env.find(line), std::string::npos) << line << env;
    EXPECT_EQ(env.find("stale"), std::string::npos);
    EXPECT_NE(env.find("PATH="), std::string::npos);  // the rest of the environment is kept
    EXPECT_EQ(Read(out.string() + ".arg"), "$HOME;id");
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(runner.Run(Event(TActionKind::Restored)));  // no command for that event
}

TEST_F(ActionsTest, AtMostOneRunningPerStripAndEvent)
{
    runner.setCommand(TActionKind::Alarm, "sleep 0.5");
    runner.setCommand(TActionKind::Restored, "sleep 0.5");
    EXPECT_TRUE(runner.Run(Event(TActionKind::Alarm, 3)));
    EXPECT_FALSE(runner.Run(Event(TActionKind::Alarm, 3)));
    EXPECT_TRUE(runner.Run(Event(TActionKind::Alarm, 4)));
    EXPECT_TRUE(runner.Run(Event(TActionKind::Restored, 3)));
    EXPECT_EQ(runner.Running(), 3);
    EXPECT_EQ(runner.Skipped(), 1u);
    ASSERT_TRUE(WaitIdle(runner, 5000));
    EXPECT_TRUE(runner.Run(Event(TActionKind::Alarm, 3)));  // the first one has ended
    EXPECT_EQ(runner.Started(), 4u);
    ASSERT_TRUE(WaitIdle(runner, 5000));
    EXPECT_TRUE(errors.empty());
}

TEST_F(ActionsTest, TimeLimitStopsTheWholeProcessGroup)
{
    // The shell starts a grandchild and writes its pid; both must go.
    const fs::path pidFile = dir / "grandchild.pid";
    runner.setCommand(TActionKind::Alarm, "/bin/sh -c 'sleep 30 & echo $! > \"$0\"; wait' " + pidFile.string());
    runner.setTimeLimitMs(300);
    runner.setKillGraceMs(500);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(runner.Run(Event()));
    ASSERT_TRUE(WaitIdle(runner, 5000));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(3));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Action alarm of strip 3: stopped after the time limit of 0.3 s"), std::string::npos);
    const pid_t grandchild = std::atoi(Read(pidFile).c_str());
    ASSERT_GT(grandchild, 0);
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        // Gone, or a zombie waiting for whoever adopted it.
        const std::string stat = Read("/proc/" + std::to_string(grandchild) + "/stat");
        const size_t paren = stat.rfind(')');
        gone = kill(grandchild, 0) != 0 || (paren != std::string::npos && stat.compare(paren, 4, ") Z ") == 0);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
}

TEST_F(ActionsTest, FailuresAreReported)
{
    runner.setCommand(TActionKind::Alarm, "/nonexistent/page-ops");
    EXPECT_FALSE(runner.Run(Event()));
    runner.setCommand(TActionKind::Alarm, "'unterminated");
    EXPECT_FALSE(runner.Run(Event()));
    runner.setCommand(TActionKind::Alarm, "/bin/sh -c 'exit 4'");
    EXPECT_TRUE(runner.Run(Event()));
    ASSERT_TRUE(WaitIdle(runner, 5000));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_NE(errors[0].find("cannot start /nonexistent/page-ops"), std::string::npos) << errors[0];
    EXPECT_NE(errors[1].find("unterminated single quote"), std::string::npos);
    EXPECT_EQ(errors[2], "Action alarm of strip 3: exit status 4");
    EXPECT_EQ(runner.Failures(), 3u);  // what /metrics counts
}

}  // namespace
