#include "audio/MMWaveInThread.h"

#include <algorithm>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

int niceFor(TThreadPriority p)
{
    static const int nice[] = {19, 10, 5, 0, -5, -10, -15};
    return nice[std::clamp(static_cast<int>(p), 0, 6)];
}

}  // namespace

TMMWaveInThread::TMMWaveInThread(TMMCustomWaveIn* owner)
    : TMMDSPThread(owner), mRecorder(owner), mRing(TMMCustomWaveIn::MaxBuffers * 2)
{
    mMsgFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    mStopFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TMMWaveInThread::~TMMWaveInThread()
{
    End();
    if (mMsgFd >= 0) close(mMsgFd);
    if (mStopFd >= 0) close(mStopFd);
}

bool TMMWaveInThread::Begin(TThreadPriority priority)
{
    if (mMsgFd < 0 || mStopFd < 0) return false;
    std::promise<void> ready;
    auto readyFuture = ready.get_future();
    try {
        mThread = std::thread([this, priority, r = std::move(ready)]() mutable { Run(priority, r); });
    } catch (const std::system_error&) {
        return false;
    }
    return readyFuture.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
}

void TMMWaveInThread::End()
{
    if (!mThread.joinable()) return;
    const uint64_t one = 1;
    if (write(mStopFd, &one, sizeof one) < 0) {
    }
    mThread.join();
}

void TMMWaveInThread::Post(HWAVEIN h, PWaveHdr hdr)
{
    if (!mRing.Push(TMMMessage{nullptr, WIM_DATA, h, hdr})) return;
    const uint64_t one = 1;
    if (write(mMsgFd, &one, sizeof one) < 0) {
    }
}

void TMMWaveInThread::SetPriority(TThreadPriority p)
{
    const long tid = mTid.load();
    if (tid > 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), niceFor(p));
}

void TMMWaveInThread::Run(TThreadPriority priority, std::promise<void>& ready)
{
    mTid.store(static_cast<long>(syscall(SYS_gettid)));
    SetPriority(priority);
    ready.set_value();
    for (;;) {
        TMMMessage m;
        if (mRing.Pop(m)) {
            if (m.wParam == mRecorder->Handle() && m.wParam != 0) {
                try {
                    mRecorder->BufferReturned(static_cast<PWaveHdr>(m.lParam));
                } catch (const std::exception& e) {
                    mRecorder->HandlerFailed(e);
                }
            }
            continue;
        }
        pollfd fds[2] = {{mMsgFd, POLLIN, 0}, {mStopFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents & POLLIN) break;
        uint64_t n;
        if (read(mMsgFd, &n, sizeof n) < 0) {
        }
    }
}
