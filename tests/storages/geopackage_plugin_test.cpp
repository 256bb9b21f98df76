#include "plate_key.h"
#include "plugin_host.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <filesystem>
#include <map>
#include <set>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kFailed = Failed;
const std::string kFixtures = FIXTURE_DIR "/geopackage/";

// Each tile of a pyramid as read directly with SQLite: the oracle.
struct StoredTile {
    int64_t id;
    std::string data;
};

std::map<std::string, StoredTile> ReadTiles(const std::string& path, const std::string& table) {
    SqliteDb db(path);
    sqlite3_stmt* stmt = nullptr;
    std::map<std::string, StoredTile> tiles;
    const std::string sql = "SELECT id, zoom_level, tile_column, tile_row, tile_data FROM \"" + table + "\"";
    EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto z = static_cast<uint32_t>(sqlite3_column_int(stmt, 1));
        const auto x = static_cast<uint32_t>(sqlite3_column_int(stmt, 2));
        const auto y = static_cast<uint32_t>(sqlite3_column_int(stmt, 3));
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 4));
        tiles[plate_key::Name({z, x, y})] = {sqlite3_column_int64(stmt, 0),
                                             std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(stmt, 4)))};
    }
    sqlite3_finalize(stmt);
    return tiles;
}

uint32_t Store(Action& action, const std::string& name, const std::string& bytes) {
    return action.Raw()->functions->Write(action.Raw(), name.c_str(), bytes.data(),
                                          static_cast<uint32_t>(bytes.size()), WriteModeStore) &
           0xFFFF;
}

// Lists through the plugin and checks every plate against the oracle.
void ExpectListedAsStored(Action& action, const std::map<std::string, StoredTile>& stored) {
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ASSERT_EQ(plates.size(), stored.size());
    std::set<std::string> seen;
    for (size_t i = 0; i < plates.size(); ++i) {
        const Plate& plate = plates[i];
        SCOPED_TRACE(plate.name);
        ASSERT_EQ(stored.count(plate.name), 1u);
        EXPECT_TRUE(seen.insert(plate.name).second);
        EXPECT_EQ(plate.number, stored.at(plate.name).id);
        EXPECT_EQ(plate.size, stored.at(plate.name).data.size());
        if (i > 0) {
            EXPECT_LE(plates[i - 1].name.size(), plate.name.size()) << "listed in zoom order";
        }
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(plate.name, &bytes), kDone) << action.ErrorText();
        EXPECT_EQ(bytes, stored.at(plate.name).data);
    }
}

class GeopackagePlugin : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(plugin_.LoadError(), ""); }

    // A copy of a fixture, changed by `sql` when given.
    std::string Copy(const std::string& fixture, const std::string& sql = "", const std::string& as = "") {
        const std::string path = dir_ / (as.empty() ? fixture : as);
        std::filesystem::copy_file(kFixtures + fixture, path, std::filesystem::copy_options::overwrite_existing);
        if (!sql.empty())
            SqliteDb(path).Exec(sql);
        return path;
    }

    LoadedPlugin plugin_{GEOPACKAGE_PLUGIN};
    TempDir dir_;
};

TEST_F(GeopackagePlugin, ListsAndHandsOutAGdalPyramidAsSqliteReadsIt) {
    const std::string world = Copy("world.gpkg");
    const auto stored = ReadTiles(world, "world");
    ASSERT_EQ(stored.size(), 21u);
    Action action(plugin_);
    ASSERT_TRUE(action.Open(world)) << action.ErrorText();
    ExpectListedAsStored(action, stored);
    // GDAL wrote zoom 2 first, row 0 (the top) first: no flip of rows.
    std::string bytes;
    ASSERT_EQ(action.GetPlateData("tqq", &bytes), kDone);
    EXPECT_EQ(bytes, stored.at(plate_key::Name({2, 0, 0})).data);
    EXPECT_EQ(stored.at("tqq").id, 1);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");
}

// several.gpkg holds a geographic pyramid, then two quadtrees: the first
// quadtree is taken, and its WebP plates decode for the preview.
TEST_F(GeopackagePlugin, TakesTheFirstQuadtreePyramid) {
    const std::string several = Copy("several.gpkg");
    const auto stored = ReadTiles(several, "mercator_webp");
    ASSERT_EQ(stored.size(), 5u);
    ASSERT_EQ(ReadTiles(several, "mercator_jpeg").size(), 1u);
    Action action(plugin_);
    ASSERT_TRUE(action.Open(several)) << action.ErrorText();
    ExpectListedAsStored(action, stored);
    for (const auto& [name, tile] : stored) {
        QImage image;
        ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(tile.data.data()), static_cast<int>(tile.data.size()),
                                       "WEBP"))
            << name << ": no WebP reader (qt6-image-formats-plugins)?";
        EXPECT_EQ(image.size(), QSize(256, 256));
    }
}

TEST_F(GeopackagePlugin, RefusesFilesItCannotReadAndSaysWhy) {
    const std::string text = dir_ / "text.gpkg";
    WriteFile(text, std::string(2048, 'x'));
    struct Case {
        std::string path;
        const char* text;
    };
    const Case cases[] = {
        {Copy("geographic.gpkg"), "Pyramid \"geographic\" is no Web-Mercator quadtree: its SRS is EPSG:4326, not EPSG:3857"},
        {Copy("pseudo-tms.gpkg"), "Pyramid \"pseudo_tms\" is no Web-Mercator quadtree: zoom 0 has 2 x 2 tiles, not 1 x 1"},
        {Copy("world.gpkg", "UPDATE gpkg_tile_matrix SET tile_width = 512 WHERE zoom_level = 1", "big.gpkg"),
         "zoom 1 has tiles of 512 x 256 pixels, not 256"},
        {Copy("world.gpkg", "UPDATE gpkg_tile_matrix_set SET min_x = 0", "half.gpkg"),
         "its extent is not the whole Web-Mercator world"},
        {Copy("world.gpkg", "UPDATE gpkg_tile_matrix_set SET srs_id = 77", "srs.gpkg"),
         "its SRS 77 is not in gpkg_spatial_ref_sys"},
        {Copy("world.gpkg", "DROP TABLE world", "dropped.gpkg"), "its table is missing"},
        {Copy("world.gpkg", "UPDATE gpkg_contents SET data_type = 'features'", "features.gpkg"),
         "has no tile pyramid (no \"tiles\" in gpkg_contents)"},
        {Copy("several.gpkg", "UPDATE gpkg_tile_matrix SET matrix_width = 3 WHERE table_name LIKE 'mercator%'",
              "none.gpkg"),
         "No pyramid is a Web-Mercator quadtree; \"geographic\": its SRS is EPSG:4326"},
        {FIXTURE_DIR "/gdal-world.mbtiles", "gdal-world.mbtiles has no gpkg_contents table: not a GeoPackage"},
        {text, "text.gpkg is not an SQLite database"},
        {FIXTURE_DIR "/pmtiles/empty.pmtiles", "empty.pmtiles is empty: not a GeoPackage"},
    };
    Action action(plugin_);
    for (const Case& c : cases) {
        EXPECT_FALSE(action.Open(c.path)) << c.path;
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << c.path << ": " << action.ErrorText();
    }
}

TEST_F(GeopackagePlugin, DeletesPlatesDurably) {
    const std::string world = Copy("world.gpkg");
    auto stored = ReadTiles(world, "world");
    const std::vector<std::string> gone = {"t", "tqs", "trs", "tsq"};
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(world)) << action.ErrorText();
        for (const std::string& name : gone) {
            ASSERT_EQ(action.Delete(name), kDone) << name << ": " << action.ErrorText();
            stored.erase(name);
        }
        EXPECT_EQ(action.Delete("tqs"), kFailed) << "deleted twice";
        ExpectListedAsStored(action, stored);
    }
    EXPECT_EQ(ReadTiles(world, "world").size(), stored.size());
    Action action(plugin_);
    ASSERT_TRUE(action.Open(world)) << action.ErrorText();
    ExpectListedAsStored(action, stored);
}

// New plates at a known and at a new zoom, a replaced plate, and enough
// stores to span several batches: seen at once, and after closing both by
// SQLite and by the plugin.
TEST_F(GeopackagePlugin, StoresPlatesDurablyAndDescribesNewZoomLevels) {
    const std::string world = Copy("world.gpkg");
    auto stored = ReadTiles(world, "world");
    const int64_t replacedId = stored.at("tqr").id;
    std::map<std::string, std::string> written = {{"tqr", "replaced"}, {"t" + std::string(3, 'r'), "zoom 3"}};
    // Zoom 6 whole: 4096 plates, more than a batch holds. GDAL bounded the
    // pyramid by its image; shrink them so that the stores must grow them.
    SqliteDb(world).Exec("UPDATE gpkg_contents SET min_x = 0, min_y = 0, max_x = 1, max_y = 1");
    for (uint32_t x = 0; x < 64; ++x)
        for (uint32_t y = 0; y < 64; ++y)
            written[plate_key::Name({6, x, y})] = "tile " + std::to_string(x) + "/" + std::to_string(y);
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(world)) << action.ErrorText();
        for (const auto& [name, bytes] : written)
            ASSERT_EQ(Store(action, name, bytes), kDone) << name << ": " << action.ErrorText();
        std::string bytes;
        ASSERT_EQ(action.GetPlateData("trrr", &bytes), kDone) << action.ErrorText();
        EXPECT_EQ(bytes, "zoom 3");
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        EXPECT_EQ(plates.size(), 21u + 1 + 4096);
    }
    const auto after = ReadTiles(world, "world");
    ASSERT_EQ(after.size(), 21u + 1 + 4096);
    for (const auto& [name, bytes] : written)
        EXPECT_EQ(after.at(name).data, bytes) << name;
    EXPECT_EQ(after.at("tqr").id, replacedId) << "a replaced plate keeps its number";
    SqliteDb db(world);
    EXPECT_EQ(db.Int("SELECT matrix_width * 1000 + matrix_height FROM gpkg_tile_matrix"
                     " WHERE table_name = 'world' AND zoom_level = 6"),
              64064);
    EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_tile_matrix WHERE table_name = 'world'"), 5);
    EXPECT_EQ(db.Int("SELECT abs(pixel_x_size - 2445.98490512564) < 1e-6 FROM gpkg_tile_matrix"
                     " WHERE table_name = 'world' AND zoom_level = 6"),
              1);

    EXPECT_EQ(db.Int("SELECT abs(min_x + 20037508.342789244) < 1e-6 AND abs(min_y + 20037508.342789244) < 1e-6"
                     " AND abs(max_x - 20037508.342789244) < 1e-6 AND abs(max_y - 20037508.342789244) < 1e-6"
                     " FROM gpkg_contents WHERE table_name = 'world'"),
              1)
        << "the pyramid's bounds take in the stored plates";

    Action action(plugin_);
    ASSERT_TRUE(action.Open(world)) << action.ErrorText() << ": the stored zooms must still be a quadtree";
    ExpectListedAsStored(action, after);
}

// Rows whose coordinates are no integers would read as zoom 0 or column 0:
// second copies of real plates. They are left out and counted.
TEST_F(GeopackagePlugin, LeavesOutRowsWhoseCoordinatesAreNoIntegers) {
    struct Case {
        const char* label;
        const char* sql;    // changes world.gpkg (21 plates)
        const char* notice; // the text after the listing
    };
    const Case cases[] = {
        {"table", "DROP TRIGGER world_zoom_insert; DROP TRIGGER world_tile_column_insert;"
                  " DROP TRIGGER world_tile_row_insert;"
                  " INSERT INTO world (zoom_level, tile_column, tile_row, tile_data) VALUES "
                  "('a', 0, 0, x'01'), (1, 0.5, 0, x'02'), (2, 1, 'one', x'03');",
         "Left out 3 rows not tiles: 3 not integers"},
        {"view with NULLs and a zoom of 40",
         "ALTER TABLE world RENAME TO world_rows;"
         " CREATE VIEW world AS SELECT zoom_level, tile_column, tile_row, tile_data FROM world_rows"
         " UNION ALL SELECT NULL, 0, 0, x'05' UNION ALL SELECT 0, NULL, 0, x'06' UNION ALL SELECT 40, 0, 0, x'07';",
         "Left out 3 rows not tiles: 1 zoom not 0-30, 2 not integers"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = Copy("world.gpkg", c.sql, "bad" + std::to_string(n++) + ".gpkg");
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        EXPECT_EQ(action.ErrorText(), c.notice);
        std::set<std::string> names;
        for (const Plate& plate : plates)
            EXPECT_TRUE(names.insert(plate.name).second) << plate.name << " listed twice";
        EXPECT_EQ(plates.size(), 21u);
    }
    // Nothing but such rows: no plates, and the listing says why.
    const std::string only = Copy("world.gpkg",
                                  "ALTER TABLE world RENAME TO world_rows;"
                                  " CREATE VIEW world AS SELECT 'a' AS zoom_level, 0 AS tile_column, 0 AS tile_row,"
                                  " x'01' AS tile_data;",
                                  "only.gpkg");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(only)) << action.ErrorText();
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), kFailed);
    EXPECT_TRUE(plates.empty());
    EXPECT_EQ(action.ErrorText(), "No tiles; 1 row not tiles: 1 not integers");
}

} // namespace
} // namespace storage_test
