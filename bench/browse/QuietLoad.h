#pragma once
// What a benchmark needs to load a storage without a window: a view that
// shows nothing (failures go to standard error), a progress that is never
// aborted, and the process's own memory figures.

#include "browse/StorageConnection.h"
#include "log/Operation.h"

#include <cstdio>
#include <fstream>
#include <string>

class NoView : public BrowserView {
public:
    void ShowLoadButton(LoadButton) override {}
    void ShowPlateCount(int) override {}
    void PumpMessages() override {}
    void ListClick() override {}
    BoxOwner Owner() override { return nullptr; }
    void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

class NoProgress : public Operation {
protected:
    void ShowText(const std::string&) override {}
    void End() override {}
    void ApplyAbortable(bool) override {}
    bool TakeAborted() override { return false; }
};

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
