#pragma once
// Keeps the thread's last error (the slot and errno) across a scope that may
// change it: a box, a log write, a message pump.

#include "platform/LastError.h"

class LastErrorKeeper {
public:
    LastErrorKeeper() : slot_(platform::GetLastError()), errno_(platform::Errno()) {}
    ~LastErrorKeeper()
    {
        platform::SetLastError(slot_);
        platform::SetErrno(errno_);
    }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    int slot_;
    int errno_;
};
