#include "tests/support/ManualLoop.h"

#include <algorithm>
#include <chrono>

int64_t TMMManualLoop::NowMicros()
{
    if (mFake) return mTime.load();
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void TMMManualLoop::Post(int message, uint32_t id)
{
    std::lock_guard<std::mutex> g(mLock);
    mPosted.emplace_back(message, id);
}

void TMMManualLoop::ScheduleLoopStep()
{
    std::lock_guard<std::mutex> g(mLock);
    mStepDue = NowMicros() + mFrameUs;
}

bool TMMManualLoop::RequestFrame()
{
    if (!mFrames) return false;
    std::lock_guard<std::mutex> g(mLock);
    if (mFrameDue < 0) mFrameDue = NowMicros() + mFrameUs;
    return true;
}

size_t TMMManualLoop::PostedCount() const
{
    std::lock_guard<std::mutex> g(mLock);
    return mPosted.size();
}

int TMMManualLoop::RunPosted()
{
    int n = 0;
    // Bounded: a handler that keeps posting cannot hang the caller.
    for (int guard = 0; guard < 100000; ++guard) {
        std::pair<int, uint32_t> m;
        {
            std::lock_guard<std::mutex> g(mLock);
            if (mPosted.empty()) break;
            m = mPosted.front();
            mPosted.pop_front();
        }
        DispatchConnectorMessage(m.first, m.second);
        ++n;
    }
    return n;
}

void TMMManualLoop::RunPending()
{
    RunPosted();
    bool step = false, frame = false;
    {
        std::lock_guard<std::mutex> g(mLock);
        const int64_t now = NowMicros();
        if (mStepDue >= 0 && now >= mStepDue) {
            mStepDue = -1;
            step = true;
        }
        if (step || (mFrameDue >= 0 && now >= mFrameDue)) {
            mFrameDue = -1;
            frame = mFrames;
        }
    }
    if (step) DispatchConnectorMessage(cmLoopStep, 0);
    if (frame) RunFrameClients(NowMicros());
}

void TMMManualLoop::RunFor(int64_t durationUs, int64_t tickUs)
{
    const int64_t end = NowMicros() + durationUs;
    while (NowMicros() < end) {
        Advance(std::min(tickUs, end - NowMicros()));
        RunPending();
    }
}
