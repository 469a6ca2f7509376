// `TMMMonitorService`: what happens beside the window when the detector
// reports an alarm or restored sound: the journal line, the command and the
// webhook POST of the event. The program (windowed or headless) owns one and
// hands it the detector's events. GUI thread only.
#pragma once

#include "monitoring/MMActions.h"
#include "monitoring/MMJournal.h"
#include "monitoring/MMStatus.h"
#include "monitoring/qt/MMWebhook.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

struct TSilenceEvent;

class TMMMonitorService : public QObject {
    Q_OBJECT
public:
    // journalFolder empty: TMMJournal::DefaultFolder().
    explicit TMMMonitorService(const std::string& journalFolder = {}, QObject* parent = nullptr);

    void setActions(const TActionSettings& s);
    const TActionSettings& Actions() const { return mActions; }
    void setJournalDays(int days) { mJournal.setKeepDays(days); }

    // One event of the detector (its listener).
    void SilenceEvent(const TSilenceEvent& e);
    // The detector was held (monitoring paused) or released.
    void MonitoringHeld(bool held, const std::string& reason) { mJournal.Monitoring(held, reason); }
    // A recorder's device opened, was lost or reopened.
    void DeviceEvent(int recorder, const std::string& what, const std::string& device, const std::string& reason = {});

    TMMJournal& Journal() { return mJournal; }
    TMMCommandRunner& Commands() { return mCommands; }
    TMMWebhook& Webhook() { return mWebhook; }
    // The journal's, commands' and webhook's counters since start.
    TMonitorCounters Counters() const;
    // Alarms and time in alarm per strip, from the detector's events (steady clock).
    uint64_t Alarms(int strip) const { return mAlarmTime.Alarms(strip); }
    int64_t AlarmMs(int strip) const;

    // A journal, command or webhook failure, as one line for the log window
    // (each source reports a run of failures once). A journal failure comes
    // from the 200 ms poll after the event (the journal writes on its thread).
    std::function<void(const std::string&)> OnError;

private:
    void report(const std::string& text);

    TActionSettings mActions;
    TMMJournal mJournal;
    TMMCommandRunner mCommands;
    TMMWebhook mWebhook;
    TMMAlarmTime mAlarmTime;
    QTimer mPoll;  // reaps commands and reports journal failures while any are pending
};
