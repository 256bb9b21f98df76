#pragma once
// The local wall-clock time.

namespace platform {

struct LocalTime {
    int year = 0;   // e.g. 2026
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..60
    int millisecond = 0;
};

LocalTime LocalTimeNow();

// The same without the C library's time-zone lock, for a context that may
// take no lock: it uses the offset from UTC that the last LocalTimeNow saw.
LocalTime LocalTimeNowUrgent();

} // namespace platform
