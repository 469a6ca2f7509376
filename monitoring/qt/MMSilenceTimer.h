// A QTimer as a detector timer: Start arms it unless it is armed already. A
// timer deleted meanwhile (its window closed) is inactive.
#pragma once

#include "monitoring/MMSilence.h"

#include <QPointer>
#include <QTimer>

class TMMQtSilenceTimer : public IMMSilenceTimer {
public:
    explicit TMMQtSilenceTimer(QTimer* timer = nullptr) : mTimer(timer) {}
    void setTimer(QTimer* timer) { mTimer = timer; }
    QTimer* timer() const { return mTimer; }
    void Start() override
    {
        if (mTimer && !mTimer->isActive()) mTimer->start();
    }
    void Stop() override
    {
        if (mTimer) mTimer->stop();
    }
    bool Active() const override { return mTimer && mTimer->isActive(); }

private:
    QPointer<QTimer> mTimer;
};
