#include "base/MMFrameClients.h"

#include <algorithm>
#include <vector>

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
