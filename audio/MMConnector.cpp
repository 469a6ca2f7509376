#include "audio/MMConnector.h"

#include "audio/MMNotify.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// Process-wide connector state; GUI thread only.
struct Shared {
    std::vector<TMMConnector*> list;
    int activeCount = 0;
    int highestSpeed = 0;
    bool enterIdle = false;
    bool idleInstalled = false;
    bool stepInFlight = false;  // one loop step circulates at a time
    uint32_t nextId = 1;
    int64_t nextCycle = -1;  // clock time of the next 1 ms trigger cycle
    int64_t cycleTime = -1;  // clock time of the cycle under way
    long cyclesRun = 0;
    long cyclesSkipped = 0;
    bool batch = true;  // level blocks fed once per run of cycles
};

// A wake-up catches up on at most this much time; cycles beyond it are
// skipped (their level blocks still reach the bars through the flush before
// the next tap).
constexpr int64_t kMaxCatchUpUs = 1000000;
constexpr int64_t kCycleUs = 1000;

Shared& S()
{
    static Shared s;
    return s;
}

void RecomputeHighestSpeed()
{
    int h = 0;
    for (TMMConnector* c : S().list) h = std::max(h, c->Speed());
    S().highestSpeed = h;
}

void StopClock()
{
    Shared& s = S();
    s.stepInFlight = false;
    s.nextCycle = -1;
    WindowPoster().SetClockDrains(false);
}

void RemoveIdleHandlerIfUnused()
{
    if (S().activeCount <= 0 && S().idleInstalled) {
        S().idleInstalled = false;
        ConnectorLoop().SetIdleHandler(false);
    }
}

int16_t Read16(const uint8_t* p)
{
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

}  // namespace

// --- sinks ---

TMMConnectorSink::~TMMConnectorSink()
{
    const auto holders = mHolders;
    for (TMMConnector* c : holders) c->SinkGone(this);
}

// --- message dispatch (GUI thread) ---

void DispatchConnectorMessage(int message, uint32_t id)
{
    TMMConnectorLoop& loop = ConnectorLoop();
    switch (message) {
    case cmActivate:
        if (TMMConnector* c = TMMConnector::Find(id)) {
            try {
                c->HandleActivate();
            } catch (const std::exception& e) {
                loop.ShowException(e);
            }
        }
        break;
    case cmTimerCycle:
        if (TMMConnector* c = TMMConnector::Find(id)) c->HandleTimerCycle();
        break;
    case cmLoopStep:
        TMMConnector::HandleLoopStep();
        break;
    case cmHiTimerTick:
        try {
            TMMHiTimer::DeliverTick(id);
        } catch (const std::exception& e) {
            loop.ShowException(e);
        }
        break;
    default:
        break;
    }
}

// --- FindTrigger ---

int FindTrigger(const WaveFormat* fmt, const void* data, int nBytes, int level, TMMTriggerMode mode)
{
    if (!fmt || !data || nBytes <= 0 || (mode != tmUpFlank && mode != tmDownFlank)) return -1;
    const int bits = fmt->wBitsPerSample;
    if (bits != 8 && bits != 16) return -1;
    int fb = fmt->nBlockAlign;
    if (fb <= 0) fb = bits / 8 * std::max<int>(fmt->nChannels, 1);
    const int frames = nBytes / fb;
    if (frames < 3) return -1;
    if (mode == tmDownFlank) level = -level;
    const int thr = bits == 16 ? level * 327 : level * 127 / 100 + 128;
    const auto* p = static_cast<const uint8_t*>(data);
    auto sample = [&](int i) -> int {
        const uint8_t* q = p + static_cast<size_t>(i) * static_cast<size_t>(fb);
        return bits == 16 ? Read16(q) : *q;
    };
    int a = sample(0);
    for (int i = 0; i + 1 < frames; ++i) {
        const int b = sample(i + 1);
        if (mode == tmUpFlank ? (a < thr && thr <= b) : (a > thr && thr >= b)) return (i + 1) * fb;
        a = b;
    }
    return -1;
}

// --- construction ---

TMMConnector::TMMConnector()
{
    Shared& s = S();
    mId = s.nextId++;
    s.list.push_back(this);
    RecomputeHighestSpeed();
    mTimer.setInterval(20);
    mTimer.setCallBackMode(cmWindow);
    // Runs only while a tmTimer connector is active.
    mTimer.setEnabled(false);
    mTimer.setOnTimer([this](TMMHiTimer&) { TimerTick(); });
}

TMMConnector::~TMMConnector()
{
    mTimer.setEnabled(false);
    try {
        Stopped();
    } catch (...) {
        // a sink's reset failing must not escape a destructor
    }
    DetachFromChain();
    for (TMMLevelSink*& l : mLevel) {
        TMMLevelSink* old = l;
        l = nullptr;
        Release(old);
    }
    for (TMMOscopeSink*& o : mOscope) {
        TMMOscopeSink* old = o;
        o = nullptr;
        Release(old);
    }
    Shared& s = S();
    s.list.erase(std::remove(s.list.begin(), s.list.end(), this), s.list.end());
    RecomputeHighestSpeed();
    if (s.list.empty()) {
        s.activeCount = 0;
        if (s.stepInFlight) StopClock();
        RemoveIdleHandlerIfUnused();
    }
}

TMMConnector* TMMConnector::Find(uint32_t id)
{
    for (TMMConnector* c : S().list)
        if (c->mId == id) return c;
    return nullptr;
}

int TMMConnector::ActiveCount() { return S().activeCount; }
int TMMConnector::HighestSpeed() { return S().highestSpeed; }
size_t TMMConnector::ConnectorCount() { return S().list.size(); }
bool TMMConnector::LoopRunning() { return S().stepInFlight; }
int64_t TMMConnector::CycleMicros() { return S().cycleTime; }
long TMMConnector::LoopCycles() { return S().cyclesRun; }
long TMMConnector::SkippedCycles() { return S().cyclesSkipped; }

int64_t TMMConnector::Now()
{
    TMMConnectorLoop& loop = ConnectorLoop();
    if (loop.OnLoopThread()) {
        // A buffer arrives when its device posted it; a cycle runs at its own
        // place on the 1 ms grid, however late the wake-up that runs it.
        const int64_t posted = WindowPoster().DispatchTime();
        if (posted >= 0) return std::max(posted, S().cycleTime);
        if (S().cycleTime >= 0) return S().cycleTime;
    }
    return loop.NowMicros();
}
bool TMMConnector::EnterIdle() { return S().enterIdle; }
void TMMConnector::setEnterIdle(bool e) { S().enterIdle = e; }

// --- sink slots ---

void TMMConnector::Hold(TMMConnectorSink* s)
{
    if (s && std::find(s->mHolders.begin(), s->mHolders.end(), this) == s->mHolders.end())
        s->mHolders.push_back(this);
}

void TMMConnector::Release(TMMConnectorSink* s)
{
    if (!s) return;
    for (auto* l : mLevel)
        if (l == s) return;
    for (auto* o : mOscope)
        if (o == s) return;
    s->mHolders.erase(std::remove(s->mHolders.begin(), s->mHolders.end(), this), s->mHolders.end());
}

void TMMConnector::SinkGone(TMMConnectorSink* s)
{
    std::lock_guard<std::mutex> g(mTapLock);
    for (auto*& l : mLevel)
        if (l == s) l = nullptr;
    for (auto*& o : mOscope)
        if (o == s) o = nullptr;
}

void TMMConnector::SetLevel(int slot, TMMLevelSink* s)
{
    if (mLevel[slot] == s || (s && mLevel[1 - slot] == s)) return;
    TMMLevelSink* old;
    {
        std::lock_guard<std::mutex> g(mTapLock);
        old = mLevel[slot];
        mLevel[slot] = s;
        mGroup[kLevels].hasData = false;
    }
    Release(old);
    Hold(s);
    if (s) ApplyFormatToSinks();
}

void TMMConnector::SetOscope(int slot, TMMOscopeSink* s)
{
    if (mOscope[slot] == s || (s && mOscope[1 - slot] == s)) return;
    TMMOscopeSink* old;
    {
        std::lock_guard<std::mutex> g(mTapLock);
        old = mOscope[slot];
        mOscope[slot] = s;
        mGroup[kScopes].hasData = false;
    }
    Release(old);
    Hold(s);
    if (s) ApplyFormatToSinks();
}

void TMMConnector::ApplyFormatToSinks()
{
    const WaveFormat* f = nullptr;
    if (mRunning) {
        f = mTapFormat.get();
    } else {
        f = GetFormat();
        if (!f) return;
        mPcm = f->wFormatTag == WAVE_FORMAT_PCM;
        // No conversion service: a non-PCM chain is not tapped.
        if (!mPcm) mConverting = false;
    }
    if (!f || (!mPcm && !mConverting)) return;
    mSilence = f->wBitsPerSample == 8 ? 128 : 0;
    for (TMMLevelSink* l : mLevel)
        if (l) l->SetWaveFormat(f);
    for (TMMOscopeSink* o : mOscope)
        if (o) o->ApplyFormat(f);
}

void TMMConnector::ResetSinks()
{
    for (TMMLevelSink* l : mLevel)
        if (l) l->ResetData();
    for (TMMOscopeSink* o : mOscope)
        if (o) o->ClearDisplay();
}

// --- chain ---

void TMMConnector::SetFormat(const WaveFormat* fmt)
{
    TMMDSPComponent::SetFormat(fmt);
    ApplyFormatToSinks();
}

void TMMConnector::Started()
{
    TMMDSPComponent::Started();
    const WaveFormat* f = GetFormat();
    if (!f || mRunning) return;
    mConverting = false;
    mPcm = f->wFormatTag == WAVE_FORMAT_PCM;
    {
        std::lock_guard<std::mutex> g(mTapLock);
        if (mPcm) {
            mTapFormat = CopyWaveFormat(f);
            const int32_t size = GetBufferSize();
            mTap.assign(static_cast<size_t>(std::max(size, 0)), 0);
        }
        mTapCount = 0;
        for (Group& gr : mGroup) gr = Group{};
    }
    if ((!mPcm && !mConverting) || mTap.empty()) {
        mTapFormat.reset();
        return;
    }
    RecomputeHighestSpeed();
    mRunning = true;
    ApplyFormatToSinks();
    if (mEnabled && mRealTime) StartCycles();
}

void TMMConnector::Paused()
{
    if (mRunning && !mTapPaused) {
        {
            std::lock_guard<std::mutex> g(mTapLock);
            mTapPaused = true;
            std::fill(mTap.begin(), mTap.end(), static_cast<char>(mSilence));
        }
        if (mRealTime && !mRefresher) {
            mRefresher = ConnectorTimerList().Subscribe(RefresherIntervalMs(), &RefresherTick, this);
            if (!mRefresher) {
                TMMDSPComponent::Paused();
                throw EOutOfResources("Not enough timers available");
            }
        }
    }
    TMMDSPComponent::Paused();
}

void TMMConnector::Restarted()
{
    if (mTapPaused) {
        {
            std::lock_guard<std::mutex> g(mTapLock);
            mTapPaused = false;
        }
        if (mRealTime) Unsubscribe();
    }
    TMMDSPComponent::Restarted();
}

void TMMConnector::Reset()
{
    if (mRunning) {
        std::lock_guard<std::mutex> g(mTapLock);
        std::fill(mTap.begin(), mTap.end(), static_cast<char>(mSilence));
    }
    TMMDSPComponent::Reset();
}

void TMMConnector::Stopped()
{
    if (mRunning) {
        mRunning = false;
        if (mActive) Deactivate(true);
        {
            std::lock_guard<std::mutex> g(mTapLock);
            mTapPaused = false;
        }
        Unsubscribe();
        {
            std::lock_guard<std::mutex> g(mTapLock);
            mConverting = false;
            mTapFormat.reset();
            std::vector<char>().swap(mTap);
            mTapCount = 0;
        }
        if (mRefreshOnStop) ResetSinks();
    }
    TMMDSPComponent::Stopped();
}

void TMMConnector::BufferReady(PWaveHdr lpWaveHdr)
{
    if (lpWaveHdr) {
        PWaveHdr t = lpWaveHdr;
        if (mSynchronize && lpWaveHdr->lpCompanion && lpWaveHdr->dwBytesRecorded > 0)
            t = lpWaveHdr->lpCompanion;
        Tap(t->lpData, static_cast<int>(std::min<uint32_t>(t->dwBytesRecorded, INT_MAX)));
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers)
{
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr)
        Tap(lpWaveHdr->lpData, static_cast<int>(std::min<uint32_t>(lpWaveHdr->dwBytesRecorded, INT_MAX)));
}

// --- tap ---

void TMMConnector::Tap(const char* data, int n)
{
    if (!mRunning || !mEnabled || mTapPaused || (!mPcm && !mConverting) || !data || n <= 0) return;
    TMMConnectorLoop& loop = ConnectorLoop();
    // Whole blocks of the previous buffer still unfed are all due by now:
    // hand them over before the tap is overwritten (sinks only on the GUI
    // thread).
    const bool flush = mSynchronize && mRealTime && mActive && loop.OnLoopThread();
    {
        std::lock_guard<std::mutex> g(mTapLock);
        if (flush && mGroup[kLevels].hasData) {
            try {
                FeedLevels(0, true);
            } catch (const std::exception& e) {
                loop.ShowException(e);
            }
        }
        mArrival = Now();
        n = std::min(n, static_cast<int>(mTap.size()));
        std::memcpy(mTap.data(), data, static_cast<size_t>(n));
        mTapCount = n;
        if (HasLevels()) mGroup[kLevels].hasData = true, mGroup[kLevels].readPos = 0;
        if (HasScopes()) mGroup[kScopes].hasData = true, mGroup[kScopes].readPos = 0;
    }
    if (!mRealTime && mAutoTrigger) Trigger();
}

int64_t TMMConnector::DueMicros(int pos) const
{
    const uint32_t rate = mTapFormat ? mTapFormat->nAvgBytesPerSec : 0;
    if (rate == 0) return 0;
    return static_cast<int64_t>(pos) * 1000000 / rate;
}

void TMMConnector::FeedLevels(int64_t now, bool flush)
{
    Group& g = mGroup[kLevels];
    const int step = std::max(mLevel[0] ? mLevel[0]->BlockBytes() : 0, mLevel[1] ? mLevel[1]->BlockBytes() : 0);
    if (step <= 0) {
        g.hasData = false;
        return;
    }
    // Unpaced: one block per cycle.
    const int most = mSynchronize ? INT_MAX : 1;
    const int64_t since = now - mArrival.load();
    const int first = g.readPos;
    int pos = first, count = 0;
    bool exhausted = false;
    while (count < most) {
        if (!flush && mSynchronize && since < DueMicros(pos)) break;
        if (pos + step > mTapCount) {
            exhausted = true;
            break;
        }
        pos += step;
        ++count;
    }
    g.readPos = exhausted ? pos + step : pos;
    if (exhausted) g.hasData = false;
    if (count == 0) return;
    g.cycles += count;
    const char* block = mTap.data() + first;
    if (S().batch && mLevel[0] != mLevel[1]) {
        if (mLevel[0]) mLevel[0]->ProcessBlocks(block, count, step);
        if (mLevel[1]) mLevel[1]->ProcessBlocks(block, count, step);
        return;
    }
    for (int i = 0; i < count; ++i, block += step) {
        if (mLevel[0]) mLevel[0]->ProcessBlock(block);
        if (mLevel[1]) mLevel[1]->ProcessBlock(block);
    }
}

void TMMConnector::FeedScopes(int64_t now)
{
    Group& g = mGroup[kScopes];
    TMMOscopeSink* ref = mOscope[0] ? mOscope[0] : mOscope[1];
    const int step = std::max(mOscope[0] ? mOscope[0]->DisplayBytes() : 0, mOscope[1] ? mOscope[1]->DisplayBytes() : 0);
    if (!ref || step <= 0) {
        g.hasData = false;
        return;
    }
    int slice = g.readPos;
    int d = -1;
    if (mTriggerMode != tmNone && !mTapPaused)
        d = FindTrigger(mTapFormat.get(), mTap.data() + g.readPos, mTapCount - g.readPos, mTriggerLevel,
                        mTriggerMode);
    if (mSynchronize && now - mArrival.load() < DueMicros(g.readPos)) return;
    if (d > 0) {
        g.readPos += d;
        slice += d;
    }
    if (ref->Scroll() && ref->Accelerate())
        g.readPos += ref->FFTLength() / 4 * (ref->BitLength() + 1) * (ref->Mode() + 1);
    else
        g.readPos += step;
    if (slice + step > mTapCount) {
        g.hasData = false;
        return;
    }
    const char* p = mTap.data() + slice;
    if (mOscope[0]) mOscope[0]->AcceptSamples(p);
    if (mOscope[1]) mOscope[1]->AcceptSamples(p);
    ++g.cycles;
}

void TMMConnector::Trigger() { Cycle(true); }

// One trigger cycle; without `levels` the level blocks wait for
// FeedLoopLevels.
void TMMConnector::Cycle(bool levels)
{
    if (!mEnabled || !(mActive || (mRunning && !mRealTime))) return;
    {
        std::lock_guard<std::mutex> g(mTapLock);
        if (mTap.empty()) return;
        const int64_t now = Now();
        if (levels && mGroup[kLevels].hasData) FeedLevels(now, false);
        if (mGroup[kScopes].hasData) FeedScopes(now);
    }
    if (OnTrigger) OnTrigger(this);
}

// The level blocks each loop-driven connector owes its bars up to the cycle
// at `cycleTime`: the blocks the cycles since the last call would have fed
// one by one, in one call per bar.
void TMMConnector::FeedLoopLevels(int64_t cycleTime)
{
    Shared& s = S();
    s.cycleTime = cycleTime;
    for (size_t i = 0; i < s.list.size(); ++i) {
        TMMConnector* c = s.list[i];
        if (!c->LoopDriven() || !c->mSynchronize) continue;
        std::lock_guard<std::mutex> g(c->mTapLock);
        if (!c->mTap.empty() && c->mGroup[kLevels].hasData) c->FeedLevels(cycleTime, false);
    }
    s.cycleTime = -1;
}

bool TMMConnector::BatchCycles() { return S().batch; }
void TMMConnector::setBatchCycles(bool batch) { S().batch = batch; }

// --- activation and the loop ---

void TMMConnector::StartCycles()
{
    TMMConnectorLoop& loop = ConnectorLoop();
    Shared& s = S();
    if (s.enterIdle && mAutoTrigger && mTriggerMethod == tmMessage && !loop.AppHasIdleHandler() &&
        !s.idleInstalled) {
        s.idleInstalled = true;
        loop.SetIdleHandler(true);
    }
    loop.Post(cmActivate, mId);
}

void TMMConnector::HandleActivate()
{
    // An activation already in effect is not counted twice.
    if (!mRunning || mActive) return;
    mPendingTimerCycles = 0;
    mActive = true;
    if (!mAutoTrigger) return;
    if (mTriggerMethod == tmTimer) {
        mTimer.setEnabled(true);
    } else {
        Shared& s = S();
        ++s.activeCount;
        mCounted = true;
        if (!s.stepInFlight) {
            s.stepInFlight = true;
            s.nextCycle = -1;
            // From now on the loop's wake-ups drain the recorders' buffers.
            WindowPoster().SetClockDrains(true);
            ConnectorLoop().Post(cmLoopStep, 0);
        }
    }
}

void TMMConnector::Deactivate(bool stopTimer)
{
    mActive = false;
    if (mCounted) {
        mCounted = false;
        --S().activeCount;
    }
    if (stopTimer) mTimer.setEnabled(false);
    RemoveIdleHandlerIfUnused();
}

void TMMConnector::HandleLoopStep()
{
    Shared& s = S();
    TMMConnectorLoop& loop = ConnectorLoop();
    if (s.list.empty()) {  // a step still on its way after the last connector went
        StopClock();
        return;
    }
    const int times = 5001 - s.highestSpeed;
    for (int i = 0; i < times; ++i) loop.ProcessMessages();
    if (s.activeCount <= 0 || loop.Terminating()) {
        StopClock();
        return;
    }
    // One wake-up runs every 1 ms cycle that has become due since the last
    // one, back to back, each at its own clock time; the buffers the devices
    // posted meanwhile are tapped between them in the order they came.
    TMMMessagePoster& poster = WindowPoster();
    const int64_t now = loop.NowMicros();
    if (s.nextCycle < 0) s.nextCycle = now;
    if (now - s.nextCycle > kMaxCatchUpUs) {
        const int64_t skip = (now - s.nextCycle - kMaxCatchUpUs) / kCycleUs + 1;
        s.cyclesSkipped += static_cast<long>(skip);
        s.nextCycle += skip * kCycleUs;
    }
    // Batched, the level blocks of a run of cycles are fed at its end: before
    // a message (a buffer, a stop) is dispatched, and at the wake-up's end.
    int64_t owed = -1;
    try {
        while (s.nextCycle <= now) {
            if (owed >= 0 && poster.HasDue(s.nextCycle)) {
                FeedLoopLevels(owed);
                owed = -1;
            }
            poster.ProcessUntil(s.nextCycle);
            if (s.activeCount <= 0 || s.list.empty() || loop.Terminating()) break;
            s.cycleTime = s.nextCycle;
            s.nextCycle += kCycleUs;
            ++s.cyclesRun;
            // Index loop: a handler may create or destroy connectors.
            for (size_t i = 0; i < s.list.size(); ++i) {
                TMMConnector* c = s.list[i];
                if (c->LoopDriven()) c->Cycle(!s.batch || !c->mSynchronize);
            }
            if (s.batch) owed = s.cycleTime;
            s.cycleTime = -1;
        }
        if (owed >= 0) FeedLoopLevels(owed);
        poster.ProcessUntil(now);
    } catch (const std::exception& e) {
        s.cycleTime = -1;
        StopClock();
        loop.ShowException(e);
        return;
    }
    if (s.activeCount <= 0 || loop.Terminating() || s.list.empty()) {
        StopClock();
        return;
    }
    if (s.enterIdle) loop.HandleOneMessage();
    loop.ScheduleLoopStep();
}

void TMMConnector::TimerTick()
{
    if (!mEnabled || !(mActive || (mRunning && !mRealTime))) return;
    if (mAutoTrigger && mTriggerMethod != tmTimer) return;
    if (mPendingTimerCycles.load() > 0) return;
    TMMConnectorLoop& loop = ConnectorLoop();
    if (loop.OnLoopThread()) {
        Trigger();
    } else {
        ++mPendingTimerCycles;
        loop.Post(cmTimerCycle, mId);
    }
}

void TMMConnector::HandleTimerCycle()
{
    try {
        if (mEnabled && mActive) Trigger();
    } catch (const std::exception& e) {
        ConnectorLoop().ShowException(e);
    }
    if (mPendingTimerCycles.load() > 0) --mPendingTimerCycles;
}

// --- pause refresher (timer list thread) ---

int TMMConnector::RefresherIntervalMs() const
{
    const int32_t ws = GetBufferSize();
    if (ws > 8191) return 25;
    const WaveFormat* f = mTapFormat ? mTapFormat.get() : GetFormat();
    return std::max(BytesToMs(f, ws), 25);
}

void TMMConnector::RefresherTick(void* owner)
{
    auto* c = static_cast<TMMConnector*>(owner);
    std::lock_guard<std::mutex> g(c->mTapLock);
    if (!c->mTapPaused) return;
    // The timer list's thread: the plain clock (a cycle under way on the GUI
    // thread feeds from the restarted position at once).
    c->mArrival = ConnectorLoop().NowMicros();
    if (c->HasLevels()) c->mGroup[kLevels].hasData = true, c->mGroup[kLevels].readPos = 0;
    if (c->HasScopes()) c->mGroup[kScopes].hasData = true, c->mGroup[kScopes].readPos = 0;
}

void TMMConnector::Unsubscribe()
{
    if (!mRefresher) return;
    const TMMTimerList::Handle h = mRefresher;
    mRefresher = 0;
    ConnectorTimerList().Unsubscribe(h);
}

// --- property setters ---

void TMMConnector::setEnabled(bool e)
{
    if (e == mEnabled) return;
    mEnabled = e;
    if (!e) {
        if (mActive) Deactivate(false);
        ResetSinks();
    } else if (mRunning && mRealTime) {
        StartCycles();
    }
}

void TMMConnector::setAutoTrigger(bool a)
{
    if (a == mAutoTrigger) return;
    mAutoTrigger = a;
    if (!a) {
        if (mActive) Deactivate(false);
    } else if (mRunning && mEnabled && mRealTime) {
        StartCycles();
    }
}

void TMMConnector::setTriggerMethod(TMMTriggerMethod m)
{
    if (m == mTriggerMethod) return;
    mTimer.setEnabled(false);
    mTriggerMethod = m;
}

void TMMConnector::setSpeed(int s)
{
    mSpeed = std::clamp(s, 1, 5000);
    RecomputeHighestSpeed();
}

void TMMConnector::setRealTime(bool r)
{
    if (r == mRealTime) return;
    if (IsOpened()) throw EMMConnectorError("Change to property while device was open");
    mRealTime = r;
}
