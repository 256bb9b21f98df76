#include "platform/Thread.h"

#include <unistd.h>

namespace platform {

unsigned long CurrentThreadId() { return static_cast<unsigned long>(::gettid()); }

int ProcessId() { return static_cast<int>(::getpid()); }

} // namespace platform
