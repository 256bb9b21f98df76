// The plate stream extension of the shipped plugins, driven through the
// contract header alone: what each streams equals what it lists and what
// GetPlateData hands out, stores not yet committed included; a callback
// answering 0 stops it.
#include "plugin_host.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sqlite3.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kAborted = Aborted;

const PlateStreamExtension* StreamTable(const char* library) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    auto query = reinterpret_cast<QueryPluginExtensionFn>(dlsym(handle, "QueryPluginExtension"));
    // The handle stays open: the table lives in the library.
    return query ? static_cast<const PlateStreamExtension*>(query(ULMORA_PLATESTREAM_EXTENSION)) : nullptr;
}

struct Streamed {
    int32_t number;
    std::string data;
    bool withData;
};

struct Collect {
    std::map<std::string, Streamed> plates;
    int calls = 0;
    int twice = 0; // names streamed more than once
    int stopAt = -1;

    static uint32_t ULMORA_CALL Add(void* cookie, int32_t number, const char* name, const void* data, uint32_t size) {
        auto* self = static_cast<Collect*>(cookie);
        const bool fresh = self->plates
                               .emplace(name, Streamed{number, data ? std::string(static_cast<const char*>(data), size)
                                                                    : std::string(),
                                                       data != nullptr})
                               .second;
        self->twice += fresh ? 0 : 1;
        return ++self->calls == self->stopAt ? 0 : 1;
    }
};

// An MBTiles file of 70000 tiles of zoom 9, each with bytes of its own, and
// two rows that name no tile: large enough to be read on a worker thread.
void MakeLargeMbtiles(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* sql =
        "CREATE TABLE metadata (name TEXT, value TEXT);"
        "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 69999)"
        " INSERT INTO tiles SELECT 9, i >> 9, i & 511, CAST(printf('%08x', i) AS BLOB) || zeroblob(i % 7) FROM n;"
        "INSERT INTO tiles VALUES ('nine', 1, 1, x'00'), (9, 600, 1, x'00');"
        "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);";
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

} // namespace

// Each plugin that has the table streams every listed plate once, with the
// listing's number and GetPlateData's bytes; a store answered Done before
// the stream is part of it. A folder has no table: the program reads its
// plates by name.
TEST(PlateStreamExtension, EachPluginStreamsWhatItListsAndReads) {
    const std::string fixtures = FIXTURE_DIR;
    struct Case {
        const char* library;
        std::string file;  // copied to a temporary folder; empty: a new, empty file
        const char* store; // a plate stored before streaming; null: none
        bool table = true;
    };
    const std::vector<Case> cases = {
        {MBTILES_PLUGIN, fixtures + "/gdal-world.mbtiles", nullptr},
        {MBTILES_PLUGIN, fixtures + "/gdal-world.mbtiles", "tqqq"}, // a batch not yet committed
        {MBTILES_PLUGIN, fixtures + "/grids.mbtiles", nullptr},     // map and images: deduplicated
        {MBTILES_PLUGIN, fixtures + "/unindexed.mbtiles", nullptr},
        {MBTILES_PLUGIN, fixtures + "/mapproxy-debug.mbtiles", nullptr},
        {MBTILES_PLUGIN, "large", nullptr}, // read by a worker thread
        {GEOPACKAGE_PLUGIN, fixtures + "/geopackage/world.gpkg", nullptr},
        {GEOPACKAGE_PLUGIN, fixtures + "/geopackage/world.gpkg", "tqqq"},
        {PMTILES_PLUGIN, fixtures + "/pmtiles/stamen-toner-raster-z3.pmtiles", nullptr}, // a run, shared data
        {PMTILES_PLUGIN, fixtures + "/pmtiles/test_fixture_1.pmtiles", nullptr},
        {PMTILES_PLUGIN, "", "tqr"}, // a new archive, spooled
        {FOLDER_PLUGIN, fixtures + "/folders/gdal-xyz", nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + (c.store ? std::string(" with ") + c.store : std::string()));
        const PlateStreamExtension* table = StreamTable(c.library);
        ASSERT_EQ(table != nullptr, c.table);
        if (!table)
            continue;
        EXPECT_EQ(table->magic, ULMORA_PLUGIN_MAGIC);
        EXPECT_GE(table->size, sizeof(PlateStreamExtension));
        TempDir folder;
        const std::string path =
            folder / (c.file.empty() ? "new.pmtiles" : std::filesystem::path(c.file).filename().string());
        if (c.file.empty())
            WriteFile(path, "");
        else if (c.file == "large")
            MakeLargeMbtiles(path);
        else
            std::filesystem::copy_file(c.file, path);
        LoadedPlugin plugin(c.library);
        ASSERT_EQ(plugin.LoadError(), "");
        Action action(plugin);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        if (c.store) {
            ASSERT_EQ(action.Store(c.store, "stored before the stream"), kDone) << action.ErrorText();
        }

        Collect streamed;
        ASSERT_EQ(table->StreamPlates(action.Raw(), &Collect::Add, &streamed), kDone) << action.ErrorText();
        const std::string streamNotice = action.ErrorText();
        EXPECT_EQ(streamed.twice, 0);
        std::vector<Plate> listed;
        ASSERT_EQ(action.Enumerate(&listed), kDone) << action.ErrorText();
        // A stream the program may list from tells what it passed over as
        // the listing does ("Left out 2 rows not tiles: ...").
        const bool whole = table->size > offsetof(PlateStreamExtension, flags) && (table->flags & ULMORA_STREAM_WHOLE);
        EXPECT_EQ(whole, std::string(c.library) == MBTILES_PLUGIN);
        if (whole) {
            EXPECT_EQ(streamNotice, action.ErrorText());
        }
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(streamed.plates.size(), listed.size());
        for (const Plate& plate : listed) {
            SCOPED_TRACE(plate.name);
            const auto found = streamed.plates.find(plate.name);
            ASSERT_NE(found, streamed.plates.end()) << "listed, not streamed";
            EXPECT_EQ(found->second.number, plate.number);
            std::string bytes;
            const uint32_t read = action.GetPlateData(plate.name, &bytes);
            ASSERT_TRUE(read == Done || read == Empty) << action.ErrorText();
            EXPECT_EQ(found->second.data, bytes);
            EXPECT_EQ(found->second.withData, !bytes.empty());
        }
        if (c.store) {
            ASSERT_TRUE(streamed.plates.count(c.store));
            EXPECT_EQ(streamed.plates[c.store].data, "stored before the stream");
        }
    }
}

// The callback's 0 stops the stream at once, with Aborted; the storage
// stays usable.
TEST(PlateStreamExtension, ACallbackAnswering0StopsTheStream) {
    const std::string fixtures = FIXTURE_DIR;
    const std::vector<std::pair<const char*, std::string>> cases = {
        {MBTILES_PLUGIN, fixtures + "/gdal-world.mbtiles"},
        {GEOPACKAGE_PLUGIN, fixtures + "/geopackage/world.gpkg"},
        {PMTILES_PLUGIN, fixtures + "/pmtiles/stamen-toner-raster-z3.pmtiles"},
        {MBTILES_PLUGIN, "large"},
    };
    for (auto [library, file] : cases) {
        SCOPED_TRACE(file);
        TempDir folder;
        if (file == "large") {
            file = folder / "large.mbtiles";
            MakeLargeMbtiles(file);
        }
        const PlateStreamExtension* table = StreamTable(library);
        ASSERT_NE(table, nullptr);
        LoadedPlugin plugin(library);
        Action action(plugin);
        ASSERT_TRUE(action.Open(file)) << action.ErrorText();
        // The large file also in a later chunk of its worker.
        for (const int stopAt : {2, 9000}) {
            if (stopAt > 2 && !file.ends_with("large.mbtiles"))
                continue;
            Collect streamed;
            streamed.stopAt = stopAt;
            EXPECT_EQ(table->StreamPlates(action.Raw(), &Collect::Add, &streamed), kAborted);
            EXPECT_EQ(streamed.calls, stopAt);
        }
        std::vector<Plate> listed;
        EXPECT_EQ(action.Enumerate(&listed), kDone) << action.ErrorText();
        EXPECT_GT(listed.size(), 2u);
    }
}

} // namespace storage_test
