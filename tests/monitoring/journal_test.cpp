// The journal: daily files, line format, rotation at local midnight on a
// fake clock, pruning, failure reported once, and a line that survives the
// process being killed right after the event. Lines are written on the
// journal's thread: the checks Flush() before they read the files.
#include "monitoring/MMJournal.h"
#include "monitoring/MMSilence.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// 2026-03-14 23:59:59.000 UTC
constexpr int64_t kLateEvening = 1773532799000;

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        char tmpl[] = "/tmp/tv_journal_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string Read(const fs::path& p)
    {
        std::ifstream f(p, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

    fs::path dir;
    int64_t now = kLateEvening;
};

TEST_F(JournalTest, AlarmAndRestoredLinesGoToTodaysFile)
{
    TMMJournal j((dir / "j").string(), [this] { return now; });
    j.Alarm(5, "Vox", 117, 7000);
    now += 250;
    j.SoundRestored(5, "Vox", 32768, 9250);
    j.DeviceEvent(3, "lost", "Simulated input 3");
    ASSERT_TRUE(j.Flush());
    EXPECT_EQ(j.LinesWritten(), 3u);
    EXPECT_EQ(Read(dir / "j" / "2026-03-14.log"),
              "2026-03-14T23:59:59.000+0000 alarm strip=5 label=\"Vox\" level_db=-48.95 silent_s=7.0\n"
              "2026-03-14T23:59:59.250+0000 restored strip=5 label=\"Vox\" level_db=0.00 silent_s=9.2\n"
              "2026-03-14T23:59:59.250+0000 device recorder=3 event=lost name=\"Simulated input 3\"\n");
}

TEST_F(JournalTest, LabelsCannotBreakTheLine)
{
    EXPECT_EQ(JournalQuoted("a\"b\\c\nd\x7f"), "\"a\\\"b\\\\c\\x0ad\\x7f\"");
    EXPECT_EQ(JournalLevelDb(0), "-inf");
    EXPECT_EQ(JournalLevelDb(-5), "-inf");
    EXPECT_EQ(JournalLevelDb(16384), "-6.02");
}

TEST_F(JournalTest, RotatesAtLocalMidnight)
{
    TMMJournal j(dir.string(), [this] { return now; });
    now = kLateEvening + 999;  // 23:59:59.999
    j.Alarm(1, "L", 0, 6000);
    now = kLateEvening + 1000;  // 00:00:00.000 of the next day
    j.SoundRestored(1, "L", 20000, 6001);
    ASSERT_TRUE(j.Flush());
    const std::string first = Read(dir / "2026-03-14.log");
    const std::string second = Read(dir / "2026-03-15.log");
    EXPECT_NE(first.find("23:59:59.999"), std::string::npos);
    EXPECT_EQ(first.find("restored"), std::string::npos);
    EXPECT_EQ(second.rfind("2026-03-15T00:00:00.000+0000 restored", 0), 0u);

    // In another time zone the day changes at its own midnight.
    setenv("TZ", "CET-1", 1);
    tzset();
    EXPECT_EQ(JournalDate(kLateEvening - 3600 * 1000 + 1000), "2026-03-15");
    EXPECT_EQ(JournalTimestamp(kLateEvening - 3600 * 1000 + 1000), "2026-03-15T00:00:00.000+0100");
}

TEST_F(JournalTest, KeepsTheLastDaysOnly)
{
    for (const char* name : {"2026-03-10.log", "2026-03-11.log", "2026-03-12.log", "2026-03-13.log", "notes.txt",
                             "2026-03-1x.log", "1999-01-01.log.bak"})
        std::ofstream(dir / name) << "x\n";
    TMMJournal j(dir.string(), [this] { return now; });
    j.setKeepDays(3);  // 12th, 13th, 14th
    j.Alarm(2, "R", 0, 0);
    ASSERT_TRUE(j.Flush());
    EXPECT_FALSE(fs::exists(dir / "2026-03-10.log"));
    EXPECT_FALSE(fs::exists(dir / "2026-03-11.log"));
    EXPECT_TRUE(fs::exists(dir / "2026-03-12.log"));
    EXPECT_TRUE(fs::exists(dir / "2026-03-13.log"));
    EXPECT_TRUE(fs::exists(dir / "notes.txt"));
    EXPECT_TRUE(fs::exists(dir / "2026-03-1x.log"));
    EXPECT_TRUE(fs::exists(dir / "1999-01-01.log.bak"));

    now += 1000;  // the next day: the 12th goes
    j.Alarm(2, "R", 0, 0);
    ASSERT_TRUE(j.Flush());
    EXPECT_FALSE(fs::exists(dir / "2026-03-12.log"));
    EXPECT_TRUE(fs::exists(dir / "2026-03-13.log"));

    j.setKeepDays(0);
    EXPECT_EQ(j.KeepDays(), 1);
    j.setKeepDays(1 << 30);
    EXPECT_EQ(j.KeepDays(), 36500);
}

TEST_F(JournalTest, UnwritableJournalIsReportedOnceAndRecovers)
{
    std::ofstream(dir / "blocker") << "a file where the folder should be\n";
    TMMJournal j((dir / "blocker" / "journal").string(), [this] { return now; });
    std::vector<std::string> errors;
    j.OnError = [&](const std::string& e) { errors.push_back(e); };
    j.Alarm(1, "A", 0, 0);
    j.SoundRestored(1, "A", 1000, 1000);
    j.Alarm(1, "A", 0, 0);
    ASSERT_TRUE(j.Flush());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("blocker/journal"), std::string::npos);
    EXPECT_EQ(j.Failures(), 3u);
    EXPECT_EQ(j.LinesWritten(), 0u);

    fs::remove(dir / "blocker");
    j.Alarm(1, "A", 0, 0);
    ASSERT_TRUE(j.Flush());
    EXPECT_EQ(j.LinesWritten(), 1u);
    EXPECT_TRUE(fs::exists(dir / "blocker" / "journal" / "2026-03-14.log"));

    // Failing again after a success is reported again.
    fs::remove_all(dir / "blocker");
    std::ofstream(dir / "blocker") << "x";
    now += 1000;  // a new day forces a reopen
    j.Alarm(1, "A", 0, 0);
    ASSERT_TRUE(j.Flush());
    EXPECT_EQ(errors.size(), 2u);
}

TEST_F(JournalTest, DefaultFolderFollowsXdgDataHome)
{
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(TMMJournal::DefaultFolder(), "/srv/data/Tarvolin/journal");
    setenv("XDG_DATA_HOME", "relative/path", 1);  // not absolute: ignored
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(TMMJournal::DefaultFolder(), "/home/op/.local/share/Tarvolin/journal");
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

TEST_F(JournalTest, TakesAlarmAndRestoredFromTheDetectorOnly)
{
    TMMJournal j(dir.string(), [this] { return now; });
    TSilenceEvent e{TSilenceEventKind::SilenceBegan, 4, "Mic", 10, now, {}, 1000};
    j.SilenceEvent(e);
    e.Kind = TSilenceEventKind::LogLine;
    j.SilenceEvent(e);
    ASSERT_TRUE(j.Flush());
    EXPECT_EQ(j.LinesWritten(), 0u);
    e.Kind = TSilenceEventKind::Alarm;
    e.SilentMs = 6000;
    j.SilenceEvent(e);
    e.Kind = TSilenceEventKind::SoundRestored;
    e.SilentMs = 12500;
    j.SilenceEvent(e);
    ASSERT_TRUE(j.Flush());
    const std::string text = Read(dir / "2026-03-14.log");
    EXPECT_NE(text.find("alarm strip=4 label=\"Mic\" level_db=-70.31 silent_s=6.0"), std::string::npos);
    EXPECT_NE(text.find("restored strip=4 label=\"Mic\" level_db=-70.31 silent_s=12.5"), std::string::npos);
}

// The child queues a burst of device lines and then the alarm, gets the
// writer's short time (far beyond one fdatasync) and is killed: no destructor,
// no flush, no exit handlers. Every line is on disk, in order.
TEST_F(JournalTest, AlarmLineSurvivesAKilledProcess)
{
    const std::string folder = (dir / "killed").string();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        TMMJournal j(folder);
        for (int i = 1; i <= 20; ++i) j.DeviceEvent(i, "lost", "In " + std::to_string(i));
        j.Alarm(7, "Studio", 0, 6000);
        usleep(300 * 1000);
        raise(SIGKILL);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    int files = 0;
    for (const auto& f : fs::directory_iterator(folder)) {
        ++files;
        std::istringstream text(Read(f.path()));
        std::string line;
        int n = 0;
        while (std::getline(text, line)) {
            ++n;
            const std::string want = n <= 20 ? " device recorder=" + std::to_string(n) + " event=lost"
                                             : std::string(" alarm strip=7 label=\"Studio\" level_db=-inf silent_s=6.0");
            EXPECT_NE(line.find(want), std::string::npos) << n << ": " << line;
        }
        EXPECT_EQ(n, 21);
    }
    EXPECT_EQ(files, 1);
}

// A full disk (a file size limit here) that takes only the start of a line:
// the file keeps whole lines only, the failure is reported, and the lines
// after it land once there is room again.
TEST_F(JournalTest, ALineTheDiskTookPartOfIsCutOff)
{
    const std::string folder = (dir / "full").string();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        int failed = 0;
        {
            TMMJournal j(folder, [this] { return now; });
            j.OnError = [&](const std::string&) { ++failed; };
            j.DeviceEvent(1, "lost", "In 1");
            j.Flush();
            const rlimit small{static_cast<rlim_t>(fs::file_size(j.FileFor(now)) + 20), RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &small);
            j.DeviceEvent(2, "lost", "In 2");
            j.Flush();
            const rlimit room{RLIM_INFINITY, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &room);
            j.DeviceEvent(3, "lost", "In 3");
            j.Flush();
            if (j.LinesWritten() != 2 || j.Failures() != 1) _exit(4);
        }
        _exit(failed == 1 ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string text = Read(fs::path(folder) / "2026-03-14.log");
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> got;
    while (std::getline(lines, line)) got.push_back(line);
    ASSERT_EQ(got.size(), 2u) << text;
    EXPECT_NE(got[0].find("recorder=1 event=lost"), std::string::npos) << got[0];
    EXPECT_NE(got[1].find("recorder=3 event=lost"), std::string::npos) << got[1];
    EXPECT_EQ(text.back(), '\n');
}

// A disk that stalls: the caller never waits, the queue keeps its first
// lines in order, the newest are dropped, counted and reported once; once
// the disk answers again every queued line lands and the next drop run is
// reported again. Destruction drains what is queued.
TEST_F(JournalTest, StalledDiskFillsTheQueueAndDropsTheNewest)
{
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::vector<std::string> errors;
    {
        TMMJournal j(dir.string(), [this] { return now; }, 4);
        j.setSync([&](int fd) {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] { return open; });
            return fdatasync(fd);
        });
        j.OnError = [&](const std::string& e) { errors.push_back(e); };
        for (int i = 1; i <= 10; ++i) j.DeviceEvent(i, "lost", "d");
        // Line 1 is in the writer's blocked sync, 2-4 wait, 5-10 find the queue full.
        EXPECT_EQ(j.Dropped(), 6u);
        EXPECT_EQ(j.Pending(), 4u);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_NE(errors[0].find("dropped"), std::string::npos);
        {
            std::lock_guard<std::mutex> lock(m);
            open = true;
        }
        cv.notify_all();
        ASSERT_TRUE(j.Flush());
        EXPECT_EQ(j.LinesWritten(), 4u);
        EXPECT_GT(j.LongestDelayUs(), 0);
        {
            std::lock_guard<std::mutex> lock(m);
            open = false;
        }
        for (int i = 11; i <= 16; ++i) j.DeviceEvent(i, "lost", "d");
        EXPECT_EQ(j.Dropped(), 8u);
        EXPECT_EQ(errors.size(), 2u);  // a new run of drops
        {
            std::lock_guard<std::mutex> lock(m);
            open = true;
        }
        cv.notify_all();
    }  // the destructor drains lines 11-14
    std::istringstream text(Read(dir / "2026-03-14.log"));
    std::string line;
    std::vector<int> recorders;
    while (std::getline(text, line)) {
        const size_t at = line.find("recorder=");
        ASSERT_NE(at, std::string::npos) << line;
        recorders.push_back(std::atoi(line.c_str() + at + 9));
    }
    EXPECT_EQ(recorders, (std::vector<int>{1, 2, 3, 4, 11, 12, 13, 14}));
}

}  // namespace
