// Loads one storage through the real plugin and the real StorageConnection,
// as the window does, and prints the time, the plates and the memory:
//   load_storage PLUGIN STORAGE
// prints "plates N seconds S rss_before_mb B rss_after_mb A peak_mb P".
// Peak and resident memory are the process's own (VmHWM, VmRSS), so they
// include the plugin.
#include "browse/StorageConnection.h"
#include "log/Operation.h"
#include "plugins/Registry.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

class NoView : public BrowserView {
public:
    void ShowLoadButton(LoadButton) override {}
    void ShowPlateCount(int) override {}
    void PumpMessages() override {}
    void ListClick() override {}
    BoxOwner Owner() override { return nullptr; }
    void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

class NoProgress : public Operation {
protected:
    void ShowText(const std::string&) override {}
    void End() override {}
    void ApplyAbortable(bool) override {}
    bool TakeAborted() override { return false; }
};

double StatusMegabytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stod(line.substr(std::string(field).size())) / 1024.0;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: load_storage PLUGIN STORAGE\n");
        return 2;
    }
    FillHostInfo();
    NoView view;
    NoProgress progress;
    PRPeriod period(400);
    StorageConnection connection(view, progress, period, &HostInfo());
    const double before = StatusMegabytes("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    const LoadResult result = connection.LoadStorage(argv[1], argv[2]);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("plates %d seconds %.3f rss_before_mb %.1f rss_after_mb %.1f peak_mb %.1f\n", result.plates, seconds,
                before, StatusMegabytes("VmRSS:"), StatusMegabytes("VmHWM:"));
    return result.StorageLoaded() ? 0 : 1;
}
