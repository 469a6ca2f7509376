#include "audio/qt/MMQtPoster.h"

#include <QSocketNotifier>

TMMQtPoster::TMMQtPoster(QObject* parent) : QObject(parent)
{
    if (mWake.Fd() >= 0) {
        mNotifier = new QSocketNotifier(mWake.Fd(), QSocketNotifier::Read, this);
        connect(mNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    }
}

TMMQtPoster::~TMMQtPoster()
{
    if (mInstalled) SetWindowPoster(nullptr);
    delete mNotifier;
}

void TMMQtPoster::Install()
{
    SetWindowPoster(this);
    mInstalled = true;
}

// Any thread: one eventfd write per batch of posts.
void TMMQtPoster::Wake()
{
    if (mWake.Fd() < 0 || mWakePending.exchange(true, std::memory_order_acq_rel)) return;
    mWake.Signal();
}

// GUI thread.
void TMMQtPoster::Drain()
{
    mWake.Clear();  // the ring is read below whatever the counter said
    mWakePending.store(false, std::memory_order_release);
    ProcessMessages();
}
