#include "audio/MMNotify.h"

#include "audio/MMConnectorLoop.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace {

// Targets still alive, shared by every poster so that a target registered
// before a poster was installed still gets its messages. GUI thread only.
std::vector<TMMMessageTarget*>& liveTargets()
{
    static std::vector<TMMMessageTarget*> t;
    return t;
}

}  // namespace

TMMMessagePoster::TMMMessagePoster(size_t capacity) : mRing(capacity) {}

bool TMMMessagePoster::Post(TMMMessageTarget* target, uint32_t msg, uintptr_t wParam, void* lParam)
{
    if (!mRing.Push(TMMMessage{target, msg, wParam, lParam, ConnectorLoop().NowMicros()})) {
        mDropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (!mClockDrains.load()) Wake();
    return true;
}

void TMMMessagePoster::SetClockDrains(bool drains)
{
    mClockDrains.store(drains);
    // A message posted while the flag was still set woke nobody.
    if (!drains) Wake();
}

bool TMMMessagePoster::Next(TMMMessage& m, int64_t until)
{
    if (!mHasHeld) {
        if (!mRing.Pop(mHeld)) return false;
        mHasHeld = true;
    }
    if (mHeld.time > until) return false;
    m = mHeld;
    mHasHeld = false;
    return true;
}

bool TMMMessagePoster::HasDue(int64_t timeUs)
{
    if (!mHasHeld) {
        if (!mRing.Pop(mHeld)) return false;
        mHasHeld = true;
    }
    return mHeld.time <= timeUs;
}

void TMMMessagePoster::Dispatch(const TMMMessage& m)
{
    const int64_t outer = mDispatchTime;
    mDispatchTime = m.time;
    m.target->HandleMessage(m.msg, m.wParam, m.lParam);
    mDispatchTime = outer;
}

int TMMMessagePoster::ProcessMessages() { return ProcessUntil(INT64_MAX); }

int TMMMessagePoster::ProcessUntil(int64_t timeUs)
{
    int n = 0;
    TMMMessage m;
    // Bounded so that a handler that keeps posting cannot hold the GUI thread.
    const size_t limit = mRing.Capacity();
    for (size_t seen = 0; seen < limit && Next(m, timeUs); ++seen) {
        auto& live = liveTargets();
        if (std::find(live.begin(), live.end(), m.target) == live.end()) continue;
        ++n;
        Dispatch(m);
    }
    return n;
}

void TMMMessagePoster::Register(TMMMessageTarget* target)
{
    auto& live = liveTargets();
    if (std::find(live.begin(), live.end(), target) == live.end()) live.push_back(target);
}

void TMMMessagePoster::Unregister(TMMMessageTarget* target)
{
    auto& live = liveTargets();
    live.erase(std::remove(live.begin(), live.end(), target), live.end());
}

namespace {

TMMMessagePoster& plainPoster()
{
    static TMMMessagePoster p;
    return p;
}

std::atomic<TMMMessagePoster*> gPoster{nullptr};

std::mutex& errorLock()
{
    static std::mutex m;
    return m;
}
std::function<void(const std::string&)>& errorHandler()
{
    static std::function<void(const std::string&)> h;
    return h;
}

}  // namespace

TMMMessagePoster& WindowPoster()
{
    TMMMessagePoster* p = gPoster.load(std::memory_order_acquire);
    return p ? *p : plainPoster();
}

void SetWindowPoster(TMMMessagePoster* poster) { gPoster.store(poster, std::memory_order_release); }

void SetApplicationErrorHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> g(errorLock());
    errorHandler() = std::move(handler);
}

void ShowApplicationError(const std::string& text)
{
    std::function<void(const std::string&)> h;
    {
        std::lock_guard<std::mutex> g(errorLock());
        h = errorHandler();
    }
    if (h) {
        h(text);
        return;
    }
    // One line: the texts carry "\n\r" after their operation prefix.
    std::string line;
    for (char c : text)
        if (c == '\n')
            line += ' ';
        else if (c != '\r')
            line += c;
    std::fprintf(stderr, "tarvolin: %s\n", line.c_str());
}
