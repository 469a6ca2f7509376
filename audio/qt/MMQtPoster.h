// The window route for the Qt program: messages posted by device and
// notification threads are dispatched on the GUI thread. Posting stays
// lock-free and allocation-free. While the connectors' loop runs, it drains
// the route at its own wake-ups and posting wakes nobody; otherwise the first
// post after a dispatch writes an eventfd, whose QSocketNotifier wakes the
// event loop.
#pragma once

#include "audio/MMNotify.h"
#include "audio/MMNotifyThread.h"

#include <QObject>

#include <atomic>

class QSocketNotifier;

class TMMQtPoster : public QObject, public TMMMessagePoster {
    Q_OBJECT
public:
    // Create on the GUI thread, after the application object.
    explicit TMMQtPoster(QObject* parent = nullptr);
    ~TMMQtPoster() override;

    // Installs this poster as the process-wide window route (and removes it
    // again on destruction).
    void Install();

protected:
    void Wake() override;

private:
    void Drain();

    TMMWakeFd mWake;
    QSocketNotifier* mNotifier = nullptr;
    std::atomic<bool> mWakePending{false};
    bool mInstalled = false;
};
