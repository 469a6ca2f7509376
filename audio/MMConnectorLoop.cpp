#include "audio/MMConnectorLoop.h"

#include <chrono>
#include <cstdio>

namespace {

std::atomic<TMMConnectorLoop*> gLoop{nullptr};
TMMTimerList* gTimerList = nullptr;

// The loop without an installed one: a clock, nothing else.
class TMMBuiltinLoop : public TMMConnectorLoop {
public:
    int64_t NowMicros() override
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    void Post(int, uint32_t) override {}
    void ScheduleLoopStep() override {}
    void ProcessMessages() override {}
    void HandleOneMessage() override {}
    bool Terminating() override { return false; }
    bool OnLoopThread() override { return std::this_thread::get_id() == mThread; }
    void ShowException(const std::exception& e) override { std::fprintf(stderr, "%s\n", e.what()); }
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    }

private:
    std::thread::id mThread = std::this_thread::get_id();
};

TMMConnectorLoop& BuiltinLoop()
{
    static TMMBuiltinLoop loop;
    return loop;
}

}  // namespace

TMMConnectorLoop& ConnectorLoop()
{
    TMMConnectorLoop* l = gLoop.load(std::memory_order_acquire);
    return l ? *l : BuiltinLoop();
}
void SetConnectorLoop(TMMConnectorLoop* loop) { gLoop.store(loop, std::memory_order_release); }

TMMTimerList& ConnectorTimerList() { return gTimerList ? *gTimerList : TMMTimerList::Instance(); }
void SetConnectorTimerList(TMMTimerList* list) { gTimerList = list; }
