// TMMHiTimer: a periodic timer at millisecond resolution. Its ticks come from
// a thread that sleeps to absolute deadlines (so the rate does not drift);
// in cmWindow mode each tick is posted to the GUI thread through the
// connectors' loop (at most 10 waiting), in cmThread mode OnTimer runs on the
// timer thread (through the GUI thread when Synchronize).
#pragma once

#include "audio/MMUtils.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class EMMHiTimerError : public EMMError {
public:
    using EMMError::EMMError;
};
class EOutOfResources : public EMMError {
public:
    using EMMError::EMMError;
};

class TMMHiTimer {
public:
    using TNotify = std::function<void(TMMHiTimer&)>;

    TMMHiTimer();
    ~TMMHiTimer();
    TMMHiTimer(const TMMHiTimer&) = delete;
    TMMHiTimer& operator=(const TMMHiTimer&) = delete;

    int Interval() const { return mInterval; }
    void setInterval(int ms);
    bool Enabled() const { return mEnabled; }
    void setEnabled(bool e);
    TMMCBMode CallBackMode() const { return mMode; }
    // cmCallback is refused with a message (it would run in interrupt context).
    void setCallBackMode(TMMCBMode m);
    const TNotify& OnTimer() const { return mOnTimer; }
    void setOnTimer(TNotify f);
    // Thread priority as a TThreadPriority value (audio/MMWavIn.h), stored only.
    int Priority() const { return mPriority; }
    void setPriority(int p) { mPriority = p; }
    bool Synchronize() const { return mSynchronize; }
    void setSynchronize(bool s) { mSynchronize = s; }
    bool WaitForTerminate() const { return mWaitForTerminate; }
    void setWaitForTerminate(bool w) { mWaitForTerminate = w; }

    bool Running() const { return mThread.joinable(); }
    uint32_t Id() const { return mId; }

    // A posted tick arrives on the GUI thread.
    static void DeliverTick(uint32_t id);

private:
    void Restart();
    void Start();
    void Stop();
    void Run(int intervalMs);

    uint32_t mId;
    int mInterval = 1000;
    bool mEnabled = true;
    TMMCBMode mMode = cmWindow;
    int mPriority = 3;  // tpNormal
    bool mSynchronize = true;
    bool mWaitForTerminate = false;
    TNotify mOnTimer;

    std::thread mThread;
    std::mutex mLock;
    std::condition_variable mWake;
    bool mQuit = false;
    std::atomic<int> mWaiting{0};
};
