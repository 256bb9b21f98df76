// Loads one storage through the real plugin and the real StorageConnection,
// as the window does, and prints the time, the plates and the memory:
//   load_storage PLUGIN STORAGE
// prints "plates N seconds S rss_before_mb B rss_after_mb A peak_mb P".
// Peak and resident memory are the process's own (VmHWM, VmRSS), so they
// include the plugin.
#include "QuietLoad.h"
#include "browse/StorageConnection.h"
#include "plugins/Registry.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double StatusMegabytes(const char* field) { return static_cast<double>(StatusBytes(field)) / 1048576.0; }

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: load_storage PLUGIN STORAGE\n");
        return 2;
    }
    FillHostInfo();
    QuietView view;
    QuietOperation progress;
    PRPeriod period(400);
    StorageConnection connection(view, progress, period, &HostInfo());
    const double before = StatusMegabytes("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const LoadResult result = connection.LoadStorage(argv[1], argv[2]);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("plates %d seconds %.3f rss_before_mb %.1f rss_after_mb %.1f peak_mb %.1f\n", result.plates, seconds,
                before, StatusMegabytes("VmRSS:"), StatusMegabytes("VmHWM:"));
    for (const std::string& error : view.errors)
        std::fprintf(stderr, "%s\n", error.c_str());
    return result.StorageLoaded() ? 0 : 1;
}
