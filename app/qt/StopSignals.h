// SIGINT, SIGTERM and SIGHUP (a service stop, a logout, a closed terminal)
// turned into a call on the GUI thread: the handler only writes an eventfd,
// a socket notifier reads it and calls OnStop. One instance at a time; the
// default dispositions come back when it is destroyed.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

class TStopSignals : public QObject {
public:
    explicit TStopSignals(QObject* parent = nullptr);
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // False when the descriptor could not be made (no signal is caught then).
    bool Valid() const { return mFd >= 0; }

    // Called on the GUI thread once per wake-up, however many signals came.
    std::function<void()> OnStop;

private:
    int mFd = -1;
    std::unique_ptr<QSocketNotifier> mNotifier;
};
