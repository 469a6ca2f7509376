// The shared 25 ms timer list with a hand-driven platform timer, and the
// thread timer once for real.
#include "audio/MMTimerList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

class FakeTimer : public IMMPlatformTimer {
public:
    bool refuse = false;
    int starts = 0, stops = 0;
    bool running = false;
    std::function<void()> tick;

    bool Start(int periodMs, std::function<void()> t) override
    {
        EXPECT_EQ(periodMs, 25);
        if (refuse) return false;
        ++starts;
        running = true;
        tick = std::move(t);
        return true;
    }
    void Stop() override
    {
        ++stops;
        running = false;
    }
    void Fire() { if (running && tick) tick(); }
};

struct Fixture {
    FakeTimer* timer;
    TMMTimerList list;
    Fixture() : Fixture(new FakeTimer) {}
    explicit Fixture(FakeTimer* t) : timer(t), list(std::unique_ptr<IMMPlatformTimer>(t)) {}
};

}  // namespace

TEST(TimerList, OneTimerForAllAndLifecycle)
{
    Fixture f;
    int a = 0, b = 0;
    const auto ha = f.list.Subscribe(25, [&](void*) { ++a; }, nullptr);
    const auto hb = f.list.Subscribe(10, [&](void* owner) { EXPECT_EQ(owner, &b); ++b; }, &b);
    EXPECT_NE(ha, 0);
    EXPECT_NE(hb, 0);
    EXPECT_NE(ha, hb);
    EXPECT_EQ(f.timer->starts, 1);  // one platform timer
    for (int i = 0; i < 4; ++i) f.timer->Fire();
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 4);  // interval raised to 25
    f.list.Unsubscribe(ha);
    EXPECT_EQ(f.timer->stops, 0);
    f.list.Unsubscribe(hb);
    EXPECT_EQ(f.timer->stops, 1);  // the last one stops it
    EXPECT_FALSE(f.list.Running());
    f.list.Unsubscribe(hb);  // missing handles do nothing
    f.list.Pause(12345);
    f.list.Resume(0);
    EXPECT_EQ(f.list.Subscribe(25, [](void*) {}, nullptr) != 0, true);
    EXPECT_EQ(f.timer->starts, 2);
}

TEST(TimerList, LongerIntervalsAndPauseAsCounter)
{
    Fixture f;
    int n = 0;
    const auto h = f.list.Subscribe(100, [&](void*) { ++n; }, nullptr);
    for (int i = 0; i < 8; ++i) f.timer->Fire();
    EXPECT_EQ(n, 2);
    f.timer->Fire();
    f.timer->Fire();  // 50 ms elapsed
    f.list.Pause(h);  // restarts the elapsed time
    f.list.Pause(h);
    EXPECT_EQ(f.list.PauseCount(h), 2);
    for (int i = 0; i < 8; ++i) f.timer->Fire();
    EXPECT_EQ(n, 2);
    f.list.Resume(h);
    f.timer->Fire();
    EXPECT_EQ(n, 2);  // still paused once
    f.list.Resume(h);
    f.list.Resume(h);  // not below 0
    EXPECT_EQ(f.list.PauseCount(h), 0);
    for (int i = 0; i < 3; ++i) f.timer->Fire();
    EXPECT_EQ(n, 2);  // a full 100 ms from the pause on
    f.timer->Fire();
    EXPECT_EQ(n, 3);
}

TEST(TimerList, RefusedTimerRegistersNothing)
{
    auto* t = new FakeTimer;
    t->refuse = true;
    Fixture f(t);
    int n = 0;
    EXPECT_EQ(f.list.Subscribe(25, [&](void*) { ++n; }, nullptr), 0);
    EXPECT_EQ(f.list.Count(), 0);
    EXPECT_FALSE(f.list.Running());
    t->refuse = false;
    EXPECT_NE(f.list.Subscribe(25, [&](void*) { ++n; }, nullptr), 0);
    EXPECT_EQ(f.list.Count(), 1);
}

TEST(TimerList, LateTickSkippedAndCallbacksMayChangeTheList)
{
    Fixture f;
    int outer = 0, inner = 0;
    TMMTimerList::Handle self = 0;
    self = f.list.Subscribe(25, [&](void*) {
        ++outer;
        f.list.Tick();  // arrives while this tick still runs: skipped
        if (outer == 2) f.list.Unsubscribe(self);
    }, nullptr);
    f.list.Subscribe(25, [&](void*) { ++inner; }, nullptr);
    f.timer->Fire();
    EXPECT_EQ(outer, 1);
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(f.list.SkippedTicks(), 1);
    f.timer->Fire();
    EXPECT_EQ(f.list.Count(), 1);  // unsubscribed itself during the tick
    f.timer->Fire();
    EXPECT_EQ(outer, 2);
    EXPECT_EQ(inner, 3);
}

TEST(TimerList, ThreadTimerTicksAndStops)
{
    TMMTimerList list(CreateThreadTimer());
    std::atomic<int> n{0};
    const auto h = list.Subscribe(25, [&](void*) { ++n; }, nullptr);
    ASSERT_NE(h, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (n < 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(n.load(), 3);
    list.Unsubscribe(h);
    const int after = n.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    EXPECT_LE(n.load(), after + 1);  // at most a tick already under way
    // Subscribing again right away reuses or restarts the thread.
    std::atomic<int> m{0};
    list.Subscribe(25, [&](void*) { ++m; }, nullptr);
    while (m < 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(m.load(), 1);
}
