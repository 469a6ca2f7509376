// The route from device and notification threads to the GUI thread: the
// hidden window of the components. Posting is lock-free and allocation-free
// (a preallocated ring), so audio threads may post; dispatching runs on the
// GUI thread. The Qt program installs a poster whose Wake() rouses the event
// loop (audio/qt/MMQtPoster.h); tests use the plain one and call
// ProcessMessages() themselves.
#pragma once

#include "audio/MMRing.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Receives posted messages on the GUI thread.
class TMMMessageTarget {
public:
    virtual ~TMMMessageTarget() = default;
    virtual void HandleMessage(uint32_t msg, uintptr_t wParam, void* lParam) = 0;
};

struct TMMMessage {
    TMMMessageTarget* target = nullptr;
    uint32_t msg = 0;
    uintptr_t wParam = 0;
    void* lParam = nullptr;
    int64_t time = 0;  // microseconds of the connectors' clock when it was posted
};

class TMMMessagePoster {
public:
    // 16384 posts: 15 s of twelve recorders' buffers with the GUI thread away
    // (each recorder holds only 0.5 s of them), 768 KB resident.
    explicit TMMMessagePoster(size_t capacity = 1 << 14);
    virtual ~TMMMessagePoster() = default;
    TMMMessagePoster(const TMMMessagePoster&) = delete;
    TMMMessagePoster& operator=(const TMMMessagePoster&) = delete;

    // Any thread. Stamps the message with the connectors' clock
    // (ConnectorLoop().NowMicros()). False when the ring is full (the message
    // is lost).
    bool Post(TMMMessageTarget* target, uint32_t msg, uintptr_t wParam, void* lParam);
    // GUI thread. Dispatches the queued messages to their targets if they are
    // still registered; returns how many were dispatched. Re-entrant.
    int ProcessMessages();
    // GUI thread. Dispatches, in order, the queued messages stamped at or
    // before `timeUs` and stops at the first later one (kept for the next
    // call). The connectors' loop uses it to interleave buffer arrivals with
    // the trigger cycles it catches up on.
    int ProcessUntil(int64_t timeUs);
    // GUI thread. True when a queued message is stamped at or before `timeUs`
    // (ProcessUntil would dispatch something).
    bool HasDue(int64_t timeUs);
    // GUI thread. The stamp of the message being dispatched, -1 outside a
    // dispatch.
    int64_t DispatchTime() const { return mDispatchTime; }
    // While set, posting does not wake the GUI thread: the connectors' loop
    // drains the route at each of its wake-ups. Clearing it wakes the GUI
    // thread once, for messages posted meanwhile.
    void SetClockDrains(bool drains);
    bool ClockDrains() const { return mClockDrains.load(); }
    // GUI thread. Only registered targets receive messages, so a target that
    // unregisters in its destructor never sees a stale one. The register is
    // shared by all posters.
    static void Register(TMMMessageTarget* target);
    static void Unregister(TMMMessageTarget* target);

    uint64_t Dropped() const { return mDropped.load(std::memory_order_relaxed); }

protected:
    // Called after every successful Post, on the posting thread; must not
    // allocate, lock or block.
    virtual void Wake() {}

private:
    bool Next(TMMMessage& m, int64_t until);
    void Dispatch(const TMMMessage& m);

    TMMRing<TMMMessage> mRing;
    std::atomic<uint64_t> mDropped{0};
    std::atomic<bool> mClockDrains{false};
    TMMMessage mHeld;  // popped but stamped later than a ProcessUntil limit
    bool mHasHeld = false;
    int64_t mDispatchTime = -1;
};

// The process-wide poster (a plain one until SetWindowPoster installs
// another). Set it before any component posts, on the GUI thread.
TMMMessagePoster& WindowPoster();
// Installs `poster` (null returns to the plain one); the caller keeps ownership.
void SetWindowPoster(TMMMessagePoster* poster);

// The application's standard error display, used when a component's
// notification handler fails. Default: one line on stderr.
void SetApplicationErrorHandler(std::function<void(const std::string&)> handler);
void ShowApplicationError(const std::string& text);
