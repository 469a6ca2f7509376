// The one clock of the GUI thread: one Qt::PreciseTimer on absolute deadlines
// that wakes the thread at most once per display frame (the screen's refresh
// period while a window is exposed, else every 25 ms), and only while its
// owner or a frame client wants a wake-up (an idle program is not woken),
// never more often than the chosen frame rate.
// Each wake-up runs OnWake (the connectors' trigger cycles), then the frame
// clients (base/MMFrameClients.h). Pacing never counts wake-ups.
#pragma once

#include <QBasicTimer>
#include <QObject>

#include <cstdint>
#include <functional>

class TMMDisplayClock : public QObject {
public:
    explicit TMMDisplayClock(QObject* parent = nullptr) : QObject(parent) {}
    ~TMMDisplayClock() override { mTimer.stop(); }

    // Microsecond steady clock.
    static int64_t NowMicros();

    // A wake-up one frame after the last one, or at once when that moment
    // has passed. Nothing when one is armed already.
    void Arm();
    // A wake-up for the frame clients (Arm, remembered until it is served).
    void RequestFrame();
    bool FrameWanted() const { return mFrameWanted; }
    bool Active() const { return mTimer.isActive(); }

    // A fixed wake-up period in microseconds (0: the display's frame while a
    // window is shown, else 25 ms).
    void setFramePeriodUs(int64_t us) { mFixedPeriodUs = us; }
    // At most this many wake-ups a second, shown or not (0: no limit but
    // the screen's).
    void setFrameRate(int fps);
    int FrameRate() const { return mFrameRate; }
    // The period the next wake-up is planned with.
    int64_t FramePeriodUs();

    long WakeUps() const { return mWakeUps; }

    // Runs first at each wake-up; the owner arms again for more.
    std::function<void()> OnWake;
    // True puts a wake-up off to the next frame (a nested event loop inside
    // the owner's work).
    std::function<bool()> OnBusy;

protected:
    void timerEvent(QTimerEvent* e) override;

private:
    QBasicTimer mTimer;
    int64_t mNextWake = -1;  // clock time the timer is armed for
    int64_t mFixedPeriodUs = 0;
    int mFrameRate = 0;
    int64_t mRatePeriodUs = 0;
    int64_t mShownPeriodUs = 0;
    int64_t mShownChecked = -1;
    bool mFrameWanted = false;
    long mWakeUps = 0;
};
