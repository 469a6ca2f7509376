#include "app/SettingsFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr size_t kPage = 4096;

std::string sysError(const std::string& what, int err) { return what + ": " + std::strerror(err); }

class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : mFd(fd) {}
    ~TFd() { reset(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return mFd; }
    bool valid() const { return mFd >= 0; }
    void reset(int fd = -1)
    {
        if (mFd >= 0) ::close(mFd);
        mFd = fd;
    }
    int release()
    {
        const int fd = mFd;
        mFd = -1;
        return fd;
    }

private:
    int mFd = -1;
};

void sleepMicros(long us)
{
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

long nowMs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

// flock with a deadline; false with errno set on failure (EWOULDBLOCK on timeout).
bool lockWithin(int fd, int op, int timeoutMs)
{
    const long deadline = nowMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        if (::flock(fd, op | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return false;
        if (nowMs() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        sleepMicros(300);
    }
}

bool readAll(int fd, std::string& out)
{
    out.clear();
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char buf[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

bool writeAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = ENOSPC;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

std::string parentDir(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool makeDirs(const std::string& dir)
{
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        errno = ENOTDIR;
        return false;
    }
    if (errno != ENOENT) return false;
    const std::string up = parentDir(dir);
    if (up != dir && !makeDirs(up)) return false;
    if (::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST) return true;
    return false;
}

// The file section of a key: "HKEY_CURRENT_USER\<path>"; "" when the store cannot hold it.
std::string sectionOf(TSettingsRoot root, const std::string& keyPath)
{
    if (root != TSettingsRoot::CurrentUser) return {};
    size_t b = 0, e = keyPath.size();
    while (b < e && keyPath[b] == '\\') ++b;
    while (e > b && keyPath[e - 1] == '\\') --e;
    if (b == e) return {};
    for (size_t i = b; i < e; ++i)
        if (static_cast<unsigned char>(keyPath[i]) < 0x20 || keyPath[i] == 0x7F) return {};
    return "HKEY_CURRENT_USER\\" + keyPath.substr(b, e - b);
}

bool nameUsable(const std::string& name)
{
    return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string backupName(const std::string& target)
{
    char stamp[32];
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string base = target + ".corrupt-" + stamp;
    std::string name = base;
    struct stat st;
    for (int n = 2; ::lstat(name.c_str(), &st) == 0 && n < 1000; ++n) name = base + "-" + std::to_string(n);
    return name;
}

}  // namespace

std::string DefaultSettingsFile()
{
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string h = (home && home[0] == '/') ? home : "";
        if (h.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') h = pw->pw_dir;
        }
        if (h.empty()) return {};
        base = h + "/.config";
    }
    return base + "/Tarvolin/settings.reg";
}

TSettingsFile::TSettingsFile(std::string path, TWarn warn) : mPath(std::move(path)), mWarn(std::move(warn))
{
    if (!mWarn) mWarn = [](const std::string& line) { std::cerr << line << std::endl; };
}

bool TSettingsFile::fail(const std::string& why)
{
    mLastError = why;
    if (!mFailing) {
        mFailing = true;
        mWarn("tarvolin: settings not saved to " + (mPath.empty() ? std::string("(no file)") : mPath) + ": " + why);
    }
    return false;
}

// The file to work on: a symbolic link is followed so a linked settings file stays linked.
std::string TSettingsFile::target() const
{
    struct stat st;
    if (::lstat(mPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(mPath.c_str(), nullptr)) {
            std::string r = real;
            std::free(real);
            return r;
        }
    }
    return mPath;
}

bool TSettingsFile::ReadValue(TSettingsRoot root, const std::string& keyPath, const std::string& name, TRegData& out)
{
    const std::string section = sectionOf(root, keyPath);
    if (section.empty() || mPath.empty()) return false;
    const std::string file = target();

    // A shared lock keeps a half-appended line out of view; without a lock file nobody wrote yet.
    TFd lock(::open((file + ".lock").c_str(), O_RDONLY | O_CLOEXEC));
    if (lock.valid()) {
        if (!lockWithin(lock.get(), LOCK_SH, mLockTimedOut ? 0 : mLockTimeoutMs)) {
            mLockTimedOut = true;  // read what is there; a torn last line reads as missing
        } else {
            mLockTimedOut = false;
        }
    }
    TFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    std::string text;
    if (!readAll(fd.get(), text)) return false;

    bool found = false;
    TRegScanInfo info;
    const bool ok = ScanRegText(
        text, info,
        [&](std::string_view key, std::string_view n, const TRegData& data, bool deleted) {
            if (!SameName(n, name) || !SameName(key, section)) return;
            found = !deleted;
            if (found) out = data;
        },
        [&](std::string_view key, bool deleted) {
            if (deleted && SameName(key, section)) found = false;
        });
    if (!ok) {
        if (!mCorruptWarned) {
            mCorruptWarned = true;
            mWarn("tarvolin: settings file " + file + " cannot be read (" + info.error +
                  "); using defaults, and it will be kept aside before the next save");
        }
        return false;
    }
    return found;
}

bool TSettingsFile::WriteValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                               const TRegData& data)
{
    const std::string section = sectionOf(root, keyPath);
    if (section.empty() || !nameUsable(name)) {
        mLastError = "value name or key path cannot be stored";
        return false;
    }
    if (mPath.empty()) return fail("no settings file (neither XDG_CONFIG_HOME nor HOME is set)");
    const std::string file = target();
    const std::string lockName = file + ".lock";
    TFd lock(::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock.valid() && errno == ENOENT) {
        // First save: create the folder.
        if (!makeDirs(parentDir(file))) return fail(sysError("cannot create " + parentDir(file), errno));
        lock.reset(::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    }
    if (!lock.valid()) return fail(sysError("cannot open " + lockName, errno));
    if (!lockWithin(lock.get(), LOCK_EX, mLockTimedOut ? 0 : mLockTimeoutMs)) {
        const int err = errno;
        mLockTimedOut = err == EWOULDBLOCK;
        return fail(err == EWOULDBLOCK ? "another instance holds " + file + ".lock" : sysError("flock", err));
    }
    mLockTimedOut = false;

    // Read-merge-write under the lock: the file as another instance may just have left it.
    TFd fd(::open(file.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
    const bool exists = fd.valid();
    if (!exists && errno != ENOENT) return fail(sysError("cannot open " + file, errno));
    std::string text;
    struct stat st {};
    if (exists && (::fstat(fd.get(), &st) != 0 || !readAll(fd.get(), text)))
        return fail(sysError("cannot read " + file, errno));

    // The value as stored now: the spelling it was first written with, its latest data, and
    // how many lines hold it.
    bool found = false;
    int occurrences = 0;
    std::string spelling;
    TRegData current;
    TRegScanInfo info;
    const bool parsed = ScanRegText(
        text, info,
        [&](std::string_view key, std::string_view n, const TRegData& d, bool deleted) {
            if (!SameName(n, name) || !SameName(key, section)) return;
            ++occurrences;
            if (deleted) {
                found = false;
            } else {
                if (!found) spelling.assign(n);
                found = true;
                current = d;
            }
        },
        [&](std::string_view key, bool deleted) {
            if (deleted && SameName(key, section)) found = false;
        });
    if (!parsed) {
        // Keep the unreadable file whole before anything replaces it.
        const std::string backup = backupName(file);
        if (::rename(file.c_str(), backup.c_str()) != 0)
            return fail(sysError("cannot keep the unreadable file aside as " + backup, errno));
        mLastBackup = backup;
        mWarn("tarvolin: settings file " + file + " could not be read (" + info.error + "); kept it as " + backup +
              " and started afresh");
        mCorruptWarned = true;
        fd.reset();
        text.clear();
        found = false;
    }
    if (found && current == data) {
        mFailing = false;
        mLastError.clear();
        return true;  // already stored
    }
    if (!found) spelling = name;
    std::string line;
    if (!FormatRegValueLine(spelling, data, line)) {
        mLastError = "value cannot be written as text";
        return false;
    }

    // A name the file does not hold yet is appended while the file is plain UTF-8 ending in
    // our key; a changed value replaces the file whole, so every name stands once.
    const size_t size = static_cast<size_t>(st.st_size);
    const bool appendable = fd.valid() && info.utf8 && info.endsWithNewline && !text.empty() &&
                            SameName(info.lastKey, section) && occurrences == 0 && line.size() <= kPage;
    if (appendable) {
        // One write() of one short line: all there or, after a short write, taken back.
        const ssize_t w = ::write(fd.get(), line.data(), line.size());
        if (w == static_cast<ssize_t>(line.size())) {
            mFailing = false;
            mLastError.clear();
            return true;
        }
        const int err = w < 0 ? errno : ENOSPC;
        if (::ftruncate(fd.get(), static_cast<off_t>(size)) == 0) return fail(sysError("cannot write " + file, err));
        // The partial line could not be taken back: replace the file whole below.
    }

    TRegDocument doc;
    TRegScanInfo ignored;
    if (!text.empty()) ParseRegText(text, doc, ignored);
    doc.AddKey(section).Set(spelling, data);
    const std::string whole = FormatRegText(doc);
    const std::string tmp = file + ".tmp";
    TFd out(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out.valid()) return fail(sysError("cannot create " + tmp, errno));
    if (exists) (void)::fchmod(out.get(), st.st_mode & 07777);
    if (!writeAll(out.get(), whole.data(), whole.size()) || ::fdatasync(out.get()) != 0) {
        const int err = errno;
        out.reset();
        ::unlink(tmp.c_str());
        return fail(sysError("cannot write " + tmp, err));
    }
    if (::close(out.release()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(sysError("cannot write " + tmp, err));
    }
    if (::rename(tmp.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return fail(sysError("cannot replace " + file, err));
    }
    TFd dir(::open(parentDir(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) (void)::fsync(dir.get());
    ++mRewrites;
    mFailing = false;
    mLastError.clear();
    return true;
}
