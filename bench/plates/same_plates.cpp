// Select -> Duplicates and Blank through the core on one MBTiles file, for
// bench/run-duplicates.sh: the plates are listed as the window lists them,
// then one mode runs over all of them and prints one line of figures:
//   MODE SECONDS CPU_SECONDS FOUND SETS PLATES PEAK_MB RUN_MB
// (CPU_SECONDS: user + system, which a busy machine disturbs less;
// RUN_MB: the peak resident memory above what the listed process held).
// Modes: read (every plate read once through the plugin by name: the
// baseline), stream (every plate once through the plugin's plate stream),
// duplicates, blank (with the image decoder module beside the program).
#include "base/ListSelection.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/Operation.h"
#include "plates/ImageDecoderModule.h"
#include "plates/SamePlates.h"
#include "plugins/Plugin.h"
#include "process_figures.h"

#include <chrono>
#include <cstdio>
#include <cstring>
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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: same_plates read|stream|duplicates|blank PLUGIN FILE.mbtiles\n");
        return 2;
    }
    const std::string mode = argv[1];
    static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    std::unique_ptr<StoragePlugin> plugin = LoadPlugin(argv[2], &kHost, PluginTypeStorage);
    StorageAction* action = plugin != nullptr ? plugin->CreateAction() : nullptr;
    if (action == nullptr || !action->Open(argv[3])) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[3], ErrorText(kCurrentError).c_str());
        return 1;
    }
    if (mode == "blank" && !LoadImageDecoderModule()) {
        std::fprintf(stderr, "%s\n", ErrorText(kCurrentError).c_str());
        return 1;
    }
    Lister lister;
    if (action->Enumerate(0, StorageAction::PlateHandler::Bind<&Lister::OnPlate>(&lister), 2) != Done) {
        std::fprintf(stderr, "cannot list %s\n", argv[3]);
        return 1;
    }
    ListSelection every(lister.plates.Count());
    every.SelectAll();
    QuietOperation operation;
    PRPeriod period(1000);
    double before = 0, peak = 0;
    bench::Memory(&before, &peak);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = bench::CpuSeconds();
    SameResult result;
    if (mode == "read") {
        for (int index = 0; index < lister.plates.Count(); ++index) {
            PlateItem item;
            const void* data = nullptr;
            uint32_t size = 0;
            if (lister.plates.At(index, &item) && action->GetPlateData(item.name, &data, &size) == Done)
                ++result.read;
        }
    } else if (mode == "stream") {
        if (!action->HasPlateStream()) {
            std::fprintf(stderr, "the plugin has no plate stream\n");
            return 1;
        }
        action->StreamPlates([&](int32_t, const char*, const void*, uint32_t) {
            ++result.read;
            return true;
        });
    } else if (mode == "duplicates") {
        result = FindDuplicatePlates({*action, lister.plates, every, operation, period});
    } else if (mode == "blank") {
        result = FindBlankPlates({*action, lister.plates, every, operation, period}, ImageFunctions());
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = bench::CpuSeconds() - cpuStart;
    double now = 0;
    bench::Memory(&now, &peak);
    std::printf("%s %.3f %.3f %zu %d %d %.0f %.0f\n", mode.c_str(), seconds, cpu, result.found.size(), result.sets,
                lister.plates.Count(), peak, peak - before);
    plugin->FreeAction(action);
    return 0;
}
