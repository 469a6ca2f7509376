#include "audio/MMHiTimer.h"

#include "audio/MMConnectorLoop.h"

#include <chrono>
#include <map>

namespace {

std::mutex gTimersLock;
std::map<uint32_t, TMMHiTimer*> gTimers;
uint32_t gNextTimerId = 1;

}  // namespace

TMMHiTimer::TMMHiTimer()
{
    std::lock_guard<std::mutex> g(gTimersLock);
    mId = gNextTimerId++;
    gTimers[mId] = this;
}

TMMHiTimer::~TMMHiTimer()
{
    Stop();
    std::lock_guard<std::mutex> g(gTimersLock);
    gTimers.erase(mId);
}

void TMMHiTimer::setInterval(int ms)
{
    mInterval = ms < 0 ? 0 : ms;
    Restart();
}

void TMMHiTimer::setEnabled(bool e)
{
    mEnabled = e;
    Restart();
}

void TMMHiTimer::setCallBackMode(TMMCBMode m)
{
    if (m == cmCallback) {
        ConnectorLoop().ShowMessage(
            "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under "
            "Windows 95",
            "TMMHiTimer");
        return;
    }
    mMode = m;
    Restart();
}

void TMMHiTimer::setOnTimer(TNotify f)
{
    Stop();
    mOnTimer = std::move(f);
    Restart();
}

void TMMHiTimer::Restart()
{
    Stop();
    if (mInterval > 0 && mEnabled && mOnTimer) Start();
}

void TMMHiTimer::Start()
{
    mQuit = false;
    mWaiting = 0;
    try {
        mThread = std::thread([this, ms = mInterval] { Run(ms); });
    } catch (...) {
        if (mMode == cmThread) throw EMMHiTimerError("HiTimer:\n\rCould not create thread");
        throw EOutOfResources("Not enough timers available");
    }
}

void TMMHiTimer::Stop()
{
    if (!mThread.joinable()) return;
    {
        std::lock_guard<std::mutex> g(mLock);
        mQuit = true;
    }
    mWake.notify_all();
    mThread.join();
}

void TMMHiTimer::Run(int intervalMs)
{
    using clock = std::chrono::steady_clock;
    auto next = clock::now();
    std::unique_lock<std::mutex> g(mLock);
    while (!mQuit) {
        next += std::chrono::milliseconds(intervalMs);
        if (mWake.wait_until(g, next, [this] { return mQuit; })) break;
        if (mMode == cmThread && !mSynchronize) {
            g.unlock();
            if (mOnTimer) mOnTimer(*this);
            g.lock();
            continue;
        }
        // Posted to the GUI thread unless 10 ticks are already waiting.
        if (mWaiting.load() < 10) {
            ++mWaiting;
            ConnectorLoop().Post(cmHiTimerTick, mId);
        }
    }
}

void TMMHiTimer::DeliverTick(uint32_t id)
{
    TMMHiTimer* t = nullptr;
    {
        std::lock_guard<std::mutex> g(gTimersLock);
        auto it = gTimers.find(id);
        if (it != gTimers.end()) t = it->second;
    }
    if (!t) return;
    if (t->mWaiting > 0) --t->mWaiting;
    if (t->mEnabled && t->mOnTimer) t->mOnTimer(*t);
}
