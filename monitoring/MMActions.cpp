#include "monitoring/MMActions.h"

#include "base/SteadyClock.h"
#include "monitoring/MMJournal.h"
#include "monitoring/MMSilence.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <cstdio>
#include <cstring>

extern char** environ;

namespace {

std::string Seconds(int64_t ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", (ms < 0 ? 0 : ms) / 1000.0);
    return buf;
}

std::string What(int strip, TActionKind k)
{
    return std::string("Action ") + ActionEventName(k) + " of strip " + std::to_string(strip);
}

}  // namespace

size_t Utf8Length(const unsigned char* p, size_t left)
{
    const unsigned char c = p[0];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || n > left || (n == 2 && c < 0xC2)) return 0;
    for (size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    if (n == 3 && ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))) return 0;
    if (n == 4 && ((c == 0xF0 && p[1] < 0x90) || c > 0xF4 || (c == 0xF4 && p[1] >= 0x90))) return 0;
    return n;
}

bool ActionEventFrom(const TSilenceEvent& e, TActionEvent& out)
{
    if (e.Kind != TSilenceEventKind::Alarm && e.Kind != TSilenceEventKind::SoundRestored) return false;
    out.Kind = e.Kind == TSilenceEventKind::Alarm ? TActionKind::Alarm : TActionKind::Restored;
    out.Strip = e.Strip;
    out.Label = e.Label;
    out.Level = e.Level;
    out.SilentMs = e.SilentMs;
    out.TimeMs = e.TimeMs;
    return true;
}

const char* ActionEventName(TActionKind k) { return k == TActionKind::Alarm ? "alarm" : "restored"; }

std::vector<std::pair<std::string, std::string>> ActionEnvironment(const TActionEvent& e)
{
    return {{"TARVOLIN_EVENT", ActionEventName(e.Kind)},
            {"TARVOLIN_STRIP", std::to_string(e.Strip)},
            {"TARVOLIN_LABEL", e.Label},
            {"TARVOLIN_LEVEL_DB", JournalLevelDb(e.Level)},
            {"TARVOLIN_SILENT_SECONDS", Seconds(e.SilentMs)},
            {"TARVOLIN_TIME", JournalTimestamp(e.TimeMs)}};
}

std::string JsonString(const std::string& text)
{
    std::string s = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size();
    while (left > 0) {
        const unsigned char c = *p;
        const size_t n = Utf8Length(p, left);
        if (n == 0) {
            s += "\xEF\xBF\xBD";
            ++p, --left;
            continue;
        }
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            s += buf;
        } else {
            s.append(reinterpret_cast<const char*>(p), n);
        }
        p += n, left -= n;
    }
    return s + "\"";
}

std::string ActionJson(const TActionEvent& e)
{
    const std::string db = JournalLevelDb(e.Level);
    return std::string("{\"event\":\"") + ActionEventName(e.Kind) + "\",\"strip\":" + std::to_string(e.Strip) +
           ",\"label\":" + JsonString(e.Label) + ",\"level_db\":" + (db == "-inf" ? std::string("null") : db) +
           ",\"silent_seconds\":" + Seconds(e.SilentMs) + ",\"time\":" + JsonString(JournalTimestamp(e.TimeMs)) +
           "}";
}

std::vector<std::string> SplitCommandLine(const std::string& line, std::string* error)
{
    std::vector<std::string> argv;
    std::string word;
    bool inWord = false;
    auto fail = [&](const char* text) {
        if (error) *error = text;
        return std::vector<std::string>{};
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord) argv.push_back(std::move(word)), word.clear(), inWord = false;
        } else if (c == '\'') {
            const size_t end = line.find('\'', i + 1);
            if (end == std::string::npos) return fail("unterminated single quote");
            word.append(line, i + 1, end - i - 1);
            i = end;
            inWord = true;
        } else if (c == '"') {
            size_t j = i + 1;
            for (; j < line.size() && line[j] != '"'; ++j) {
                if (line[j] == '\\' && j + 1 < line.size() && (line[j + 1] == '"' || line[j + 1] == '\\')) ++j;
                word += line[j];
            }
            if (j >= line.size()) return fail("unterminated double quote");
            i = j;
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 >= line.size()) return fail("backslash at the end");
            word += line[++i];
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) argv.push_back(std::move(word));
    if (error) error->clear();
    return argv;
}

namespace {

// The errno posix_spawnp would meet finding `program` (0: it can be run).
int FindProgram(const std::string& program)
{
    if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0 ? 0 : errno;
    const char* path = std::getenv("PATH");
    std::string dirs = path && path[0] ? path : "/bin:/usr/bin";
    size_t from = 0;
    int err = ENOENT;
    while (from <= dirs.size()) {
        const size_t to = std::min(dirs.find(':', from), dirs.size());
        const std::string dir = to > from ? dirs.substr(from, to - from) : ".";
        if (access((dir + "/" + program).c_str(), X_OK) == 0) return 0;
        if (errno == EACCES) err = EACCES;
        from = to + 1;
    }
    return err;
}

}  // namespace

TMMCommandRunner::TMMCommandRunner() = default;

TMMCommandRunner::~TMMCommandRunner()
{
    if (!mSpawner.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mLock);
        mStop = true;  // the queued commands still start
    }
    mWake.notify_one();
    mSpawner.join();
}

void TMMCommandRunner::SpawnLoop()
{
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mWake.wait(lock, [this] { return mStop || !mJobs.empty(); });
        if (mJobs.empty()) return;
        TSpawn job = std::move(mJobs.front());
        mJobs.pop_front();
        lock.unlock();

        std::vector<char*> argvp, envp;
        for (std::string& a : job.Args) argvp.push_back(a.data());
        argvp.push_back(nullptr);
        for (std::string& v : job.Env) envp.push_back(v.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawnattr_t attr;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawnattr_init(&attr);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setpgroup(&attr, 0);  // its own group: the time limit stops its children too
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        job.Rc = posix_spawnp(&job.Pid, argvp[0], &fa, &attr, argvp.data(), envp.data());
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&fa);
        job.Env.clear();

        lock.lock();
        mSpawned.push_back(std::move(job));
    }
}

void TMMCommandRunner::report(const std::string& text)
{
    ++mFailures;
    if (OnError) OnError(text);
}

bool TMMCommandRunner::RunningFor(int strip, TActionKind k) const
{
    for (const TChild& c : mChildren)
        if (c.Strip == strip && c.Kind == k) return true;
    return false;
}

bool TMMCommandRunner::Run(const TActionEvent& e)
{
    const std::string& line = mCommand[static_cast<int>(e.Kind)];
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) return false;
    Poll();  // a command that ended just now no longer blocks this one
    if (RunningFor(e.Strip, e.Kind)) {
        ++mSkipped;
        return false;
    }
    std::string error;
    std::vector<std::string> args = SplitCommandLine(line, &error);
    if (args.empty()) {
        report(What(e.Strip, e.Kind) + ": " + (error.empty() ? "empty command" : error));
        return false;
    }

    // The environment: ours, then everything else without our names.
    const auto vars = ActionEnvironment(e);
    std::vector<std::string> env;
    for (const auto& [name, value] : vars) env.push_back(name + "=" + value);
    for (char** p = environ; p && *p; ++p) {
        bool ours = false;
        for (const auto& v : vars)
            ours = ours || (std::strncmp(*p, v.first.c_str(), v.first.size()) == 0 && (*p)[v.first.size()] == '=');
        if (!ours) env.emplace_back(*p);
    }
    if (const int err = FindProgram(args[0])) {
        report(What(e.Strip, e.Kind) + ": cannot start " + args[0] + ": " + std::strerror(err));
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mLock);
        mJobs.push_back({std::move(args), std::move(env), e.Strip, e.Kind});
    }
    if (!mSpawner.joinable()) {
        try {
            mSpawner = std::thread([this] { SpawnLoop(); });
        } catch (const std::system_error& x) {
            std::lock_guard<std::mutex> lock(mLock);
            mJobs.clear();
            report(What(e.Strip, e.Kind) + ": cannot start the command thread: " + x.what());
            return false;
        }
    }
    mWake.notify_one();
    mChildren.push_back({0, e.Strip, e.Kind, SteadyNowMs()});
    ++mStarted;
    return true;
}

void TMMCommandRunner::Poll()
{
    std::vector<TSpawn> spawned;
    {
        std::lock_guard<std::mutex> lock(mLock);
        spawned.swap(mSpawned);
    }
    for (const TSpawn& s : spawned) {
        const auto c = std::find_if(mChildren.begin(), mChildren.end(),
                                    [&s](const TChild& c) { return c.Pid == 0 && c.Strip == s.Strip && c.Kind == s.Kind; });
        if (c == mChildren.end()) continue;
        if (s.Rc == 0) {
            c->Pid = s.Pid;
        } else {
            mChildren.erase(c);
            --mStarted;
            report(What(s.Strip, s.Kind) + ": cannot start " + s.Args[0] + ": " + std::strerror(s.Rc));
        }
    }
    const int64_t now = SteadyNowMs();
    for (size_t i = 0; i < mChildren.size();) {
        TChild& c = mChildren[i];
        if (c.Pid == 0) {  // still being spawned
            ++i;
            continue;
        }
        int status = 0;
        const pid_t r = waitpid(c.Pid, &status, WNOHANG);
        if (r == c.Pid || (r < 0 && errno == ECHILD)) {
            if (r == c.Pid && !c.TermSent) {
                if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
                    report(What(c.Strip, c.Kind) + ": exit status " + std::to_string(WEXITSTATUS(status)));
                else if (WIFSIGNALED(status))
                    report(What(c.Strip, c.Kind) + ": ended by signal " + std::to_string(WTERMSIG(status)));
            }
            mChildren.erase(mChildren.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        const int64_t age = now - c.StartMs;
        if (!c.TermSent && age >= mLimitMs) {
            c.TermSent = true;
            kill(-c.Pid, SIGTERM);
            report(What(c.Strip, c.Kind) + ": stopped after the time limit of " + Seconds(mLimitMs) + " s");
        } else if (c.TermSent && age >= static_cast<int64_t>(mLimitMs) + mGraceMs) {
            kill(-c.Pid, SIGKILL);
        }
        ++i;
    }
}
