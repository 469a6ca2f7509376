// Notification threads: what a device context posts goes through a lock-free
// ring to a thread of the component's priority, woken through an eventfd.
// The recorder's and the player's cmThread mode use it; TMMWakeFd alone is
// the wake-up of the Qt window route (audio/qt/MMQtPoster).
#pragma once

#include "audio/MMDSPObj.h"
#include "audio/MMNotify.h"
#include "audio/MMRing.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <future>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// An eventfd: Signal from any thread (no allocation, no lock), Clear on the
// waiting side. Fd() is -1 when none could be had.
class TMMWakeFd {
public:
    TMMWakeFd();
    ~TMMWakeFd();
    TMMWakeFd(const TMMWakeFd&) = delete;
    TMMWakeFd& operator=(const TMMWakeFd&) = delete;

    int Fd() const { return mFd; }
    void Signal();
    void Clear();

private:
    int mFd = -1;
};

class TMMNotifyThread : public TMMDSPThread {
public:
    // Runs on the thread for each posted message, in posting order.
    using THandler = std::function<void(const TMMMessage&)>;

    TMMNotifyThread(TMMDSPComponent* owner, size_t capacity, THandler handler);
    ~TMMNotifyThread() override;  // End()

    // False when the thread could not be created or did not get ready in 5 s.
    bool Begin(TThreadPriority priority);
    // Signals the stop and waits for the thread to end.
    void End();
    // Device context: no allocation, no lock. False when the ring is full.
    bool Post(const TMMMessage& m);
    void SetPriority(TThreadPriority p);

private:
    void Run(TThreadPriority priority, std::promise<void>& ready);

    THandler mHandler;
    TMMRing<TMMMessage> mRing;
    TMMWakeFd mMessages;
    TMMWakeFd mStop;
    std::atomic<long> mTid{0};
    std::thread mThread;
};
