#pragma once
// The report text: the exception lines, one line per frame and the "Stack
// details" section, one string per line.

#include "crash/CrashReport.h"

#include <string>
#include <vector>

namespace crash {

// "Addr[%2d]: ..." of one frame (`number` from 1).
std::string FrameLine(int number, const StackFrame& frame);

// The whole report for the option word `options`.
std::vector<std::string> ReportTextLines(const CrashReport& report, unsigned options);

// The texts of the window's "Операция" field and the save file.
std::string OperationText(const CrashRequest& request);

} // namespace crash
