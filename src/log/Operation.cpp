#include "log/Operation.h"

#include "base/Text.h"
#include "log/LastErrorKeeper.h"
#include "platform/Clock.h"

#include <cstdarg>

// Each call keeps the thread's last error, so that a caller can still take the
// text of a failed storage call after reporting progress.

void Operation::SetText(const char* format, ...)
{
    LastErrorKeeper keep;
    if (format == nullptr) {
        End();
        return;
    }
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    ShowText(text);
}

void Operation::SetAbortable(bool abortable)
{
    LastErrorKeeper keep;
    ApplyAbortable(abortable);
}

bool Operation::IsAborted()
{
    LastErrorKeeper keep;
    return TakeAborted();
}

PRPeriod::PRPeriod(uint32_t periodMs, Clock clock)
    : magic_(kMagic), clock_(clock != nullptr ? clock : &platform::MonotonicMilliseconds),
      start_(clock_()), lastCheck_(start_), period_(periodMs)
{
}

bool PRPeriod::Elapsed()
{
    if (magic_ != kMagic)
        return false;
    lastCheck_ = clock_();
    lastElapsed_ = lastCheck_ - start_;
    if (lastElapsed_ < period_)
        return false;
    start_ = lastCheck_;
    return true;
}
