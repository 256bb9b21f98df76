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

// The pyramid the plates come from, in the format's own columns.
TEST(MetadataExtension, GeoPackageReadsItsPyramidsRows) {
    const MetadataExtension* table = MetadataTable(GEOPACKAGE_PLUGIN);
    ASSERT_NE(table, nullptr);
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
          {"gpkg_tile_matrix.zoom_level", "0,1,2"}, {"AREA_OR_POINT", "Area"}}},
        // Three pyramids: the first Web-Mercator one is described, not the
        // geographic one before it; GDAL's metadata document follows the
        // columns.
        {"several.gpkg",
         {{"gpkg_contents.table_name", "mercator_webp"}, {"gpkg_contents.data_type", "tiles"},
          {"gpkg_contents.identifier", "mercator_webp"}, {"gpkg_contents.description", ""},
          {"gpkg_contents.last_change", "2026-12-10T13:40:24.556Z"}, {"gpkg_contents.min_x", mercator},
          {"gpkg_contents.min_y", mercator}, {"gpkg_contents.max_x", mercatorMax},
          {"gpkg_contents.max_y", mercatorMax}, {"gpkg_contents.srs_id", "3857"},
          {"gpkg_tile_matrix_set.table_name", "mercator_webp"}, {"gpkg_tile_matrix_set.srs_id", "3857"},
          {"gpkg_tile_matrix_set.min_x", mercator}, {"gpkg_tile_matrix_set.min_y", mercator},
          {"gpkg_tile_matrix_set.max_x", mercatorMax}, {"gpkg_tile_matrix_set.max_y", mercatorMax},
          {"gpkg_tile_matrix.zoom_level", "0,1"}, {"AREA_OR_POINT", "Area"}}},
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
        // A compact cache keeps no description: what its files show.
        {COMPACT_PLUGIN,
         FIXTURE_DIR "/folders/mapproxy-compact",
         {{"format", "png"}, {"tile_size", "256"}, {"minzoom", "0"}, {"maxzoom", "3"}}},
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

// The pyramid's row of gpkg_contents as SQLite has it: the oracle.
Entries SqlContents(const std::string& path, const std::string& pyramid) {
    SqliteDb db(path);
    sqlite3_stmt* stmt = nullptr;
    Entries entries;
    sqlite3_prepare_v2(db.get(), "SELECT identifier, description, min_x, min_y, max_x, max_y FROM gpkg_contents"
                                 " WHERE table_name = ?1", -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, pyramid.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(stmt) == SQLITE_ROW)
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            if (const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)))
                entries.emplace_back(std::string("gpkg_contents.") + sqlite3_column_name(stmt, i), text);
    sqlite3_finalize(stmt);
    return entries;
}

// The pyramid's name, text and bounds can be changed and cleared, durably
// and with a plate change pending in the batch; the other columns, unknown
// keys and values that are no numbers of metres are refused with a text,
// and leave the row as it was.
TEST(MetadataExtension, GeoPackageChangesItsPyramidsNameTextAndBounds) {
    const MetadataExtension* table = MetadataTable(GEOPACKAGE_PLUGIN);
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->WriteMetadata, nullptr);
    LoadedPlugin plugin(GEOPACKAGE_PLUGIN);
    TempDir dir;
    const std::string several = dir / "several.gpkg";
    std::filesystem::copy_file(FIXTURE_DIR "/geopackage/several.gpkg", several);
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(several)) << action.ErrorText();
        ASSERT_EQ(action.Delete("t"), kDone) << action.ErrorText();
        struct Step {
            const char* key;
            const char* value; // null: delete
            uint32_t result;
            const char* text; // the start of the refusal
        };
        const Step steps[] = {
            {"gpkg_contents.identifier", "Renamed pyramid", kDone, ""},
            {"gpkg_contents.description", "Made by «GDAL»", kDone, ""},
            {"gpkg_contents.min_x", "-1000.5", kDone, ""},
            {"gpkg_contents.max_y", "2.5e6", kDone, ""},
            {"gpkg_contents.min_y", nullptr, kDone, ""},
            {"gpkg_contents.min_y", nullptr, kEmpty, ""},
            {"gpkg_contents.min_y", "-3e6", kDone, ""},
            // Another pyramid of the file has this identifier.
            {"gpkg_contents.identifier", "geographic", kFailed, "Cannot change the metadata: UNIQUE constraint failed"},
            {"gpkg_contents.max_x", "east", kFailed, "gpkg_contents.max_x takes a number of metres, not \"east\""},
            {"gpkg_contents.max_x", "1e999", kFailed, "gpkg_contents.max_x takes a number of metres"},
            {"gpkg_contents.max_x", "", kFailed, "gpkg_contents.max_x takes a number of metres"},
            {"gpkg_contents.srs_id", "4326", kFailed, "gpkg_contents.srs_id cannot be changed: it names the pyramid"},
            {"gpkg_contents.table_name", nullptr, kFailed, "gpkg_contents.table_name cannot be changed"},
            {"gpkg_contents.last_change", "2020-01-01T00:00:00Z", kFailed, "gpkg_contents.last_change cannot be"},
            {"gpkg_tile_matrix_set.min_x", "0", kFailed, "gpkg_tile_matrix_set.min_x cannot be changed: the tiling"},
            {"gpkg_tile_matrix.zoom_level", "0,1,2", kFailed, "gpkg_tile_matrix.zoom_level cannot be changed"},
            // Keys of no column are items of GDAL's metadata document.
            {"attribution", "\u00a9 A & <B> \"c\"", kDone, ""},
            {"name", "MBTiles' key", kDone, ""},
            {"attribution", nullptr, kDone, ""},
            {"attribution", nullptr, kEmpty, ""},
            {"attribution", "\u00a9 again", kDone, ""},
            {"gpkg_other.x", "1", kFailed, "Unknown key \"gpkg_other.x\""},
            {"IDENTIFIER", "x", kFailed, "IDENTIFIER is GDAL's name of a column"},
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.key);
            EXPECT_EQ(table->WriteMetadata(action.Raw(), step.key, step.value), step.result) << action.ErrorText();
            if (step.result == kFailed) {
                EXPECT_EQ(action.ErrorText().rfind(step.text, 0), 0u) << action.ErrorText();
            }
        }
        // On disk while the action is still open, the pending deletion too.
        const Entries expected = {{"gpkg_contents.identifier", "Renamed pyramid"},
                                  {"gpkg_contents.description", "Made by «GDAL»"},
                                  {"gpkg_contents.min_x", "-1000.5"},
                                  {"gpkg_contents.min_y", "-3000000.0"},
                                  {"gpkg_contents.max_x", "20037508.3427892"},
                                  {"gpkg_contents.max_y", "2500000.0"}};
        EXPECT_EQ(SqlContents(several, "mercator_webp"), expected);
        EXPECT_EQ(SqliteDb(several).Int("SELECT count(*) FROM mercator_webp WHERE zoom_level = 0"), 0);
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), kDone);
        for (const auto& entry : expected)
            EXPECT_NE(std::find(entries.begin(), entries.end(), entry), entries.end()) << entry.first;
        const Entries items = {{"name", "MBTiles' key"}, {"attribution", "\u00a9 again"}};
        for (const auto& entry : items)
            EXPECT_EQ(std::count(entries.begin(), entries.end(), entry), 1) << entry.first;
        // The document is the pyramid's alone, as GDAL keeps it.
        EXPECT_EQ(SqliteDb(several).Int("SELECT count(*) FROM gpkg_metadata md JOIN gpkg_metadata_reference r"
                                        " ON md.id = r.md_file_id WHERE r.reference_scope = 'table'"
                                        " AND r.table_name = 'mercator_webp' AND md.md_standard_uri = 'http://gdal.org'"
                                        " AND md.metadata LIKE '%<MDI key=\"attribution\">\u00a9 again</MDI>%'"),
                  1);
        // The next plate stored widens the bounds again.
        ASSERT_EQ(action.Store("t", "world"), kDone) << action.ErrorText();
    }
    SqliteDb db(several);
    EXPECT_EQ(db.Int("SELECT min_x < -20037508 AND min_y < -20037508 AND max_y > 20037508 FROM gpkg_contents"
                     " WHERE table_name = 'mercator_webp'"),
              1);
    EXPECT_EQ(SqlContents(several, "geographic"),
              SqlContents(FIXTURE_DIR "/geopackage/several.gpkg", "geographic"));

    // A refused change with nothing else pending leaves no lock on the file.
    Action action(plugin);
    ASSERT_TRUE(action.Open(several)) << action.ErrorText();
    EXPECT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.identifier", "geographic"), kFailed);
    SqliteDb other(several);
    EXPECT_EQ(sqlite3_exec(other.get(), "BEGIN IMMEDIATE; COMMIT", nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(other.get());
}

// An empty file (a copy's new target) gets its tables with its first key,
// as with its first plate; a read-only file refuses every change.
TEST(MetadataExtension, GeoPackageWritesIntoAnEmptyFileAndNotIntoAReadOnlyOne) {
    const MetadataExtension* table = MetadataTable(GEOPACKAGE_PLUGIN);
    ASSERT_NE(table, nullptr);
    LoadedPlugin plugin(GEOPACKAGE_PLUGIN);
    TempDir dir;
    const std::string fresh = dir / "fresh.gpkg";
    WriteFile(fresh, "");
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(fresh)) << action.ErrorText();
        Entries entries;
        EXPECT_EQ(Read(table, action, &entries), kEmpty);
        EXPECT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.description", nullptr), kEmpty);
        EXPECT_EQ(std::filesystem::file_size(fresh), 0u);
        EXPECT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.description", "Fresh"), kDone)
            << action.ErrorText();
        // Nobody named the pyramid yet: a copy would give it its source's name.
        EXPECT_EQ(Read(table, action, &entries), kDone);
        EXPECT_EQ(SqlContents(fresh, "tiles"), (Entries{{"gpkg_contents.description", "Fresh"}}));
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kEmpty) << action.ErrorText();
    }
    // Closing names it after its file.
    EXPECT_EQ(SqlContents(fresh, "tiles"),
              (Entries{{"gpkg_contents.identifier", "fresh"}, {"gpkg_contents.description", "Fresh"}}));
    // A name given while the file was made is kept.
    const std::string named = dir / "named.gpkg";
    WriteFile(named, "");
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(named)) << action.ErrorText();
        ASSERT_EQ(action.Store("t", "world"), kDone) << action.ErrorText();
        EXPECT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.identifier", "Source name"), kDone)
            << action.ErrorText();
    }
    EXPECT_EQ(SqlContents(named, "tiles")[0], Entries::value_type("gpkg_contents.identifier", "Source name"));

    const std::string locked = dir / "locked.gpkg";
    std::filesystem::copy_file(FIXTURE_DIR "/geopackage/world.gpkg", locked);
    chmod(locked.c_str(), 0444);
    Action action(plugin);
    ASSERT_TRUE(action.Open(locked)) << action.ErrorText();
    EXPECT_EQ(table->WriteMetadata(action.Raw(), "gpkg_contents.description", "Changed"), kFailed);
    EXPECT_NE(action.ErrorText().find("locked.gpkg is read-only"), std::string::npos) << action.ErrorText();
    EXPECT_EQ(SqlContents(locked, "world"), SqlContents(FIXTURE_DIR "/geopackage/world.gpkg", "world"));
}

// A reader of another program that keeps the commit from ending: the change
// is not on disk, so it is not answered Done; closing writes it once the
// reader is gone.
TEST(MetadataExtension, SqliteStoragesDoNotAnswerDoneForAChangeAReaderHoldsBack) {
    const struct {
        const char* plugin;
        const char* fixture;
        const char* file;
        const char* table; // the reader's
        const char* key;
        const char* written; // counts 1 once the change is on disk
    } cases[] = {
        {GEOPACKAGE_PLUGIN, FIXTURE_DIR "/geopackage/world.gpkg", "world.gpkg", "world", "gpkg_contents.description",
         "SELECT count(*) FROM gpkg_contents WHERE description = 'Held'"},
        {MBTILES_PLUGIN, FIXTURE_DIR "/gdal-world.mbtiles", "world.mbtiles", "tiles", "description",
         "SELECT count(*) FROM metadata WHERE name = 'description' AND value = 'Held'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const MetadataExtension* table = MetadataTable(c.plugin);
        ASSERT_NE(table, nullptr);
        LoadedPlugin plugin(c.plugin);
        TempDir dir;
        const std::string path = dir / c.file;
        std::filesystem::copy_file(c.fixture, path);
        Action action(plugin);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        {
            SqliteDb reader(path);
            reader.Exec("BEGIN");
            sqlite3_stmt* stmt = nullptr;
            ASSERT_EQ(sqlite3_prepare_v2(reader.get(), (std::string("SELECT * FROM ") + c.table).c_str(), -1, &stmt,
                                         nullptr),
                      SQLITE_OK);
            ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
            EXPECT_EQ(table->WriteMetadata(action.Raw(), c.key, "Held"), kFailed);
            EXPECT_EQ(action.ErrorText(),
                      std::string("Another program reads ") + c.file + ": the change is written with the next one or on closing");
            sqlite3_finalize(stmt);
            reader.Exec("COMMIT");
        }
        action.Close();
        EXPECT_EQ(SqliteDb(path).Int(c.written), 1);
    }
}

} // namespace
} // namespace storage_test
