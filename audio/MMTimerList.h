// The process-wide list of 25 ms timer subscribers, driven by one platform
// timer for all of them. Callbacks run on the platform timer's thread with
// the list locked; a callback may subscribe, pause or unsubscribe.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// A periodic timer of the platform. Start must not wait for a running tick;
// Stop must not wait either (a tick already under way may still finish).
class IMMPlatformTimer {
public:
    virtual ~IMMPlatformTimer() = default;
    // Calls `tick` every `periodMs` on the timer's own thread; false when
    // the platform refuses the timer.
    virtual bool Start(int periodMs, std::function<void()> tick) = 0;
    virtual void Stop() = 0;
};

// A timer thread with absolute deadlines; periods it was late for are
// skipped rather than delivered in a burst.
std::unique_ptr<IMMPlatformTimer> CreateThreadTimer();

class TMMTimerList {
public:
    using Handle = int;  // 0 = no subscription
    using Callback = std::function<void(void* owner)>;
    static constexpr int PeriodMs = 25;

    explicit TMMTimerList(std::unique_ptr<IMMPlatformTimer> timer);
    ~TMMTimerList();
    TMMTimerList(const TMMTimerList&) = delete;
    TMMTimerList& operator=(const TMMTimerList&) = delete;

    // The list the components share (thread timer).
    static TMMTimerList& Instance();

    // Interval raised to at least 25 ms. Returns 0, registering nothing,
    // when the platform timer is refused.
    Handle Subscribe(int intervalMs, Callback callback, void* owner);
    // A counter per subscriber; Pause also restarts its elapsed time.
    void Pause(Handle h);
    void Resume(Handle h);
    void Unsubscribe(Handle h);

    int Count() const;
    bool Running() const;
    int PauseCount(Handle h) const;  // -1 for a missing handle
    long SkippedTicks() const { return mSkipped.load(); }

    // One period of the platform timer. A tick that arrives while the
    // previous one still runs is skipped.
    void Tick();

private:
    struct Sub {
        Handle handle = 0;
        int interval = PeriodMs;
        int elapsed = 0;
        int paused = 0;
        Callback callback;
        void* owner = nullptr;
    };
    Sub* find(Handle h);
    const Sub* find(Handle h) const;
    void sweep();

    mutable std::recursive_mutex mLock;
    std::vector<Sub> mSubs;
    Handle mNext = 1;
    bool mRunning = false;
    int mTickDepth = 0;
    std::atomic<bool> mBusy{false};
    std::atomic<long> mSkipped{0};
    std::unique_ptr<IMMPlatformTimer> mTimer;  // last: stopped first
};
