// Speed of the shipped storage plugins, driven through the contract as the
// program drives them: listing 100,000 plates of an MBTiles file (against
// SQLite reading the same columns itself), listing 100,000 files of the two
// folder layouts, and deleting plates from MBTiles files.
//
// The storages are built once into $ULMORA_BENCH_DIR (reused when present)
// or into a temporary folder that is removed at the end.

#include <ulmora_plugin.h>

#include "loaded_plugin.h"
#include "ratio_run.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kScanTiles = 100'000;
constexpr int kFolderFiles = 100'000;
constexpr int kDeleteTiles = 20'000;

// ---- storages -------------------------------------------------------------

std::string g_dir;

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        throw std::runtime_error(sql + ": " + (error ? error : "?"));
}

// Tiles of zoom 0 up, `count` in all, written deepest zoom first as GDAL
// does; calls add(z, x, y) for each, y counted from the top.
template <class Add>
void ForTiles(int count, Add add) {
    std::vector<std::pair<int, int>> levels; // zoom, tiles taken from it
    for (int z = 0, left = count; left > 0; ++z) {
        const int take = std::min(left, 1 << (2 * z));
        levels.emplace_back(z, take);
        left -= take;
    }
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        for (int i = 0; i < level->second; ++i)
            add(level->first, i % (1 << level->first), i / (1 << level->first));
}

// Builds <g_dir>/<name> once: `fill` runs inside one transaction on a
// ".part" file that becomes the database only when complete.
template <typename Fill>
std::string BuildDatabase(const std::string& name, Fill fill) {
    const std::string path = g_dir + "/" + name;
    if (fs::exists(path))
        return path;
    sqlite3* db = nullptr;
    sqlite3_open((path + ".part").c_str(), &db);
    Exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN");
    fill(db);
    Exec(db, "COMMIT");
    sqlite3_close(db);
    fs::rename(path + ".part", path);
    return path;
}

// Plain layout with tile sizes of 1,000 to 7,000 bytes, so most rows spill
// into overflow pages as real JPEG tiles do.
std::string MakePlainMbtiles(const std::string& name, int count) {
    return BuildDatabase(name, [count](sqlite3* db) {
        Exec(db, "CREATE TABLE metadata (name TEXT, value TEXT);"
                 "CREATE TABLE tiles (zoom_level INTEGER NOT NULL, tile_column INTEGER NOT NULL,"
                 " tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,"
                 " UNIQUE (zoom_level, tile_column, tile_row))");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, zeroblob(1000 + abs(random()) % 6000))", -1,
                           &insert, nullptr);
        ForTiles(count, [&](int z, int x, int y) {
            sqlite3_bind_int(insert, 1, z);
            sqlite3_bind_int(insert, 2, x);
            sqlite3_bind_int(insert, 3, (1 << z) - 1 - y);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        });
        sqlite3_finalize(insert);
    });
}

// Deduplicated layout: every image shared by two map rows.
std::string MakeDeduplicatedMbtiles(const std::string& name, int count) {
    return BuildDatabase(name, [count](sqlite3* db) {
        Exec(db, "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
                 "CREATE TABLE images (tile_data BLOB, tile_id TEXT);"
                 "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
                 "CREATE UNIQUE INDEX images_id ON images (tile_id);"
                 "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,"
                 " map.tile_row AS tile_row, images.tile_data AS tile_data"
                 " FROM map JOIN images ON images.tile_id = map.tile_id");
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO map VALUES (?1, ?2, ?3, 'image' || ?4)", -1, &insert, nullptr);
        int n = 0;
        ForTiles(count, [&](int z, int x, int y) {
            sqlite3_bind_int(insert, 1, z);
            sqlite3_bind_int(insert, 2, x);
            sqlite3_bind_int(insert, 3, (1 << z) - 1 - y);
            sqlite3_bind_int(insert, 4, n++ / 2);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        });
        sqlite3_finalize(insert);
        Exec(db, "INSERT INTO images SELECT zeroblob(1000 + abs(random()) % 6000), tile_id FROM map GROUP BY tile_id");
    });
}

std::string PlateName(int z, int x, int y) {
    static const char kLetters[4] = {'q', 'r', 't', 's'};
    std::string name = "t";
    for (int i = z - 1; i >= 0; --i)
        name.push_back(kLetters[((x >> i) & 1) | ((y >> i) & 1) << 1]);
    return name;
}

void WriteSmallFile(const std::string& path) {
    static const std::string contents(200, 'j');
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size()))
        throw std::runtime_error("cannot write " + path);
    close(fd);
}

std::string MakeSlippyTree(int count) {
    const std::string base = g_dir + "/slippy";
    if (fs::exists(base))
        return base;
    ForTiles(count, [&](int z, int x, int y) {
        const std::string folder = base + ".part/" + std::to_string(z) + "/" + std::to_string(x);
        if (y == 0)
            fs::create_directories(folder);
        WriteSmallFile(folder + "/" + std::to_string(y) + ".jpg");
    });
    fs::rename(base + ".part", base);
    return base;
}

std::string MakePlateTree(int count) {
    const std::string base = g_dir + "/plates";
    if (fs::exists(base))
        return base;
    ForTiles(count, [&](int z, int x, int y) {
        const std::string name = PlateName(z, x, y);
        std::string folder = base + ".part";
        for (size_t i = 0; i + 1 < name.size(); ++i)
            (folder += '/') += name[i];
        fs::create_directories(folder);
        WriteSmallFile(folder + "/" + name.back() + ".jpg");
    });
    fs::rename(base + ".part", base);
    return base;
}

// ---- the plugins, loaded as the program loads them ------------------------


struct Listed {
    int64_t plates = 0;
    uint64_t bytes = 0;
    std::vector<std::string>* names = nullptr;
};

uint32_t ULMORA_CALL Count(void* cookie, int32_t, const char* name, uint32_t, uint32_t size) {
    auto* listed = static_cast<Listed*>(cookie);
    ++listed->plates;
    listed->bytes += size;
    if (listed->names)
        listed->names->emplace_back(name);
    return 1;
}

void ListThroughPlugin(benchmark::State& state, const char* plugin, const std::string& storage, int expected) {
    Plugin loaded(plugin);
    loaded.Open(storage);
    for (auto _ : state) {
        Listed listed;
        if (loaded.Enumerate(&Count, &listed) != Done || listed.plates != expected) {
            state.SkipWithError("the plugin listed the wrong number of plates");
            break;
        }
        benchmark::DoNotOptimize(listed.bytes);
    }
    state.SetItemsProcessed(state.iterations() * expected);
}

// ---- benchmarks -------------------------------------------------------------

void BM_MbtilesPluginList(benchmark::State& state) {
    ListThroughPlugin(state, MBTILES_PLUGIN, MakePlainMbtiles("scan.mbtiles", kScanTiles), kScanTiles);
}

// SQLite alone reading what the plugin reports; `sql` with or without the
// plugin's ordering by zoom.
void SqliteScan(benchmark::State& state, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(MakePlainMbtiles("scan.mbtiles", kScanTiles).c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    for (auto _ : state) {
        int64_t rows = 0;
        uint64_t bytes = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 0) + sqlite3_column_int(stmt, 1) +
                                     sqlite3_column_int(stmt, 2) + sqlite3_column_int(stmt, 3));
            bytes += static_cast<uint64_t>(sqlite3_column_int64(stmt, 4));
            ++rows;
        }
        sqlite3_reset(stmt);
        benchmark::DoNotOptimize(bytes);
        if (rows != kScanTiles)
            state.SkipWithError("wrong row count");
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    state.SetItemsProcessed(state.iterations() * kScanTiles);
}

void BM_SqliteScanSameColumns(benchmark::State& state) {
    SqliteScan(state, "SELECT rowid, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles");
}

void BM_SqliteScanSameColumnsByZoom(benchmark::State& state) {
    SqliteScan(state, "SELECT rowid, zoom_level, tile_column, tile_row, length(tile_data) FROM tiles"
                      " ORDER BY zoom_level");
}

void BM_FolderPluginListSlippyTree(benchmark::State& state) {
    ListThroughPlugin(state, FOLDER_PLUGIN, MakeSlippyTree(kFolderFiles), kFolderFiles);
}

void BM_FolderPluginListPlateTree(benchmark::State& state) {
    ListThroughPlugin(state, FOLDER_PLUGIN, MakePlateTree(kFolderFiles), kFolderFiles);
}

// Deletes every plate of a fresh copy, in the order listed, as the
// program's deletion does; closing (the last commit) is timed too.
void DeleteAll(benchmark::State& state, const std::string& original) {
    const std::string copy = g_dir + "/delete-copy.mbtiles";
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file(original, copy, fs::copy_options::overwrite_existing);
        Plugin plugin(MBTILES_PLUGIN);
        plugin.Open(copy);
        std::vector<std::string> names;
        Listed listed;
        listed.names = &names;
        plugin.Enumerate(&Count, &listed);
        state.ResumeTiming();
        for (const std::string& name : names)
            if (plugin.Delete(name) != Done) {
                state.SkipWithError("a deletion failed");
                break;
            }
        plugin.Close();
    }
    fs::remove(copy);
    state.SetItemsProcessed(state.iterations() * kDeleteTiles);
}

void BM_MbtilesPluginDelete(benchmark::State& state) {
    DeleteAll(state, MakePlainMbtiles("delete.mbtiles", kDeleteTiles));
}

void BM_MbtilesPluginDeleteDeduplicated(benchmark::State& state) {
    DeleteAll(state, MakeDeduplicatedMbtiles("delete-dedup.mbtiles", kDeleteTiles));
}

// Wall-clock rates: file system and fsync time count as much as CPU time.
BENCHMARK(BM_MbtilesPluginList)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteScanSameColumns)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SqliteScanSameColumnsByZoom)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FolderPluginListSlippyTree)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FolderPluginListPlateTree)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MbtilesPluginDelete)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MbtilesPluginDeleteDeduplicated)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv, g_dir, [](const RatioReporter& reporter) {
        reporter.PrintRatio("MBTiles listing time, plugin / SQLite same columns:", "BM_MbtilesPluginList",
                            "BM_SqliteScanSameColumns");
        reporter.PrintRatio("MBTiles listing time, plugin / SQLite same columns by zoom:", "BM_MbtilesPluginList",
                            "BM_SqliteScanSameColumnsByZoom");
    });
}
