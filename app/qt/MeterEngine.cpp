#include "app/qt/MeterEngine.h"

#include "app/CommandLine.h"
#include "app/InputModes.h"
#include "app/MainLayout.h"
#include "app/ScaleImages.h"
#include "app/qt/MainAudio.h"
#include "app/qt/StopSignals.h"
#include "audio/MMAudioBackend.h"
#include "audio/MMConnectorSinks.h"
#include "audio/MMWavIn.h"
#include "base/SteadyClock.h"
#include "correlation/MMCorrelationSettings.h"
#include "metering/MMPresets.h"
#include "metering/MainBar.h"
#include "monitoring/qt/MMMonitorService.h"
#include "monitoring/qt/MMSilenceLocale.h"
#include "monitoring/qt/MMStatusServer.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <iostream>

// The level settings' view of the strips: the analysers and the label
// colours are the engine's; pictures, scales, heights and the caption go to
// every view that shows strips.
class TMeterEngine::TStrips : public TMMMeterWindow {
public:
    explicit TStrips(TMeterEngine& e) : mE(e) {}

    TMMCustomLevel* Level(int n) override { return n >= 1 && n <= tv::kStrips ? &mE.Bar(n) : nullptr; }
    void SetLevelTop(int n, int top) override
    {
        each([&](TMMMeterWindow& w) { w.SetLevelTop(n, top); });
    }
    void SetScaleTop(int n, int top) override
    {
        each([&](TMMMeterWindow& w) { w.SetScaleTop(n, top); });
    }
    void SetStripHeight(int n, int height) override
    {
        each([&](TMMMeterWindow& w) { w.SetStripHeight(n, height); });
    }
    void SetPictureVisible(int n, bool visible) override
    {
        each([&](TMMMeterWindow& w) { w.SetPictureVisible(n, visible); });
    }
    void SetScaleVisible(int n, bool visible) override
    {
        each([&](TMMMeterWindow& w) { w.SetScaleVisible(n, visible); });
    }
    void SetScaleSensitivy(int n, int db) override
    {
        each([&](TMMMeterWindow& w) { w.SetScaleSensitivy(n, db); });
    }
    void DrawPicture(int n, TMMScalePicture picture) override
    {
        each([&](TMMMeterWindow& w) { w.DrawPicture(n, picture); });
    }
    int LabelTop() const override
    {
        for (TMeterView* v : mE.mViews)
            if (TMMMeterWindow* w = v->StripDisplay()) return w->LabelTop();
        return 0;
    }
    TColor LabelColor(int n) const override { return mE.mLedColor[n - 1]; }
    void SetLabelColor(int n, TColor c) override
    {
        mE.mLedColor[n - 1] = c;
        mE.eachView([&](TMeterView& v) { v.ShowLEDColor(n, c); });
    }
    void SetCaption(const std::string& text) override
    {
        each([&](TMMMeterWindow& w) { w.SetCaption(text); });
    }
    void SetStayOnTop(bool on) override
    {
        each([&](TMMMeterWindow& w) { w.SetStayOnTop(on); });
    }
    void SetSilenceCheck(bool on) override
    {
        if (!on)
            mE.mTimerOff.Stop();
        else
            mE.mTimerOff.Start();
    }

private:
    template <class F>
    void each(F f)
    {
        mE.eachView([&](TMeterView& v) {
            if (TMMMeterWindow* w = v.StripDisplay()) f(*w);
        });
    }

    TMeterEngine& mE;
};

// The left strip's sink of pair k: the bar's blocks (interleaved frames of
// both channels), summed for the live page's correlation while k is the
// chosen pair. GUI thread, once per block.
class TMeterEngine::TCorrelationSink : public TMMLevelSink {
public:
    TCorrelationSink(TMMCustomLevel& bar, int pair, TMeterEngine& e) : mBar(bar), mPair(pair), mE(e) {}
    void SetWaveFormat(const WaveFormat* f) override
    {
        mBar.SetWaveFormat(f);
        mRate = f && f->nChannels == 2 && f->wBitsPerSample == 16 ? static_cast<int>(f->nSamplesPerSec) : 0;
    }
    int BlockBytes() const override { return mBar.BlockBytes(); }
    void ProcessBlock(const void* block) override
    {
        mBar.ProcessBlock(block);
        sum(static_cast<const char*>(block), 1, 0);
    }
    void ProcessBlocks(const char* first, int count, int stride) override
    {
        mBar.ProcessBlocks(first, count, stride);
        sum(first, count, stride);
    }
    void ResetData() override { mBar.ResetData(); }

private:
    // The blocks into the live correlation while this pair is the chosen one.
    void sum(const char* first, int count, int stride)
    {
        if (mRate <= 0 || mE.mCorrelationPair != mPair) return;
        for (int i = 0; i < count; ++i)
            mE.mCorrelation.Add(reinterpret_cast<const int16_t*>(first + static_cast<ptrdiff_t>(i) * stride),
                                static_cast<size_t>(mBar.BlockBytes()) / 4, mRate);
    }

    TMMCustomLevel& mBar;
    const int mPair;
    TMeterEngine& mE;
    int mRate = 0;  // 0: not 16-bit stereo, nothing summed
};

TMeterEngine::TMeterEngine(TSettingsAccess& store)
    : mStore(store), mService(std::make_unique<TMMMonitorService>()),
      mStatusSource(std::make_unique<TMMStatusFunction>()), mLiveSource(std::make_unique<TMMLiveFunction>()),
      mAudio(std::make_unique<TMainAudio>()),
      mStrips(std::make_unique<TStrips>(*this)), mLevelSettings(mStrips.get(), &store),
      mConnections(std::make_unique<QObject>())
{
    mStartMs = QDateTime::currentMSecsSinceEpoch();
    mService->OnError = [this](const std::string& text) { logLine(text, true); };
    // Every device event goes to the journal; a lost or returning input device
    // also gives one line for the operator.
    mAudio->AddDeviceListener([this](int k, const std::string& what, const std::string& device,
                                     const std::string& reason) {
        mService->DeviceEvent(k, what, device, reason);
        const std::string line = DeviceEventLine(k, what, device, reason);
        if (!line.empty()) logLine(line, true);
    });
    mStatusSource->OnSnapshot = [this] { return Snapshot(); };
    mStatusSource->OnMetrics = [this] { return ScrapeSnapshot(); };
    mLiveSource->OnFrame = [this] { return LiveFrame(); };

    for (int n = 1; n <= tv::kStrips; ++n) {
        mBars[n - 1] = std::make_unique<TMMCustomLevel>();
        ApplyMainBarDesign(*mBars[n - 1], n);
        if (n % 2 == 1)
            mSinks[n - 1] = std::make_unique<TCorrelationSink>(*mBars[n - 1], (n + 1) / 2, *this);
        else
            mSinks[n - 1] = std::make_unique<TMMLevelSinkFor<TMMCustomLevel>>(*mBars[n - 1]);
        mLabels[n - 1] = std::to_string(n);
    }
    for (int k = 1; k <= tv::kPairs; ++k) mAudio->SetLevelSinks(k, mSinks[2 * k - 2].get(), mSinks[2 * k - 1].get());

    // What the restore hands to no view is kept as stored.
    mPlacement = ReadPlacement(store, DesignPlacement());
    mCorre = {kCorreTop.Read(store), kCorreLeft.Read(store), kCorreSpeed.Read(store), kCorreChannel.Read(store)};

    auto timer = [this](size_t i, int ms) {
        mOwnTimers[i] = std::make_unique<QTimer>();
        mOwnTimers[i]->setInterval(ms);
        return mOwnTimers[i].get();
    };
    mTimerOff.setTimer(timer(0, 1000));
    mTimerOn.setTimer(timer(1, 450));
    mReset.setTimer(timer(2, 10000));
    for (int n = 1; n <= tv::kStrips; ++n) mStripTimers[n - 1].setTimer(timer(2 + n, 1000));
    TMMSilenceDetector::Timers t;
    t.TimerOff = &mTimerOff;
    t.TimerOn = &mTimerOn;
    t.Reset = &mReset;
    for (int n = 1; n <= tv::kStrips; ++n) t.Strip[n - 1] = &mStripTimers[n - 1];
    mDetector = std::make_unique<TMMSilenceDetector>(*this, *this, t);
    mDetector->setPlayer(&mSound);
    mDetector->OnHold = [this](bool held, const std::string& reason) {
        mService->MonitoringHeld(held, reason);
        logLine(std::string(held ? "Silence monitoring paused: " : "Silence monitoring resumed after ") + reason,
                false);
    };
    mDetector->AddListener([this](const TSilenceEvent& e) {
        mService->SilenceEvent(e);
        if (e.Kind == TSilenceEventKind::LogLine) {
            keepLine(e.Line);
            if (mLogOut.is_open()) mLogOut << e.Line << std::endl;
        }
        eachView([&](TMeterView& v) { v.SilenceEvent(e); });
    });
    connectTimers();
    ApplyMonitorSettings(ReadMonitorSettings(mStore));
}

TMeterEngine::~TMeterEngine()
{
    // The analysers go before the recorders and connectors that feed them.
    for (int k = 1; k <= tv::kPairs; ++k) mAudio->SetLevelSinks(k, nullptr, nullptr);
    mConnections.reset();
    mDetector->OnHold = nullptr;
}

void TMeterEngine::connectTimers()
{
    mConnections = std::make_unique<QObject>();
    TMMSilenceDetector* d = mDetector.get();
    QObject::connect(mTimerOff.timer(), &QTimer::timeout, mConnections.get(), [d] { d->TimerOffTick(); });
    QObject::connect(mTimerOn.timer(), &QTimer::timeout, mConnections.get(), [d] { d->TimerOnTick(); });
    QObject::connect(mReset.timer(), &QTimer::timeout, mConnections.get(), [d] { d->ResetTick(); });
    for (int n = 1; n <= tv::kStrips; ++n)
        QObject::connect(mStripTimers[n - 1].timer(), &QTimer::timeout, mConnections.get(), [d, n] { d->StripTick(n); });
}

void TMeterEngine::UseTimers(const TTimers& timers)
{
    // A lent timer may be gone already (the dialog of t_reset closes before
    // the main window): it counts as stopped.
    auto take = [](TMMQtSilenceTimer& used, QTimer* lent, QTimer* own) {
        QTimer* next = lent ? lent : own;
        if (next == used.timer()) return;
        if (used.Active() && !next->isActive()) next->start();
        used.Stop();
        used.setTimer(next);
    };
    take(mTimerOff, timers.TimerOff, mOwnTimers[0].get());
    take(mTimerOn, timers.TimerOn, mOwnTimers[1].get());
    take(mReset, timers.Reset, mOwnTimers[2].get());
    for (int n = 1; n <= tv::kStrips; ++n) take(mStripTimers[n - 1], timers.Strip[n - 1], mOwnTimers[2 + n].get());
    connectTimers();
}

void TMeterEngine::AddView(TMeterView& view)
{
    if (std::find(mViews.begin(), mViews.end(), &view) == mViews.end()) mViews.push_back(&view);
}

void TMeterEngine::RemoveView(TMeterView& view) { mViews.erase(std::remove(mViews.begin(), mViews.end(), &view), mViews.end()); }

void TMeterEngine::logLine(const std::string& line, bool toStderr)
{
    if (toStderr) std::cerr << "tarvolin: " << line << "\n";
    keepLine(line);
    eachView([&](TMeterView& v) { v.OperatorLine(line); });
}

void TMeterEngine::keepLine(const std::string& line)
{
    mRecentLines.push_back(line);
    if (mRecentLines.size() > kRecentLines) mRecentLines.pop_front();
}

// ---- the stored values and the input setup ----------------------------------

void TMeterEngine::StartCheck()
{
    if (mLevelSettings.Detect()) mTimerOff.Start();
}

void TMeterEngine::SelectInputs(const std::function<void()>& setup)
{
    mDetector->setHeld(true, "input setup");
    CloseAllRecorders(*this);
    if (setup) setup();
    StartRecordersOfMode(*this, mMode);
    mDetector->setHeld(false, "input setup");
}

void TMeterEngine::SetInputMode(int mode)
{
    mMode = ClampInputMode(mode);
    mChannels = ChannelsForMode(mMode);
}

void TMeterEngine::SetRecorderSampleRate(int k, int rate)
{
    mAudio->SetSampleRate(k, rate);  // an open recorder refuses: it keeps its rate
    mSampleRate = rate;
    mRate = SampleRateIndexFor(rate);
}

void TMeterEngine::StopLogging()
{
    mLoggingOn = false;
    mDetector->ResetCounters();
}

TStripValues TMeterEngine::StripValues(int n) { return BarStripValues(*mBars[n - 1], mLedColor[n - 1]); }

void TMeterEngine::ApplyStripValues(int n, const TStripValues& v)
{
    ApplyBarStripValues(*mBars[n - 1], v);
    mStrips->SetLabelColor(n, v.LEDColor);
    mDetector->setCounter(n, 0);
}

TWindowPlacement TMeterEngine::Placement()
{
    for (TMeterView* v : mViews)
        if (v->Placement(mPlacement)) break;
    return mPlacement;
}

void TMeterEngine::ApplyPlacement(const TWindowPlacement& p)
{
    mPlacement = p;
    eachView([&](TMeterView& v) { v.ApplyPlacement(p); });
}

void TMeterEngine::SetLabelText(int n, const std::string& text)
{
    mLabels[n - 1] = text;
    eachView([&](TMeterView& v) { v.ShowLabelText(n, text); });
}

TLevelSetValues TMeterEngine::LevelSetValues()
{
    TLevelSetValues v = LevelSetValuesOf(mLevelSettings);
    // A stored sound file that could not be loaded (a drive not mounted at
    // start) stays stored until the user chooses another one.
    if (v.ArlamFile.empty()) v.ArlamFile = mUnloadedAlarmFile;
    return v;
}

TCorreValues TMeterEngine::CorreValues()
{
    for (TMeterView* v : mViews)
        if (v->CorreValues(mCorre)) break;
    return mCorre;
}

void TMeterEngine::ApplyLevelSetStart(const TLevelSetValues& v)
{
    ::ApplyLevelSetStart(mLevelSettings, v);
    // The player loads the file; the dialog shows what it loaded.
    mUnloadedAlarmFile.clear();
    eachView([&](TMeterView& view) {
        if (view.HasAlarmSound() && !view.RestoreAlarmFile(v.ArlamFile)) mUnloadedAlarmFile = v.ArlamFile;
    });
}

void TMeterEngine::ApplyInputMode(int mode)
{
    SetInputMode(mode);
    // Run at start even when the stored mode is the design choice, so a
    // window's width, lists and strips always match it.
    eachView([&](TMeterView& v) { v.ShowInputMode(mMode); });
}

void TMeterEngine::ApplyStandard(int standard, int integralMs, int reference)
{
    ApplyLevelSetStandard(mLevelSettings, standard, integralMs, reference);
}

void TMeterEngine::ApplySampleRate(int index)
{
    mRate = std::clamp(index, 0, 1);
    for (int k = 1; k <= tv::kPairs; ++k) {
        try {
            SetRecorderSampleRate(k, SampleRateForIndex(mRate));
        } catch (...) {
            // an open recorder keeps its rate
        }
    }
    eachView([&](TMeterView& v) { v.ShowSampleRate(mRate); });
}

void TMeterEngine::ApplyStereo(int stereo) { mLevelSettings.ApplyStereoItem(stereo); }

void TMeterEngine::ApplyDetector(const TLevelSetValues& v) { ApplyLevelSetDetector(mLevelSettings, v); }

void TMeterEngine::ShowInputSetupModal()
{
    if (std::none_of(mViews.begin(), mViews.end(), [](const TMeterView* v) { return v->HasInputSetup(); })) return;
    // No recorder runs yet: the detector holds while the dialog is open.
    mDetector->setHeld(true, "input setup");
    eachView([](TMeterView& v) { v.ShowInputSetupModal(); });
    mDetector->setHeld(false, "input setup");
}

void TMeterEngine::SetRecorderDevice(int k, int deviceId)
{
    try {
        mAudio->SetDevice(k, deviceId);
    } catch (...) {
        // refused while open; the recorder keeps its device
    }
}

void TMeterEngine::SetRecorderNotConnected(int k, const std::string& name) { mAudio->SetNotConnected(k, name); }

void TMeterEngine::SetAlarmOutDevice(int deviceId)
{
    eachView([&](TMeterView& v) { v.SetAlarmOutDevice(deviceId); });
}

void TMeterEngine::CloseRecorder(int k) { mAudio->Close(k); }
void TMeterEngine::StartRecorder(int k) { mAudio->Start(k); }

void TMeterEngine::ShowCorrelation()
{
    eachView([](TMeterView& v) { v.ShowCorrelation(); });
}

// ---- the detector's host --------------------------------------------------------

void TMeterEngine::RestartSilenceLevels()
{
    for (auto& b : mBars) b->RestartSilenceHold();
}

void TMeterEngine::SetLabelInactiveColor(int n, TColor c)
{
    eachView([&](TMeterView& v) { v.SetLabelInactiveColor(n, c); });
}

void TMeterEngine::SetLabelVisible(int n, bool visible)
{
    eachView([&](TMeterView& v) { v.SetLabelVisible(n, visible); });
}

void TMeterEngine::SetLabelEnabled(int n, bool enabled)
{
    eachView([&](TMeterView& v) { v.SetLabelEnabled(n, enabled); });
}

void TMeterEngine::DrawAlarm(int n)
{
    eachView([&](TMeterView& v) { v.DrawAlarm(n); });
}

void TMeterEngine::ReapplyStandard()
{
    eachView([](TMeterView& v) { v.ReapplyStandard(); });
}

void TMeterEngine::ReportError(const std::string& text)
{
    bool shown = false;
    eachView([&](TMeterView& v) { shown = v.ReportError(text) || shown; });
    if (!shown) std::cerr << "tarvolin: " << text << "\n";
}

int64_t TMeterEngine::NowMs() { return SilenceNowMs(); }
int64_t TMeterEngine::SteadyMs() { return SteadyNowMs(); }
std::string TMeterEngine::DateTimeText(int64_t ms) { return SilenceDateTimeText(ms); }
char TMeterEngine::DecimalSeparator() { return SilenceDecimalSeparator(); }

bool TMeterEngine::PlaySound() const
{
    if (!mLevelSettings.PlaySound()) return false;
    for (const TMeterView* v : mViews)
        if (v->HasAlarmSound()) return true;
    return false;
}

// ---- the monitoring side ----------------------------------------------------------

namespace {

// The first line of `path`, blanks around it dropped; false after one line on err.
bool ReadTokenFile(const std::string& path, std::string& token, std::ostream& err)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) {
        err << "tarvolin: cannot read the access token from " << path << "\n";
        return false;
    }
    const auto a = line.find_first_not_of(" \t\r");
    token = a == std::string::npos ? std::string() : line.substr(a, line.find_last_not_of(" \t\r") - a + 1);
    return true;
}

}  // namespace

bool TMeterEngine::Start(const CommandLine& cl, std::ostream& err)
{
    mStopSignals = std::make_unique<TStopSignals>();
    mStopSignals->OnStop = [this] {
        if (OnStop) OnStop();
    };
    // --log-out: every log line, appended and flushed as it is written.
    if (!cl.logOut.empty()) {
        mLogOut.open(cl.logOut, std::ios::app | std::ios::binary);
        if (!mLogOut) err << "tarvolin: cannot open " << cl.logOut << " for the log lines\n";
    }
    if (cl.statusPort <= 0) return true;
    std::string token = kStatusToken.Read(mStore);
    if (!cl.statusTokenFile.empty() && !ReadTokenFile(cl.statusTokenFile, token, err)) return false;
    if (!token.empty() && token.size() < kMinTokenLength) {
        err << "tarvolin: the status access token is shorter than " << kMinTokenLength << " characters\n";
        return false;
    }
    TMMStatusServer::TStartOptions o;
    o.Address = cl.statusBind;
    o.Port = cl.statusPort;
    o.Token = token;
    o.CertFile = cl.statusCert;
    o.KeyFile = cl.statusKey;
    o.Live = mLiveSource.get();
    mStatus = TMMStatusServer::Start(*mStatusSource, o, err);
    return mStatus != nullptr;
}

void TMeterEngine::ApplyMonitorSettings(const TMonitorSettings& m)
{
    mService->setActions(m.Actions);
    mService->setJournalDays(m.JournalDays);
    mDetector->setRecoverySeconds(m.RecoverySeconds);
}

TStatusSnapshot TMeterEngine::Snapshot() const
{
    TStatusSnapshot s;
    s.TimeMs = QDateTime::currentMSecsSinceEpoch();
    s.StartMs = mStartMs;
    s.UptimeSeconds = (s.TimeMs - mStartMs) / 1000.0;
    s.Detector = mLevelSettings.Detect();
    s.Channels = mChannels;
    const int watched = SilenceWatchedStrips(mMode);
    for (int n = 1; n <= tv::kStrips; ++n) {
        TStripStatus t;
        t.Strip = n;
        t.Watched = n <= watched;
        t.Label = mLabels[n - 1];
        t.Level = mBars[n - 1]->SilenceLevel();
        t.Peak = mBars[n - 1]->LastBlockPeak();
        if (t.Watched) FillDetectorStatus(t, *mDetector);
        t.AlarmEpisodes = mService->Alarms(n);
        t.AlarmMs = mService->AlarmMs(n);
        s.Strips.push_back(t);
    }
    for (int k = 1; k <= tv::kPairs; ++k) {
        TRecorderStatus r{k, mAudio->RecorderDeviceName(k), mAudio->Running(k), mAudio->Reopens(k),
                          mAudio->Buffers(k), mAudio->Failure(k)};
        r.Used = k <= RecordersForMode(mMode);
        r.NotConnected = mAudio->NotConnected(k);
        r.SecondsLost = mAudio->SecondsLost(k);
        s.Recorders.push_back(r);
    }
    s.DroppedBuffers = mAudio->DroppedBuffers();
    s.Monitor = mService->Counters();
    if (TMMNetWaveIn* net = NetworkStreams(WaveInDevice())) s.Streams = net->Streams();
    return s;
}

TStatusSnapshot TMeterEngine::ScrapeSnapshot()
{
    TStatusSnapshot s = Snapshot();
    for (TStripStatus& t : s.Strips) t.PeakHeld = mBars[static_cast<size_t>(t.Strip - 1)]->TakeScrapePeak();
    return s;
}

TLiveFrame TMeterEngine::LiveFrame()
{
    const TStatusSnapshot snapshot = Snapshot();
    TLiveFrame f;
    f.Channels = snapshot.Channels;
    f.Detector = snapshot.Detector;
    const TMMPreset& preset = PresetOf(mLevelSettings.MeterItem());
    f.Standard = preset.Caption;
    if (mLiveScaleOf != mLevelSettings.MeterItem()) {
        mLiveScaleOf = mLevelSettings.MeterItem();
        mLiveScale.clear();
        if (preset.Scale == spScaleWidget) {
            mLiveScale = ScaleWidgetLabels(ScaleWidgetSensitivy, StripScaleTicks);
        } else {
            // The picture at the main window's design height; labels keep their place relative to it.
            TScaleCanvas picture(ScaleImageWidth, StripGeometryFor(DesignClientHeight).imageHeight);
            if (DrawStandardScale(picture, preset.Scale)) mLiveScale = ScaleLabelsOfPicture(picture);
        }
    }
    f.Scale = mLiveScale;
    for (int n = 1; n <= tv::kStrips; ++n) {
        const TMMCustomLevel& b = *mBars[n - 1];
        TLiveStrip s;
        s.Status = snapshot.Strips[n - 1];
        s.Segments = b.NumSpots();
        s.Zone1 = b.Zone1Spots();
        s.Zone2 = b.Zone2Spots();
        s.Active[0] = b.Bar1Color(), s.Active[1] = b.Bar2Color(), s.Active[2] = b.Bar3Color();
        s.Inactive[0] = b.Inactive1Color(), s.Inactive[1] = b.Inactive2Color(), s.Inactive[2] = b.Inactive3Color();
        s.LabelColor = mLedColor[n - 1];
        s.Bar = b.BarSpots();
        s.Peak = b.NumPeaks() > 0 ? b.PeakSpot() : 0;
        f.Strips.push_back(s);
    }
    for (int k = 1; k <= tv::kPairs; ++k)
        f.Recorders.push_back({k, mAudio->RecorderDeviceName(k),
                               RecorderStateName(mAudio->Running(k), mAudio->NotConnected(k), mAudio->Failure(k))});
    f.LogLines.assign(mRecentLines.begin(), mRecentLines.end());
    // The correlation window's pair (1 ... 6); shown while its blocks come.
    const int pair = std::clamp(CorreValues().Channel + 1, 1, 6);
    if (pair != mCorrelationPair) {
        mCorrelationPair = pair;
        mCorrelation.Reset();
    }
    if (mCorrelation.Blocks() != mCorrelationBlocks) {
        mCorrelationBlocks = mCorrelation.Blocks();
        mCorrelationMs = SteadyMs();
    }
    f.HasCorrelation = mCorrelationBlocks > 0 && SteadyMs() - mCorrelationMs < 500;
    f.CorrelationPair = pair;
    f.Correlation = mCorrelation.Value();
    if (OnLiveFrame) OnLiveFrame(f);
    return f;
}

void TMeterEngine::CollectStats(TRunStats& s) const
{
    mAudio->CollectStats(s);
    for (int n = 1; n <= tv::kStrips; ++n) {
        s.levels[n - 1] = mBars[n - 1]->SilenceLevel();
        s.alarms[n - 1] = mDetector->Stats(n).Alarms;
        s.silences[n - 1] = mDetector->Stats(n).Silences;
    }
    s.log_lines = mDetector->LogLineCount();
    if (TMMNetWaveIn* net = NetworkStreams(WaveInDevice())) s.streams = net->Streams();
}
