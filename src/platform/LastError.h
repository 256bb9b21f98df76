#pragma once
// The thread's last-error slot and the system's error texts.
//
// Failures in this program are a false or null result plus a code left in
// the calling thread's last-error slot. System codes are errno values; the
// program's own codes start at 20000 (log/Errors.h).

#include <cerrno>
#include <optional>
#include <string>

namespace platform {

// System codes that stand for conditions the program names. Each is chosen
// once here so that the rest of the code never spells an errno.
inline constexpr int kErrorNotReady = EBADF;       // an action that is not open
inline constexpr int kErrorAlreadyExists = EEXIST; // a directory that is already there
inline constexpr int kErrorInvalidName = EINVAL;   // a path the file system refuses

int GetLastError();
void SetLastError(int code);

// The C runtime's error number of this thread.
int Errno();
void SetErrno(int value);

// The first line of the system's text for a code, or nothing when the system
// has no text for it.
std::optional<std::string> SystemErrorText(int code);

} // namespace platform
