#include "monitoring/MMJournal.h"

#include "monitoring/MMSilence.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <vector>

namespace {

int64_t SteadyUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t SystemNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::tm LocalTm(int64_t ms)
{
    const time_t t = static_cast<time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// mkdir -p; true when the folder exists afterwards.
bool MakeFolders(const std::string& path)
{
    if (path.empty()) return false;
    std::string part;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        part = path.substr(0, pos);
        if (part.empty()) continue;
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsJournalName(const char* name)
{
    // YYYY-MM-DD.log
    if (std::strlen(name) != 14 || std::strcmp(name + 10, ".log") != 0) return false;
    for (int i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash ? name[i] != '-' : (name[i] < '0' || name[i] > '9')) return false;
    }
    return true;
}

}  // namespace

std::string JournalDate(int64_t ms)
{
    const std::tm tm = LocalTm(ms);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", (tm.tm_year + 1900) % 10000, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

std::string JournalTimestamp(int64_t ms)
{
    const std::tm tm = LocalTm(ms);
    const long off = tm.tm_gmtoff;
    const int absOff = static_cast<int>((off < 0 ? -off : off) % 86400);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d%02d", (tm.tm_year + 1900) % 10000,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(((ms % 1000) + 1000) % 1000), off < 0 ? '-' : '+', absOff / 3600,
                  (absOff % 3600) / 60);
    return buf;
}

std::string JournalLevelDb(int level)
{
    if (level <= 0) return "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", 20.0 * std::log10(level / 32768.0));
    return std::strcmp(buf, "-0.00") == 0 ? "0.00" : buf;
}

std::string JournalQuoted(const std::string& text)
{
    std::string s = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            s += '\\';
            s += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            s += buf;
        } else {
            s += static_cast<char>(c);
        }
    }
    return s + "\"";
}

std::string TMMJournal::DefaultFolder()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] ? home : ".") + "/.local/share";
    }
    return base + "/Tarvolin/journal";
}

TMMJournal::TMMJournal(std::string folder, TClock clock, size_t capacity)
    : mFolder(folder.empty() ? DefaultFolder() : std::move(folder)), mClock(std::move(clock)),
      mRing(capacity < 1 ? 1 : capacity)
{
    if (!mClock) mClock = SystemNowMs;
    while (mFolder.size() > 1 && mFolder.back() == '/') mFolder.pop_back();
}

TMMJournal::~TMMJournal()
{
    if (mWriter.joinable()) {
        std::unique_lock<std::mutex> lock(mLock);
        mDrained.wait_for(lock, std::chrono::milliseconds(kDrainMs), [this] { return mCount == 0; });
        mStop = true;
        lock.unlock();
        mWake.notify_one();
        mWriter.join();
    }
    if (mFd >= 0) close(mFd);
}

void TMMJournal::setKeepDays(int days)
{
    mKeepDays = days < 1 ? 1 : days > 36500 ? 36500 : days;
}

std::string TMMJournal::FileFor(int64_t ms) const { return mFolder + "/" + JournalDate(ms) + ".log"; }

void TMMJournal::Alarm(int strip, const std::string& label, int level, int64_t silentMs)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", silentMs / 1000.0);
    Append("alarm strip=" + std::to_string(strip) + " label=" + JournalQuoted(label) +
           " level_db=" + JournalLevelDb(level) + " silent_s=" + buf);
}

void TMMJournal::SoundRestored(int strip, const std::string& label, int level, int64_t silentMs)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", silentMs / 1000.0);
    Append("restored strip=" + std::to_string(strip) + " label=" + JournalQuoted(label) +
           " level_db=" + JournalLevelDb(level) + " silent_s=" + buf);
}

void TMMJournal::DeviceEvent(int recorder, const std::string& what, const std::string& device,
                             const std::string& reason)
{
    std::string w;
    for (char c : what) w += (c == ' ' || static_cast<unsigned char>(c) < 0x20) ? '_' : c;
    Append("device recorder=" + std::to_string(recorder) + " event=" + w + " name=" + JournalQuoted(device) +
           (reason.empty() ? std::string() : " reason=" + JournalQuoted(reason)));
}

void TMMJournal::Monitoring(bool held, const std::string& reason)
{
    Append(std::string("monitoring event=") + (held ? "paused" : "resumed") +
           (reason.empty() ? std::string() : " reason=" + JournalQuoted(reason)));
}

void TMMJournal::SilenceEvent(const TSilenceEvent& e)
{
    if (e.Kind == TSilenceEventKind::Alarm)
        Alarm(e.Strip, e.Label, e.Level, e.SilentMs);
    else if (e.Kind == TSilenceEventKind::SoundRestored)
        SoundRestored(e.Strip, e.Label, e.Level, e.SilentMs);
}

size_t TMMJournal::Pending() const
{
    std::lock_guard<std::mutex> lock(mLock);
    return mCount;
}

void TMMJournal::Poll()
{
    std::vector<std::string> errors;
    {
        std::lock_guard<std::mutex> lock(mLock);
        errors.swap(mErrors);
    }
    if (OnError)
        for (const std::string& e : errors) OnError(e);
}

bool TMMJournal::Flush(int timeoutMs)
{
    bool drained;
    {
        std::unique_lock<std::mutex> lock(mLock);
        drained = mDrained.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                    [this] { return mCount == 0; });
    }
    Poll();
    return drained;
}

std::string TMMJournal::OldestKeptDate(int64_t ms) const
{
    std::tm tm = LocalTm(ms);
    tm.tm_mday -= mKeepDays - 1;
    tm.tm_hour = 12;  // away from a change of daylight saving time
    tm.tm_min = tm.tm_sec = 0;
    tm.tm_isdst = -1;
    const time_t first = mktime(&tm);
    if (first == static_cast<time_t>(-1)) return {};
    return JournalDate(static_cast<int64_t>(first) * 1000);
}

void TMMJournal::Append(const std::string& what)
{
    Poll();
    const int64_t now = mClock();
    const std::string date = JournalDate(now);
    TLine line;
    line.Date = date;
    line.Text = JournalTimestamp(now) + " " + what + "\n";
    // The dates are worked out here: the writer never reads the time zone.
    if (date != mQueuedDate) line.OldestKept = OldestKeptDate(now);
    line.QueuedUs = SteadyUs();
    bool accepted = false, wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(mLock);
        if (mCount < mRing.size()) {
            wasEmpty = mCount == 0;
            mRing[(mHead + mCount) % mRing.size()] = std::move(line);
            ++mCount;
            accepted = true;
        }
    }
    if (!accepted) {
        ++mDropped;
        if (!mDropReported) {
            mDropReported = true;
            if (OnError)
                OnError("Journal: the disk is too slow, lines are dropped (" + std::to_string(mRing.size()) +
                        " waiting)");
        }
        return;
    }
    if (wasEmpty) mDropReported = false;  // the writer caught up since the last drop
    mQueuedDate = date;
    if (!mWriter.joinable()) {
        try {
            mWriter = std::thread([this] { Run(); });
        } catch (const std::system_error& e) {
            std::lock_guard<std::mutex> lock(mLock);
            mCount = 0;
            mErrors.push_back(std::string("Journal: cannot start the writer: ") + e.what());
            return;
        }
    }
    mWake.notify_one();
}

void TMMJournal::Run()
{
    std::unique_lock<std::mutex> lock(mLock);
    for (;;) {
        mWake.wait(lock, [this] { return mStop || mCount > 0; });
        if (mStop) break;
        TLine line = std::move(mRing[mHead]);
        lock.unlock();
        Write(line);
        lock.lock();
        mHead = (mHead + 1) % mRing.size();
        --mCount;
        mDrained.notify_all();
    }
    // Stopped before the queue drained: what is left is lost.
    mCount = 0;
    mDrained.notify_all();
}

void TMMJournal::Fail(const std::string& text)
{
    ++mFailures;
    if (mReported) return;
    mReported = true;
    std::lock_guard<std::mutex> lock(mLock);
    mErrors.push_back(text);
}

bool TMMJournal::OpenFor(const std::string& date)
{
    if (mFd >= 0) {
        close(mFd);
        mFd = -1;
    }
    mDate.clear();
    if (!MakeFolders(mFolder)) {
        Fail("Journal: cannot create the folder " + mFolder + ": " + std::strerror(errno));
        return false;
    }
    const std::string path = mFolder + "/" + date + ".log";
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail("Journal: cannot open " + path + ": " + std::strerror(errno));
        return false;
    }
    // The new file's directory entry must be durable too.
    const int dfd = open(mFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    mFd = fd;
    mDate = date;
    return true;
}

void TMMJournal::Write(TLine& line)
{
    if (!line.OldestKept.empty()) mOldestKept = line.OldestKept;
    const std::string path = mFolder + "/" + line.Date + ".log";
    if (mFd < 0 || line.Date != mDate) {
        if (!OpenFor(line.Date)) return;
        PruneBefore(mOldestKept);
    }
    // Where the line starts: a line the disk took only part of is cut off
    // again, so that the file holds whole lines only.
    const off_t start = lseek(mFd, 0, SEEK_END);
    const char* p = line.Text.data();
    size_t left = line.Text.size();
    while (left > 0) {
        const ssize_t n = write(mFd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            if (left < line.Text.size() && start >= 0 && ftruncate(mFd, start) != 0) {
                // The torn line stays; the next one starts on a line of its own.
                const ssize_t nl = write(mFd, "\n", 1);
                (void)nl;
            }
            Fail("Journal: cannot write " + path + ": " + std::strerror(err));
            // Reopen at the next line: the file may have been removed or the disk freed.
            close(mFd);
            mFd = -1;
            mDate.clear();
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if ((mSync ? mSync(mFd) : fdatasync(mFd)) != 0 && errno != EINVAL) {
        Fail("Journal: cannot sync " + path + ": " + std::strerror(errno));
        return;
    }
    ++mLines;
    mReported = false;
    const int64_t delay = SteadyUs() - line.QueuedUs;
    int64_t longest = mLongestDelayUs.load();
    while (delay > longest && !mLongestDelayUs.compare_exchange_weak(longest, delay)) {
    }
}

void TMMJournal::Prune(int64_t ms) { PruneBefore(OldestKeptDate(ms)); }

void TMMJournal::PruneBefore(const std::string& oldestKept)
{
    if (oldestKept.empty()) return;
    DIR* dir = opendir(mFolder.c_str());
    if (!dir) return;
    std::vector<std::string> old;
    while (const dirent* d = readdir(dir))
        if (IsJournalName(d->d_name) && std::string(d->d_name, 10) < oldestKept) old.emplace_back(d->d_name);
    closedir(dir);
    for (const std::string& name : old) unlink((mFolder + "/" + name).c_str());
}
