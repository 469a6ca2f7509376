// The settings store as one per-user text file in the registry export format (REGEDIT5),
// so a user can carry settings between platforms:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Verholt-Products\Tarvolin]
//   "Window Left"=dword:00000008
//   "skin"="/usr/share/tarvolin/skins/iTunes.skn"
//
// Every call is self-contained: it locks, reads the file as it is now, merges one value and
// writes, so several instances keep each other's values. Writes hold an exclusive flock on
// "<file>.lock"; reads a shared one. A value the file does not hold yet is appended as one
// line (a single write(), undone on a short write); any other change replaces the whole file
// atomically (temporary file, fdatasync, rename), so every name stands in it once. A file that cannot be
// parsed reads as empty and is renamed to "<file>.corrupt-<time>" before anything is written.
// Failures print one warning to stderr per run of failures and are otherwise silent.
// Qt-free; GUI thread.
#pragma once

#include "app/Settings.h"

#include <functional>
#include <string>

class TSettingsFile : public TSettingsStore {
public:
    using TWarn = std::function<void(const std::string&)>;

    // `warn` receives each warning line; by default it goes to stderr.
    explicit TSettingsFile(std::string path, TWarn warn = {});

    const std::string& Path() const { return mPath; }

    bool ReadValue(TSettingsRoot root, const std::string& keyPath, const std::string& name, TRegData& out) override;
    bool WriteValue(TSettingsRoot root, const std::string& keyPath, const std::string& name,
                    const TRegData& data) override;

    // How long a call waits for another instance's lock before giving up (ms). After one
    // timeout, later calls try once only until the lock is had again.
    void SetLockTimeoutMs(int ms) { mLockTimeoutMs = ms; }
    // Why the last failed call failed ("" after a success).
    const std::string& LastError() const { return mLastError; }
    // Path of the last corrupt file kept aside ("" when none).
    const std::string& LastBackup() const { return mLastBackup; }
    // Whole-file replacements done by this object (appends are not counted).
    int Rewrites() const { return mRewrites; }

private:
    bool fail(const std::string& why);
    std::string target() const;

    std::string mPath;
    TWarn mWarn;
    int mLockTimeoutMs = 3000;
    bool mLockTimedOut = false;
    bool mFailing = false;         // a warning was given and no write succeeded since
    bool mCorruptWarned = false;
    std::string mLastError;
    std::string mLastBackup;
    int mRewrites = 0;
};

// $XDG_CONFIG_HOME/Tarvolin/settings.reg, or ~/.config/Tarvolin/settings.reg; "" when neither
// an absolute XDG_CONFIG_HOME nor a home folder is known.
std::string DefaultSettingsFile();
