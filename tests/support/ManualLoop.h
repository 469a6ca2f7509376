// TMMManualLoop: the connectors' loop as a test double, driven by hand on a
// fake or the steady clock (tests and benchmarks install it with SetConnectorLoop).
#pragma once

#include "audio/MMConnectorLoop.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// A loop driven by hand: posted messages queue until RunPending(); the loop
// step is due one frame (default 1 ms) after it was scheduled. Its clock is
// the steady clock, or a fake time set with SetTime/Advance.
class TMMManualLoop : public TMMConnectorLoop {
public:
    explicit TMMManualLoop(bool fakeClock = false) : mFake(fakeClock) {}

    int64_t NowMicros() override;
    void Post(int message, uint32_t id) override;
    void ScheduleLoopStep() override;
    void ProcessMessages() override
    {
        ++mProcessCalls;
        RunPosted();
    }
    void HandleOneMessage() override { ++mOneMessageCalls; }
    bool Terminating() override { return mTerminating; }
    bool OnLoopThread() override { return std::this_thread::get_id() == mThread; }
    bool AppHasIdleHandler() override { return mAppIdle; }
    void SetIdleHandler(bool installed) override { mIdleInstalled = installed; }
    void ShowException(const std::exception& e) override { mErrors.push_back(e.what()); }
    void ShowMessage(const std::string& text, const std::string&) override { mErrors.push_back(text); }

    // Fake clock.
    void SetTime(int64_t us) { mTime.store(us); }
    void Advance(int64_t us) { mTime.fetch_add(us); }

    // Delivers the posted messages (also those posted meanwhile).
    int RunPosted();
    // Posted messages, then the loop step if it is due.
    void RunPending();
    // Fake clock: advances in ticks of `tickUs`, running RunPending after each.
    void RunFor(int64_t durationUs, int64_t tickUs);

    bool StepScheduled() const { return mStepDue >= 0; }
    size_t PostedCount() const;
    // Wake-up period (microseconds) and whether RunPending also runs the
    // frame clients after a step or a requested frame.
    int64_t mFrameUs = 1000;
    bool mFrames = false;
    bool RequestFrame() override;
    bool FrameRequested() const { return mFrameDue >= 0; }

    bool mTerminating = false;
    bool mAppIdle = false;
    bool mIdleInstalled = false;
    int mOneMessageCalls = 0;
    int mProcessCalls = 0;
    std::vector<std::string> mErrors;

private:
    bool mFake;
    std::atomic<int64_t> mTime{0};
    std::thread::id mThread = std::this_thread::get_id();
    mutable std::mutex mLock;
    std::deque<std::pair<int, uint32_t>> mPosted;
    int64_t mStepDue = -1;
    int64_t mFrameDue = -1;
};

