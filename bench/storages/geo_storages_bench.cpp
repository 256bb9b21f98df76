// Listing speed of the GeoPackage and PMTiles plugins, driven through the
// contract as the program drives them, next to the MBTiles plugin on the
// same 100,000 tiles; and the PMTiles plugin on a million-tile archive
// against reading that archive's directories with nothing else done.
//
// The storages are built once into $ULMORA_BENCH_DIR (reused when present)
// or into a temporary folder that is removed at the end. Tile data is
// zero bytes of 1,000 to 7,000 bytes a tile; in the PMTiles archives it is
// a hole of the file, which listing never reads.

#include "pmtiles_writer.h"

#include <ulmora_plugin.h>

#include "loaded_plugin.h"
#include "ratio_run.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <zlib.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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

constexpr int kTiles = 100'000;
constexpr int kManyTiles = 1'000'000;
// Tile entries per leaf directory, as writers choose to keep the root small.
constexpr size_t kLeafSize = 4096;

std::string g_dir;

// ---- the tiles ---------------------------------------------------------------

struct Tile {
    int z, x, y; // y from the top
    int size;
};

// Zoom 0 up, `count` tiles in all; each tile's size depends on it alone,
// so every storage holds the same tiles.
std::vector<Tile> MakeTiles(int count) {
    std::vector<Tile> tiles;
    tiles.reserve(static_cast<size_t>(count));
    for (int z = 0; static_cast<int>(tiles.size()) < count; ++z)
        for (int i = 0; i < (1 << (2 * z)) && static_cast<int>(tiles.size()) < count; ++i) {
            const int x = i % (1 << z), y = i / (1 << z);
            const uint32_t hash = (static_cast<uint32_t>(x) * 2654435761u) ^ (static_cast<uint32_t>(y) * 40503u) ^
                                  (static_cast<uint32_t>(z) * 97u);
            tiles.push_back({z, x, y, 1000 + static_cast<int>(hash % 6000)});
        }
    return tiles;
}

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        throw std::runtime_error(sql + ": " + (error ? error : "?"));
}

// Builds <g_dir>/<name> once, through a ".part" file that becomes the
// storage only when complete.
template <typename Fill>
std::string Build(const std::string& name, Fill fill) {
    const std::string path = g_dir + "/" + name;
    if (fs::exists(path))
        return path;
    fill(path + ".part");
    fs::rename(path + ".part", path);
    return path;
}

// `schema`, then every tile (deepest zoom first, as GDAL writes) through
// `insert`, whose parameters are zoom, column, row and size.
std::string BuildSqlite(const std::string& name, const char* schema, const char* insert, bool flipRows) {
    return Build(name, [&](const std::string& path) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        Exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN");
        Exec(db, schema);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, insert, -1, &stmt, nullptr);
        const std::vector<Tile> tiles = MakeTiles(kTiles);
        for (auto tile = tiles.rbegin(); tile != tiles.rend(); ++tile) {
            sqlite3_bind_int(stmt, 1, tile->z);
            sqlite3_bind_int(stmt, 2, tile->x);
            sqlite3_bind_int(stmt, 3, flipRows ? (1 << tile->z) - 1 - tile->y : tile->y);
            sqlite3_bind_int(stmt, 4, tile->size);
            if (sqlite3_step(stmt) != SQLITE_DONE)
                throw std::runtime_error(sqlite3_errmsg(db));
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        Exec(db, "COMMIT");
        sqlite3_close(db);
    });
}

std::string MakeMbtiles() {
    return BuildSqlite("tiles.mbtiles",
                       "CREATE TABLE metadata (name TEXT, value TEXT);"
                       "CREATE TABLE tiles (zoom_level INTEGER NOT NULL, tile_column INTEGER NOT NULL,"
                       " tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,"
                       " UNIQUE (zoom_level, tile_column, tile_row))",
                       "INSERT INTO tiles VALUES (?1, ?2, ?3, zeroblob(?4))", true);
}

std::string MakeGeopackage() {
    std::string schema =
        "PRAGMA application_id = 1196444487;"
        "CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER PRIMARY KEY,"
        " organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,"
        " description TEXT);"
        "INSERT INTO gpkg_spatial_ref_sys VALUES ('WGS 84 / Pseudo-Mercator', 3857, 'EPSG', 3857, 'undefined', NULL);"
        "CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,"
        " identifier TEXT UNIQUE, description TEXT DEFAULT '', last_change DATETIME, min_x DOUBLE,"
        " min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER);"
        "INSERT INTO gpkg_contents (table_name, data_type, srs_id) VALUES ('tiles', 'tiles', 3857);"
        "CREATE TABLE gpkg_tile_matrix_set (table_name TEXT NOT NULL PRIMARY KEY, srs_id INTEGER NOT NULL,"
        " min_x DOUBLE NOT NULL, min_y DOUBLE NOT NULL, max_x DOUBLE NOT NULL, max_y DOUBLE NOT NULL);"
        "INSERT INTO gpkg_tile_matrix_set VALUES ('tiles', 3857, -20037508.342789244, -20037508.342789244,"
        " 20037508.342789244, 20037508.342789244);"
        "CREATE TABLE gpkg_tile_matrix (table_name TEXT NOT NULL, zoom_level INTEGER NOT NULL,"
        " matrix_width INTEGER NOT NULL, matrix_height INTEGER NOT NULL, tile_width INTEGER NOT NULL,"
        " tile_height INTEGER NOT NULL, pixel_x_size DOUBLE NOT NULL, pixel_y_size DOUBLE NOT NULL,"
        " PRIMARY KEY (table_name, zoom_level));"
        "CREATE TABLE tiles (id INTEGER PRIMARY KEY AUTOINCREMENT, zoom_level INTEGER NOT NULL,"
        " tile_column INTEGER NOT NULL, tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,"
        " UNIQUE (zoom_level, tile_column, tile_row));";
    for (int z = 0; z <= MakeTiles(kTiles).back().z; ++z)
        schema += "INSERT INTO gpkg_tile_matrix VALUES ('tiles', " + std::to_string(z) + ", " +
                  std::to_string(1 << z) + ", " + std::to_string(1 << z) + ", 256, 256, " +
                  std::to_string(40075016.68557849 / (256.0 * (1 << z))) + ", " +
                  std::to_string(40075016.68557849 / (256.0 * (1 << z))) + ");";
    return BuildSqlite("tiles.gpkg", schema.c_str(),
                       "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data)"
                       " VALUES (?1, ?2, ?3, zeroblob(?4))",
                       false);
}

// Gzip-compressed directories in leaves of kLeafSize entries, tile data in
// tile id order; the data itself is a hole.
std::string MakePmtiles(const std::string& name, int count) {
    return Build(name, [count](const std::string& path) {
        struct Sorted {
            uint64_t id;
            int size;
        };
        std::vector<Sorted> sorted;
        for (const Tile& tile : MakeTiles(count))
            sorted.push_back({pmtiles_writer::TileId(static_cast<uint32_t>(tile.z), static_cast<uint32_t>(tile.x),
                                                     static_cast<uint32_t>(tile.y)),
                              tile.size});
        std::sort(sorted.begin(), sorted.end(), [](const Sorted& a, const Sorted& b) { return a.id < b.id; });
        std::vector<pmtiles_writer::Entry> entries;
        uint64_t offset = 0;
        for (const Sorted& tile : sorted) {
            entries.push_back({tile.id, offset, static_cast<uint64_t>(tile.size), 1});
            offset += static_cast<uint64_t>(tile.size);
        }
        const std::string head = pmtiles_writer::ArchiveHead(entries, offset, {true, kLeafSize, 3});
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, head.data(), head.size()) != static_cast<ssize_t>(head.size()) ||
            ftruncate(fd, static_cast<off_t>(head.size() + offset)) != 0)
            throw std::runtime_error("cannot write " + path);
        close(fd);
    });
}

// ---- the plugins, loaded as the program loads them ----------------------------


struct Listed {
    int64_t plates = 0;
    uint64_t bytes = 0;
    size_t names = 0;
};

uint32_t ULMORA_CALL Count(void* cookie, int32_t, const char* name, uint32_t, uint32_t size) {
    auto* listed = static_cast<Listed*>(cookie);
    ++listed->plates;
    listed->bytes += size;
    listed->names += name[0] == 't';
    return 1;
}

// Opens once, as the program does, and lists in every iteration.
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

// ---- reading a PMTiles archive's directories, and nothing else -----------------

uint64_t ReadU64(const unsigned char* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

void ReadAt(int fd, uint64_t offset, size_t length, std::vector<unsigned char>* out) {
    out->resize(length);
    if (pread(fd, out->data(), length, static_cast<off_t>(offset)) != static_cast<ssize_t>(length))
        throw std::runtime_error("short read");
}

// Inflates into `out`, whose size is kept between calls.
size_t Inflate(const std::vector<unsigned char>& in, std::vector<unsigned char>* out) {
    z_stream stream{};
    inflateInit2(&stream, 15 + 32);
    stream.next_in = const_cast<unsigned char*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    size_t produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (produced == out->size())
            out->resize(std::max<size_t>(out->size() * 2, 65536));
        stream.next_out = out->data() + produced;
        stream.avail_out = static_cast<uInt>(out->size() - produced);
        const uInt before = stream.avail_out;
        rc = inflate(&stream, Z_NO_FLUSH);
        produced += before - stream.avail_out;
    }
    inflateEnd(&stream);
    return produced;
}

// The offsets and lengths of the leaf entries of a decompressed root.
std::vector<std::pair<uint64_t, uint64_t>> LeafEntries(const unsigned char* p, size_t size) {
    const unsigned char* end = p + size;
    auto next = [&] {
        uint64_t value = 0;
        for (int shift = 0; p < end; shift += 7) {
            const unsigned char byte = *p++;
            value |= uint64_t{byte & 0x7Fu} << shift;
            if (byte < 0x80)
                break;
        }
        return value;
    };
    const size_t count = next();
    std::vector<uint64_t> runs(count), lengths(count);
    for (size_t i = 0; i < count; ++i)
        next();
    for (uint64_t& run : runs)
        run = next();
    for (uint64_t& length : lengths)
        length = next();
    std::vector<std::pair<uint64_t, uint64_t>> leaves;
    uint64_t offset = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t value = next();
        offset = value == 0 && i > 0 ? offset + lengths[i - 1] : value - 1;
        if (runs[i] == 0)
            leaves.emplace_back(offset, lengths[i]);
    }
    return leaves;
}

// Reads and inflates the root and every leaf directory: the least any
// listing of the archive has to do.
void BM_PmtilesReadDirectories1M(benchmark::State& state) {
    const std::string path = MakePmtiles("million.pmtiles", kManyTiles);
    const int fd = open(path.c_str(), O_RDONLY);
    std::vector<unsigned char> raw, inflated, leaf;
    uint64_t directoryBytes = 0;
    for (auto _ : state) {
        directoryBytes = 0;
        ReadAt(fd, 0, 127, &raw);
        const uint64_t rootOffset = ReadU64(&raw[8]), rootLength = ReadU64(&raw[16]);
        const uint64_t leafOffset = ReadU64(&raw[40]);
        ReadAt(fd, rootOffset, rootLength, &raw);
        const size_t rootSize = Inflate(raw, &inflated);
        directoryBytes += rootSize;
        for (const auto& [offset, length] : LeafEntries(inflated.data(), rootSize)) {
            ReadAt(fd, leafOffset + offset, length, &raw);
            directoryBytes += Inflate(raw, &leaf);
        }
        benchmark::DoNotOptimize(directoryBytes);
    }
    close(fd);
    state.counters["directory_MB"] = static_cast<double>(directoryBytes) / 1e6;
    state.SetItemsProcessed(state.iterations() * kManyTiles);
}

// ---- benchmarks ------------------------------------------------------------------

void BM_MbtilesPluginList100k(benchmark::State& state) {
    ListThroughPlugin(state, MBTILES_PLUGIN, MakeMbtiles(), kTiles);
}

void BM_GeopackagePluginList100k(benchmark::State& state) {
    ListThroughPlugin(state, GEOPACKAGE_PLUGIN, MakeGeopackage(), kTiles);
}

void BM_PmtilesPluginList100k(benchmark::State& state) {
    ListThroughPlugin(state, PMTILES_PLUGIN, MakePmtiles("tiles.pmtiles", kTiles), kTiles);
}

void BM_PmtilesPluginList1M(benchmark::State& state) {
    ListThroughPlugin(state, PMTILES_PLUGIN, MakePmtiles("million.pmtiles", kManyTiles), kManyTiles);
}

// Wall-clock rates: file system time counts as much as CPU time.
BENCHMARK(BM_MbtilesPluginList100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GeopackagePluginList100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PmtilesPluginList100k)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PmtilesPluginList1M)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PmtilesReadDirectories1M)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv, g_dir, [](const RatioReporter& reporter) {
        reporter.PrintRatio("100,000 tiles, listing time, GeoPackage / MBTiles plugin:", "BM_GeopackagePluginList100k",
                            "BM_MbtilesPluginList100k");
        reporter.PrintRatio("100,000 tiles, listing time, PMTiles / MBTiles plugin:", "BM_PmtilesPluginList100k",
                            "BM_MbtilesPluginList100k");
        reporter.PrintRatio("1,000,000 tiles, PMTiles plugin listing / reading directories:", "BM_PmtilesPluginList1M",
                            "BM_PmtilesReadDirectories1M");
    });
}
