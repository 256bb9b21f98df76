#include "platform/Clock.h"

#include <time.h>

namespace platform {

uint32_t MonotonicMilliseconds()
{
    timespec now{};
    // The coarse clock (a few ms of resolution) costs a fraction of the
    // precise one: the scan reads it once per plate.
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

} // namespace platform
