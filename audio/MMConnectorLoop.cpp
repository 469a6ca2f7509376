#include "audio/MMConnectorLoop.h"

#include <algorithm>
#include <chrono>

namespace {

std::atomic<TMMConnectorLoop*> gLoop{nullptr};
TMMRefreshTimerList* gTimerList = nullptr;

TMMManualLoop& BuiltinLoop()
{
    static TMMManualLoop loop;
    return loop;
}

TMMSimpleTimerList& BuiltinTimerList()
{
    static TMMSimpleTimerList list;
    return list;
}

}  // namespace

TMMConnectorLoop& ConnectorLoop()
{
    TMMConnectorLoop* l = gLoop.load(std::memory_order_acquire);
    return l ? *l : BuiltinLoop();
}
void SetConnectorLoop(TMMConnectorLoop* loop) { gLoop.store(loop, std::memory_order_release); }

// --- frame clients ---

namespace {

struct FrameClients {
    std::vector<TMMFrameClient*> list;
    int running = 0;
};

FrameClients& Clients()
{
    static FrameClients c;
    return c;
}

}  // namespace

void AddFrameClient(TMMFrameClient* client)
{
    auto& l = Clients().list;
    if (client && std::find(l.begin(), l.end(), client) == l.end()) l.push_back(client);
}

void RemoveFrameClient(TMMFrameClient* client)
{
    FrameClients& c = Clients();
    if (c.running > 0)
        std::replace(c.list.begin(), c.list.end(), client, static_cast<TMMFrameClient*>(nullptr));
    else
        c.list.erase(std::remove(c.list.begin(), c.list.end(), client), c.list.end());
}

void RunFrameClients(int64_t nowUs)
{
    FrameClients& c = Clients();
    ++c.running;
    // Index loop: a client may add others (they run from the next frame).
    const size_t n = c.list.size();
    for (size_t i = 0; i < n && i < c.list.size(); ++i)
        if (TMMFrameClient* f = c.list[i]) f->Frame(nowUs);
    if (--c.running == 0)
        c.list.erase(std::remove(c.list.begin(), c.list.end(), static_cast<TMMFrameClient*>(nullptr)), c.list.end());
}

TMMRefreshTimerList& ConnectorTimerList() { return gTimerList ? *gTimerList : BuiltinTimerList(); }
void SetConnectorTimerList(TMMRefreshTimerList* list) { gTimerList = list; }

// --- TMMManualLoop ---

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

// --- TMMSimpleTimerList ---

TMMSimpleTimerList::~TMMSimpleTimerList()
{
    {
        std::lock_guard<std::mutex> g(mLock);
        mQuit = true;
        for (Sub* s : mSubs) delete s;
        mSubs.clear();
    }
    mWake.notify_all();
    if (mThread.joinable()) mThread.join();
}

void* TMMSimpleTimerList::Subscribe(int intervalMs, Callback cb, void* owner)
{
    std::unique_lock<std::mutex> g(mLock);
    if (mUseThread && !mThread.joinable()) {
        try {
            mQuit = false;
            mThread = std::thread([this] { Run(); });
        } catch (...) {
            return nullptr;
        }
    }
    Sub* s = new Sub{std::max(intervalMs, 25), 0, cb, owner};
    mSubs.push_back(s);
    return s;
}

void TMMSimpleTimerList::Unsubscribe(void* handle)
{
    std::thread old;
    {
        std::lock_guard<std::mutex> g(mLock);
        auto it = std::find(mSubs.begin(), mSubs.end(), static_cast<Sub*>(handle));
        if (it == mSubs.end()) return;
        delete *it;
        mSubs.erase(it);
        if (mSubs.empty() && mThread.joinable()) {
            mQuit = true;
            old = std::move(mThread);
        }
    }
    mWake.notify_all();
    if (old.joinable()) {
        if (old.get_id() == std::this_thread::get_id())
            old.detach();
        else
            old.join();
    }
}

void TMMSimpleTimerList::Tick()
{
    std::lock_guard<std::mutex> g(mLock);
    for (Sub* s : mSubs) {
        s->elapsed += 25;
        if (s->elapsed >= s->interval) {
            s->elapsed = 0;
            s->cb(s->owner);
        }
    }
}

void TMMSimpleTimerList::Run()
{
    using clock = std::chrono::steady_clock;
    auto next = clock::now();
    std::unique_lock<std::mutex> g(mLock);
    while (!mQuit) {
        next += std::chrono::milliseconds(25);
        if (mWake.wait_until(g, next, [this] { return mQuit; })) break;
        for (Sub* s : mSubs) {
            s->elapsed += 25;
            if (s->elapsed >= s->interval) {
                s->elapsed = 0;
                s->cb(s->owner);
            }
        }
    }
}
