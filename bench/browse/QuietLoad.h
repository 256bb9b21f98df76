#pragma once
// What a benchmark needs to load a storage without a window besides the
// core's QuietView and QuietOperation: the process's own memory figures.

#include "browse/StorageConnection.h"
#include "log/Operation.h"

#include <fstream>
#include <string>

// A field of /proc/self/status ("VmRSS:", "VmHWM:") in bytes; 0 if absent.
inline long StatusBytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == field) {
            status >> value;
            return value * 1024;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}
