#pragma once
// Questions about paths that do not open them.

#include <string>

namespace platform {

// True when something (a file, a folder, ...) exists at `path`.
bool PathExists(const std::string& path);

} // namespace platform
