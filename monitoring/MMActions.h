// Actions on "silence alarm" and "sound restored": the event as data, its
// environment and JSON body, the command-line split (once, no shell) and the
// command runner (posix_spawn, own process group, time limit, at most one
// running per strip and event). The webhook POST is monitoring/qt/MMWebhook.
// GUI thread (or the headless main thread) only.
#pragma once

#include "base/TvConstants.h"

#include <sys/types.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct TSilenceEvent;

enum class TActionKind { Alarm = 0, Restored = 1 };

struct TActionEvent {
    TActionKind Kind = TActionKind::Alarm;
    int Strip = 1;          // 1 .. 24
    std::string Label;      // the strip's channel label
    int Level = 0;          // the level the detector compares, full scale 32768
    int64_t SilentMs = 0;   // length of the silence so far (alarm) or in all (restored)
    int64_t TimeMs = 0;     // wall clock, ms since the epoch
};

// What the actions are configured to do; empty texts do nothing.
struct TActionSettings {
    std::string AlarmCommand, RestoredCommand;
    std::string AlarmUrl, RestoredUrl;
    static constexpr int DefaultTimeLimitSeconds = 30;
    int TimeLimitSeconds = DefaultTimeLimitSeconds;  // 1 ... 3600
    const std::string& Command(TActionKind k) const { return k == TActionKind::Alarm ? AlarmCommand : RestoredCommand; }
    const std::string& Url(TActionKind k) const { return k == TActionKind::Alarm ? AlarmUrl : RestoredUrl; }
};

// Alarm and SoundRestored become action events; false for the other kinds.
bool ActionEventFrom(const TSilenceEvent& e, TActionEvent& out);

// "alarm" or "restored" (TARVOLIN_EVENT, the JSON "event").
const char* ActionEventName(TActionKind k);
// TARVOLIN_EVENT, _STRIP, _LABEL, _LEVEL_DB ("-inf" for 0), _SILENT_SECONDS
// (one decimal), _TIME (local ISO 8601 with offset).
std::vector<std::pair<std::string, std::string>> ActionEnvironment(const TActionEvent& e);
// {"event":..,"strip":..,"label":..,"level_db":..(null for silence),
//  "silent_seconds":..,"time":..}
std::string ActionJson(const TActionEvent& e);
// JSON string literal of text (quotes included); invalid UTF-8 bytes become U+FFFD.
std::string JsonString(const std::string& text);
// Length of the valid UTF-8 sequence at p (1 ... 4), 0 when invalid.
size_t Utf8Length(const unsigned char* p, size_t left);

// Splits a command line into argv once, like a shell's word split but with
// no expansion of any kind: blanks separate words, '...' is literal, "..."
// keeps blanks and takes \" and \\ as escapes, a backslash outside quotes
// escapes the next character. Empty with `error` set for an unterminated
// quote or a trailing backslash.
std::vector<std::string> SplitCommandLine(const std::string& line, std::string* error = nullptr);

class TMMCommandRunner {
public:
    TMMCommandRunner();
    ~TMMCommandRunner();  // leaves running commands running
    TMMCommandRunner(const TMMCommandRunner&) = delete;
    TMMCommandRunner& operator=(const TMMCommandRunner&) = delete;

    void setCommand(TActionKind k, const std::string& commandLine) { mCommand[static_cast<int>(k)] = commandLine; }
    const std::string& Command(TActionKind k) const { return mCommand[static_cast<int>(k)]; }
    // After the limit the command's process group gets SIGTERM, after a
    // further grace SIGKILL. Default 30 s and 2 s.
    void setTimeLimitMs(int ms) { mLimitMs = ms < 1 ? 1 : ms; }
    int TimeLimitMs() const { return mLimitMs; }
    void setKillGraceMs(int ms) { mGraceMs = ms < 0 ? 0 : ms; }

    // Starts the event's command with the event's environment; false when
    // none is set, one for the same strip and event still runs (counted in
    // Skipped) or it cannot be started (OnError). The process is spawned on
    // the runner's own thread (a spawn waits for the child's exec, about a
    // millisecond), so the caller only splits the line and finds the program.
    bool Run(const TActionEvent& e);
    // Takes the spawned commands' pids (a spawn that failed late is reported
    // here), reaps finished commands and enforces the time limit; run it
    // every few hundred ms while Running() > 0.
    void Poll();
    int Running() const { return static_cast<int>(mChildren.size()); }
    bool RunningFor(int strip, TActionKind k) const;
    uint64_t Started() const { return mStarted; }
    uint64_t Skipped() const { return mSkipped; }
    uint64_t Failures() const { return mFailures; }  // each one reported to OnError

    // A command that could not start, ended with a non-zero status or was
    // stopped at its time limit.
    std::function<void(const std::string&)> OnError;

private:
    struct TChild {
        pid_t Pid;  // 0 while the spawner thread starts it
        int Strip;
        TActionKind Kind;
        int64_t StartMs;
        bool TermSent = false;
    };
    struct TSpawn {
        std::vector<std::string> Args, Env;
        int Strip;
        TActionKind Kind;
        pid_t Pid = 0;
        int Rc = 0;  // posix_spawnp's result
    };
    void report(const std::string& text);
    void SpawnLoop();

    std::array<std::string, 2> mCommand;
    std::mutex mLock;
    std::condition_variable mWake;
    std::deque<TSpawn> mJobs;     // to start, under mLock
    std::vector<TSpawn> mSpawned; // started or failed, under mLock
    bool mStop = false;
    std::thread mSpawner;
    int mLimitMs = 30000;
    int mGraceMs = 2000;
    std::vector<TChild> mChildren;
    uint64_t mStarted = 0;
    uint64_t mSkipped = 0;
    uint64_t mFailures = 0;
};
