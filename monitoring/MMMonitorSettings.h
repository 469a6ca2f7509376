// The monitoring service's stored values: journal days, recovery time and
// the actions, read and written through the settings store. Qt-free.
#pragma once

#include "base/SettingKey.h"
#include "monitoring/MMActions.h"
#include "monitoring/MMJournal.h"

inline constexpr TIntSetting kJournalDays{"Journal Days", TMMJournal::DefaultKeepDays};            // 1 ... 36500
inline constexpr TIntSetting kRecoverySeconds{"Recovery Seconds", 0};     // 0 ... 3600
inline constexpr TTextSetting kAlarmCommand{"Action Alarm Command", ""};
inline constexpr TTextSetting kRestoredCommand{"Action Restored Command", ""};
inline constexpr TTextSetting kAlarmUrl{"Action Alarm URL", ""};
inline constexpr TTextSetting kRestoredUrl{"Action Restored URL", ""};
inline constexpr TIntSetting kActionTimeLimit{"Action Time Limit", TActionSettings::DefaultTimeLimitSeconds};  // 1 ... 3600
// The status endpoint's access token ("" none; --status-token-file overrides it).
inline constexpr TTextSetting kStatusToken{"Status Token", ""};
inline constexpr size_t kMinTokenLength = 12;

// The keys above, in the order the table of stored values lists them.
inline constexpr TSettingDecl kMonitorSettingDecls[] = {
    kJournalDays.Decl(), kRecoverySeconds.Decl(), kAlarmCommand.Decl(), kRestoredCommand.Decl(),
    kAlarmUrl.Decl(),    kRestoredUrl.Decl(),     kActionTimeLimit.Decl(), kStatusToken.Decl()};

struct TMonitorSettings {
    int JournalDays = kJournalDays.Default;
    int RecoverySeconds = kRecoverySeconds.Default;
    TActionSettings Actions;   // time limit 1 ... 3600 s
};

// Out-of-range numbers give their default.
TMonitorSettings ReadMonitorSettings(TSettingsAccess& store);
void WriteMonitorSettings(TSettingsAccess& store, const TMonitorSettings& s);
