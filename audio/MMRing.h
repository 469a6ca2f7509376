// Bounded lock-free multi-producer multi-consumer queue (Vyukov's sequence
// ring). All storage is allocated by the constructor; Push and Pop never
// allocate, lock or block, so audio threads may use them.
// The cells are fresh anonymous pages, and each cell's sequence is kept less
// its index, so an empty ring is all zeros: a page becomes resident only when
// the queue first reaches it (a device slot never opened costs nothing).
#pragma once

#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

template <typename T>
class TMMRing {
public:
    // capacity is raised to a power of two, at least 2.
    explicit TMMRing(size_t capacity)
    {
        static_assert(std::is_trivially_copyable<T>::value, "cells are copied as bytes");
        size_t n = 2;
        while (n < capacity) n <<= 1;
        mMask = n - 1;
        mBytes = n * sizeof(Cell);
        void* p = mmap(nullptr, mBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        mCells = static_cast<Cell*>(p);
    }
    ~TMMRing() { munmap(mCells, mBytes); }
    TMMRing(const TMMRing&) = delete;
    TMMRing& operator=(const TMMRing&) = delete;

    size_t Capacity() const { return mMask + 1; }

    // False when full.
    bool Push(const T& v)
    {
        size_t pos = mTail.load(std::memory_order_relaxed);
        for (;;) {
            const size_t i = pos & mMask;
            Cell& c = mCells[i];
            const size_t seq = c.seq.load(std::memory_order_acquire) + i;
            const intptr_t dif = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos);
            if (dif == 0) {
                if (mTail.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    c.value = v;
                    c.seq.store(pos + 1 - i, std::memory_order_release);
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
            const size_t i = pos & mMask;
            Cell& c = mCells[i];
            const size_t seq = c.seq.load(std::memory_order_acquire) + i;
            const intptr_t dif = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos + 1);
            if (dif == 0) {
                if (mHead.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
                    out = c.value;
                    c.seq.store(pos + mMask + 1 - i, std::memory_order_release);
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
    // seq: the sequence number less the cell's index (0: free for lap 0).
    struct Cell {
        std::atomic<size_t> seq;
        T value;
    };
    Cell* mCells = nullptr;
    size_t mMask = 0;
    size_t mBytes = 0;
    alignas(64) std::atomic<size_t> mHead{0};
    alignas(64) std::atomic<size_t> mTail{0};
};
