// Bounded lock-free multi-producer multi-consumer queue (Vyukov's sequence
// ring). All storage is allocated by the constructor; Push and Pop never
// allocate, lock or block, so audio threads may use them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

template <typename T>
class TMMRing {
public:
    // capacity is raised to a power of two, at least 2.
    explicit TMMRing(size_t capacity)
    {
        size_t n = 2;
        while (n < capacity) n <<= 1;
        mMask = n - 1;
        mCells.reset(new Cell[n]);
        for (size_t i = 0; i < n; ++i) mCells[i].seq.store(i, std::memory_order_relaxed);
    }
    TMMRing(const TMMRing&) = delete;
    TMMRing& operator=(const TMMRing&) = delete;

    size_t Capacity() const { return mMask + 1; }

    // False when full.
    bool Push(const T& v)
    {
        size_t pos = mTail.load(std::memory_order_relaxed);
        for (;;) {
            Cell& c = mCells[pos & mMask];
            const size_t seq = c.seq.load(std::memory_order_acquire);
            const intptr_t dif = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos);
            if (dif == 0) {
                if (mTail.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    c.value = v;
                    c.seq.store(pos + 1, std::memory_order_release);
                    return true;
                }
            } else if (dif < 0) {
                return false;
            } else {
                pos = mTail.load(std::memory_order_relaxed);
            }
        }
    }

    // False when empty.
    bool Pop(T& out)
    {
        size_t pos = mHead.load(std::memory_order_relaxed);
        for (;;) {
            Cell& c = mCells[pos & mMask];
            const size_t seq = c.seq.load(std::memory_order_acquire);
            const intptr_t dif = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos + 1);
            if (dif == 0) {
                if (mHead.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    out = c.value;
                    c.seq.store(pos + mMask + 1, std::memory_order_release);
                    return true;
                }
            } else if (dif < 0) {
                return false;
            } else {
                pos = mHead.load(std::memory_order_relaxed);
            }
        }
    }

private:
    struct Cell {
        std::atomic<size_t> seq;
        T value{};
    };
    std::unique_ptr<Cell[]> mCells;
    size_t mMask = 0;
    alignas(64) std::atomic<size_t> mHead{0};
    alignas(64) std::atomic<size_t> mTail{0};
};
