// Lists a folder storage through the folder plugin, as the program does,
// and prints the plates, their bytes, the seconds and the peak memory:
//   folder_list_bench DIR
#include <ulmora_plugin.h>

#include <dlfcn.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace {

struct Totals {
    uint64_t plates = 0;
    uint64_t bytes = 0;
};

uint32_t ULMORA_CALL Count(void* cookie, int32_t, const char*, uint32_t, uint32_t size) {
    auto* totals = static_cast<Totals*>(cookie);
    ++totals->plates;
    totals->bytes += size;
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    void* library = dlopen(FOLDER_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    auto query = library ? reinterpret_cast<QueryPluginInterfaceFn>(dlsym(library, "QueryPluginInterface")) : nullptr;
    static const PluginHostInfo host{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    PluginInfo info{};
    if (!query || query(&host, &info) != nullptr) {
        std::fprintf(stderr, "cannot load %s\n", FOLDER_PLUGIN);
        return 1;
    }
    ActionInterface* action = info.CreateAction();
    const auto start = std::chrono::steady_clock::now();
    if (!action->functions->Open(action, argv[1])) {
        char text[100];
        action->functions->GetErrorText(action, text, sizeof text);
        std::fprintf(stderr, "%s\n", text);
        return 1;
    }
    Totals totals;
    const uint32_t result = action->functions->Enumerate(action, 0, &Count, 2, &totals) & 0xFFFF;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    action->functions->Open(action, nullptr);
    info.FreeAction(action);
    if (result != Done) {
        std::fprintf(stderr, "Enumerate answered %u\n", result);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%llu %llu %.3f %ld\n", static_cast<unsigned long long>(totals.plates),
                static_cast<unsigned long long>(totals.bytes), seconds, usage.ru_maxrss);
    return 0;
}
