#include "log/Errors.h"

#include "base/Text.h"
#include "platform/LastError.h"

#include <cstdarg>
#include <mutex>

namespace {

const char* const kFixedTexts[] = {
    "The parameter is incorrect",
    "This function is not supported on this system",
    "The wait operation timed out",
    "Operation on non connected pipe",
    "Data block integrity check fail",
    "Operation cancelled by use",
    "Need more data to complete operatio",
    "Bad DB cursor",
    "Error in DB fetch",
    "DB move out put bounds",
    "Already closed",
    "Operation on already closed pipe",
    "Error transfer data",
    "Broken data in structured header",
    "Bad ID magic value",
    "Out of bounds",
    "Server side error",
    "Unknown server side error",
    "Value out of possible range",
    "Data block contains unexpected data",
    "Specified buffer too small",
};
static_assert(std::size(kFixedTexts) == ErrBufferTooSmall - ErrInvalidParameter + 1);

constexpr const char* kUnknownError = "Unknown error";

// Process-wide, like the code 20001 that points to it; the lock only keeps a
// reader from seeing a half-written text.
std::mutex customTextLock;
std::string customText;

std::string CustomText()
{
    std::lock_guard lock(customTextLock);
    return customText;
}

} // namespace

int CurrentError()
{
    int code = platform::GetLastError();
    return code != 0 ? code : platform::Errno();
}

void SetLastError(int code) { platform::SetLastError(code); }

void SetErrorText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    text.resize(Utf8CutLength(text, kMaxErrorText));
    {
        std::lock_guard lock(customTextLock);
        customText = std::move(text);
    }
    platform::SetLastError(ErrCustomText);
}

std::string ErrorText(int code)
{
    if (code == kCurrentError || code == ErrCurrent)
        code = CurrentError();
    if (code < ErrCurrent)
        return platform::SystemErrorText(code).value_or(kUnknownError);
    if (code == ErrCurrent || code == ErrCustomText)
        return CustomText();
    if (code <= ErrBufferTooSmall)
        return kFixedTexts[code - ErrInvalidParameter];
    return kUnknownError;
}
