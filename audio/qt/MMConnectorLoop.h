// The connectors' loop on the Qt event loop: posted messages become posted
// events to one QObject on the GUI thread; the loop step's 1 ms sleep becomes
// a precise 1 ms QTimer that runs while a step is wanted. Pacing never counts
// ticks: the trigger cycle reads the microsecond clock.
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
    void ProcessMessages() override;
    void HandleOneMessage() override;
    bool Terminating() override;
    bool OnLoopThread() override;
    bool AppHasIdleHandler() override { return false; }
    void SetIdleHandler(bool installed) override { mIdle = installed; }
    void ShowException(const std::exception& e) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;

    // Replaces the default error display (a critical log line).
    std::function<void(const QString&)> OnError;

    // Loop steps run so far (for the demo's statistics).
    long Steps() const { return mSteps; }
    bool TimerActive() const { return mTimer.isActive(); }

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    QBasicTimer mTimer;
    bool mStepWanted = false;
    bool mInStep = false;
    bool mIdle = false;
    int mDepth = 0;
    long mSteps = 0;
};
