#include "app/qt/Headless.h"

#include "app/CommandLine.h"
#include "app/InputModes.h"
#include "app/MainValues.h"
#include "app/RunStats.h"
#include "app/SettingNames.h"
#include "app/StoreRegistry.h"
#include "app/qt/MainAudio.h"
#include "app/qt/MeterEngine.h"
#include "audio/MMConnectorSinks.h"
#include "audio/MMWavIn.h"
#include "correlation/MMCorrelationSettings.h"
#include "audio/qt/MMConnectorLoop.h"
#include "metering/MMLevel.h"
#include "metering/MainBar.h"
#include "metering/uSet_Level_core.h"
#include "monitoring/MMSilence.h"
#include "monitoring/qt/MMSilenceLocale.h"
#include "monitoring/qt/MMSilenceTimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iostream>
#include <memory>

namespace {

constexpr int kRates[2] = {44100, 48000};
constexpr int kHeadlessBufferBytes = 8192;  // 2048 stereo 16-bit frames

// The main window's strips as the level settings see them: bar cores only.
class THeadlessMeter : public TMMMeterWindow {
public:
    std::array<TMMCustomLevel, tv::kStrips> Bars;
    std::function<void(bool)> OnSilenceCheck;

    TMMCustomLevel* Level(int n) override { return n >= 1 && n <= tv::kStrips ? &Bars[n - 1] : nullptr; }
    void SetLevelTop(int, int) override {}
    void SetScaleTop(int, int) override {}
    void SetStripHeight(int, int) override {}
    void SetPictureVisible(int, bool) override {}
    void SetScaleVisible(int, bool) override {}
    void SetScaleSensitivy(int, int) override {}
    void DrawPicture(int, TMMScalePicture) override {}
    int LabelTop() const override { return 0; }
    TColor LabelColor(int n) const override { return mLabelColor[n - 1]; }
    void SetLabelColor(int n, TColor c) override { mLabelColor[n - 1] = c; }
    void SetCaption(const std::string&) override {}
    void SetStayOnTop(bool) override {}
    void SetSilenceCheck(bool on) override
    {
        if (OnSilenceCheck) OnSilenceCheck(on);
    }

private:
    std::array<TColor, tv::kStrips> mLabelColor{};
};

// The main window without a window: the restore and save sequences' target
// and the silence detector's host.
class THeadless : public TMainTarget, public IMMSilenceHost, public IMMSilenceSettings {
public:
    THeadless(TSettingsAccess& store, TMainAudio& audio) : mAudio(audio), mCore(&mMeter, &store)
    {
        for (int n = 1; n <= tv::kStrips; ++n) {
            ApplyMainBarDesign(mMeter.Bars[n - 1], n);
            mSinks[n - 1] = std::make_unique<TMMLevelSinkFor<TMMCustomLevel>>(mMeter.Bars[n - 1]);
        }
        for (int k = 1; k <= tv::kPairs; ++k)
            mAudio.SetLevelSinks(k, mSinks[2 * k - 2].get(), mSinks[2 * k - 1].get());

        // What the restore does not hand to the window is kept as stored.
        mPlacement = ReadPlacement(store, DesignPlacement());
        mCorre = {kCorreTop.Read(store), kCorreLeft.Read(store), kCorreSpeed.Read(store), kCorreChannel.Read(store)};

        auto timer = [](int ms) {
            auto t = std::make_unique<QTimer>();
            t->setInterval(ms);
            return t;
        };
        mTimerOff = timer(1000);
        mTimerOn = timer(450);
        mReset = timer(10000);
        mOff.setTimer(mTimerOff.get());
        mOn.setTimer(mTimerOn.get());
        mResetT.setTimer(mReset.get());
        TMMSilenceDetector::Timers t;
        t.TimerOff = &mOff;
        t.TimerOn = &mOn;
        t.Reset = &mResetT;
        for (int n = 1; n <= tv::kStrips; ++n) {
            mStripTimers[n - 1] = timer(1000);
            mStrip[n - 1].setTimer(mStripTimers[n - 1].get());
            t.Strip[n - 1] = &mStrip[n - 1];
        }
        mDetector = std::make_unique<TMMSilenceDetector>(*this, *this, t);
        TMMSilenceDetector* d = mDetector.get();
        QObject::connect(mTimerOff.get(), &QTimer::timeout, [d] { d->TimerOffTick(); });
        QObject::connect(mTimerOn.get(), &QTimer::timeout, [d] { d->TimerOnTick(); });
        QObject::connect(mReset.get(), &QTimer::timeout, [d] { d->ResetTick(); });
        for (int n = 1; n <= tv::kStrips; ++n)
            QObject::connect(mStripTimers[n - 1].get(), &QTimer::timeout, [d, n] { d->StripTick(n); });
        mMeter.OnSilenceCheck = [this](bool on) {
            if (!on)
                mTimerOff->stop();
            else if (!mTimerOff->isActive())
                mTimerOff->start();
        };
    }

    ~THeadless() override
    {
        // The bars go before the recorders and connectors that feed them.
        for (int k = 1; k <= tv::kPairs; ++k) mAudio.SetLevelSinks(k, nullptr, nullptr);
    }

    TMMSilenceDetector& Detector() { return *mDetector; }
    TSetLevelCore& Core() { return mCore; }
    const TMMCustomLevel& Bar(int n) const { return mMeter.Bars[n - 1]; }
    // As the window's Timer1: the check starts 2 s after start when the detector is on.
    void ArmStartCheck()
    {
        QTimer::singleShot(2000, mTimerOff.get(), [this] {
            if (mCore.Detect() && !mTimerOff->isActive()) mTimerOff->start();
        });
    }

    // TMainTarget
    TStripValues StripValues(int n) override { return BarStripValues(mMeter.Bars[n - 1], mLedColor[n - 1]); }
    void ApplyStripValues(int n, const TStripValues& v) override
    {
        ApplyBarStripValues(mMeter.Bars[n - 1], v);
        mLedColor[n - 1] = v.LEDColor;
        mDetector->setCounter(n, 0);
    }
    TWindowPlacement Placement() override { return mPlacement; }
    void ApplyPlacement(const TWindowPlacement& p) override { mPlacement = p; }
    void SetLabelText(int n, const std::string& text) override { mLabels[n - 1] = text; }
    TLevelSetValues LevelSetValues() override { return LevelSetValuesOf(mCore); }
    TCorreValues CorreValues() override { return mCorre; }
    int InputMode() override { return mMode; }
    int SampleRateIndex() override { return mRate; }
    void SetLoggingOn() override { mLogging = true; }
    void ApplyLevelSetStart(const TLevelSetValues& v) override { ::ApplyLevelSetStart(mCore, v); }
    void ApplyInputMode(int mode) override
    {
        mMode = ClampInputMode(mode);
        mChannels = ChannelsForMode(mMode);
    }
    void ApplyStandard(int standard, int integralMs, int reference) override
    {
        ApplyLevelSetStandard(mCore, standard, integralMs, reference);
    }
    void ApplySampleRate(int index) override
    {
        mRate = std::clamp(index, 0, 1);
        for (int k = 1; k <= tv::kPairs; ++k) {
            try {
                mAudio.SetSampleRate(k, kRates[mRate]);
            } catch (...) {
                // an open recorder keeps its rate
            }
        }
    }
    void ApplyStereo(int stereo) override { mCore.ApplyStereoItem(stereo); }
    void ApplyDetector(const TLevelSetValues& v) override { ApplyLevelSetDetector(mCore, v); }
    void ShowInputSetupModal() override {}  // no dialog: the stored (or design) devices
    void SetRecorderDevice(int k, int deviceId) override
    {
        try {
            mAudio.SetDevice(k, deviceId);
        } catch (...) {
            // refused while open
        }
    }
    void SetRecorderNotConnected(int k, const std::string& name) override { mAudio.SetNotConnected(k, name); }
    void SetAlarmOutDevice(int) override {}
    void CloseRecorder(int k) override { mAudio.Close(k); }
    void StartRecorder(int k) override { mAudio.Start(k); }
    void ShowCorrelation() override {}

    // IMMSilenceHost
    int ModeIndex() override { return mMode; }
    int ActiveChannelCount() override { return mChannels; }
    bool LoggingOn() override { return mLogging; }
    int SilenceLevel(int n) override { return mMeter.Bars[n - 1].SilenceHeld(); }
    void RestartSilenceLevels() override
    {
        for (TMMCustomLevel& b : mMeter.Bars) b.RestartSilenceHold();
    }
    std::string LabelText(int n) override { return mLabels[n - 1]; }
    void SetLabelInactiveColor(int, TColor) override {}
    void SetLabelVisible(int, bool) override {}
    void SetLabelEnabled(int, bool) override {}
    void DrawAlarm(int) override {}
    void ReapplyStandard() override {}  // no scale pictures to redraw
    void ReportError(const std::string& text) override { std::cerr << "tarvolin: " << text << "\n"; }
    int64_t NowMs() override { return SilenceNowMs(); }
    std::string DateTimeText(int64_t ms) override { return SilenceDateTimeText(ms); }
    char DecimalSeparator() override { return SilenceDecimalSeparator(); }

    // IMMSilenceSettings: no alarm sound without a window.
    bool Detect() const override { return mCore.Detect(); }
    int ThresholdAmplitude() const override { return mCore.ThresholdAmplitude(); }
    int AlarmSeconds() const override { return mCore.AlarmSeconds(); }
    bool PlaySound() const override { return false; }
    void setPlaySound(bool) override {}

private:

    TMainAudio& mAudio;
    THeadlessMeter mMeter;
    TSetLevelCore mCore;
    std::array<std::unique_ptr<TMMLevelSinkFor<TMMCustomLevel>>, tv::kStrips> mSinks;
    std::array<std::string, tv::kStrips> mLabels;
    std::array<TColor, tv::kStrips> mLedColor{};
    TWindowPlacement mPlacement;
    TCorreValues mCorre;
    int mMode = 2, mChannels = 8, mRate = 0;
    bool mLogging = false;
    std::unique_ptr<QTimer> mTimerOff, mTimerOn, mReset;
    std::array<std::unique_ptr<QTimer>, tv::kStrips> mStripTimers;
    TMMQtSilenceTimer mOff, mOn, mResetT;
    std::array<TMMQtSilenceTimer, tv::kStrips> mStrip;
    std::unique_ptr<TMMSilenceDetector> mDetector;
};

}  // namespace

int RunHeadless(QCoreApplication& app, const CommandLine& cl)
{
    QCoreApplication::setApplicationName("Tarvolin");
    // The connectors' trigger cycles on this thread, caught up every 25 ms
    // (nothing is drawn).
    TMMConnectorQtLoop loop;
    loop.setFramePeriodUs(25000);
    TMainAudio audio;
    // Buffers of about 43 ms instead of 11 ms: a quarter of the wake-ups;
    // nothing is drawn, and the check reads the levels once a second.
    for (int k = 1; k <= tv::kPairs; ++k) audio.Recorder(k).setBufferSize(kHeadlessBufferBytes);
    TRegistryStore registry;
    TSettingsAccess& store = registry;
    THeadless meter(store, audio);

    // The monitoring side: journal, actions, status endpoint, --log-out,
    // device events; SIGINT, SIGTERM and SIGHUP end the event loop and the
    // settings are saved below.
    TMeterEngine engine(audio, store);
    engine.OnStop = [] { QCoreApplication::quit(); };
    TMeterStrips strips;
    strips.Bar = [&meter](int n) { return &meter.Bar(n); };
    strips.Label = [&meter](int n) { return meter.LabelText(n); };
    strips.ModeIndex = [&meter] { return meter.ModeIndex(); };
    strips.Channels = [&meter] { return meter.ActiveChannelCount(); };
    strips.DetectorOn = [&meter] { return meter.Core().Detect(); };
    engine.Attach(meter.Detector(), std::move(strips));
    if (!engine.Start(cl, std::cerr)) return 1;

    QElapsedTimer clock;
    double cpuAtStart = 0;
    QTimer::singleShot(0, &app, [&] {
        RestoreMainValues(store, meter);
        meter.ArmStartCheck();
        clock.start();
        cpuAtStart = ProcessCpuSeconds();
    });
    if (cl.runForSeconds)
        QTimer::singleShot(static_cast<int>(*cl.runForSeconds * 1000), &app, [] { QCoreApplication::quit(); });

    const int rc = app.exec();
    SaveMainValues(store, meter);

    if (cl.stats) {
        TRunStats s;
        s.seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0;
        s.cpu_seconds = clock.isValid() ? ProcessCpuSeconds() - cpuAtStart : 0;
        engine.CollectStats(s);
        s.max_rss_kb = ProcessMaxRssKb();
        std::cout << RunStatsJson(s) << std::endl;
    }
    return rc;
}
