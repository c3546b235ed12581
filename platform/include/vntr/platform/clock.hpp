// Run timing: a raw 32-bit time stamp from a monotonic high-resolution clock
// and its conversion to milliseconds.  Callers accumulate differences with
// 32-bit wrap-around arithmetic (subtract before a call, add after it), so
// only differences matter; a sum stays exact for about 71 minutes.
#pragma once

#include <cstdint>

namespace vntr::platform {

constexpr uint32_t kTicksPerMs = 1000; // one tick is a microsecond

uint32_t TimeStamp();
// The same for the processor time of the calling thread: it does not
// advance while the thread waits or another one runs, so that a timed codec
// call counts its own work and not a busy machine's.
uint32_t ThreadTimeStamp();
constexpr uint32_t TicksToMs(uint32_t ticks) {
    return ticks / kTicksPerMs;
}

// Milliseconds since an arbitrary start, for timers (64-bit, never wraps).
uint64_t MonotonicMs();

} // namespace vntr::platform
