// The lock-free ring over many laps: full and empty exactly at capacity,
// order kept, and two threads handing a million values through a small ring.
#include "audio/MMRing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

TEST(Ring, FullAndEmptyAtEveryLap)
{
    TMMRing<uint64_t> ring(3);  // raised to 4
    ASSERT_EQ(ring.Capacity(), 4u);
    uint64_t in = 0, out = 0, v = 0;
    for (int lap = 0; lap < 5000; ++lap) {
        // A different fill each lap, so the cells' sequences drift apart.
        const int n = 1 + lap % 4;
        for (int i = 0; i < n; ++i) ASSERT_TRUE(ring.Push(in++)) << lap;
        if (n == 4) {
            ASSERT_FALSE(ring.Push(999)) << "full at lap " << lap;
        }
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(ring.Pop(v)) << lap;
            ASSERT_EQ(v, out++);
        }
        ASSERT_FALSE(ring.Pop(v)) << "empty at lap " << lap;
    }
}

TEST(Ring, TwoThreadsHandOverEveryValueInOrder)
{
    TMMRing<uint64_t> ring(8);
    constexpr uint64_t kCount = 1000000;
    std::thread producer([&] {
        for (uint64_t i = 0; i < kCount;) {
            if (ring.Push(i))
                ++i;
            else
                std::this_thread::yield();
        }
    });
    uint64_t expected = 0, v = 0;
    while (expected < kCount) {
        if (!ring.Pop(v)) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(v, expected);
        ++expected;
    }
    producer.join();
    EXPECT_FALSE(ring.Pop(v));
}
