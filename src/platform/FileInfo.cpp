#include "platform/FileInfo.h"

#include "platform/LastError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace platform {

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
