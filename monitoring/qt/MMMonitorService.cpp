#include "monitoring/qt/MMMonitorService.h"

#include "base/SteadyClock.h"
#include "monitoring/MMSilence.h"

#include <QUrl>

TMMMonitorService::TMMMonitorService(const std::string& journalFolder, QObject* parent)
    : QObject(parent), mJournal(journalFolder), mWebhook(this)
{
    mJournal.OnError = [this](const std::string& t) { report(t); };
    mCommands.OnError = [this](const std::string& t) { report(t); };
    mWebhook.OnError = [this](const std::string& t) { report(t); };
    mPoll.setInterval(200);
    connect(&mPoll, &QTimer::timeout, this, [this] {
        mCommands.Poll();
        mJournal.Poll();  // the writer's failures reach OnError here, on this thread
        if (mCommands.Running() == 0 && mJournal.Pending() == 0) {
            mJournal.Poll();
            mPoll.stop();
        }
    });
}

void TMMMonitorService::report(const std::string& text)
{
    if (OnError) OnError(text);
}

void TMMMonitorService::setActions(const TActionSettings& s)
{
    mActions = s;
    mActions.TimeLimitSeconds = s.TimeLimitSeconds < 1 ? 1 : s.TimeLimitSeconds > 3600 ? 3600 : s.TimeLimitSeconds;
    mCommands.setCommand(TActionKind::Alarm, s.AlarmCommand);
    mCommands.setCommand(TActionKind::Restored, s.RestoredCommand);
    mCommands.setTimeLimitMs(mActions.TimeLimitSeconds * 1000);
}

TMonitorCounters TMMMonitorService::Counters() const
{
    TMonitorCounters c;
    c.JournalLines = mJournal.LinesWritten();
    c.JournalErrors = mJournal.Failures();
    c.JournalDropped = mJournal.Dropped();
    c.Commands = mCommands.Started();
    c.CommandFailures = mCommands.Failures();
    c.CommandsSkipped = mCommands.Skipped();
    c.WebhookDelivered = mWebhook.Delivered();
    c.WebhookFailed = mWebhook.Failed();
    c.WebhookDropped = mWebhook.Dropped();
    return c;
}

int64_t TMMMonitorService::AlarmMs(int strip) const { return mAlarmTime.AlarmMs(strip, SteadyNowMs()); }

void TMMMonitorService::SilenceEvent(const TSilenceEvent& e)
{
    mAlarmTime.Event(e.Kind, e.Strip, SteadyNowMs());
    TActionEvent a;
    if (!ActionEventFrom(e, a)) return;
    mJournal.SilenceEvent(e);
    mCommands.Run(a);
    if (!mPoll.isActive()) mPoll.start();
    const std::string& url = mActions.Url(a.Kind);
    if (!url.empty()) mWebhook.Post(QUrl(QString::fromStdString(url)), QByteArray::fromStdString(ActionJson(a)));
}

void TMMMonitorService::DeviceEvent(int recorder, const std::string& what, const std::string& device,
                                    const std::string& reason)
{
    mJournal.DeviceEvent(recorder, what, device, reason);
    if (!mPoll.isActive()) mPoll.start();
}
