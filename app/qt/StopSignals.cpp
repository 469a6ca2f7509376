#include "app/qt/StopSignals.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t gStopFd = -1;

extern "C" void OnStopSignal(int)
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(gStopFd, &one, sizeof one);
}

}  // namespace

TStopSignals::TStopSignals(QObject* parent) : QObject(parent)
{
    mFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mFd < 0) return;
    gStopFd = mFd;
    mNotifier = std::make_unique<QSocketNotifier>(mFd, QSocketNotifier::Read);
    connect(mNotifier.get(), &QSocketNotifier::activated, this, [this] {
        uint64_t v = 0;
        [[maybe_unused]] const ssize_t n = read(mFd, &v, sizeof v);
        if (OnStop) OnStop();
    });
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : kSignals) sigaction(s, &sa, nullptr);
}

TStopSignals::~TStopSignals()
{
    if (mFd < 0) return;
    for (int s : kSignals) signal(s, SIG_DFL);
    mNotifier.reset();
    gStopFd = -1;
    close(mFd);
}
