#include "audio/MMTimerList.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <thread>

namespace {

class ThreadTimer : public IMMPlatformTimer {
public:
    ~ThreadTimer() override
    {
        Stop();
        if (mThread.joinable()) mThread.join();
    }

    bool Start(int periodMs, std::function<void()> tick) override
    {
        std::unique_lock<std::mutex> lk(mMutex);
        if (mAlive) {  // stopped but not yet gone: keep the thread
            mStop = false;
            mTick = std::move(tick);
            return true;
        }
        if (mThread.joinable()) mThread.join();  // has left its loop
        mStop = false;
        mTick = std::move(tick);
        mPeriod = std::chrono::milliseconds(std::max(periodMs, 1));
        try {
            mThread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return false;
        }
        mAlive = true;
        return true;
    }

    void Stop() override
    {
        std::lock_guard<std::mutex> lk(mMutex);
        mStop = true;
        mWake.notify_all();
    }

private:
    void run()
    {
        using clock = std::chrono::steady_clock;
        auto next = clock::now() + mPeriod;
        std::unique_lock<std::mutex> lk(mMutex);
        for (;;) {
            mWake.wait_until(lk, next, [this] { return mStop; });
            if (mStop) {
                mAlive = false;
                return;
            }
            std::function<void()> tick = mTick;
            lk.unlock();
            if (tick) tick();
            const auto now = clock::now();
            next += mPeriod;
            if (next <= now)  // late: drop the periods already missed
                next += ((now - next) / mPeriod + 1) * mPeriod;
            lk.lock();
        }
    }

    std::mutex mMutex;
    std::condition_variable mWake;
    std::thread mThread;
    std::function<void()> mTick;
    std::chrono::milliseconds mPeriod{TMMTimerList::PeriodMs};
    bool mStop = false;
    bool mAlive = false;
};

}  // namespace

std::unique_ptr<IMMPlatformTimer> CreateThreadTimer() { return std::make_unique<ThreadTimer>(); }

TMMTimerList::TMMTimerList(std::unique_ptr<IMMPlatformTimer> timer) : mTimer(std::move(timer)) {}

TMMTimerList::~TMMTimerList()
{
    if (mTimer) mTimer->Stop();
    mTimer.reset();  // joins a thread timer before the list goes
}

TMMTimerList& TMMTimerList::Instance()
{
    static TMMTimerList list(CreateThreadTimer());
    return list;
}

TMMTimerList::Sub* TMMTimerList::find(Handle h)
{
    if (h == 0) return nullptr;
    for (auto& s : mSubs)
        if (s.handle == h) return &s;
    return nullptr;
}

const TMMTimerList::Sub* TMMTimerList::find(Handle h) const
{
    return const_cast<TMMTimerList*>(this)->find(h);
}

TMMTimerList::Handle TMMTimerList::Subscribe(int intervalMs, Callback callback, void* owner)
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    if (!mRunning) {
        if (!mTimer || !mTimer->Start(PeriodMs, [this] { Tick(); })) return 0;
        mRunning = true;
    }
    Sub s;
    s.handle = mNext++;
    if (mNext <= 0) mNext = 1;
    s.interval = std::max(intervalMs, static_cast<int>(PeriodMs));
    s.callback = std::move(callback);
    s.owner = owner;
    mSubs.push_back(std::move(s));
    return mSubs.back().handle;
}

void TMMTimerList::Pause(Handle h)
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    if (Sub* s = find(h)) {
        ++s->paused;
        s->elapsed = 0;
    }
}

void TMMTimerList::Resume(Handle h)
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    if (Sub* s = find(h))
        if (s->paused > 0) --s->paused;
}

void TMMTimerList::Unsubscribe(Handle h)
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    Sub* s = find(h);
    if (!s) return;
    s->handle = 0;  // dead; removed now or after the running tick
    s->callback = nullptr;
    if (mTickDepth == 0) sweep();
    const bool empty = std::none_of(mSubs.begin(), mSubs.end(), [](const Sub& x) { return x.handle != 0; });
    if (empty && mRunning) {
        mRunning = false;
        mTimer->Stop();
    }
}

void TMMTimerList::sweep()
{
    mSubs.erase(std::remove_if(mSubs.begin(), mSubs.end(), [](const Sub& x) { return x.handle == 0; }),
                mSubs.end());
}

int TMMTimerList::Count() const
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    return static_cast<int>(
        std::count_if(mSubs.begin(), mSubs.end(), [](const Sub& x) { return x.handle != 0; }));
}

bool TMMTimerList::Running() const
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    return mRunning;
}

int TMMTimerList::PauseCount(Handle h) const
{
    std::lock_guard<std::recursive_mutex> lk(mLock);
    const Sub* s = find(h);
    return s ? s->paused : -1;
}

void TMMTimerList::Tick()
{
    if (mBusy.exchange(true)) {
        ++mSkipped;
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lk(mLock);
        ++mTickDepth;
        // Index loop: callbacks may append subscribers (not visited this tick).
        const size_t n = mSubs.size();
        for (size_t i = 0; i < n; ++i) {
            if (mSubs[i].handle == 0 || mSubs[i].paused > 0) continue;
            mSubs[i].elapsed += PeriodMs;
            if (mSubs[i].elapsed < mSubs[i].interval) continue;
            mSubs[i].elapsed = 0;
            Callback cb = mSubs[i].callback;  // the callback may unsubscribe itself
            void* owner = mSubs[i].owner;
            if (cb) cb(owner);
        }
        --mTickDepth;
        if (mTickDepth == 0) sweep();
    }
    mBusy.store(false);
}
