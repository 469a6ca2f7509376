// Frame clients: work that rides on the display clock's wake-ups (repaints,
// peak ticks). Frame runs on the GUI thread once per wake-up, after the work
// the clock's owner runs first (the connectors' trigger cycles).
#pragma once

#include <cstdint>

class TMMFrameClient {
public:
    virtual ~TMMFrameClient() = default;
    virtual void Frame(int64_t nowUs) = 0;
};

// The process-wide list of frame clients (GUI thread). A client removed
// while the list runs is skipped.
void AddFrameClient(TMMFrameClient* client);
void RemoveFrameClient(TMMFrameClient* client);
// Runs every client once (the clock calls it after each wake-up).
void RunFrameClients(int64_t nowUs);
