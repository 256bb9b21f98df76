// The window's copy through the core: the source is listed first, as the
// window lists it when loaded, then every plate is copied into a new target
// (RunCopy, the plates from the source's plate stream). Only the copy is
// timed, the listing is not: in the window it was done at the load. Prints
//   SECONDS CPU_SECONDS DONE PLATES
// (CPU_SECONDS: user + system, children and threads included).
#include "base/ListSelection.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/Operation.h"
#include "plates/CopyRun.h"
#include "plugins/Plugin.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

class Lister {
public:
    PlateList plates;
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        plates.Append(name, number, size);
        return true;
    }
};

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

StorageAction* Open(const char* library, const char* path, std::unique_ptr<StoragePlugin>* plugin)
{
    static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    *plugin = LoadPlugin(library, &kHost, PluginTypeStorage);
    StorageAction* action = *plugin != nullptr ? (*plugin)->CreateAction() : nullptr;
    if (action == nullptr || !action->Open(path)) {
        std::fprintf(stderr, "cannot open %s: %s\n", path, ErrorText(kCurrentError).c_str());
        return nullptr;
    }
    return action;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: copy_listed SOURCE_PLUGIN SOURCE TARGET_PLUGIN NEW_TARGET\n");
        return 2;
    }
    std::unique_ptr<StoragePlugin> sourcePlugin;
    StorageAction* source = Open(argv[1], argv[2], &sourcePlugin);
    if (source == nullptr)
        return 1;
    Lister lister;
    if (source->Enumerate(0, StorageAction::PlateHandler::Bind<&Lister::OnPlate>(&lister), 2) != Done) {
        std::fprintf(stderr, "cannot list %s\n", argv[2]);
        return 1;
    }
    ListSelection every(lister.plates.Count());
    every.SelectAll();

    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    // A new target is an empty file, as the copy command makes it.
    const int fd = ::open(argv[4], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(argv[4]);
        return 1;
    }
    ::close(fd);
    std::unique_ptr<StoragePlugin> targetPlugin;
    StorageAction* target = Open(argv[3], argv[4], &targetPlugin);
    if (target == nullptr)
        return 1;
    QuietOperation operation;
    PRPeriod period(1000);
    QuietRunHost host;
    CopyOptions options;
    options.AskOnError = false;
    const PlateRunResult result =
        RunCopy({*source, lister.plates, every, operation, period, host, nullptr}, *target, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %.3f %d %d\n", seconds, CpuSeconds() - cpuStart, result.done, lister.plates.Count());
    targetPlugin->FreeAction(target);
    sourcePlugin->FreeAction(source);
    return result.done == lister.plates.Count() ? 0 : 1;
}
