// Per-component pool of zero-filled header blocks. Thread-safe: every
// operation holds the pool's lock. Blocks are reused, never shrunk except by
// FreeAll.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class TMMAllocator {
public:
    // Allocation flags are accepted for the platform's signature; blocks are
    // always fixed and zero-filled when fresh.
    static constexpr unsigned GMEM_FIXED_ZEROINIT = 0x0040;

    TMMAllocator() = default;
    ~TMMAllocator();
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;

    // First free block of exactly n bytes, else the first free one of at least
    // n, else a new zero-filled block of n bytes; null when memory is refused.
    void* Allocate(unsigned flags, uint32_t n);
    // Marks the block free and nulls the variable; unknown pointers are ignored.
    void Release(void*& block);
    template <typename T> void Release(T*& block)
    {
        void* p = block;
        Release(p);
        if (!p) block = nullptr;
    }
    // Returns every block to the system, last entry first.
    void FreeAll();

    size_t Count() const;

private:
    struct Entry {
        void* block;
        uint32_t size;
        int useCount;
    };
    mutable std::mutex mLock;
    std::vector<Entry> mEntries;
};
