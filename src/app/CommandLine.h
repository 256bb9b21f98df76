#pragma once
// The command-line switches that place the configuration and the log file.

#include <string>
#include <vector>

inline constexpr const char* kConfigSwitch = "CFG";
inline constexpr const char* kLogSwitch = "LOG";

// The value of a switch: the first argument after the program name that
// starts with '-' or '/', then the switch name in any letter case, then '='.
// Nothing when no argument sets it.
bool FindSwitch(const std::vector<std::string>& arguments, const std::string& name, std::string* value);

// "%NAME%" references replaced by the environment variable's value; unknown
// names and a lone '%' stay as they are.
std::string ExpandEnvironment(const std::string& text);

// The path of the file a switch places: its value, expanded and taken
// relative to `folder` (ending with '/'; the program folder when empty);
// without the switch, `fileName` in that folder. Whole, never cut: a cut
// path names another file.
std::string ResolveFilePath(const std::vector<std::string>& arguments, const std::string& name,
                            const std::string& fileName, const std::string& folder = {});

// The storage the program is started with: the last argument after the
// program name that is not a switch ("-..." or one of the file switches
// written with '/'); empty when there is none.
std::string StorageArgument(const std::vector<std::string>& arguments);
