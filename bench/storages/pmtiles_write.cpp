// Copies every tile of an MBTiles file into a new PMTiles archive through
// the PMTiles plugin, reading the tiles with SQLite as sqlite3 does, and
// prints one line: tiles, bytes, seconds storing and closing (the archive
// is written then), resident memory before and at the peak, the archive's
// size. bench/run-pmtiles-write.sh runs it.
// Usage: pmtiles_write PLUGIN SOURCE.mbtiles TARGET.pmtiles [--read-only]
// (--read-only reads the tiles and names them, and stores nothing: what the
// reading alone costs.)

#include <ulmora_plugin.h>

#include <dlfcn.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    return -1;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "pmtiles_write: %s\n", text.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "--read-only"))
        return Fail("usage: pmtiles_write PLUGIN SOURCE.mbtiles TARGET.pmtiles [--read-only]");
    const bool store = argc == 4;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    auto query = library ? reinterpret_cast<QueryPluginInterfaceFn>(dlsym(library, "QueryPluginInterface")) : nullptr;
    static const PluginHostInfo host{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    PluginInfo info{};
    if (!query || query(&host, &info) != nullptr)
        return Fail(std::string("cannot load ") + argv[1] + (library ? "" : std::string(": ") + dlerror()));
    ActionInterface* action = info.CreateAction();
    const ActionFunctions& f = *action->functions;
    char text[100];
    std::fclose(std::fopen(argv[3], "w")); // an empty file: a new archive
    if (!f.Open(action, argv[3])) {
        f.GetErrorText(action, text, sizeof text);
        return Fail(text);
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    // Only this thread uses the connection: without its mutexes, which turn
    // into atomic operations (most of a row's cost) once the plugin has a
    // thread of its own.
    if (sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &stmt, nullptr) !=
            SQLITE_OK)
        return Fail(std::string("cannot read ") + argv[2]);

    const long before = StatusKiB("VmRSS");
    const auto start = std::chrono::steady_clock::now();
    uint64_t tiles = 0, bytes = 0;
    char name[40];
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const int z = sqlite3_column_int(stmt, 0);
        const uint32_t x = static_cast<uint32_t>(sqlite3_column_int64(stmt, 1));
        const uint32_t y = static_cast<uint32_t>((int64_t{1} << z) - 1 - sqlite3_column_int64(stmt, 2)); // TMS rows
        const void* data = sqlite3_column_blob(stmt, 3);
        const uint32_t size = static_cast<uint32_t>(sqlite3_column_bytes(stmt, 3));
        name[0] = 't';
        for (int i = 0; i < z; ++i) {
            const int shift = z - 1 - i;
            name[i + 1] = "qrts"[((x >> shift) & 1) | ((y >> shift) & 1) << 1];
        }
        name[z + 1] = '\0';
        if (store && f.Write(action, name, size ? data : "", size, WriteModeStore) != Done) {
            f.GetErrorText(action, text, sizeof text);
            return Fail(std::string(name) + ": " + text);
        }
        ++tiles;
        bytes += size;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    const double stored = Seconds(start);
    const auto closing = std::chrono::steady_clock::now();
    f.Open(action, nullptr);
    const double closed = Seconds(closing);
    text[0] = '\0';
    f.GetErrorText(action, text, sizeof text);
    if (text[0])
        return Fail(std::string("closing: ") + text);
    const long peak = StatusKiB("VmHWM");
    struct stat archive {};
    stat(argv[3], &archive);
    std::printf("tiles %" PRIu64 " bytes %" PRIu64 " store_s %.3f close_s %.3f total_s %.3f rss_before_kib %ld "
                "peak_kib %ld archive_bytes %lld\n",
                tiles, bytes, stored, closed, stored + closed, before, peak, static_cast<long long>(archive.st_size));
    info.FreeAction(action);
    dlclose(library);
    return 0;
}
