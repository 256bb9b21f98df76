#pragma once
// The system's millisecond clock.

#include <cstdint>

namespace platform {

// Milliseconds of a monotonic clock, wrapping around like a 32-bit counter.
uint32_t MonotonicMilliseconds();

} // namespace platform
