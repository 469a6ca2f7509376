#include "correlation/MMConnectorTimers.h"

#include <cstdint>

void* TMMConnectorSharedTimers::Subscribe(int intervalMs, Callback cb, void* owner)
{
    const TMMTimerList::Handle h = mList.Subscribe(intervalMs, [cb](void* o) { cb(o); }, owner);
    return h ? reinterpret_cast<void*>(static_cast<intptr_t>(h)) : nullptr;
}

void TMMConnectorSharedTimers::Unsubscribe(void* handle)
{
    if (handle) mList.Unsubscribe(static_cast<TMMTimerList::Handle>(reinterpret_cast<intptr_t>(handle)));
}

void UseSharedTimerListForConnectors()
{
    static TMMConnectorSharedTimers timers;
    SetConnectorTimerList(&timers);
}
