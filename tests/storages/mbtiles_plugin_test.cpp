#include "plate_key.h"
#include "plugin_host.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kEmpty = Empty, kFailed = Failed, kAborted = Aborted;

// Each plate of an MBTiles file as read directly with SQLite: the oracle.
struct StoredTile {
    int64_t rowid;
    std::string data;
};

std::map<std::string, StoredTile> ReadTiles(const std::string& path) {
    SqliteDb db(path);
    sqlite3_stmt* stmt = nullptr;
    std::map<std::string, StoredTile> tiles;
    sqlite3_prepare_v2(db.get(), "SELECT rowid, zoom_level, tile_column, tile_row, tile_data FROM tiles", -1,
                       &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const auto z = static_cast<uint32_t>(sqlite3_column_int(stmt, 1));
        const auto x = static_cast<uint32_t>(sqlite3_column_int(stmt, 2));
        const auto row = static_cast<uint32_t>(sqlite3_column_int(stmt, 3));
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 4));
        if (!plate_key::IsValid({z, x, row}))
            continue; // no tile: it has no name
        tiles[plate_key::Name({z, x, plate_key::FlipRow(z, row)})] = {
            sqlite3_column_int64(stmt, 0), std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(stmt, 4)))};
    }
    sqlite3_finalize(stmt);
    return tiles;
}

class MbtilesPlugin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(plugin_.LoadError(), "");
        std::filesystem::copy_file(FIXTURE_DIR "/gdal-world.mbtiles", world_);
    }

    // An MBTiles file with a plain tiles table made by `sql`.
    std::string MakeFile(const std::string& name, const std::string& sql) {
        const std::string path = dir_ / name;
        SqliteDb db(path);
        db.Exec(sql);
        return path;
    }

    LoadedPlugin plugin_{MBTILES_PLUGIN};
    TempDir dir_;
    const std::string world_ = dir_ / "world.mbtiles";
};

const char* const kPlainSchema =
    "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
    "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);";

TEST_F(MbtilesPlugin, ListsEveryTileOfAGdalFileInZoomOrder) {
    const auto stored = ReadTiles(world_);
    ASSERT_EQ(stored.size(), 21u);
    Action action(plugin_);
    ASSERT_TRUE(action.Open(world_)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone);

    ASSERT_EQ(plates.size(), stored.size());
    std::set<std::string> seen;
    for (size_t i = 0; i < plates.size(); ++i) {
        const Plate& plate = plates[i];
        SCOPED_TRACE(plate.name);
        ASSERT_EQ(stored.count(plate.name), 1u);
        EXPECT_EQ(plate.number, stored.at(plate.name).rowid);
        EXPECT_EQ(plate.size, stored.at(plate.name).data.size());
        EXPECT_TRUE(seen.insert(plate.name).second);
        if (i > 0) {
            EXPECT_LE(plates[i - 1].name.size(), plate.name.size());
        }
    }
    // GDAL wrote the north-west tile of zoom 2 first and the world plate last:
    // MBTiles rows count from the bottom, plate names from the top.
    EXPECT_EQ(plates.front().name, "t");
    EXPECT_EQ(plates.front().number, 21);
    const auto northWest = std::find_if(plates.begin(), plates.end(), [](const Plate& p) { return p.number == 1; });
    ASSERT_NE(northWest, plates.end());
    EXPECT_EQ(northWest->name, "tqq");
}

TEST_F(MbtilesPlugin, HandsOutTheStoredBytesOfEachPlate) {
    const auto stored = ReadTiles(world_);
    Action action(plugin_);
    ASSERT_TRUE(action.Open(world_)) << action.ErrorText();
    for (const auto& [name, tile] : stored) {
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(name, &bytes), kDone) << name << ": " << action.ErrorText();
        EXPECT_EQ(bytes, tile.data) << name;
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8") << name << " is no JPEG";
    }
}

// Plates read in the file's row order come from a walk of the table; every
// other order, rows left out, batches ending mid-walk and changes between
// the reads must still hand out each plate's own bytes.
TEST_F(MbtilesPlugin, HandsOutEachPlateWhateverTheOrderOfTheReads) {
    const std::string path = MakeFile(
        "walk.mbtiles", std::string(kPlainSchema) +
                            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 2999)"
                            " INSERT INTO tiles SELECT 6, i % 64, i / 64, randomblob(20 + i % 30) FROM n;"
                            "DELETE FROM tiles WHERE rowid % 97 = 0;");
    const auto stored = ReadTiles(path);
    std::vector<std::string> byRowid;
    for (const auto& [name, tile] : stored)
        byRowid.push_back(name);
    std::sort(byRowid.begin(), byRowid.end(),
              [&](const std::string& a, const std::string& b) { return stored.at(a).rowid < stored.at(b).rowid; });
    struct Case {
        const char* what;
        std::function<std::vector<std::string>()> order;
        bool writes;
    };
    const Case cases[] = {
        {"row order", [&] { return byRowid; }, false},
        {"reverse row order", [&] { return std::vector<std::string>(byRowid.rbegin(), byRowid.rend()); }, false},
        {"row order, every third left out",
         [&] {
             std::vector<std::string> names;
             for (size_t i = 0; i < byRowid.size(); ++i)
                 if (i % 3 != 2)
                     names.push_back(byRowid[i]);
             return names;
         },
         false},
        {"row order with stores and deletions ahead", [&] { return byRowid; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::copy_file(path, dir_ / "copy.mbtiles", std::filesystem::copy_options::overwrite_existing);
        std::map<std::string, std::string> oracle;
        for (const auto& [name, tile] : stored)
            oracle[name] = tile.data;
        Action action(plugin_);
        ASSERT_TRUE(action.Open(dir_ / "copy.mbtiles")) << action.ErrorText();
        const std::vector<std::string> names = c.order();
        for (size_t i = 0; i < names.size(); ++i) {
            std::string bytes;
            const auto expected = oracle.find(names[i]);
            if (expected == oracle.end()) {
                EXPECT_EQ(action.GetPlateData(names[i], &bytes), kFailed) << names[i] << " was deleted";
                continue;
            }
            ASSERT_EQ(action.GetPlateData(names[i], &bytes), kDone) << names[i] << ": " << action.ErrorText();
            ASSERT_EQ(bytes, expected->second) << names[i];
            // The next row goes, the one after it moves to the end with new bytes.
            if (c.writes && i % 50 == 0 && i + 2 < names.size()) {
                ASSERT_EQ(action.Delete(names[i + 1]), kDone) << action.ErrorText();
                oracle.erase(names[i + 1]);
                const std::string changed = "changed " + names[i + 2];
                ASSERT_EQ(action.Store(names[i + 2], changed), kDone) << action.ErrorText();
                oracle[names[i + 2]] = changed;
            }
        }
    }
}

TEST_F(MbtilesPlugin, DeletesPlatesForGood) {
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(world_)) << action.ErrorText();
        EXPECT_EQ(action.Delete("tqq"), kDone) << action.ErrorText();
        EXPECT_EQ(action.Delete("t"), kDone) << action.ErrorText();
        std::string bytes;
        EXPECT_EQ(action.GetPlateData("tqq", &bytes), kFailed);
        EXPECT_EQ(action.Delete("tqq"), kFailed);
        EXPECT_NE(action.ErrorText().find("No plate"), std::string::npos) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kDone);
        EXPECT_EQ(plates.size(), 19u);
    } // freeing the action commits what is pending
    const auto stored = ReadTiles(world_);
    EXPECT_EQ(stored.size(), 19u);
    EXPECT_EQ(stored.count("tqq"), 0u);
    EXPECT_EQ(stored.count("t"), 0u);
}

TEST_F(MbtilesPlugin, CommitsDeletionsInBatchesWhileOpen) {
    const std::string path = MakeFile(
        "many.mbtiles", std::string(kPlainSchema) +
                            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 8799)"
                            " INSERT INTO tiles SELECT 7, i % 128, i / 128, randomblob(100) FROM n;");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    for (uint32_t i = 0; i < 8400; ++i)
        ASSERT_EQ(action.Delete(plate_key::Name({7, i % 128, plate_key::FlipRow(7, i / 128)})), kDone)
            << i << ": " << action.ErrorText();
    // Another reader sees at least the first full batch (8192), as would the
    // next run of the program if this one died now.
    EXPECT_LE(SqliteDb(path).Int("SELECT count(*) FROM tiles"), 8800 - 8192);
    action.Close();
    EXPECT_EQ(SqliteDb(path).Int("SELECT count(*) FROM tiles"), 400);
}

TEST_F(MbtilesPlugin, RefusesToOpenWhatIsNoMbtilesFile) {
    struct Case {
        const char* label;
        std::function<std::string()> make; // returns the path to open
        const char* text;
    };
    const Case cases[] = {
        {"text file",
         [&] {
             WriteFile(dir_ / "text.mbtiles", std::string(600, 'x'));
             return dir_ / "text.mbtiles";
         },
         "not an SQLite database"},
        {"PNG image",
         [&] {
             WriteFile(dir_ / "image.mbtiles", "\x89PNG\r\n\x1a\n" + std::string(1000, '\0'));
             return dir_ / "image.mbtiles";
         },
         "not an SQLite database"},
        {"empty read-only file", // an empty writable file is a new storage
         [&] {
             WriteFile(dir_ / "empty.mbtiles", "");
             chmod((dir_ / "empty.mbtiles").c_str(), 0444);
             return dir_ / "empty.mbtiles";
         },
         "no tiles table"},
        {"metadata only",
         [&] { return MakeFile("metadata.mbtiles", "CREATE TABLE metadata (name TEXT, value TEXT);"); },
         "no tiles table"},
        {"tiles of another shape",
         [&] { return MakeFile("shape.mbtiles", "CREATE TABLE tiles (z INTEGER, data BLOB);"); },
         "not MBTiles tiles"},
    };
    for (const Case& c : cases) {
        Action action(plugin_);
        EXPECT_FALSE(action.Open(c.make())) << c.label;
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << c.label << ": " << action.ErrorText();
    }
}

// An empty file is a storage without plates: opening, listing, reading or
// deleting leaves it empty (no tables, no journal); the first store makes
// the tables.
TEST_F(MbtilesPlugin, LeavesAnEmptyFileEmptyUntilTheFirstStore) {
    const std::string path = dir_ / "empty.mbtiles";
    WriteFile(path, "");
    const std::function<void(Action&)> reads[] = {
        [](Action&) {},
        [](Action& action) {
            std::vector<Plate> plates;
            EXPECT_EQ(action.Enumerate(&plates), kEmpty) << action.ErrorText();
        },
        [](Action& action) {
            std::string bytes;
            EXPECT_EQ(action.GetPlateData("t", &bytes), kFailed);
        },
        [](Action& action) { EXPECT_EQ(action.Delete("tq"), kFailed); },
    };
    for (const auto& read : reads) {
        {
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path)) << action.ErrorText();
            read(action);
        }
        EXPECT_EQ(std::filesystem::file_size(path), 0u);
        EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    }
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        ASSERT_EQ(action.Store("tq", "first"), kDone) << action.ErrorText();
        std::string bytes;
        EXPECT_EQ(action.GetPlateData("tq", &bytes), kDone) << action.ErrorText();
        EXPECT_EQ(bytes, "first");
    }
    const auto stored = ReadTiles(path);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.at("tq").data, "first");
}

TEST_F(MbtilesPlugin, SkipsRowsOutsideTheTileGrid) {
    const std::string path = MakeFile("grid.mbtiles", std::string(kPlainSchema) +
                                                          "INSERT INTO tiles VALUES (0, 0, 0, x'01'), (40, 0, 0, x'02'),"
                                                          " (2, -1, 0, x'03'), (2, 4, 0, x'04'), (2, 0, 4, x'05');");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_EQ(plates[0].name, "t");
    // What was left out is said after the listing.
    EXPECT_EQ(action.ErrorText(), "Left out 4 rows not tiles: 1 zoom not 0-30, 3 off the grid");
}

TEST_F(MbtilesPlugin, RefusesRowsWhoseCoordinatesAreNoIntegers) {
    struct Case {
        const char* values;
        const char* text; // the listing's failure, or its text after Done
        size_t plates;
    };
    // Untyped columns keep texts and reals as they are.
    const Case cases[] = {
        {"('a', 0, 0, x'01'), (1, 0.5, 0, x'02'), (1, 0, '1', x'03'), (NULL, 0, 0, x'04')",
         "No tiles; 4 rows not tiles: 4 not integers", 0},
        {"(0, 0, 0, x'01'), (1, 'x', 0, x'02'), (31, 0, 0, x'03')",
         "Left out 2 rows not tiles: 1 zoom not 0-30, 1 not integers", 1},
        {"(0, 0, 0, x'01')", "", 1},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path =
            MakeFile("types" + std::to_string(n++) + ".mbtiles",
                     std::string("CREATE TABLE tiles (zoom_level, tile_column, tile_row, tile_data);"
                                 "INSERT INTO tiles VALUES ") +
                         c.values + ";");
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), c.plates ? kDone : kFailed) << c.values;
        EXPECT_EQ(action.ErrorText(), c.text) << c.values;
        EXPECT_EQ(plates.size(), c.plates) << c.values;
        for (const Plate& plate : plates)
            EXPECT_EQ(plate.name, "t") << "a row that is no tile was listed";
    }
}

// Tables large enough to be read on worker threads: every tile exactly once,
// numbered by rowid, zoom by zoom.
class LargeMbtiles : public MbtilesPlugin {
protected:
    // Levels 0 to 8 in full (87,381 tiles); `order` is the rows' order.
    std::string MakeLevels(const std::string& name, const std::string& order) {
        return MakeFile(name, std::string(kPlainSchema) +
                                  "WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 8),"
                                  " n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 65535)"
                                  " INSERT INTO tiles SELECT z, i >> z, i & ((1 << z) - 1), zeroblob(z + 1)"
                                  " FROM z, n WHERE i < (1 << (2 * z)) ORDER BY " +
                                  order + ";");
    }

    static void ExpectListed(const std::string& path, const std::vector<Plate>& plates, size_t count,
                             size_t lateRun) {
        const auto stored = ReadTiles(path);
        ASSERT_EQ(plates.size(), count);
        std::set<std::string> seen;
        size_t orderBreaks = 0;
        for (size_t i = 0; i < plates.size(); ++i) {
            const Plate& plate = plates[i];
            ASSERT_EQ(stored.count(plate.name), 1u) << plate.name;
            if (stored.at(plate.name).rowid > 0) { // a view has no rowid
                EXPECT_EQ(plate.number, stored.at(plate.name).rowid) << plate.name;
            }
            EXPECT_EQ(plate.size, plate.name.size()) << plate.name;
            EXPECT_TRUE(seen.insert(plate.name).second) << plate.name << " twice";
            if (i > 0 && plates[i - 1].name.size() > plate.name.size()) {
                ++orderBreaks;
                EXPECT_EQ(i, plates.size() - lateRun) << "zoom order broken at " << plate.name;
            }
        }
        EXPECT_EQ(orderBreaks, lateRun ? 1u : 0u);
    }
};

TEST_F(LargeMbtiles, ListsATableWrittenLevelByLevelWithLateRowsAtTheEnd) {
    const std::string path = MakeLevels("levels.mbtiles", "z, i");
    // Three tiles of level 3 rewritten later, and rows that are no tiles.
    SqliteDb(path).Exec("DELETE FROM tiles WHERE zoom_level = 3 AND tile_column = 5 AND tile_row < 3;"
                        "INSERT INTO tiles VALUES (3, 5, 2, zeroblob(4)), (3, 5, 0, zeroblob(4)),"
                        " (3, 5, 1, zeroblob(4)), (9, 512, 0, x'00'), (40, 0, 0, x'00');");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ExpectListed(path, plates, 87381, 3);
    EXPECT_EQ(action.ErrorText(), "Left out 2 rows not tiles: 1 zoom not 0-30, 1 off the grid");
    for (const size_t stopAt : {1u, 40000u, 87381u}) {
        EXPECT_EQ(action.Enumerate(&plates, stopAt), kAborted) << stopAt;
        EXPECT_EQ(plates.size(), stopAt);
    }
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    EXPECT_EQ(plates.size(), 87381u);
}

TEST_F(LargeMbtiles, ListsATableWithSparseRowids) {
    // Far apart rowids make few wide ranges, each read in several chunks.
    const std::string path = MakeLevels("sparse.mbtiles", "z, i");
    SqliteDb(path).Exec("INSERT INTO tiles (rowid, zoom_level, tile_column, tile_row, tile_data)"
                        " VALUES (2147483000, 9, 0, 0, zeroblob(10)), (2147483600, 9, 1, 0, zeroblob(10));");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ExpectListed(path, plates, 87383, 0);
    EXPECT_EQ(plates.back().number, 2147483600);
    EXPECT_EQ(action.Enumerate(&plates, 30000), kAborted);
    EXPECT_EQ(plates.size(), 30000u);
}

TEST_F(LargeMbtiles, ListsAWalFileWithTilesStillInItsLog) {
    // The workers' connections read the file ahead; tiles that another
    // program wrote since are in the log, not yet in the file, and are listed.
    const std::string path = MakeLevels("wal.mbtiles", "z, i");
    SqliteDb writer(path);
    writer.Exec("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    for (const size_t added : {1000u, 2000u}) {
        writer.Exec("WITH RECURSIVE n(i) AS (SELECT " + std::to_string(added - 1000) +
                    " UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(added - 1) +
                    ") INSERT INTO tiles SELECT 9, i >> 9, i & 511, zeroblob(10) FROM n;");
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        ExpectListed(path, plates, 87381 + added, 0);
    }
}

TEST_F(LargeMbtiles, ListsATableWrittenDeepestLevelFirstInZoomOrder) {
    const std::string path = MakeLevels("deepest.mbtiles", "z DESC, i");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ExpectListed(path, plates, 87381, 0);
    EXPECT_EQ(plates.front().name, "t");
    EXPECT_EQ(action.Enumerate(&plates, 50000), kAborted);
    EXPECT_EQ(plates.size(), 50000u);
}

// Files whose rows are not stored level by level: each level listed once,
// in one run, levels going up, with as many plates as SQLite counts for it.
struct RowOrderCase {
    const char* label;
    const char* order;   // ORDER BY of the rows as inserted
    uint32_t levels;     // levels 0 to levels - 1, each in full
    bool indexed;
};

const RowOrderCase kRowOrders[] = {
    {"DeepestFirst", "z DESC, i", 9, true},       // as MapProxy writes them
    {"DeepestFirstSmall", "z DESC, i", 5, true},  // read on the calling thread
    {"Shuffled", "(i * 7919 + z * 104729) % 65521, z", 9, true},
    {"DeepestFirstUnindexed", "z DESC, i DESC", 9, false},
    {"LevelsAlternating", "z % 2, z DESC, i", 9, true},
};

void PrintTo(const RowOrderCase& c, std::ostream* out) { *out << c.label; }

class RowOrder : public LargeMbtiles, public testing::WithParamInterface<RowOrderCase> {};

TEST_P(RowOrder, CountsEveryLevelOnceInZoomOrder) {
    const RowOrderCase& c = GetParam();
    const std::string path = MakeFile(
        "order.mbtiles",
        std::string("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);") +
            (c.indexed ? "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);" : "") +
            "WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < " + std::to_string(c.levels - 1) +
            "), n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 65535)"
            " INSERT INTO tiles SELECT z, i >> z, i & ((1 << z) - 1), zeroblob(z + 1)"
            " FROM z, n WHERE i < (1 << (2 * z)) ORDER BY " + c.order + ";");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    std::map<uint32_t, int64_t> listed;
    for (size_t i = 0; i < plates.size(); ++i) {
        listed[static_cast<uint32_t>(plates[i].name.size() - 1)]++;
        if (i > 0) {
            ASSERT_LE(plates[i - 1].name.size(), plates[i].name.size()) << "level order broken at " << plates[i].name;
        }
    }
    std::map<uint32_t, int64_t> counted;
    SqliteDb db(path);
    for (uint32_t z = 0; z < c.levels; ++z)
        counted[z] = db.Int("SELECT count(*) FROM tiles WHERE zoom_level = " + std::to_string(z));
    EXPECT_EQ(listed, counted);
    ExpectListed(path, plates, static_cast<size_t>(db.Int("SELECT count(*) FROM tiles")), 0);
    for (const size_t stopAt : {size_t{1}, plates.size() / 2}) {
        EXPECT_EQ(action.Enumerate(&plates, stopAt), kAborted) << stopAt;
        EXPECT_EQ(plates.size(), stopAt);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, RowOrder, testing::ValuesIn(kRowOrders),
                         [](const testing::TestParamInfo<RowOrderCase>& param) { return param.param.label; });

TEST_F(LargeMbtiles, ListsTheDeduplicatedLayoutInParallelToo) {
    const std::string path = MakeFile(
        "dedup-large.mbtiles",
        "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
        "CREATE TABLE images (tile_data BLOB, tile_id TEXT);"
        "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
        "CREATE UNIQUE INDEX images_id ON images (tile_id);"
        "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,"
        " map.tile_row AS tile_row, images.tile_data AS tile_data"
        " FROM map JOIN images ON images.tile_id = map.tile_id;"
        "WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 8),"
        " n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 65535)"
        " INSERT INTO map SELECT z, i >> z, i & ((1 << z) - 1), 'level' || z FROM z, n WHERE i < (1 << (2 * z));"
        "WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 8)"
        " INSERT INTO images SELECT zeroblob(z + 1), 'level' || z FROM z WHERE z <> 5;");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    // Level 5 has no image: its map rows are no plates, as in the view.
    ExpectListed(path, plates, 87381 - 1024, 0);
    // Numbered by their map rows.
    int64_t numbers = 0;
    for (const Plate& plate : plates)
        numbers += plate.number;
    EXPECT_EQ(numbers, SqliteDb(path).Int("SELECT sum(map.rowid) FROM map JOIN images USING (tile_id)"));
}

// The deduplicated layout: tiles is a view over map rows naming shared images.
class DeduplicatedMbtiles : public MbtilesPlugin {
protected:
    void SetUp() override {
        MbtilesPlugin::SetUp();
        path_ = MakeFile("dedup.mbtiles",
                         "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
                         "CREATE TABLE images (tile_data BLOB, tile_id TEXT);"
                         "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
                         "CREATE UNIQUE INDEX images_id ON images (tile_id);"
                         "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level,"
                         " map.tile_column AS tile_column, map.tile_row AS tile_row,"
                         " images.tile_data AS tile_data FROM map JOIN images ON images.tile_id = map.tile_id;"
                         "INSERT INTO images VALUES (x'0102030405', 'sea'), (x'AABBCC', 'land');"
                         // tt and ts share the sea; tq and t the land.
                         "INSERT INTO map VALUES (1, 0, 0, 'sea'), (1, 1, 0, 'sea'), (1, 0, 1, 'land'),"
                         " (0, 0, 0, 'land');");
    }
    std::string path_;
};

TEST_F(DeduplicatedMbtiles, ListsMapRowsWithTheirImageSizes) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    std::map<std::string, std::pair<int32_t, uint32_t>> listed;
    for (const Plate& plate : plates)
        listed[plate.name] = {plate.number, plate.size};
    const std::map<std::string, std::pair<int32_t, uint32_t>> expected = {
        {"tt", {1, 5}}, {"ts", {2, 5}}, {"tq", {3, 3}}, {"t", {4, 3}}};
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(plates.front().name, "t");
    std::string bytes;
    ASSERT_EQ(action.GetPlateData("ts", &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes, "\x01\x02\x03\x04\x05");
}

TEST_F(DeduplicatedMbtiles, ListsOnlyMapRowsThatHaveAnImage) {
    // Files with interaction grids have map rows for a grid alone.
    SqliteDb(path_).Exec("INSERT INTO map VALUES (2, 0, 0, 'grid only'), (2, 1, 0, NULL);");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    EXPECT_EQ(plates.size(), 4u);
    for (const Plate& plate : plates)
        EXPECT_GT(plate.size, 0u) << plate.name;
    EXPECT_EQ(static_cast<int64_t>(plates.size()), SqliteDb(path_).Int("SELECT count(*) FROM tiles"));
}

TEST_F(DeduplicatedMbtiles, DropsAnImageWithItsLastPlate) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    struct Step {
        const char* plate;
        int64_t images; // images left once the deletion is committed
    };
    const Step steps[] = {{"tt", 2}, {"ts", 1}, {"tq", 1}, {"t", 0}};
    int64_t mapRows = 4;
    for (const Step& step : steps) {
        ASSERT_EQ(action.Delete(step.plate), kDone) << step.plate << ": " << action.ErrorText();
        action.Close();
        SqliteDb db(path_);
        EXPECT_EQ(db.Int("SELECT count(*) FROM map"), --mapRows) << step.plate;
        EXPECT_EQ(db.Int("SELECT count(*) FROM images"), step.images) << step.plate;
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    }
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), kEmpty);
}

TEST_F(MbtilesPlugin, ReadsATilesViewOfUnknownTablesButDoesNotDeleteThroughIt) {
    const std::string path = MakeFile("view.mbtiles",
                                      "CREATE TABLE store (z INTEGER, x INTEGER, y INTEGER, data BLOB);"
                                      "CREATE VIEW tiles AS SELECT z AS zoom_level, x AS tile_column,"
                                      " y AS tile_row, data AS tile_data FROM store;"
                                      "INSERT INTO store VALUES (1, 1, 1, x'0203'), (0, 0, 0, x'01');");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    ASSERT_EQ(plates.size(), 2u);
    EXPECT_EQ(plates[0].name, "t");
    EXPECT_EQ(plates[0].number, 2);
    EXPECT_EQ(plates[1].name, "tr");
    EXPECT_EQ(plates[1].number, 1);
    std::string bytes;
    EXPECT_EQ(action.GetPlateData("tr", &bytes), kDone);
    EXPECT_EQ(bytes, "\x02\x03");
    EXPECT_EQ(action.Delete("tr"), kFailed);
    EXPECT_NE(action.ErrorText().find("view"), std::string::npos) << action.ErrorText();
}

// Files of other writers: what the tiles view holds is listed, no more, in
// zoom order, with the stored bytes.
TEST_F(MbtilesPlugin, ListsFilesOfOtherWriters) {
    struct Case {
        const char* file;
        uint32_t result;
        size_t plates;
        const char* firstPng; // a plate that must hold a PNG image
    };
    const Case cases[] = {
        {"mapproxy-debug.mbtiles", kDone, 5, "tq"},
        {"grids.mbtiles", kDone, 5, "ts"}, // two map rows hold a grid but no image
        {"unindexed.mbtiles", kDone, 5, "tr"},
        {"gdal-empty.mbtiles", kEmpty, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir_ / c.file;
        std::filesystem::copy_file(std::string(FIXTURE_DIR "/") + c.file, path);
        const auto stored = ReadTiles(path);
        ASSERT_EQ(stored.size(), c.plates);
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), c.result) << action.ErrorText();
        EXPECT_EQ(action.ErrorText(), "");
        ASSERT_EQ(plates.size(), c.plates);
        for (size_t i = 0; i < plates.size(); ++i) {
            const Plate& plate = plates[i];
            ASSERT_EQ(stored.count(plate.name), 1u) << plate.name;
            EXPECT_EQ(plate.size, stored.at(plate.name).data.size()) << plate.name;
            if (i > 0) {
                EXPECT_LE(plates[i - 1].name.size(), plate.name.size()) << plate.name;
            }
            std::string bytes;
            EXPECT_EQ(action.GetPlateData(plate.name, &bytes), kDone) << plate.name;
            EXPECT_EQ(bytes, stored.at(plate.name).data) << plate.name;
        }
        if (c.firstPng) {
            std::string bytes;
            ASSERT_EQ(action.GetPlateData(c.firstPng, &bytes), kDone);
            EXPECT_EQ(bytes.substr(0, 4), "\x89PNG");
            EXPECT_EQ(plates.front().name, "t");
        }
    }
}

TEST_F(MbtilesPlugin, StoresIntoAGridFileKeepingItsGrids) {
    const std::string path = dir_ / "grids.mbtiles";
    std::filesystem::copy_file(FIXTURE_DIR "/grids.mbtiles", path);
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        // ttt is the tile 2/0/0, whose map row has a grid and no image.
        ASSERT_EQ(action.Store("ttt", "image"), kDone) << action.ErrorText();
        ASSERT_EQ(action.Store("ts", "image"), kDone) << action.ErrorText();
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        EXPECT_EQ(plates.size(), 6u);
    }
    SqliteDb db(path);
    EXPECT_EQ(db.Int("SELECT count(*) FROM grids"), 7);
    EXPECT_EQ(db.Int("SELECT count(*) FROM map WHERE grid_id = 'grid2-0-0'"), 1);
    EXPECT_EQ(db.Int("SELECT count(*) FROM tiles"), 6);
    // ts (1/1/0) shared its image with tt (1/0/0): that image stays; one new image.
    EXPECT_EQ(db.Int("SELECT count(*) FROM images"), 5);
    EXPECT_EQ(ReadTiles(path).at("ttt").data, "image");
}

// Write mode 1 on every layout the plugin can change, and on a new file.
TEST_F(MbtilesPlugin, StoresPlatesReplacingThoseOfTheSameName) {
    struct Case {
        const char* label;
        std::function<std::string()> make;
        size_t platesAfter;
    };
    const std::string dedupSchema =
        "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
        "CREATE TABLE images (tile_data BLOB, tile_id TEXT);"
        "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
        "CREATE UNIQUE INDEX images_id ON images (tile_id);"
        "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,"
        " map.tile_row AS tile_row, images.tile_data AS tile_data"
        " FROM map JOIN images ON images.tile_id = map.tile_id;";
    const Case cases[] = {
        {"GDAL file", [&] { return world_; }, 21},
        {"deduplicated", [&] { return MakeFile("dedup.mbtiles", dedupSchema); }, 4},
        {"deduplicated with an image", [&] {
             return MakeFile("dedup2.mbtiles", dedupSchema + "INSERT INTO images VALUES (x'AA', 'old');"
                                                             "INSERT INTO map VALUES (1, 0, 0, 'old');");
         }, 4},
        {"unindexed table",
         [&] { return MakeFile("plain.mbtiles", "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER,"
                                                " tile_row INTEGER, tile_data BLOB);"
                                                "INSERT INTO tiles VALUES (1, 0, 0, x'AA');"); }, 4},
        {"new empty file", [&] { WriteFile(dir_ / "new.mbtiles", ""); return dir_ / "new.mbtiles"; }, 4},
    };
    const std::string png = "\x89PNG\r\n\x1a\n-one";
    const std::string jpeg = "\xFF\xD8\xFF-two";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = c.make();
        {
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path)) << action.ErrorText();
            // Some of these plates exist already ("tt" is the tile 1/0/0);
            // tq and tt are stored twice: the second store wins.
            for (const char* name : {"tq", "tt", "tr"})
                ASSERT_EQ(action.Store(name, jpeg), kDone) << name << ": " << action.ErrorText();
            ASSERT_EQ(action.Store("tq", png), kDone) << action.ErrorText();
            ASSERT_EQ(action.Store("tt", png), kDone) << action.ErrorText();
            ASSERT_EQ(action.Store("tqq", ""), kDone) << action.ErrorText();
            std::string bytes;
            ASSERT_EQ(action.GetPlateData("tq", &bytes), kDone) << action.ErrorText();
            EXPECT_EQ(bytes, png) << "a pending store must be seen";
            std::vector<Plate> plates;
            ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
            std::map<std::string, uint32_t> sizes;
            for (const Plate& plate : plates)
                sizes[plate.name] = plate.size;
            EXPECT_EQ(sizes["tq"], png.size());
            EXPECT_EQ(sizes["tt"], png.size());
            EXPECT_EQ(sizes["tr"], jpeg.size());
            EXPECT_EQ(sizes.count("tqq"), 1u);
            EXPECT_EQ(plates.size(), c.platesAfter);
            ASSERT_EQ(action.Store("tr", png), kDone) << action.ErrorText();
        } // closing commits what is pending
        const auto stored = ReadTiles(path);
        EXPECT_EQ(stored.at("tq").data, png);
        EXPECT_EQ(stored.at("tt").data, png);
        EXPECT_EQ(stored.at("tr").data, png);
        EXPECT_EQ(stored.at("tqq").data, "");
        SqliteDb db(path);
        EXPECT_EQ(db.Int("SELECT count(*) FROM tiles WHERE zoom_level = 1 AND tile_column = 0 AND tile_row = 0"), 1);
        if (std::string(c.label).rfind("deduplicated", 0) == 0) {
            // Equal bytes share one image; replaced images went with their plates.
            EXPECT_EQ(db.Int("SELECT count(*) FROM images"), 2);
            EXPECT_EQ(db.Int("SELECT count(DISTINCT tile_id) FROM map"), 2);
        }
        if (std::string(c.label) == "new empty file") {
            EXPECT_EQ(db.Int("SELECT count(*) FROM metadata WHERE name = 'format' AND value = 'jpg'"), 1);
        }
    }
}

TEST_F(MbtilesPlugin, StoresInBatchesThatAreDurableOnClose) {
    const std::string path = dir_ / "batches.mbtiles";
    WriteFile(path, "");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    for (uint32_t i = 0; i < 8400; ++i)
        ASSERT_EQ(action.Store(plate_key::Name({7, i % 128, i / 128}), "tile" + std::to_string(i)), kDone)
            << i << ": " << action.ErrorText();
    // Another reader sees at least the first full batch (8192), as would the
    // next run of the program if this one died now.
    EXPECT_GE(SqliteDb(path).Int("SELECT count(*) FROM tiles"), 8192);
    action.Close();
    EXPECT_EQ(SqliteDb(path).Int("SELECT count(*) FROM tiles"), 8400);
}

// Bad names and read-only files are refused by every plugin alike
// (conformance_test.cpp); a view of unknown tables is this plugin's own.
TEST_F(MbtilesPlugin, StoresNothingThroughAViewOfUnknownTables) {
    const std::string view = MakeFile("view.mbtiles",
                                      "CREATE TABLE store (z INTEGER, x INTEGER, y INTEGER, data BLOB);"
                                      "CREATE VIEW tiles AS SELECT z AS zoom_level, x AS tile_column,"
                                      " y AS tile_row, data AS tile_data FROM store;");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(view)) << action.ErrorText();
    EXPECT_EQ(action.Store("t", "data"), kFailed);
    EXPECT_NE(action.ErrorText().find("view"), std::string::npos) << action.ErrorText();
    action.Close();
    EXPECT_EQ(SqliteDb(view).Int("SELECT count(*) FROM store"), 0);
}

// "ulmora.part/1": a level or an area listed alone gives exactly the plates
// of the whole listing that lie in it, with the same numbers and sizes, each
// once; through the index on the levels (GDAL's file, the deduplicated map
// of a file with grids) and by filtering the whole listing (a file without
// an index). An area is a quadtree key; a callback that answers 0 stops it.
TEST_F(MbtilesPlugin, ListsAPartAsTheWholeListingHoldsIt) {
    void* library = dlopen(MBTILES_PLUGIN, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    const auto query = reinterpret_cast<QueryPluginExtensionFn>(dlsym(library, "QueryPluginExtension"));
    ASSERT_NE(query, nullptr);
    const auto* part = static_cast<const PartExtension*>(query(ULMORA_PART_EXTENSION));
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->magic, ULMORA_PLUGIN_MAGIC);
    EXPECT_GE(part->size, sizeof(PartExtension));

    struct Collected {
        std::vector<Plate> plates;
        size_t stopAt = SIZE_MAX;
        static uint32_t ULMORA_CALL Add(void* self, int32_t number, const char* name, uint32_t, uint32_t size) {
            auto* collected = static_cast<Collected*>(self);
            collected->plates.push_back({number, name, size});
            return collected->plates.size() < collected->stopAt ? 1 : 0;
        }
    };
    struct Case {
        const char* area;
        uint32_t minLevel;
        uint32_t maxLevel;
    };
    const Case cases[] = {
        {"", 1, UINT32_MAX}, {"", 2, 2}, {"", 3, 3}, {"", 1, 1}, {"tq", 1, UINT32_MAX}, {"tq", 3, 3},
        {"ts", 1, 2},        {"trs", 1, 260}, {"tt", 4, 9}, {"", 0, 0}, {"t", 3, 2},
    };
    const std::string unindexed = dir_ / "unindexed.mbtiles";
    std::filesystem::copy_file(FIXTURE_DIR "/unindexed.mbtiles", unindexed);
    const std::string grids = dir_ / "grids.mbtiles";
    std::filesystem::copy_file(FIXTURE_DIR "/grids.mbtiles", grids);
    for (const std::string& path : {world_, unindexed, grids}) {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> all;
        ASSERT_EQ(action.Enumerate(&all), kDone) << path;
        for (const Case& c : cases) {
            SCOPED_TRACE(path + ": area '" + c.area + "', levels " + std::to_string(c.minLevel) + "-" +
                         std::to_string(c.maxLevel));
            std::map<std::string, std::pair<int32_t, uint32_t>> expected;
            for (const Plate& plate : all)
                if (plate.name.size() >= c.minLevel && plate.name.size() <= c.maxLevel &&
                    plate.name.starts_with(c.area))
                    expected[plate.name] = {plate.number, plate.size};
            Collected collected;
            const uint32_t result =
                part->EnumeratePart(action.Raw(), c.area, c.minLevel, c.maxLevel, &Collected::Add, &collected);
            EXPECT_EQ(result, expected.empty() ? kEmpty : kDone) << action.ErrorText();
            std::map<std::string, std::pair<int32_t, uint32_t>> listed;
            for (const Plate& plate : collected.plates)
                EXPECT_TRUE(listed.emplace(plate.name, std::make_pair(plate.number, plate.size)).second)
                    << plate.name << " twice";
            EXPECT_EQ(listed, expected);
        }
        Collected stopped;
        stopped.stopAt = 2;
        EXPECT_EQ(part->EnumeratePart(action.Raw(), "", 1, UINT32_MAX, &Collected::Add, &stopped), kAborted);
        EXPECT_EQ(stopped.plates.size(), 2u);
        Collected none;
        EXPECT_EQ(part->EnumeratePart(action.Raw(), "tx", 1, UINT32_MAX, &Collected::Add, &none), kFailed);
        EXPECT_NE(action.ErrorText().find("Invalid area"), std::string::npos) << action.ErrorText();
        EXPECT_TRUE(none.plates.empty());
    }
}

} // namespace
} // namespace storage_test
