// The stream slots of a device back end and the handles it gives out, shared
// by the PortAudio and simulated recorders and players. The slots are made
// once, so opening allocates nothing. A Stream says whether it is open
// (IsOpen()) and carries its queue (queue.Handle() is its handle).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

template <class Stream, size_t N>
class TMMStreamTable {
public:
    // Handles start at `firstHandle`: back ends side by side give out disjoint ones.
    explicit TMMStreamTable(uintptr_t firstHandle = 1) : mNextHandle(firstHandle)
    {
        for (auto& s : mSlots) s = std::make_unique<Stream>();
    }

    // The open stream with handle h, or nullptr (0 is no handle).
    Stream* Find(uintptr_t h) const
    {
        if (h == 0) return nullptr;
        for (auto& s : mSlots)
            if (s->IsOpen() && s->queue.Handle() == h) return s.get();
        return nullptr;
    }

    // A slot that is not open, or nullptr when all are.
    Stream* FreeSlot() const
    {
        for (auto& s : mSlots)
            if (!s->IsOpen()) return s.get();
        return nullptr;
    }

    // A new handle; handles are never reused.
    uintptr_t NextHandle() { return mNextHandle.fetch_add(1); }

    auto begin() const { return mSlots.begin(); }
    auto end() const { return mSlots.end(); }

private:
    std::array<std::unique_ptr<Stream>, N> mSlots;
    std::atomic<uintptr_t> mNextHandle;
};
