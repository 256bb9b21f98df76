#pragma once
// What the run benches of this folder measure of their own process.

#include <sys/resource.h>

#include <fstream>
#include <string>

namespace bench {

// CPU seconds so far, user + system, every thread's: a busy machine
// disturbs them less than wall time.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The resident memory now and at its peak, in MB.
inline void Memory(double* now, double* peak)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            *now = std::stod(line.substr(6)) / 1024;
        if (line.rfind("VmHWM:", 0) == 0)
            *peak = std::stod(line.substr(6)) / 1024;
    }
}

} // namespace bench
