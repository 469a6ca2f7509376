#include "audio/MMNotifyThread.h"

#include <algorithm>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

TMMWakeFd::TMMWakeFd() : mFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TMMWakeFd::~TMMWakeFd()
{
    if (mFd >= 0) close(mFd);
}

void TMMWakeFd::Signal()
{
    const uint64_t one = 1;
    if (mFd >= 0 && write(mFd, &one, sizeof one) < 0) {
        // Only a counter overflow fails, and then a wake-up is pending anyway.
    }
}

void TMMWakeFd::Clear()
{
    uint64_t n;
    if (mFd >= 0 && read(mFd, &n, sizeof n) < 0) {
        // Nothing was pending: the waiter reads its ring anyway.
    }
}

namespace {

int niceFor(TThreadPriority p)
{
    static const int nice[] = {19, 10, 5, 0, -5, -10, -15};
    return nice[std::clamp(static_cast<int>(p), 0, 6)];
}

}  // namespace

TMMNotifyThread::TMMNotifyThread(TMMDSPComponent* owner, size_t capacity, THandler handler)
    : TMMDSPThread(owner), mHandler(std::move(handler)), mRing(capacity)
{
}

TMMNotifyThread::~TMMNotifyThread() { End(); }

bool TMMNotifyThread::Begin(TThreadPriority priority)
{
    if (mMessages.Fd() < 0 || mStop.Fd() < 0) return false;
    std::promise<void> ready;
    auto readyFuture = ready.get_future();
    try {
        mThread = std::thread([this, priority, r = std::move(ready)]() mutable { Run(priority, r); });
    } catch (const std::system_error&) {
        return false;
    }
    return readyFuture.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

void TMMNotifyThread::End()
{
    if (!mThread.joinable()) return;
    mStop.Signal();
    mThread.join();
}

bool TMMNotifyThread::Post(const TMMMessage& m)
{
    if (!mRing.Push(m)) return false;
    mMessages.Signal();
    return true;
}

void TMMNotifyThread::SetPriority(TThreadPriority p)
{
    const long tid = mTid.load();
    if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceFor(p));
}

void TMMNotifyThread::Run(TThreadPriority priority, std::promise<void>& ready)
{
    mTid.store(static_cast<long>(syscall(SYS_gettid)));
    SetPriority(priority);
    ready.set_value();
    for (;;) {
        TMMMessage m;
        if (mRing.Pop(m)) {
            mHandler(m);
            continue;
        }
        pollfd fds[2] = {{mMessages.Fd(), POLLIN, 0}, {mStop.Fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) break;
        mMessages.Clear();
    }
}
