#include "log/Log.h"

#include "base/Text.h"
#include "log/LastErrorKeeper.h"

#include <cstdarg>

namespace {
LogTarget& Target()
{
    static LogTarget target;
    return target;
}
} // namespace

void SetLogTarget(LogTarget target) { Target() = std::move(target); }

void Log(const char* format, ...)
{
    if (!Target())
        return;
    LastErrorKeeper keep;
    va_list args;
    va_start(args, format);
    std::string line = FormatV(format, args);
    va_end(args);
    Target()(line);
}
