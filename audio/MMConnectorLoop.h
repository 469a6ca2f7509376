// The event loop and clocks the connectors run on, made injectable so that
// tests drive trigger cycles deterministically and the program binds them to
// Qt (audio/qt/MMConnectorLoop).
#pragma once

#include "audio/MMTimerList.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// Work that rides on the loop's wake-ups (repaints, peak ticks): Frame runs on
// the GUI thread once per wake-up, after the trigger cycles that became due.
class TMMFrameClient {
public:
    virtual ~TMMFrameClient() = default;
    virtual void Frame(int64_t nowUs) = 0;
};

// The process-wide list of frame clients (GUI thread). A client removed
// while the list runs is skipped.
void AddFrameClient(TMMFrameClient* client);
void RemoveFrameClient(TMMFrameClient* client);
// Runs every client once (the loops call it after each wake-up).
void RunFrameClients(int64_t nowUs);

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

// The loop every connector uses. Without an installed one, a TMMManualLoop
// owned by the unit is used (messages wait for RunPending()).
TMMConnectorLoop& ConnectorLoop();
// Installs a loop (null: back to the built-in one). Call while no connector
// exists.
void SetConnectorLoop(TMMConnectorLoop* loop);

// A loop driven by hand: posted messages queue until RunPending(); the loop
// step is due one frame (default 1 ms) after it was scheduled. Its clock is
// the steady clock, or a fake time set with SetTime/Advance.
class TMMManualLoop : public TMMConnectorLoop {
public:
    explicit TMMManualLoop(bool fakeClock = false) : mFake(fakeClock) {}

    int64_t NowMicros() override;
    void Post(int message, uint32_t id) override;
    void ScheduleLoopStep() override;
    void ProcessMessages() override
    {
        ++mProcessCalls;
        RunPosted();
    }
    void HandleOneMessage() override { ++mOneMessageCalls; }
    bool Terminating() override { return mTerminating; }
    bool OnLoopThread() override { return std::this_thread::get_id() == mThread; }
    bool AppHasIdleHandler() override { return mAppIdle; }
    void SetIdleHandler(bool installed) override { mIdleInstalled = installed; }
    void ShowException(const std::exception& e) override { mErrors.push_back(e.what()); }
    void ShowMessage(const std::string& text, const std::string&) override { mErrors.push_back(text); }

    // Fake clock.
    void SetTime(int64_t us) { mTime.store(us); }
    void Advance(int64_t us) { mTime.fetch_add(us); }

    // Delivers the posted messages (also those posted meanwhile).
    int RunPosted();
    // Posted messages, then the loop step if it is due.
    void RunPending();
    // Fake clock: advances in ticks of `tickUs`, running RunPending after each.
    void RunFor(int64_t durationUs, int64_t tickUs);

    bool StepScheduled() const { return mStepDue >= 0; }
    size_t PostedCount() const;
    // Wake-up period (microseconds) and whether RunPending also runs the
    // frame clients after a step or a requested frame.
    int64_t mFrameUs = 1000;
    bool mFrames = false;
    bool RequestFrame() override;
    bool FrameRequested() const { return mFrameDue >= 0; }

    bool mTerminating = false;
    bool mAppIdle = false;
    bool mIdleInstalled = false;
    int mOneMessageCalls = 0;
    int mProcessCalls = 0;
    std::vector<std::string> mErrors;

private:
    bool mFake;
    std::atomic<int64_t> mTime{0};
    std::thread::id mThread = std::this_thread::get_id();
    mutable std::mutex mLock;
    std::deque<std::pair<int, uint32_t>> mPosted;
    int64_t mStepDue = -1;
    int64_t mFrameDue = -1;
};

// The 25 ms timer list the connectors' pause refresher subscribes to: the
// process-wide TMMTimerList::Instance() unless a test installs its own
// (null: back to the shared one). The only 25 ms list of the program.
TMMTimerList& ConnectorTimerList();
void SetConnectorTimerList(TMMTimerList* list);
