#pragma once
// Replacing a file's content so that a failure at any step leaves the old
// file exactly as it was.

#include <string>
#include <string_view>

namespace platform {
class FileSystem;
}

// Writes `content` to a new file beside `path`, flushes it to disk and
// renames it over `path`. A read-only `path` is not replaced. On failure the
// new file is removed, `path` is untouched, and the reason is the last error.
bool ReplaceFile(platform::FileSystem& files, const std::string& path, std::string_view content);
