// The monitoring journal: one line per detector transition and device event,
// appended to a daily file FOLDER/YYYY-MM-DD.log (local date). Each line is
// one write() on an O_APPEND descriptor followed by fdatasync, so a written
// event survives a crash or power loss; a line is durable before the next one
// is written. The disk work runs on the journal's own writer thread: an event
// formats its line (time stamp from the caller's clock) and queues it, so the
// caller never waits for a disk. The writer takes a line within microseconds
// of its queueing; Append-to-durable is one fdatasync while the queue is short
// (LongestDelayUs). Files older than KeepDays days are removed at each change
// of day. A journal that cannot be written calls OnError once (again only
// after a later write succeeded); callers go on. OnError runs on the caller's
// thread: the writer's failures wait for the next event, Poll() or Flush().
// A full queue drops the newest line (the queued ones keep their order and
// the start of an incident), counts it in Dropped() and reports the run of
// drops once. Destruction waits up to DrainMs for the queue to drain.
// The public calls belong to one thread (the GUI or headless main thread).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TSilenceEvent;

class TMMJournal {
public:
    using TClock = std::function<int64_t()>;  // milliseconds since the epoch
    // Makes what was written to the descriptor durable; 0 or -1 with errno.
    using TSync = std::function<int(int fd)>;

    static constexpr size_t kDefaultCapacity = 1024;  // lines waiting for the disk
    static constexpr int kDrainMs = 2000;             // destruction's wait for the queue

    // folder empty: DefaultFolder(). clock unset: the system clock.
    explicit TMMJournal(std::string folder = {}, TClock clock = {}, size_t capacity = kDefaultCapacity);
    ~TMMJournal();
    TMMJournal(const TMMJournal&) = delete;
    TMMJournal& operator=(const TMMJournal&) = delete;

    // $XDG_DATA_HOME/Tarvolin/journal, or ~/.local/share/Tarvolin/journal
    // when XDG_DATA_HOME is unset or not absolute.
    static std::string DefaultFolder();

    const std::string& Folder() const { return mFolder; }
    // Days kept, today included (1 ... 36500; others clamp).
    static constexpr int DefaultKeepDays = 90;
    int KeepDays() const { return mKeepDays; }
    void setKeepDays(int days);

    // A strip went into alarm; level in units of full scale 32768.
    void Alarm(int strip, const std::string& label, int level, int64_t silentMs);
    // A strip in alarm sounds again after silentMs of silence.
    void SoundRestored(int strip, const std::string& label, int level, int64_t silentMs);
    // A recorder's device: what = "opened", "lost", "reopened" ...
    void DeviceEvent(int recorder, const std::string& what, const std::string& device, const std::string& reason = {});
    // The detector stopped watching (held = true) or watches again.
    void Monitoring(bool held, const std::string& reason);
    // Alarm and SoundRestored events of the detector; others are ignored.
    void SilenceEvent(const TSilenceEvent& e);

    // The file the next line goes to (for today's date).
    std::string FileFor(int64_t ms) const;
    uint64_t LinesWritten() const { return mLines.load(); }
    uint64_t Failures() const { return mFailures.load(); }
    uint64_t Dropped() const { return mDropped; }  // refused by a full queue
    // Lines queued or being written.
    size_t Pending() const;
    // The longest time from an event to its line being durable (microseconds).
    int64_t LongestDelayUs() const { return mLongestDelayUs.load(); }

    // Hands the writer's failures to OnError (every event does this first).
    void Poll();
    // Waits until the queue is empty or timeoutMs passed, then Poll().
    // True when every queued line was handled.
    bool Flush(int timeoutMs = kDrainMs);
    // Replaces fdatasync (tests slow the disk with it). Before the first event.
    void setSync(TSync sync) { mSync = std::move(sync); }

    std::function<void(const std::string&)> OnError;

    // Removes journal files (only names YYYY-MM-DD.log) older than KeepDays
    // before the date of `ms`. Run at every change of day.
    void Prune(int64_t ms);

private:
    struct TLine {
        std::string Text;        // the whole line with its newline
        std::string Date;        // its file's date
        std::string OldestKept;  // at a change of day: the first date pruning keeps
        int64_t QueuedUs = 0;    // steady clock
    };

    void Append(const std::string& what);
    std::string OldestKeptDate(int64_t ms) const;
    // Writer thread.
    void Run();
    void Write(TLine& line);
    bool OpenFor(const std::string& date);
    void Fail(const std::string& text);
    void PruneBefore(const std::string& oldestKept);

    std::string mFolder;
    TClock mClock;
    TSync mSync;
    int mKeepDays = DefaultKeepDays;
    std::string mQueuedDate;  // caller: date of the last queued line
    uint64_t mDropped = 0;
    bool mDropReported = false;

    // Shared with the writer, under mLock.
    mutable std::mutex mLock;
    std::condition_variable mWake;     // a line was queued, or stop
    std::condition_variable mDrained;  // the writer finished a line
    std::vector<TLine> mRing;          // capacity slots
    size_t mHead = 0;
    size_t mCount = 0;                 // queued, the one being written included
    bool mStop = false;
    std::vector<std::string> mErrors;  // for the caller's OnError
    std::thread mWriter;

    // Writer thread only.
    int mFd = -1;
    std::string mDate;        // date of the open file
    std::string mOldestKept;  // the last pruning bound received
    bool mReported = false;

    std::atomic<uint64_t> mLines{0};
    std::atomic<uint64_t> mFailures{0};
    std::atomic<int64_t> mLongestDelayUs{0};
};

// "YYYY-MM-DD" of the local date at ms since the epoch.
std::string JournalDate(int64_t ms);
// The local time as "YYYY-MM-DDTHH:MM:SS.mmm+HHMM".
std::string JournalTimestamp(int64_t ms);
// level (full scale 32768) in dBFS with two decimals, "-inf" for 0.
std::string JournalLevelDb(int level);
// A label in double quotes; quotes, backslashes and control characters escaped.
std::string JournalQuoted(const std::string& text);
