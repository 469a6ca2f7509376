// Milliseconds of the steady clock (never stepped with the wall clock): the
// one clock of timeouts, alarm times and silence lengths.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t SteadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
