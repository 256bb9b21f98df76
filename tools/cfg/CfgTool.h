#pragma once
// ulmora-cfg: reads and changes the binary configuration file from the
// command line, through the same store the program uses.

#include <iosfwd>
#include <string>
#include <vector>

// Exit codes.
inline constexpr int kToolOk = 0;
inline constexpr int kToolFileError = 1; // unreadable, foreign or damaged file; failed save
inline constexpr int kToolUsageError = 2;

// Runs the tool on `args` (without the program name). Results go to `out`,
// errors (one line each) to `err`.
int RunCfgTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
