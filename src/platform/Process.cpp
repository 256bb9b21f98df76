#include "platform/Process.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

std::string ExecutablePath()
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string ProgramFolder()
{
    std::string path = ExecutablePath();
    return path.substr(0, path.rfind('/') + 1);
}

bool IsReadable(const void* data, std::size_t size)
{
    if (data == nullptr)
        return false;
    if (size == 0)
        return true;
    // One byte of every page the block touches is enough: access rights are
    // per page. The pages are read in batches of iovecs, one syscall each.
    const std::uintptr_t pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t last = begin + size - 1;
    if (last < begin)
        return false;
    constexpr std::size_t kBatch = 512;
    iovec remote[kBatch];
    char sink[kBatch];
    std::uintptr_t address = begin;
    while (true) {
        std::size_t count = 0;
        while (count < kBatch) {
            remote[count++] = iovec{reinterpret_cast<void*>(address), 1};
            std::uintptr_t next = (address / pageSize + 1) * pageSize;
            if (address == last)
                break;
            address = std::min(next, last);
        }
        iovec local{sink, count};
        ssize_t read = process_vm_readv(getpid(), &local, 1, remote, count, 0);
        if (read != static_cast<ssize_t>(count))
            return false;
        if (reinterpret_cast<std::uintptr_t>(remote[count - 1].iov_base) == last)
            return true;
    }
}

std::optional<std::string> EnvironmentVariable(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return std::string();
}

namespace {

int signalPipe[2] = {-1, -1};

void OnTerminationSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe already holds a request; losing this one changes nothing.
    [[maybe_unused]] ssize_t written = write(signalPipe[1], &number, 1);
    errno = saved;
}

} // namespace

int TerminationSignalPipe()
{
    if (signalPipe[0] >= 0)
        return signalPipe[0];
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return -1;
    }
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = &OnTerminationSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
    return signalPipe[0];
}

int TakeTerminationSignal()
{
    unsigned char number = 0;
    if (signalPipe[0] < 0 || read(signalPipe[0], &number, 1) != 1)
        return 0;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::signal(signal, SIG_DFL);
    return number;
}

void ExitProcess(int code) { std::exit(code); }

} // namespace platform
