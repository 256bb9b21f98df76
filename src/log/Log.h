#pragma once
// The program's log call, printf style. Each line goes to the log window and,
// through the diagnostic writer, to the log file. Before the services start
// and after they stop it does nothing.

#include <functional>
#include <string>

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where Log sends its lines; an empty target turns Log off. The services set
// it at start and clear it at stop.
using LogTarget = std::function<void(const std::string& line)>;
void SetLogTarget(LogTarget target);
