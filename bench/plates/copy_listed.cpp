// The window's copy through the core: the source is loaded as the window
// loads it (StorageConnection), then every plate is copied into a new target
// (RunCopy, the plates from the source's plate stream). Only the copy is
// timed, the load is not: in the window it was done before. Prints
//   SECONDS CPU_SECONDS DONE PLATES
// (CPU_SECONDS: user + system, every thread's).
#include "base/ListSelection.h"
#include "browse/StorageConnection.h"
#include "log/Errors.h"
#include "log/Operation.h"
#include "plates/CopyRun.h"
#include "plugins/Plugin.h"
#include "process_figures.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: copy_listed SOURCE_PLUGIN SOURCE TARGET_PLUGIN NEW_TARGET\n");
        return 2;
    }
    static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    QuietView view;
    QuietOperation operation;
    PRPeriod period(1000);
    StorageConnection source(view, operation, period, &kHost);
    if (source.LoadStorage(argv[1], argv[2]).outcome != LoadResult::Outcome::Loaded) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[2], view.errors.empty() ? "" : view.errors[0].c_str());
        return 1;
    }
    ListSelection every(source.Plates().Count());
    every.SelectAll();

    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = bench::CpuSeconds();
    // A new target is an empty file, as the copy command makes it.
    const int fd = ::open(argv[4], O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(argv[4]);
        return 1;
    }
    ::close(fd);
    std::unique_ptr<StoragePlugin> targetPlugin = LoadPlugin(argv[3], &kHost, PluginTypeStorage);
    StorageAction* target = targetPlugin != nullptr ? targetPlugin->CreateAction() : nullptr;
    if (target == nullptr || !target->Open(argv[4])) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[4], ErrorText(kCurrentError).c_str());
        return 1;
    }
    QuietRunHost host;
    CopyOptions options;
    options.AskOnError = false;
    const PlateRunResult result =
        RunCopy({*source.Action(), source.Plates(), every, operation, period, host, nullptr}, *target, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f %.3f %d %d\n", seconds, bench::CpuSeconds() - cpuStart, result.done, source.Plates().Count());
    targetPlugin->FreeAction(target);
    return result.done == source.Plates().Count() ? 0 : 1;
}
