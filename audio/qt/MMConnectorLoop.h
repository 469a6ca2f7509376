// The connectors' loop on the Qt event loop: posted messages become posted
// events to one QObject; the loop step runs at the wake-ups of the GUI
// thread's display clock (base/qt/MMDisplayClock), before its frame clients
// (repaints, peak ticks). Each wake-up runs the 1 ms trigger cycles due by
// then (audio/MMConnector.h).
#pragma once

#include "audio/MMConnectorLoop.h"
#include "base/qt/MMDisplayClock.h"

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

    // The clock it runs on (a fixed period: setFramePeriodUs).
    TMMDisplayClock& Clock() { return mClock; }
    void setFramePeriodUs(int64_t us) { mClock.setFramePeriodUs(us); }
    int64_t FramePeriodUs() { return mClock.FramePeriodUs(); }
    void setFrameRate(int fps) { mClock.setFrameRate(fps); }

    // Replaces the default error display (a critical log line).
    std::function<void(const QString&)> OnError;

    // Loop steps and wake-ups so far (for the demo's statistics).
    long Steps() const { return mSteps; }
    long WakeUps() const { return mClock.WakeUps(); }
    bool TimerActive() const { return mClock.Active(); }

protected:
    bool event(QEvent* e) override;

private:
    void RunStep();

    TMMDisplayClock mClock;
    bool mStepWanted = false;
    bool mInStep = false;
    bool mIdle = false;
    int mDepth = 0;
    long mSteps = 0;
};
