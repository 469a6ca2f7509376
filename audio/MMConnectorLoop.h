// The event loop and clocks the connectors run on, made injectable so that
// tests drive trigger cycles deterministically and the program binds them to
// Qt (audio/qt/MMConnectorLoop).
#pragma once

#include "audio/MMTimerList.h"
#include "base/MMFrameClients.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <thread>

// Posted messages of the connectors' shared loop.
enum TMMConnectorMessage : int {
    cmActivate = 0xB1F5,    // carries a connector id
    cmTimerCycle = 0xB1F6,  // carries a connector id
    cmLoopStep = 0xB1F7,    // no target
    cmHiTimerTick = 0xB1F8  // carries a TMMHiTimer id
};

// Delivers a posted message on the GUI thread (implemented by the connector
// unit; loops call it).
void DispatchConnectorMessage(int message, uint32_t id);

class TMMConnectorLoop {
public:
    virtual ~TMMConnectorLoop() = default;
    // Microsecond clock; any thread.
    virtual int64_t NowMicros() = 0;
    // Queue a message for the GUI thread; any thread. It is handed to
    // DispatchConnectorMessage in posting order.
    virtual void Post(int message, uint32_t id) = 0;
    // Deliver cmLoopStep again at the next wake-up: one display frame from
    // the last one (the step catches up on the 1 ms cycles due by then).
    virtual void ScheduleLoopStep() = 0;
    // One wake-up at the next frame for the frame clients, even without a
    // loop step. False when this loop drives no frames (the caller then
    // needs a timer of its own).
    virtual bool RequestFrame() { return false; }
    // Let the application handle the events that are waiting.
    virtual void ProcessMessages() = 0;
    // Let the application handle one event, or run its idle processing.
    virtual void HandleOneMessage() = 0;
    virtual bool Terminating() = 0;
    // True on the thread the messages are delivered on.
    virtual bool OnLoopThread() = 0;
    // The application's idle hook.
    virtual bool AppHasIdleHandler() { return false; }
    virtual void SetIdleHandler(bool /*installed*/) {}
    // The application's standard error display.
    virtual void ShowException(const std::exception& e) = 0;
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
};

// The loop every connector uses. Without an installed one, a built-in loop
// is used that only keeps the time: its posted messages are dropped and no
// step runs (the program installs TMMConnectorQtLoop, tests their own).
TMMConnectorLoop& ConnectorLoop();
// Installs a loop (null: back to the built-in one). Call while no connector
// exists.
void SetConnectorLoop(TMMConnectorLoop* loop);

// The 25 ms timer list the connectors' pause refresher subscribes to: the
// process-wide TMMTimerList::Instance() unless a test installs its own
// (null: back to the shared one). The only 25 ms list of the program.
TMMTimerList& ConnectorTimerList();
void SetConnectorTimerList(TMMTimerList* list);
