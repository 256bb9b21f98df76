// The metadata extension of the shipped plugins, driven through the contract
// header alone: QueryPluginExtension looked up as a host does, the table read
// and written, and the result checked against SQLite where the file is one.
#include "plugin_host.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace storage_test {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;
constexpr uint32_t kDone = Done, kEmpty = Empty, kFailed = Failed;

// The plugin's metadata table, found the way the program finds it.
const MetadataExtension* MetadataTable(const char* library) {
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    auto query = reinterpret_cast<QueryPluginExtensionFn>(dlsym(handle, "QueryPluginExtension"));
    // The handle stays open: the table lives in the library.
    return query ? static_cast<const MetadataExtension*>(query(ULMORA_METADATA_EXTENSION)) : nullptr;
}

uint32_t ULMORA_CALL Collect(void* cookie, const char* key, const char* value) {
    static_cast<Entries*>(cookie)->emplace_back(key, value);
    return 1;
}

uint32_t Read(const MetadataExtension* table, Action& action, Entries* entries) {
    entries->clear();
    return table->ReadMetadata(action.Raw(), &Collect, entries);
}

// The metadata rows as SQLite has them: the oracle.
Entries SqlMetadata(const std::string& path) {
    SqliteDb db(path);
    sqlite3_stmt* stmt = nullptr;
    Entries entries;
    sqlite3_prepare_v2(db.get(), "SELECT name, value FROM metadata", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        entries.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                             reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
    sqlite3_finalize(stmt);
    return entries;
}

TEST(MetadataExtension, OtherIdsAndVersionsAreAnsweredWithNull) {
    void* handle = dlopen(MBTILES_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr);
    auto query = reinterpret_cast<QueryPluginExtensionFn>(dlsym(handle, "QueryPluginExtension"));
    ASSERT_NE(query, nullptr);
    for (const char* id : {"ulmora.metadata/2", "ulmora.metadata", "", "ulmora.metadata/1x"})
        EXPECT_EQ(query(id), nullptr) << id;
    const auto* table = static_cast<const MetadataExtension*>(query(ULMORA_METADATA_EXTENSION));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->magic, ULMORA_PLUGIN_MAGIC);
    EXPECT_GE(table->size, sizeof(MetadataExtension));
    dlclose(handle);
}

// Files of other writers: the rows as they wrote them, in their order.
TEST(MetadataExtension, MbtilesReadsTheMetadataRowsOfOtherWriters) {
    const MetadataExtension* table = MetadataTable(MBTILES_PLUGIN);
    ASSERT_NE(table, nullptr);
    LoadedPlugin plugin(MBTILES_PLUGIN);
    struct Case {
        const char* file;
        uint32_t result;
        const char* name; // the "name" row; null: none
    };
    const Case cases[] = {
        {"gdal-world.mbtiles", kDone, "Ulmora test world"},
        {"gdal-empty.mbtiles", kDone, "gdal-empty"},
        {"mapproxy-debug.mbtiles", kEmpty, nullptr}, // MapProxy leaves its metadata table empty
        {"grids.mbtiles", kDone, "Ulmora grids"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(FIXTURE_DIR "/") + c.file;
        Action action(plugin);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), c.result);
        EXPECT_EQ(entries, SqlMetadata(path));
        if (c.name) {
            EXPECT_NE(std::find(entries.begin(), entries.end(), std::pair<std::string, std::string>("name", c.name)),
                      entries.end());
        }
    }
}

TEST(MetadataExtension, MbtilesSetsAndDeletesKeysDurably) {
    const MetadataExtension* table = MetadataTable(MBTILES_PLUGIN);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->WriteMetadata, nullptr);
    LoadedPlugin plugin(MBTILES_PLUGIN);
    TempDir dir;
    const std::string world = dir / "world.mbtiles";
    std::filesystem::copy_file(FIXTURE_DIR "/gdal-world.mbtiles", world);
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(world));
        // A store pending in the plugin's batch is committed with the change.
        ASSERT_EQ(action.Delete("t"), kDone);
        struct Step {
            const char* key;
            const char* value; // null: delete
            uint32_t result;
        };
        const Step steps[] = {
            {"name", "Renamed world", kDone},     {"attribution", "© contributors", kDone},
            {"description", nullptr, kDone},      {"description", nullptr, kEmpty},
            {"json", "{\"a\": \"b\"}", kDone},    {"json", "{}", kDone},
        };
        for (const Step& step : steps)
            EXPECT_EQ(table->WriteMetadata(action.Raw(), step.key, step.value), step.result) << step.key;
        // Seen by another connection while the action is still open.
        const Entries expected = {{"type", "overlay"},  {"version", "1.1"},  {"format", "jpg"},
                                  {"bounds", "-180,-85.0511287798066036,180,85.0511287798066036"},
                                  {"maxzoom", "2"},     {"minzoom", "0"},    {"name", "Renamed world"},
                                  {"attribution", "© contributors"},         {"json", "{}"}};
        EXPECT_EQ(SqlMetadata(world), expected);
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), kDone);
        EXPECT_EQ(entries, expected);
    }
    SqliteDb db(world);
    EXPECT_EQ(db.Int("SELECT count(*) FROM tiles WHERE zoom_level = 0"), 0);
}

TEST(MetadataExtension, MbtilesWritesIntoAnEmptyFileAndNotIntoAReadOnlyOne) {
    const MetadataExtension* table = MetadataTable(MBTILES_PLUGIN);
    ASSERT_NE(table, nullptr);
    LoadedPlugin plugin(MBTILES_PLUGIN);
    TempDir dir;
    // An empty file (a copy's new target) gets the MBTiles tables with its
    // first key, as with its first plate.
    const std::string fresh = dir / "fresh.mbtiles";
    WriteFile(fresh, "");
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(fresh));
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), kEmpty);
        EXPECT_EQ(table->WriteMetadata(action.Raw(), "absent", nullptr), kEmpty);
        EXPECT_EQ(table->WriteMetadata(action.Raw(), "name", "Fresh"), kDone);
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kEmpty);
    }
    EXPECT_EQ(SqlMetadata(fresh), (Entries{{"name", "Fresh"}}));

    const std::string locked = dir / "locked.mbtiles";
    std::filesystem::copy_file(FIXTURE_DIR "/gdal-world.mbtiles", locked);
    chmod(locked.c_str(), 0444);
    Action action(plugin);
    ASSERT_TRUE(action.Open(locked));
    EXPECT_EQ(table->WriteMetadata(action.Raw(), "name", "Changed"), kFailed);
    EXPECT_NE(action.ErrorText().find("read-only"), std::string::npos) << action.ErrorText();
    EXPECT_EQ(SqlMetadata(locked), SqlMetadata(FIXTURE_DIR "/gdal-world.mbtiles"));
}

// The pyramid the plates come from, in the format's own columns; the
// columns are the format's bookkeeping, so the table offers no writing.
TEST(MetadataExtension, GeoPackageReadsItsPyramidsRows) {
    const MetadataExtension* table = MetadataTable(GEOPACKAGE_PLUGIN);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->WriteMetadata, nullptr);
    LoadedPlugin plugin(GEOPACKAGE_PLUGIN);
    const std::string mercator = "-20037508.3427892";
    const std::string mercatorMax = "20037508.3427892";
    struct Case {
        const char* file;
        Entries expected;
    };
    const Case cases[] = {
        {"world.gpkg",
         {{"gpkg_contents.table_name", "world"}, {"gpkg_contents.data_type", "tiles"},
          {"gpkg_contents.identifier", "world"}, {"gpkg_contents.description", ""},
          {"gpkg_contents.last_change", "2026-12-10T13:40:23.175Z"}, {"gpkg_contents.min_x", mercator},
          {"gpkg_contents.min_y", mercator}, {"gpkg_contents.max_x", mercatorMax},
          {"gpkg_contents.max_y", mercatorMax}, {"gpkg_contents.srs_id", "3857"},
          {"gpkg_tile_matrix_set.table_name", "world"}, {"gpkg_tile_matrix_set.srs_id", "3857"},
          {"gpkg_tile_matrix_set.min_x", mercator}, {"gpkg_tile_matrix_set.min_y", mercator},
          {"gpkg_tile_matrix_set.max_x", mercatorMax}, {"gpkg_tile_matrix_set.max_y", mercatorMax},
          {"gpkg_tile_matrix.zoom_level", "0,1,2"}}},
        // Three pyramids: the first Web-Mercator one is described, not the
        // geographic one before it.
        {"several.gpkg",
         {{"gpkg_contents.table_name", "mercator_webp"}, {"gpkg_contents.data_type", "tiles"},
          {"gpkg_contents.identifier", "mercator_webp"}, {"gpkg_contents.description", ""},
          {"gpkg_contents.last_change", "2026-12-10T13:40:24.556Z"}, {"gpkg_contents.min_x", mercator},
          {"gpkg_contents.min_y", mercator}, {"gpkg_contents.max_x", mercatorMax},
          {"gpkg_contents.max_y", mercatorMax}, {"gpkg_contents.srs_id", "3857"},
          {"gpkg_tile_matrix_set.table_name", "mercator_webp"}, {"gpkg_tile_matrix_set.srs_id", "3857"},
          {"gpkg_tile_matrix_set.min_x", mercator}, {"gpkg_tile_matrix_set.min_y", mercator},
          {"gpkg_tile_matrix_set.max_x", mercatorMax}, {"gpkg_tile_matrix_set.max_y", mercatorMax},
          {"gpkg_tile_matrix.zoom_level", "0,1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Action action(plugin);
        ASSERT_TRUE(action.Open(std::string(FIXTURE_DIR "/geopackage/") + c.file)) << action.ErrorText();
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), kDone);
        EXPECT_EQ(entries, c.expected);
    }
}

// An archive's header fields and JSON members, and a tile tree's
// descriptions, as other tools wrote them; neither read nor written keys
// change the tree's reading (a written metadata.json keeps its row order).
TEST(MetadataExtension, PmtilesAndFoldersReadWhatOtherToolsWrote) {
    struct Case {
        const char* plugin;
        std::string path;
        Entries expected;
    };
    const Entries stamenHeader = {
        {"header.min_zoom", "0"},          {"header.max_zoom", "3"},          {"header.bounds", "-180,-85,180,85"},
        {"header.center", "0,0,0"},        {"header.tile_type", "png"},       {"header.tile_compression", "none"},
        {"header.addressed_tiles", "85"},  {"header.tile_entries", "84"},     {"header.tile_contents", "80"},
        {"header.clustered", "true"}};
    const Case cases[] = {
        {PMTILES_PLUGIN, FIXTURE_DIR "/pmtiles/stamen-toner-raster-z3.pmtiles", stamenHeader},
        {PMTILES_PLUGIN,
         FIXTURE_DIR "/pmtiles/test_fixture_1.pmtiles",
         {{"header.min_zoom", "0"},
          {"header.max_zoom", "0"},
          {"header.bounds", "0,0,0.9999999,1"},
          {"header.center", "0,0,0"},
          {"header.tile_type", "mvt"},
          {"header.tile_compression", "gzip"},
          {"header.addressed_tiles", "1"},
          {"header.tile_entries", "1"},
          {"header.tile_contents", "1"},
          {"header.clustered", "false"},
          {"name", "test_fixture_1.pmtiles"},
          {"description", "test_fixture_1.pmtiles"},
          {"version", "2"},
          {"type", "overlay"},
          {"generator", "tippecanoe v2.5.0"},
          {"generator_options", "./tippecanoe -zg -o test_fixture_1.pmtiles --force"},
          {"vector_layers",
           "[{\"id\":\"test_fixture_1pmtiles\",\"description\":\"\",\"minzoom\":0,\"maxzoom\":0,\"fields\":{}}]"},
          {"tilestats", "{\"layerCount\":1,\"layers\":[{\"layer\":\"test_fixture_1pmtiles\",\"count\":1,"
                        "\"geometry\":\"Polygon\",\"attributeCount\":0,\"attributes\":[]}]}"}}},
        {FOLDER_PLUGIN,
         FIXTURE_DIR "/folders/gdal-tms",
         {{"tilemapresource.title", "Europe"},
          {"tilemapresource.srs", "EPSG:3857"},
          {"tilemapresource.bounding_box", "-10.00000000000000,33.38829862187309,30.00000000000000,59.99999999999999"},
          {"tilemapresource.origin", "-10.00000000000000,33.38829862187309"},
          {"tilemapresource.tile_size", "256"},
          {"tilemapresource.tile_format", "png"},
          {"tilemapresource.mime_type", "image/png"},
          {"tilemapresource.zoom_levels", "0,1,2,3"}}},
        {FOLDER_PLUGIN, FIXTURE_DIR "/folders/gdal-xyz", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const MetadataExtension* table = MetadataTable(c.plugin);
        ASSERT_NE(table, nullptr);
        LoadedPlugin plugin(c.plugin);
        Action action(plugin);
        ASSERT_TRUE(action.Open(c.path)) << action.ErrorText();
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), c.expected.empty() ? kEmpty : kDone) << action.ErrorText();
        EXPECT_EQ(entries, c.expected);
    }
}

TEST(MetadataExtension, FolderWritesAMetadataJsonThatKeepsTheRowOrder) {
    const MetadataExtension* table = MetadataTable(FOLDER_PLUGIN);
    ASSERT_NE(table, nullptr);
    LoadedPlugin plugin(FOLDER_PLUGIN);
    struct Case {
        const char* layout; // given in the path of the first open
        const char* notice; // of the reopened tree
        Entries marker;     // what the TMS marker written with the plates says
    };
    const Case cases[] = {{"xyz", "layout: xyz, rows from the top (metadata.json)", {}},
                          {"tms", "layout: tms, rows from the bottom (tilemapresource.xml)",
                           {{"tilemapresource.srs", "EPSG:3857"}}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layout);
        TempDir dir;
        const std::string tree = dir / "tree";
        std::filesystem::create_directory(tree);
        {
            Action action(plugin);
            ASSERT_TRUE(action.Open(tree + "?layout=" + c.layout)) << action.ErrorText();
            ASSERT_EQ(action.Store("tq", std::string("\x89PNG\r\n\x1a\n", 8)), kDone) << action.ErrorText();
            EXPECT_EQ(table->WriteMetadata(action.Raw(), "name", "Tree"), kDone) << action.ErrorText();
            EXPECT_EQ(table->WriteMetadata(action.Raw(), "bounds", "-180,0,0,85"), kDone);
            EXPECT_EQ(table->WriteMetadata(action.Raw(), "absent", nullptr), kEmpty);
            EXPECT_EQ(table->WriteMetadata(action.Raw(), "tilemapresource.title", "x"), kFailed);
        }
        Action action(plugin);
        ASSERT_TRUE(action.Open(tree)) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        ASSERT_EQ(plates.size(), 1u);
        EXPECT_EQ(plates[0].name, "tq");
        EXPECT_EQ(action.ErrorText(), c.notice);
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), kDone);
        Entries expected = {{"name", "Tree"}, {"scheme", c.layout}, {"bounds", "-180,0,0,85"}};
        expected.insert(expected.end(), c.marker.begin(), c.marker.end());
        EXPECT_EQ(entries, expected);
    }
}

} // namespace
} // namespace storage_test
