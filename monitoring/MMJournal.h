// The monitoring journal: one line per detector transition and device event,
// appended to a daily file FOLDER/YYYY-MM-DD.log (local date). Each line is
// one write() on an O_APPEND descriptor followed by fdatasync, so a written
// event survives a crash or power loss. Files older than KeepDays days are
// removed at each change of day. A journal that cannot be written calls
// OnError once (again only after a later write succeeded); callers go on.
// Not thread-safe: the GUI thread (or the headless main thread) only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct TSilenceEvent;

class TMMJournal {
public:
    using TClock = std::function<int64_t()>;  // milliseconds since the epoch

    // folder empty: DefaultFolder(). clock unset: the system clock.
    explicit TMMJournal(std::string folder = {}, TClock clock = {});
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
    void DeviceEvent(int recorder, const std::string& what, const std::string& device);
    // The detector stopped watching (held = true) or watches again.
    void Monitoring(bool held, const std::string& reason);
    // Alarm and SoundRestored events of the detector; others are ignored.
    void SilenceEvent(const TSilenceEvent& e);

    // The file the next line goes to (for today's date).
    std::string FileFor(int64_t ms) const;
    uint64_t LinesWritten() const { return mLines; }
    uint64_t Failures() const { return mFailures; }

    std::function<void(const std::string&)> OnError;

    // Removes journal files (only names YYYY-MM-DD.log) older than KeepDays
    // before the date of `ms`. Run at every change of day.
    void Prune(int64_t ms);

private:
    void Append(const std::string& what);
    bool OpenFor(const std::string& date);
    void Fail(const std::string& text);

    std::string mFolder;
    TClock mClock;
    int mKeepDays = DefaultKeepDays;
    int mFd = -1;
    std::string mDate;  // date of the open file
    bool mReported = false;
    uint64_t mLines = 0;
    uint64_t mFailures = 0;
};

// "YYYY-MM-DD" of the local date at ms since the epoch.
std::string JournalDate(int64_t ms);
// The local time as "YYYY-MM-DDTHH:MM:SS.mmm+HHMM".
std::string JournalTimestamp(int64_t ms);
// level (full scale 32768) in dBFS with two decimals, "-inf" for 0.
std::string JournalLevelDb(int level);
// A label in double quotes; quotes, backslashes and control characters escaped.
std::string JournalQuoted(const std::string& text);
