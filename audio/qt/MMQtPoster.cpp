#include "audio/qt/MMQtPoster.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

TMMQtPoster::TMMQtPoster(QObject* parent) : QObject(parent)
{
    mFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mFd >= 0) {
        mNotifier = new QSocketNotifier(mFd, QSocketNotifier::Read, this);
        connect(mNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    }
}

TMMQtPoster::~TMMQtPoster()
{
    if (mInstalled) SetWindowPoster(nullptr);
    delete mNotifier;
    if (mFd >= 0) close(mFd);
}

void TMMQtPoster::Install()
{
    SetWindowPoster(this);
    mInstalled = true;
}

// Any thread: one eventfd write per batch of posts.
void TMMQtPoster::Wake()
{
    if (mFd < 0 || mWakePending.exchange(true, std::memory_order_acq_rel)) return;
    const uint64_t one = 1;
    if (write(mFd, &one, sizeof one) < 0) {
        // The counter cannot overflow at one write per batch; nothing to do.
    }
}

// GUI thread.
void TMMQtPoster::Drain()
{
    uint64_t n;
    if (read(mFd, &n, sizeof n) < 0) {
        // Already drained by a wait loop; the ring is read below anyway.
    }
    mWakePending.store(false, std::memory_order_release);
    ProcessMessages();
}
