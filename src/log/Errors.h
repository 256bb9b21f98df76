#pragma once
// The error convention: operations fail with a false or null result and leave
// the reason in the thread's last-error slot. Codes below 20000 are system
// codes (errno values); 20001 points to the custom error text; 20002..20022
// have fixed texts.

#include <string>

enum ErrorCode : int {
    ErrCurrent = 20000, // as an argument of ErrorText: the current error
    ErrCustomText = 20001,
    ErrInvalidParameter = 20002,
    ErrNotSupported = 20003,
    ErrTimeout = 20004,
    ErrPipeNotConnected = 20005,
    ErrIntegrity = 20006,
    ErrCancelled = 20007,
    ErrNeedMoreData = 20008,
    ErrBadCursor = 20009,
    ErrFetch = 20010,
    ErrOutOfBoundsMove = 20011,
    ErrAlreadyClosed = 20012,
    ErrPipeClosed = 20013,
    ErrTransfer = 20014,
    ErrBrokenHeader = 20015,
    ErrBadMagic = 20016,
    ErrOutOfBounds = 20017,
    ErrServer = 20018,
    ErrUnknownServer = 20019,
    ErrOutOfRange = 20020,
    ErrUnexpectedData = 20021,
    ErrBufferTooSmall = 20022,
};

// ErrorText(kCurrentError) is the text of the current error.
inline constexpr int kCurrentError = -2;

// The custom error text holds at most this many characters.
inline constexpr std::size_t kMaxErrorText = 999;

// The thread's last error; when that is 0, the C runtime's error number.
int CurrentError();

void SetLastError(int code);

// Formats the custom error text (cut to 999 characters, never inside a UTF-8
// character) and sets the thread's last error to 20001. The text is shared by
// all threads; the code is per thread.
void SetErrorText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text of a code: -2 and 20000 mean the current error. Never empty:
// unknown codes give "Unknown error".
std::string ErrorText(int code);
