#include "monitoring/MMMonitorSettings.h"

namespace {

int InRange(int v, int lo, int hi, int def) { return v < lo || v > hi ? def : v; }

}  // namespace

TMonitorSettings ReadMonitorSettings(TSettingsAccess& store)
{
    const TMonitorSettings d;
    TMonitorSettings s;
    s.JournalDays = InRange(kJournalDays.Read(store), 1, 36500, d.JournalDays);
    s.RecoverySeconds = InRange(kRecoverySeconds.Read(store), 0, 3600, d.RecoverySeconds);
    s.Actions.AlarmCommand = kAlarmCommand.Read(store);
    s.Actions.RestoredCommand = kRestoredCommand.Read(store);
    s.Actions.AlarmUrl = kAlarmUrl.Read(store);
    s.Actions.RestoredUrl = kRestoredUrl.Read(store);
    s.Actions.TimeLimitSeconds = InRange(kActionTimeLimit.Read(store), 1, 3600, d.Actions.TimeLimitSeconds);
    return s;
}

void WriteMonitorSettings(TSettingsAccess& store, const TMonitorSettings& s)
{
    kJournalDays.Write(store, s.JournalDays);
    kRecoverySeconds.Write(store, s.RecoverySeconds);
    kAlarmCommand.Write(store, s.Actions.AlarmCommand);
    kRestoredCommand.Write(store, s.Actions.RestoredCommand);
    kAlarmUrl.Write(store, s.Actions.AlarmUrl);
    kRestoredUrl.Write(store, s.Actions.RestoredUrl);
    kActionTimeLimit.Write(store, s.Actions.TimeLimitSeconds);
}
