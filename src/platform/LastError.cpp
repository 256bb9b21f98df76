#include "platform/LastError.h"

#include <cstring>

namespace platform {

namespace {
thread_local int lastError = 0;
}

int GetLastError() { return lastError; }
void SetLastError(int code) { lastError = code; }

int Errno() { return errno; }
void SetErrno(int value) { errno = value; }

std::optional<std::string> SystemErrorText(int code)
{
    // strerrordesc_np answers null for a code without a text, where strerror
    // would invent "Unknown error N".
    const char* text = code >= 0 ? strerrordesc_np(code) : nullptr;
    if (text == nullptr)
        return std::nullopt;
    std::string line(text);
    line = line.substr(0, line.find('\n'));
    return line.substr(0, line.find('\r'));
}

} // namespace platform
