#pragma once
// Questions about paths that do not open them.

#include "platform/LocalTime.h"

#include <optional>
#include <string>

namespace platform {

// True when something (a file, a folder, ...) exists at `path`.
bool PathExists(const std::string& path);

// True when `a` and `b` name the same place, or one lies inside the other,
// once both are made absolute and their links resolved as far as they exist:
// "DIR", "DIR/./" and a link to DIR are one place, and a folder reached by
// another road (a bind mount) is known by its identity. A regular file that
// lies inside the other does not count: a tree written into a folder leaves
// the files beside it alone.
bool PlacesOverlap(const std::string& a, const std::string& b);

// True when `path` exists and, with its links resolved, is `folder` or lies
// inside it. False when either cannot be resolved.
bool ResolvesWithin(const std::string& path, const std::string& folder);

// True when `path` itself is a symbolic link (not followed).
bool IsSymbolicLink(const std::string& path);

// Makes the folder and its missing parents; false with the system's code in
// the last-error slot.
bool CreateDirectories(const std::string& path);

// True when this process may make files in the folder `path`. A folder
// without any write permission bit counts as read-only also for a privileged
// user, as a read-only file does (Files.h).
bool IsWritableFolder(const std::string& path);

// When the file was made, in local time: its birth time where the file system
// keeps one, else its last modification. Nothing when it cannot be read.
std::optional<LocalTime> FileCreationTime(const std::string& path);

} // namespace platform
