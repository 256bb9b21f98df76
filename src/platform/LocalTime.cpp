#include "platform/LocalTime.h"

#include <ctime>

namespace platform {

LocalTime LocalTimeNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

} // namespace platform
