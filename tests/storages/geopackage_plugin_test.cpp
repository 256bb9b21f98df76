#include "plate_key.h"
#include "plugin_host.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kFailed = Failed, kEmpty = Empty;
const std::string kFixtures = FIXTURE_DIR "/geopackage/";
constexpr double kHalfWorld = 20037508.342789244;

// The tiles of an MBTiles file as SQLite reads them, by plate name (MBTiles
// rows count from the bottom).
std::map<std::string, std::string> MbtilesTiles(const std::string& path) {
    SqliteDb db(path);
    sqlite3_stmt* stmt = nullptr;
    std::map<std::string, std::string> tiles;
    EXPECT_EQ(sqlite3_prepare_v2(db.get(), "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles", -1, &stmt,
                                 nullptr),
              SQLITE_OK);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto z = static_cast<uint32_t>(sqlite3_column_int(stmt, 0));
        const auto x = static_cast<uint32_t>(sqlite3_column_int(stmt, 1));
        const auto y = plate_key::FlipRow(z, static_cast<uint32_t>(sqlite3_column_int(stmt, 2)));
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 3));
        tiles[plate_key::Name({z, x, y})] = std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(stmt, 3)));
    }
    sqlite3_finalize(stmt);
    return tiles;
}

// What a command prints (both streams); *status is its exit status.
std::string RunCommand(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    *status = pipe ? pclose(pipe) : -1;
    return output;
}

// GDAL's reading of one zoom level of a file: its size and each band's
// checksum of the decoded pixels.
std::string GdalPixels(const std::string& path, uint32_t zoom) {
    int status = 0;
    const std::string info =
        RunCommand("gdalinfo -checksum -oo ZOOM_LEVEL=" + std::to_string(zoom) + " '" + path + "'", &status);
    EXPECT_EQ(status, 0) << info;
    std::istringstream lines(info);
    std::string line, pixels;
    while (std::getline(lines, line))
        if (line.find("Size is") != std::string::npos || line.find("Checksum=") != std::string::npos)
            pixels += line + "\n";
    return pixels;
}

// What GDAL's GeoPackage validator (python3-gdal) finds wrong with a file,
// extra checks and warnings included; empty for a sound file.
std::string GeopackageFaults(const std::string& path) {
    int status = 0;
    const std::string faults = RunCommand(
        "/usr/bin/python3 -m osgeo_utils.samples.validate_gpkg -k --extra --warning-as-error '" + path + "'", &status);
    return status == 0 ? faults : "status " + std::to_string(status) + ": " + faults;
}

// An image of `side` pixels, encoded as `format`, different for each seed.
std::string EncodedImage(int side, const char* format, int seed) {
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((seed * 47) % 360, 200, 220));
    QPainter(&image).fillRect(0, 0, side / 2, side / 4, Qt::black);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format)) << format;
    return bytes.toStdString();
}

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
        // An empty file that may be written is a new GeoPackage; one that
        // may not is nothing.
        {Copy("../pmtiles/empty.pmtiles", "", "empty.gpkg"), "empty.gpkg is empty: not a GeoPackage"},
    };
    ASSERT_EQ(chmod((dir_ / "empty.gpkg").c_str(), 0444), 0);
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

// A copy's new target: the tiles of files GDAL and MapProxy wrote, stored
// into an empty file, make a GeoPackage that this plugin lists tile by tile
// as they were and that GDAL decodes to the pixels it decodes the source to.
TEST_F(GeopackagePlugin, AnEmptyFileBecomesAPyramidThatGdalReads) {
    struct Case {
        const char* fixture;
        uint32_t maxZoom;
        const char* size; // GDAL's size of the deepest level
    };
    const Case cases[] = {
        {"gdal-world.mbtiles", 2, "Size is 1024, 1024"},
        {"mapproxy-debug.mbtiles", 1, "Size is 512, 512"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        const std::string source = std::string(FIXTURE_DIR "/") + c.fixture;
        const auto tiles = MbtilesTiles(source);
        ASSERT_FALSE(tiles.empty());
        const std::string stem = std::filesystem::path(c.fixture).stem().string();
        const std::string path = dir_ / (stem + ".gpkg");
        WriteFile(path, "");
        {
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path)) << action.ErrorText();
            std::vector<Plate> plates;
            EXPECT_EQ(action.Enumerate(&plates), kEmpty) << action.ErrorText();
            for (const auto& [name, bytes] : tiles)
                ASSERT_EQ(action.Store(name, bytes), kDone) << name << ": " << action.ErrorText();
        }
        {
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path)) << action.ErrorText();
            std::vector<Plate> plates;
            ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
            EXPECT_EQ(plates.size(), tiles.size());
            for (const auto& [name, bytes] : tiles) {
                std::string read;
                ASSERT_EQ(action.GetPlateData(name, &read), kDone) << name << ": " << action.ErrorText();
                EXPECT_EQ(read, bytes) << name;
            }
        }

        SqliteDb db(path);
        EXPECT_EQ(db.Int("PRAGMA application_id"), 0x47504B47) << "'GPKG'";
        EXPECT_EQ(db.Int("PRAGMA user_version"), 10300);
        EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_spatial_ref_sys WHERE srs_id IN (-1, 0, 4326, 3857)"), 4);
        EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_contents WHERE table_name = 'tiles' AND data_type = 'tiles'"
                         " AND identifier = '" + stem + "' AND srs_id = 3857"),
                  1);
        // The tiles cover the whole world: so do the bounds.
        EXPECT_EQ(db.Int("SELECT abs(min_x + " + std::to_string(kHalfWorld) + ") < 1 AND abs(max_y - " +
                         std::to_string(kHalfWorld) + ") < 1 FROM gpkg_contents"),
                  1);
        for (uint32_t z = 0; z <= c.maxZoom; ++z) {
            const std::string side = std::to_string(1 << z);
            EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_tile_matrix WHERE table_name = 'tiles' AND zoom_level = " +
                             std::to_string(z) + " AND matrix_width = " + side + " AND matrix_height = " + side +
                             " AND tile_width = 256 AND tile_height = 256 AND abs(pixel_x_size - " +
                             std::to_string(2 * kHalfWorld / 256 / (1 << z)) + ") < 1e-3"),
                      1)
                << "zoom " << z;
        }
        EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_tile_matrix"), c.maxZoom + 1);

        EXPECT_EQ(GeopackageFaults(path), "");
        int status = 0;
        const std::string info = RunCommand("gdalinfo '" + path + "'", &status);
        ASSERT_EQ(status, 0) << info;
        EXPECT_NE(info.find("Driver: GPKG/GeoPackage"), std::string::npos) << info;
        EXPECT_NE(info.find(c.size), std::string::npos) << info;
        EXPECT_NE(info.find("ZOOM_LEVEL=" + std::to_string(c.maxZoom)), std::string::npos) << info;
        EXPECT_NE(info.find("Band 4 Block=256x256"), std::string::npos) << info;
        for (const uint32_t zoom : {0u, c.maxZoom}) {
            const std::string pixels = GdalPixels(path, zoom);
            EXPECT_NE(pixels.find("Checksum="), std::string::npos) << pixels;
            EXPECT_EQ(pixels, GdalPixels(source, zoom)) << "zoom " << zoom;
        }
    }
}

// Each zoom level is described with the size of its tiles, 256 or 512
// pixels; WebP tiles register the format's WebP extension. GDAL reads both.
TEST_F(GeopackagePlugin, DescribesLevelsByTheirTilesSizeAndRegistersWebp) {
    struct Case {
        const char* format;
        int side;
    };
    for (const Case c : {Case{"PNG", 512}, Case{"JPEG", 512}, Case{"WEBP", 256}}) {
        SCOPED_TRACE(c.format);
        const std::string path = dir_ / (std::string(c.format) + ".gpkg");
        WriteFile(path, "");
        {
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path)) << action.ErrorText();
            int seed = 0;
            for (const char* name : {"t", "tq", "tr", "ts", "tt"})
                ASSERT_EQ(action.Store(name, EncodedImage(c.side, c.format, ++seed)), kDone) << action.ErrorText();
        }
        SqliteDb db(path);
        EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_tile_matrix WHERE tile_width = " + std::to_string(c.side) +
                         " AND tile_height = tile_width AND abs(pixel_x_size * tile_width * matrix_width - " +
                         std::to_string(2 * kHalfWorld) + ") < 1e-3"),
                  2);
        if (std::string(c.format) == "WEBP") {
            EXPECT_EQ(db.Int("SELECT count(*) FROM gpkg_extensions WHERE table_name = 'tiles'"
                             " AND column_name = 'tile_data' AND extension_name = 'gpkg_webp'"),
                      1);
        } else {
            EXPECT_EQ(db.Int("SELECT count(*) FROM sqlite_master WHERE name = 'gpkg_extensions'"), 0);
        }
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText() << ": its own pyramid must be a quadtree to it";
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        EXPECT_EQ(plates.size(), 5u);
        EXPECT_EQ(GeopackageFaults(path), "");
        const std::string side = std::to_string(2 * c.side);
        const std::string pixels = GdalPixels(path, 1);
        EXPECT_NE(pixels.find("Size is " + side + ", " + side), std::string::npos) << pixels;
        EXPECT_NE(pixels.find("Checksum="), std::string::npos) << pixels;
    }
}

// An empty file stays empty until something is stored (a first batch that
// fails: sqlite_batches_test).
TEST_F(GeopackagePlugin, AnEmptyFileIsWrittenOnlyByAChange) {
    const std::string path = dir_ / "fresh.gpkg";
    WriteFile(path, "");
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kEmpty);
        EXPECT_EQ(action.ErrorText(), "");
        std::string bytes;
        EXPECT_EQ(action.GetPlateData("tq", &bytes), kFailed);
        EXPECT_EQ(action.ErrorText(), "No plate \"tq\" in fresh.gpkg");
        EXPECT_EQ(action.Delete("tq"), kFailed);
        EXPECT_EQ(action.ErrorText(), "No plate \"tq\" in fresh.gpkg");
    }
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        ASSERT_EQ(action.Store("tq", "first"), kDone) << action.ErrorText();
        std::string bytes;
        ASSERT_EQ(action.GetPlateData("tq", &bytes), kDone) << action.ErrorText();
        EXPECT_EQ(bytes, "first");
    }
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_EQ(plates[0].name, "tq");
}

} // namespace
} // namespace storage_test
