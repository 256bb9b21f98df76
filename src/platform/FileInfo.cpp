#include "platform/FileInfo.h"

#include <sys/stat.h>

namespace platform {

bool PathExists(const std::string& path)
{
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

} // namespace platform
