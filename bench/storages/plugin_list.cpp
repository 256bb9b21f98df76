// Lists one storage through a storage plugin, as a host that only counts,
// and prints one line: plates, bytes, seconds, and the process's peak and
// starting resident memory. bench/run-10m.sh runs it.
// Usage: plugin_list PLUGIN STORAGE

#include <ulmora_plugin.h>

#include <dlfcn.h>
#include <sys/resource.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

struct Counted {
    uint64_t plates = 0;
    uint64_t bytes = 0;
};

uint32_t ULMORA_CALL Count(void* cookie, int32_t, const char* name, uint32_t, uint32_t size) {
    auto* counted = static_cast<Counted*>(cookie);
    ++counted->plates;
    counted->bytes += size + (name[0] == 't' ? 0 : 1); // the name is read, as a host would
    return 1;
}

// Current resident memory in KiB, from /proc.
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PLUGIN STORAGE\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto query = library ? reinterpret_cast<QueryPluginInterfaceFn>(dlsym(library, "QueryPluginInterface")) : nullptr;
    static const PluginHostInfo host{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    PluginInfo info{};
    if (!query || query(&host, &info) != nullptr) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    ActionInterface* action = info.CreateAction();
    char text[100] = "";
    const long startKiB = ResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    if (!action->functions->Open(action, argv[2])) {
        action->functions->GetErrorText(action, text, sizeof text);
        std::fprintf(stderr, "%s: %s\n", argv[2], text);
        return 1;
    }
    Counted counted;
    const uint32_t result = action->functions->Enumerate(action, 0, &Count, 2, &counted) & 0xFFFF;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    action->functions->GetErrorText(action, text, sizeof text);
    action->functions->Open(action, nullptr);
    info.FreeAction(action);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (result != Done) {
        std::fprintf(stderr, "Enumerate answered %u: %s\n", result, text);
        return 1;
    }
    std::printf("plates %" PRIu64 " bytes %" PRIu64 " seconds %.3f peak_kib %ld start_kib %ld\n", counted.plates,
                counted.bytes, seconds, usage.ru_maxrss, startKiB);
    return 0;
}
