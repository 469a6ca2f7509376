// The monitoring service's stored values: journal days, recovery time and
// the actions, read and written through the settings store. Qt-free.
#pragma once

#include "base/SettingsAccess.h"
#include "monitoring/MMActions.h"

inline constexpr const char* kJournalDaysName = "Journal Days";
inline constexpr const char* kRecoverySecondsName = "Recovery Seconds";
inline constexpr const char* kAlarmCommandName = "Action Alarm Command";
inline constexpr const char* kRestoredCommandName = "Action Restored Command";
inline constexpr const char* kAlarmUrlName = "Action Alarm URL";
inline constexpr const char* kRestoredUrlName = "Action Restored URL";
inline constexpr const char* kActionTimeLimitName = "Action Time Limit";

struct TMonitorSettings {
    int JournalDays = 90;      // 1 ... 36500
    int RecoverySeconds = 0;   // 0 ... 3600
    TActionSettings Actions;   // time limit 1 ... 3600 s, default 30
};

// Out-of-range numbers give their default.
TMonitorSettings ReadMonitorSettings(TSettingsAccess& store);
void WriteMonitorSettings(TSettingsAccess& store, const TMonitorSettings& s);
