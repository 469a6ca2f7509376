#include "audio/MMAlloc.h"

#include <cstdlib>

TMMAllocator::~TMMAllocator() { FreeAll(); }

void* TMMAllocator::Allocate(unsigned /*flags*/, uint32_t n)
{
    std::lock_guard<std::mutex> guard(mLock);
    for (auto& e : mEntries)
        if (e.useCount == 0 && e.size == n) {
            e.useCount = 1;
            return e.block;
        }
    for (auto& e : mEntries)
        if (e.useCount == 0 && e.size >= n) {
            e.useCount = 1;
            return e.block;
        }
    void* block = std::calloc(1, n ? n : 1);
    if (!block) return nullptr;
    try {
        mEntries.push_back({block, n, 1});
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void TMMAllocator::Release(void*& block)
{
    if (!block) return;
    std::lock_guard<std::mutex> guard(mLock);
    for (auto& e : mEntries)
        if (e.block == block) {
            if (e.useCount > 0) --e.useCount;
            block = nullptr;
            return;
        }
}

void TMMAllocator::FreeAll()
{
    std::lock_guard<std::mutex> guard(mLock);
    for (auto it = mEntries.rbegin(); it != mEntries.rend(); ++it) std::free(it->block);
    mEntries.clear();
}

size_t TMMAllocator::Count() const
{
    std::lock_guard<std::mutex> guard(mLock);
    return mEntries.size();
}
