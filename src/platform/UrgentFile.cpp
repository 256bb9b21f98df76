#include "platform/UrgentFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace platform {

int UrgentOpen(const char* path, bool truncate)
{
    int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    int fd;
    do
        fd = ::open(path, flags, 0644);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool UrgentWrite(int fd, const void* data, std::size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void UrgentClose(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

void UrgentSleep(int milliseconds)
{
    timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

} // namespace platform
