// TMMConnector: a chain component that copies every buffer reaching it into
// its tap and, in trigger cycles on the GUI thread, hands its sinks (two level
// bars, two oscilloscopes) the next blocks of that tap, paced to real time.
//
// Cycles come from the shared loop step (tmMessage) or from the connector's
// own 20 ms TMMHiTimer (tmTimer). The loop step runs once per wake-up of the
// GUI thread (one display frame) and catches up on every 1 ms cycle due since
// the last one, each at its own clock time, with the recorders' buffers
// tapped between them at the times their devices posted them. A level group
// feeds every block whose due time (read position / average bytes per second
// after arrival) has passed at the cycle's time; an oscilloscope group feeds
// one slice per cycle; OnTrigger fires once per cycle.
#pragma once

#include "audio/MMConnectorLoop.h"
#include "audio/MMConnectorSinks.h"
#include "audio/MMHiTimer.h"
#include "audio/MMDSPObj.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

enum TMMTriggerMethod { tmMessage = 0, tmTimer = 1 };
enum TMMTriggerMode { tmNone = 0, tmUpFlank = 1, tmDownFlank = 2 };

class EMMConnectorError : public EMMError {
public:
    using EMMError::EMMError;
};

// Byte offset (from data) of the frame that completes the first crossing of
// `level` percent of full scale in the first channel, or -1.
int FindTrigger(const WaveFormat* fmt, const void* data, int nBytes, int level, TMMTriggerMode mode);

class TMMConnector : public TMMDSPComponent {
public:
    using TNotify = std::function<void(TMMConnector* Sender)>;

    TMMConnector();
    ~TMMConnector() override;

    // --- published properties ---
    bool Enabled() const { return mEnabled; }
    void setEnabled(bool e);
    bool AutoConvert() const { return mAutoConvert; }
    void setAutoConvert(bool a) { mAutoConvert = a; }
    bool AutoTrigger() const { return mAutoTrigger; }
    void setAutoTrigger(bool a);
    bool Synchronize() const { return mSynchronize; }
    void setSynchronize(bool s) { mSynchronize = s; }
    int Speed() const { return mSpeed; }
    void setSpeed(int s);  // clamped to 1 .. 5000
    TMMTriggerMethod TriggerMethod() const { return mTriggerMethod; }
    void setTriggerMethod(TMMTriggerMethod m);
    TMMTriggerMode TriggerMode() const { return mTriggerMode; }
    void setTriggerMode(TMMTriggerMode m) { mTriggerMode = m; }
    int TriggerLevel() const { return mTriggerLevel; }
    void setTriggerLevel(int l) { mTriggerLevel = l; }
    bool RefreshOnStop() const { return mRefreshOnStop; }
    void setRefreshOnStop(bool r) { mRefreshOnStop = r; }
    bool RealTime() const { return mRealTime; }
    // EMMConnectorError "Change to property while device was open" while opened.
    void setRealTime(bool r);
    // One value for all connectors.
    static bool EnterIdle();
    static void setEnterIdle(bool e);

    TMMLevelSink* Level1() const { return mLevel[0]; }
    void setLevel1(TMMLevelSink* s) { SetLevel(0, s); }
    TMMLevelSink* Level2() const { return mLevel[1]; }
    void setLevel2(TMMLevelSink* s) { SetLevel(1, s); }
    TMMOscopeSink* Oscope1() const { return mOscope[0]; }
    void setOscope1(TMMOscopeSink* s) { SetOscope(0, s); }
    TMMOscopeSink* Oscope2() const { return mOscope[1]; }
    void setOscope2(TMMOscopeSink* s) { SetOscope(1, s); }

    // Fired at the end of every trigger cycle (GUI thread in the program).
    TNotify OnTrigger;

    // --- chain ---
    void SetFormat(const WaveFormat* fmt) override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void Reset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

    // One trigger cycle now (also usable with AutoTrigger off).
    void Trigger();

    // --- state, for tests and the demo ---
    bool Running() const { return mRunning; }
    bool Active() const { return mActive; }
    bool IsTapPaused() const { return mTapPaused; }
    const WaveFormat* TapFormat() const { return mTapFormat.get(); }
    int TapCount() const { return mTapCount; }
    const char* TapData() const { return mTap.data(); }
    bool LevelHasData() const { return mGroup[kLevels].hasData; }
    bool OscopeHasData() const { return mGroup[kScopes].hasData; }
    int LevelReadPos() const { return mGroup[kLevels].readPos; }
    int OscopeReadPos() const { return mGroup[kScopes].readPos; }
    long LevelCycles() const { return mGroup[kLevels].cycles; }
    long OscopeCycles() const { return mGroup[kScopes].cycles; }
    int RefresherIntervalMs() const;
    TMMHiTimer& Timer() { return mTimer; }
    uint32_t Id() const { return mId; }

    // Process-wide.
    static int ActiveCount();
    static int HighestSpeed();
    static size_t ConnectorCount();
    static bool LoopRunning();
    static TMMConnector* Find(uint32_t id);
    // Clock time of the 1 ms cycle under way (GUI thread), -1 outside one.
    static int64_t CycleMicros();
    // Loop cycles run so far, and those skipped after a wake-up came more
    // than a second late.
    static long LoopCycles();
    static long SkippedCycles();
    // The time a tap or cycle works with: the post time of the buffer being
    // dispatched, the time of the cycle under way, else the loop's clock.
    static int64_t Now();

    // True (the default): a loop wake-up hands each bar every level block
    // due by its last cycle in one call, before the next buffer arrives
    // and at the wake-up's end; false: block by block at each 1 ms cycle.
    // The bars see the same blocks in the same order either way.
    static bool BatchCycles();
    static void setBatchCycles(bool batch);

    // Posted message handlers (GUI thread).
    void HandleActivate();
    void HandleTimerCycle();
    static void HandleLoopStep();

private:
    friend class TMMConnectorSink;
    enum { kLevels = 0, kScopes = 1 };
    struct Group {
        bool hasData = false;
        int readPos = 0;
        long cycles = 0;
    };

    void SetLevel(int slot, TMMLevelSink* s);
    void SetOscope(int slot, TMMOscopeSink* s);
    void Hold(TMMConnectorSink* s);
    void Release(TMMConnectorSink* s);
    void SinkGone(TMMConnectorSink* s);
    bool HasLevels() const { return mLevel[0] || mLevel[1]; }
    bool HasScopes() const { return mOscope[0] || mOscope[1]; }

    void ApplyFormatToSinks();
    void StartCycles();
    void Deactivate(bool stopTimer);
    void ResetSinks();
    void Tap(const char* data, int n);
    void FeedLevels(int64_t now, bool flush);
    void Cycle(bool levels);
    bool LoopDriven() const { return mAutoTrigger && mTriggerMethod == tmMessage && mEnabled && mActive; }
    static void FeedLoopLevels(int64_t cycleTime);
    void FeedScopes(int64_t now);
    int64_t DueMicros(int pos) const;
    void TimerTick();
    static void RefresherTick(void* owner);
    void Unsubscribe();

    uint32_t mId;
    bool mEnabled = true;
    bool mAutoConvert = true;
    bool mAutoTrigger = true;
    bool mSynchronize = true;
    int mSpeed = 5000;
    TMMTriggerMethod mTriggerMethod = tmMessage;
    TMMTriggerMode mTriggerMode = tmNone;
    int mTriggerLevel = 0;
    bool mRefreshOnStop = true;
    bool mRealTime = true;

    TMMLevelSink* mLevel[2] = {nullptr, nullptr};
    TMMOscopeSink* mOscope[2] = {nullptr, nullptr};

    // Tap
    WaveFormatPtr mTapFormat;
    bool mPcm = false;
    bool mConverting = false;
    std::vector<char> mTap;
    int mTapCount = 0;
    uint8_t mSilence = 0;
    std::atomic<int64_t> mArrival{0};
    std::mutex mTapLock;

    bool mRunning = false;
    bool mActive = false;
    bool mCounted = false;  // counted in the active count
    bool mTapPaused = false;
    Group mGroup[2];

    std::atomic<int> mPendingTimerCycles{0};
    TMMTimerList::Handle mRefresher = 0;  // the pause refresher's subscription
    TMMHiTimer mTimer;
};
