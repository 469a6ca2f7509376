#include "app/qt/MeterEngine.h"

#include "app/CommandLine.h"
#include "app/qt/MainAudio.h"
#include "app/qt/StopSignals.h"
#include "metering/MMLevel.h"
#include "monitoring/MMSilence.h"
#include "monitoring/qt/MMMonitorService.h"
#include "monitoring/qt/MMStatusServer.h"

#include <QDateTime>

#include <iostream>

TMeterEngine::TMeterEngine(TMainAudio& audio, TSettingsAccess& store)
    : mAudio(audio), mStore(store), mService(std::make_unique<TMMMonitorService>()),
      mStopSignals(std::make_unique<TStopSignals>()), mStatusSource(std::make_unique<TMMStatusFunction>())
{
    mStartMs = QDateTime::currentMSecsSinceEpoch();
    mStopSignals->OnStop = [this] {
        if (OnStop) OnStop();
    };
    mService->OnError = [this](const std::string& text) { logLine(text, true); };
    // Every device event goes to the journal; a lost or returning input device
    // also gives one line for the operator.
    mSelf = std::make_shared<TMeterEngine*>(this);
    mAudio.AddDeviceListener([self = std::weak_ptr<TMeterEngine*>(mSelf)](int k, const std::string& what,
                                                                          const std::string& device) {
        const auto e = self.lock();
        if (!e) return;
        (*e)->mService->DeviceEvent(k, what, device);
        const std::string line = DeviceEventLine(k, what, device);
        if (!line.empty()) (*e)->logLine(line, true);
    });
    mStatusSource->OnSnapshot = [this] { return Snapshot(); };
}

TMeterEngine::~TMeterEngine()
{
    if (mDetector) mDetector->OnHold = nullptr;
}

void TMeterEngine::logLine(const std::string& line, bool toStderr)
{
    if (toStderr) std::cerr << "tarvolin: " << line << "\n";
    if (OnLogLine) OnLogLine(line);
}

void TMeterEngine::Attach(TMMSilenceDetector& detector, TMeterStrips strips)
{
    mDetector = &detector;
    mStrips = std::move(strips);
    detector.AddListener([self = std::weak_ptr<TMeterEngine*>(mSelf)](const TSilenceEvent& e) {
        const auto p = self.lock();
        if (!p) return;
        TMeterEngine& engine = **p;
        engine.mService->SilenceEvent(e);
        if (e.Kind == TSilenceEventKind::LogLine && engine.mLogOut.is_open()) engine.mLogOut << e.Line << std::endl;
    });
    detector.OnHold = [this](bool held, const std::string& reason) {
        mService->MonitoringHeld(held, reason);
        logLine(std::string(held ? "Silence monitoring paused: " : "Silence monitoring resumed after ") + reason,
                false);
    };
    ApplyMonitorSettings(ReadMonitorSettings(mStore));
}

bool TMeterEngine::Start(const CommandLine& cl, std::ostream& err)
{
    // --log-out: every log line, appended and flushed as it is written.
    if (!cl.logOut.empty()) {
        mLogOut.open(cl.logOut, std::ios::app | std::ios::binary);
        if (!mLogOut) err << "tarvolin: cannot open " << cl.logOut << " for the log lines\n";
    }
    if (cl.statusPort > 0 && !(mStatus = TMMStatusServer::Start(*mStatusSource, cl.statusBind, cl.statusPort, err)))
        return false;
    return true;
}

void TMeterEngine::ApplyMonitorSettings(const TMonitorSettings& m)
{
    mService->setActions(m.Actions);
    mService->setJournalDays(m.JournalDays);
    if (mDetector) mDetector->setRecoverySeconds(m.RecoverySeconds);
}

TStatusSnapshot TMeterEngine::Snapshot() const
{
    TStatusSnapshot s;
    s.TimeMs = QDateTime::currentMSecsSinceEpoch();
    s.UptimeSeconds = (s.TimeMs - mStartMs) / 1000.0;
    s.Detector = mStrips.DetectorOn && mStrips.DetectorOn();
    s.Channels = mStrips.Channels ? mStrips.Channels() : 0;
    const int watched = SilenceWatchedStrips(mStrips.ModeIndex ? mStrips.ModeIndex() : -1);
    for (int n = 1; n <= tv::kStrips; ++n) {
        TStripStatus t;
        t.Strip = n;
        t.Watched = n <= watched;
        if (mStrips.Label) t.Label = mStrips.Label(n);
        if (const TMMCustomLevel* b = mStrips.Bar ? mStrips.Bar(n) : nullptr) {
            t.Level = b->SilenceLevel();
            t.Peak = b->LastBlockPeak();
        }
        if (t.Watched && mDetector) FillDetectorStatus(t, *mDetector, s.TimeMs);
        s.Strips.push_back(t);
    }
    for (int k = 1; k <= tv::kPairs; ++k)
        s.Recorders.push_back({k, mAudio.RecorderDeviceName(k), mAudio.Running(k), mAudio.Reopens(k), mAudio.Buffers(k)});
    return s;
}

void TMeterEngine::CollectStats(TRunStats& s) const
{
    mAudio.CollectStats(s);
    for (int n = 1; n <= tv::kStrips; ++n) {
        if (const TMMCustomLevel* b = mStrips.Bar ? mStrips.Bar(n) : nullptr) s.levels[n - 1] = b->SilenceLevel();
        if (mDetector) {
            s.alarms[n - 1] = mDetector->Stats(n).Alarms;
            s.silences[n - 1] = mDetector->Stats(n).Silences;
        }
    }
    if (mDetector) s.log_lines = mDetector->LogLineCount();
}
