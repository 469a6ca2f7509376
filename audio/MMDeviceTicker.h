// The clock of a simulated device thread: it sleeps to its next tick, or,
// while nothing runs, until Kick() (a stream starts or gets data). Stop()
// ends every wait for good.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class TMMDeviceTicker {
public:
    using Clock = std::chrono::steady_clock;

    // Sleeps until `until`, a kick or Stop(); false once stopped.
    bool WaitUntil(Clock::time_point until)
    {
        std::unique_lock<std::mutex> lock(mLock);
        mWake.wait_until(lock, until, [this] { return mKicked || mStopped; });
        mKicked = false;
        return !mStopped;
    }
    void Kick()
    {
        {
            std::lock_guard<std::mutex> g(mLock);
            mKicked = true;
        }
        mWake.notify_one();
    }
    void Stop()
    {
        {
            std::lock_guard<std::mutex> g(mLock);
            mStopped = true;
        }
        mWake.notify_one();
    }

private:
    std::mutex mLock;
    std::condition_variable mWake;
    bool mKicked = false, mStopped = false;
};

// Frames due at `now` of a stream whose clock started at `t0`. A stream
// started (on another thread) after the device thread took the time of its
// pass counts none yet: a negative span converted to unsigned would read as
// a huge count and stop the stream for good.
inline uint64_t FramesDue(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point t0,
                          uint64_t rate)
{
    if (now <= t0) return 0;
    return static_cast<uint64_t>(std::chrono::duration<double>(now - t0).count() * static_cast<double>(rate));
}

// The frames a stream whose clock started at `t0` and that has handled
// `done` of them is behind at `now`: at most one second after a stall.
// Advances `done` to the frames due.
inline uint64_t FramesBehind(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point t0,
                             uint64_t rate, uint64_t& done)
{
    const uint64_t due = FramesDue(now, t0, rate);
    if (due <= done) return 0;
    const uint64_t n = due - done < rate ? due - done : rate;
    done = due;
    return n;
}
