#include "platform/FileInfo.h"

#include "platform/LastError.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <system_error>

namespace platform {

namespace {

namespace fs = std::filesystem;

// Absolute, normal, with the links of its existing part resolved; no
// trailing separator.
fs::path Resolved(const std::string& path)
{
    std::error_code error;
    fs::path absolute = fs::absolute(path.empty() ? std::string(".") : path, error);
    if (error)
        absolute = fs::path(path);
    fs::path resolved = fs::weakly_canonical(absolute, error);
    if (error)
        resolved = absolute.lexically_normal();
    if (resolved.has_relative_path() && resolved.filename().empty())
        resolved = resolved.parent_path();
    return resolved;
}

// `inner` is `outer` or below it, component by component.
bool TextWithin(const fs::path& inner, const fs::path& outer)
{
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i)
        if (i == inner.end() || *i != *o)
            return false;
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// `inner` or one of its existing parents is the folder `outer` itself.
bool IdentityWithin(const fs::path& inner, const fs::path& outer)
{
    struct stat target {};
    if (stat(outer.c_str(), &target) != 0 || !S_ISDIR(target.st_mode))
        return false;
    for (fs::path at = inner;; at = at.parent_path()) {
        struct stat here {};
        if (stat(at.c_str(), &here) == 0 && SameFile(here, target))
            return true;
        if (!at.has_relative_path())
            return false;
    }
}

bool Within(const fs::path& inner, const fs::path& outer)
{
    return TextWithin(inner, outer) || IdentityWithin(inner, outer);
}

bool IsRegularFile(const fs::path& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

bool PlacesOverlap(const std::string& a, const std::string& b)
{
    const fs::path ra = Resolved(a);
    const fs::path rb = Resolved(b);
    const bool aInB = Within(ra, rb);
    const bool bInA = Within(rb, ra);
    if (aInB && bInA)
        return true;
    if (aInB)
        return !IsRegularFile(ra);
    if (bInA)
        return !IsRegularFile(rb);
    return false;
}

bool ResolvesWithin(const std::string& path, const std::string& folder)
{
    // realpath, not the weak form: a link whose target is missing must not
    // pass for a folder inside.
    std::unique_ptr<char, decltype(&free)> inner(realpath(path.c_str(), nullptr), &free);
    std::unique_ptr<char, decltype(&free)> outer(realpath(folder.empty() ? "." : folder.c_str(), nullptr), &free);
    return inner != nullptr && outer != nullptr && Within(fs::path(inner.get()), fs::path(outer.get()));
}

bool IsSymbolicLink(const std::string& path)
{
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

bool CreateDirectories(const std::string& path)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        SetLastError(error.value());
        return false;
    }
    return true;
}

bool IsWritableFolder(const std::string& path)
{
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return access(path.c_str(), W_OK | X_OK) == 0;
}

std::optional<LocalTime> FileCreationTime(const std::string& path)
{
    struct statx info {};
    if (path.empty() || statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return std::nullopt;
    const bool born = (info.stx_mask & STATX_BTIME) != 0 && info.stx_btime.tv_sec != 0;
    const time_t seconds = static_cast<time_t>(born ? info.stx_btime.tv_sec : info.stx_mtime.tv_sec);
    struct tm parts {};
    if (localtime_r(&seconds, &parts) == nullptr)
        return std::nullopt;
    LocalTime time;
    time.year = parts.tm_year + 1900;
    time.month = parts.tm_mon + 1;
    time.day = parts.tm_mday;
    time.hour = parts.tm_hour;
    time.minute = parts.tm_min;
    time.second = parts.tm_sec;
    return time;
}

} // namespace platform
