#include "audio/MMConnectorLoop.h"

#include <algorithm>
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

// --- frame clients ---

namespace {

struct FrameClients {
    std::vector<TMMFrameClient*> list;
    int running = 0;
};

FrameClients& Clients()
{
    static FrameClients c;
    return c;
}

}  // namespace

void AddFrameClient(TMMFrameClient* client)
{
    auto& l = Clients().list;
    if (client && std::find(l.begin(), l.end(), client) == l.end()) l.push_back(client);
}

void RemoveFrameClient(TMMFrameClient* client)
{
    FrameClients& c = Clients();
    if (c.running > 0)
        std::replace(c.list.begin(), c.list.end(), client, static_cast<TMMFrameClient*>(nullptr));
    else
        c.list.erase(std::remove(c.list.begin(), c.list.end(), client), c.list.end());
}

void RunFrameClients(int64_t nowUs)
{
    FrameClients& c = Clients();
    ++c.running;
    // Index loop: a client may add others (they run from the next frame).
    const size_t n = c.list.size();
    for (size_t i = 0; i < n && i < c.list.size(); ++i)
        if (TMMFrameClient* f = c.list[i]) f->Frame(nowUs);
    if (--c.running == 0)
        c.list.erase(std::remove(c.list.begin(), c.list.end(), static_cast<TMMFrameClient*>(nullptr)), c.list.end());
}

TMMTimerList& ConnectorTimerList() { return gTimerList ? *gTimerList : TMMTimerList::Instance(); }
void SetConnectorTimerList(TMMTimerList* list) { gTimerList = list; }
