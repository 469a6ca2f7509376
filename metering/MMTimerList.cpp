#include "metering/MMTimerList.h"

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
        if (fThread.joinable()) fThread.join();
    }

    bool Start(int periodMs, std::function<void()> tick) override
    {
        std::unique_lock<std::mutex> lk(fMutex);
        if (fAlive) {  // stopped but not yet gone: keep the thread
            fStop = false;
            fTick = std::move(tick);
            return true;
        }
        if (fThread.joinable()) fThread.join();  // has left its loop
        fStop = false;
        fTick = std::move(tick);
        fPeriod = std::chrono::milliseconds(std::max(periodMs, 1));
        try {
            fThread = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return false;
        }
        fAlive = true;
        return true;
    }

    void Stop() override
    {
        std::lock_guard<std::mutex> lk(fMutex);
        fStop = true;
        fWake.notify_all();
    }

private:
    void run()
    {
        using clock = std::chrono::steady_clock;
        auto next = clock::now() + fPeriod;
        std::unique_lock<std::mutex> lk(fMutex);
        for (;;) {
            fWake.wait_until(lk, next, [this] { return fStop; });
            if (fStop) {
                fAlive = false;
                return;
            }
            std::function<void()> tick = fTick;
            lk.unlock();
            if (tick) tick();
            const auto now = clock::now();
            next += fPeriod;
            if (next <= now)  // late: drop the periods already missed
                next += ((now - next) / fPeriod + 1) * fPeriod;
            lk.lock();
        }
    }

    std::mutex fMutex;
    std::condition_variable fWake;
    std::thread fThread;
    std::function<void()> fTick;
    std::chrono::milliseconds fPeriod{TMMTimerList::PeriodMs};
    bool fStop = false;
    bool fAlive = false;
};

}  // namespace

std::unique_ptr<IMMPlatformTimer> CreateThreadTimer() { return std::make_unique<ThreadTimer>(); }

TMMTimerList::TMMTimerList(std::unique_ptr<IMMPlatformTimer> timer) : fTimer(std::move(timer)) {}

TMMTimerList::~TMMTimerList()
{
    if (fTimer) fTimer->Stop();
    fTimer.reset();  // joins a thread timer before the list goes
}

TMMTimerList& TMMTimerList::Instance()
{
    static TMMTimerList list(CreateThreadTimer());
    return list;
}

TMMTimerList::Sub* TMMTimerList::find(Handle h)
{
    if (h == 0) return nullptr;
    for (auto& s : fSubs)
        if (s.handle == h) return &s;
    return nullptr;
}

const TMMTimerList::Sub* TMMTimerList::find(Handle h) const
{
    return const_cast<TMMTimerList*>(this)->find(h);
}

TMMTimerList::Handle TMMTimerList::Subscribe(int intervalMs, Callback callback, void* owner)
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    if (!fRunning) {
        if (!fTimer || !fTimer->Start(PeriodMs, [this] { Tick(); })) return 0;
        fRunning = true;
    }
    Sub s;
    s.handle = fNext++;
    if (fNext <= 0) fNext = 1;
    s.interval = std::max(intervalMs, static_cast<int>(PeriodMs));
    s.callback = std::move(callback);
    s.owner = owner;
    fSubs.push_back(std::move(s));
    return fSubs.back().handle;
}

void TMMTimerList::Pause(Handle h)
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    if (Sub* s = find(h)) {
        ++s->paused;
        s->elapsed = 0;
    }
}

void TMMTimerList::Resume(Handle h)
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    if (Sub* s = find(h))
        if (s->paused > 0) --s->paused;
}

void TMMTimerList::Unsubscribe(Handle h)
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    Sub* s = find(h);
    if (!s) return;
    s->handle = 0;  // dead; removed now or after the running tick
    s->callback = nullptr;
    if (fTickDepth == 0) sweep();
    const bool empty = std::none_of(fSubs.begin(), fSubs.end(), [](const Sub& x) { return x.handle != 0; });
    if (empty && fRunning) {
        fRunning = false;
        fTimer->Stop();
    }
}

void TMMTimerList::sweep()
{
    fSubs.erase(std::remove_if(fSubs.begin(), fSubs.end(), [](const Sub& x) { return x.handle == 0; }),
                fSubs.end());
}

int TMMTimerList::Count() const
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    return static_cast<int>(
        std::count_if(fSubs.begin(), fSubs.end(), [](const Sub& x) { return x.handle != 0; }));
}

bool TMMTimerList::Running() const
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    return fRunning;
}

int TMMTimerList::PauseCount(Handle h) const
{
    std::lock_guard<std::recursive_mutex> lk(fLock);
    const Sub* s = find(h);
    return s ? s->paused : -1;
}

void TMMTimerList::Tick()
{
    if (fBusy.exchange(true)) {
        ++fSkipped;
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lk(fLock);
        ++fTickDepth;
        // Index loop: callbacks may append subscribers (not visited this tick).
        const size_t n = fSubs.size();
        for (size_t i = 0; i < n; ++i) {
            if (fSubs[i].handle == 0 || fSubs[i].paused > 0) continue;
            fSubs[i].elapsed += PeriodMs;
            if (fSubs[i].elapsed < fSubs[i].interval) continue;
            fSubs[i].elapsed = 0;
            Callback cb = fSubs[i].callback;  // the callback may unsubscribe itself
            void* owner = fSubs[i].owner;
            if (cb) cb(owner);
        }
        --fTickDepth;
        if (fTickDepth == 0) sweep();
    }
    fBusy.store(false);
}
