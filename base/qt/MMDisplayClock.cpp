#include "base/qt/MMDisplayClock.h"

#include "base/MMFrameClients.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimerEvent>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

// Nothing on screen: the peak tick's period.
constexpr int64_t kHiddenPeriodUs = 25000;
// How often the clock looks whether a window is shown.
constexpr int64_t kShownCheckUs = 500000;

}  // namespace

int64_t TMMDisplayClock::NowMicros()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void TMMDisplayClock::setFrameRate(int fps)
{
    mFrameRate = std::max(fps, 0);
    mRatePeriodUs = mFrameRate > 0 ? (1000000 + mFrameRate / 2) / mFrameRate : 0;
    mShownChecked = -1;
}

int64_t TMMDisplayClock::FramePeriodUs()
{
    if (mFixedPeriodUs > 0) return std::max(mFixedPeriodUs, mRatePeriodUs);
    const int64_t now = NowMicros();
    if (mShownChecked < 0 || now - mShownChecked >= kShownCheckUs) {
        mShownChecked = now;
        mShownPeriodUs = kHiddenPeriodUs;
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            for (const QWindow* w : QGuiApplication::topLevelWindows()) {
                if (!w->isExposed()) continue;
                const QScreen* s = w->screen();
                const double hz = s ? s->refreshRate() : 60.0;
                const int64_t frame = std::clamp<int64_t>(std::llround(1e6 / (hz > 1.0 ? hz : 60.0)), 4000, 100000);
                mShownPeriodUs = std::min(mShownPeriodUs, frame);
            }
        }
    }
    return std::max(mShownPeriodUs, mRatePeriodUs);
}

// Absolute deadlines, so the rate does not drift.
void TMMDisplayClock::Arm()
{
    if (mTimer.isActive()) return;
    const int64_t now = NowMicros();
    const int64_t period = FramePeriodUs();
    if (mNextWake < 0 || now - mNextWake > period)
        mNextWake = now + period;
    else
        mNextWake += period;
    const int64_t waitUs = std::max<int64_t>(mNextWake - now, 0);
    mTimer.start(static_cast<int>((waitUs + 999) / 1000), Qt::PreciseTimer, this);
}

void TMMDisplayClock::RequestFrame()
{
    mFrameWanted = true;
    Arm();
}

void TMMDisplayClock::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != mTimer.timerId()) return QObject::timerEvent(e);
    mTimer.stop();
    if (OnBusy && OnBusy()) {
        Arm();
        return;
    }
    ++mWakeUps;
    mFrameWanted = false;
    if (OnWake) OnWake();
    RunFrameClients(NowMicros());
    // Clients that want a further frame ask for it while they run.
    if (mFrameWanted) Arm();
}
