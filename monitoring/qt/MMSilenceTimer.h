// A QTimer as a detector timer: Start arms it unless it is armed already.
#pragma once

#include "monitoring/MMSilence.h"

#include <QTimer>

class TMMQtSilenceTimer : public IMMSilenceTimer {
public:
    explicit TMMQtSilenceTimer(QTimer* timer = nullptr) : mTimer(timer) {}
    void setTimer(QTimer* timer) { mTimer = timer; }
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
    QTimer* mTimer;
};
