#pragma once
// The program's log: Log formats a line, printf style, and hands it to every
// subscriber in the order they subscribed. The log file is one subscriber
// (log/LogFile.h), the log window another; tests subscribe to read the lines.
// Without subscribers (before start-up, after shutdown) Log does nothing.
// Log may be called from any thread; subscribers are called on the caller's
// thread and may log themselves.

#include <functional>
#include <string>

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A line about the program's inner working (a decoder's colour conversion):
// it goes to the subscribers that take details, such as the log file, and
// stays out of the window's log line.
void LogDetail(const char* format, ...) __attribute__((format(printf, 1, 2)));

using LogListener = std::function<void(const std::string& line)>;

// Returns an id for UnsubscribeLog. Without `details` the listener does not
// get the lines of LogDetail.
int SubscribeLog(LogListener listener, bool details = true);
void UnsubscribeLog(int id);
