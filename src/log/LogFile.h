#pragma once
// The log file as a subscriber of the program's log. Its path is resolved
// once, when it is made, and kept in a fixed buffer, so that the crash
// reporter can write to the same file with WriteLogFileUrgent(Path(), ...)
// without allocating. While a LogFile exists it is also the diagnostic
// writer's current file.

#include "base/Text.h"
#include "platform/Files.h"
#include "log/DiagnosticLog.h"

#include <string_view>

class LogFile {
public:
    // `name` as the diagnostic writer takes it: "" or "-" is no file, a
    // relative name lies in the program folder.
    explicit LogFile(std::string_view name);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // The resolved path; empty for no file.
    const char* Path() const { return path_; }

private:
    char path_[platform::kMaxPathLength + 1]; // holds every path ResolveLogFileName gives
    int subscription_;
    LogFileProvider previousProvider_;
};
