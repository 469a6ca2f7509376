#include "monitoring/MMMonitorSettings.h"

namespace {

int InRange(int v, int lo, int hi, int def) { return v < lo || v > hi ? def : v; }

}  // namespace

TMonitorSettings ReadMonitorSettings(TSettingsAccess& store)
{
    const TMonitorSettings d;
    TMonitorSettings s;
    s.JournalDays = InRange(store.ReadInt(kJournalDaysName, d.JournalDays), 1, 36500, d.JournalDays);
    s.RecoverySeconds = InRange(store.ReadInt(kRecoverySecondsName, d.RecoverySeconds), 0, 3600, d.RecoverySeconds);
    s.Actions.AlarmCommand = store.ReadText(kAlarmCommandName, "");
    s.Actions.RestoredCommand = store.ReadText(kRestoredCommandName, "");
    s.Actions.AlarmUrl = store.ReadText(kAlarmUrlName, "");
    s.Actions.RestoredUrl = store.ReadText(kRestoredUrlName, "");
    s.Actions.TimeLimitSeconds =
        InRange(store.ReadInt(kActionTimeLimitName, d.Actions.TimeLimitSeconds), 1, 3600, d.Actions.TimeLimitSeconds);
    return s;
}

void WriteMonitorSettings(TSettingsAccess& store, const TMonitorSettings& s)
{
    store.WriteInt(kJournalDaysName, s.JournalDays);
    store.WriteInt(kRecoverySecondsName, s.RecoverySeconds);
    store.WriteText(kAlarmCommandName, s.Actions.AlarmCommand);
    store.WriteText(kRestoredCommandName, s.Actions.RestoredCommand);
    store.WriteText(kAlarmUrlName, s.Actions.AlarmUrl);
    store.WriteText(kRestoredUrlName, s.Actions.RestoredUrl);
    store.WriteInt(kActionTimeLimitName, s.Actions.TimeLimitSeconds);
}
