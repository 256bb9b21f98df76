#include "platform/LocalTime.h"

#include <atomic>
#include <ctime>

namespace platform {

namespace {
std::atomic<long> utcOffset{0}; // seconds east of UTC, as the last LocalTimeNow saw it

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long days, int* year, int* month, int* day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long monthIndex = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    *month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}
} // namespace

LocalTime LocalTimeNowUrgent()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long seconds = static_cast<long>(now.tv_sec) + utcOffset.load(std::memory_order_relaxed);
    long days = seconds / 86400;
    long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    LocalTime time;
    CivilFromDays(days, &time.year, &time.month, &time.day);
    time.hour = static_cast<int>(rest / 3600);
    time.minute = static_cast<int>(rest / 60 % 60);
    time.second = static_cast<int>(rest % 60);
    time.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    return time;
}

LocalTime LocalTimeNow()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    utcOffset.store(local.tm_gmtoff, std::memory_order_relaxed);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min,         local.tm_sec,     static_cast<int>(now.tv_nsec / 1000000)};
}

} // namespace platform
