// The connectors' loop on the Qt event loop, and the program's one clock for
// the GUI thread: posted messages become posted events to one QObject; the
// loop step and the frame clients (repaints, peak ticks) run from one timer
// that wakes the GUI thread once per display frame (or every 25 ms when no
// window is shown), and only while there is something to do. Each wake-up
// runs the 1 ms trigger cycles due by then (audio/MMConnector.h); pacing never
// counts wake-ups.
#pragma once

#include "audio/MMConnectorLoop.h"

#include <QBasicTimer>
#include <QObject>

#include <functional>

class TMMConnectorQtLoop : public QObject, public TMMConnectorLoop {
    Q_OBJECT
public:
    // Installs itself as the connectors' loop; the destructor uninstalls it.
    explicit TMMConnectorQtLoop(QObject* parent = nullptr);
    ~TMMConnectorQtLoop() override;

    int64_t NowMicros() override;
    void Post(int message, uint32_t id) override;
    void ScheduleLoopStep() override;
    bool RequestFrame() override;
    void ProcessMessages() override;
    void HandleOneMessage() override;
    bool Terminating() override;
    bool OnLoopThread() override;
    bool AppHasIdleHandler() override { return false; }
    void SetIdleHandler(bool installed) override { mIdle = installed; }
    void ShowException(const std::exception& e) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;

    // A fixed wake-up period in microseconds (0: the display's frame while a
    // window is shown, else 25 ms).
    void setFramePeriodUs(int64_t us) { mFixedPeriodUs = us; }
    // The period the next wake-up is planned with.
    int64_t FramePeriodUs();

    // Replaces the default error display (a critical log line).
    std::function<void(const QString&)> OnError;

    // Loop steps and wake-ups so far (for the demo's statistics).
    long Steps() const { return mSteps; }
    long WakeUps() const { return mWakeUps; }
    bool TimerActive() const { return mTimer.isActive(); }

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    void Arm();
    void RunStep();

    QBasicTimer mTimer;
    int64_t mNextWake = -1;  // clock time the timer is armed for
    int64_t mFixedPeriodUs = 0;
    int64_t mShownPeriodUs = 0;
    int64_t mShownChecked = -1;
    bool mStepWanted = false;
    bool mFrameWanted = false;
    bool mInStep = false;
    bool mIdle = false;
    int mDepth = 0;
    long mSteps = 0;
    long mWakeUps = 0;
};
