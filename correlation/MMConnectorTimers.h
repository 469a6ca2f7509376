// Binds the connectors' pause refresher to the program's shared 25 ms timer
// list (metering/MMTimerList), which lives above the audio layer.
#pragma once

#include "audio/MMConnectorLoop.h"
#include "metering/MMTimerList.h"

class TMMConnectorSharedTimers : public TMMRefreshTimerList {
public:
    explicit TMMConnectorSharedTimers(TMMTimerList& list = TMMTimerList::Instance()) : mList(list) {}
    void* Subscribe(int intervalMs, Callback cb, void* owner) override;
    // The list runs callbacks under its lock, so this returns only after a
    // running refresher tick has finished.
    void Unsubscribe(void* handle) override;

private:
    TMMTimerList& mList;
};

// Makes every connector use the shared list (call once at start-up, before
// any connector pauses).
void UseSharedTimerListForConnectors();
