// ulmora-cli's container commands on files made here: compact gives back the
// pages a deletion left free and keeps the plates byte for byte; verify
// finds a damaged page that hides plates from the listing; copy, export and
// delete end with a JSON summary.
#include "CliRun.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using cli_test::Outcome;
using cli_test::Quote;
using cli_test::RunCli;
using cli_test::Sql;

int64_t Number(const std::string& database, const std::string& sql) { return std::stoll(Sql(database, sql)); }

uint64_t FileSize(const std::string& path) { return fs::file_size(path); }

// Every tile with its bytes, in one text: equal texts, equal tiles.
std::string TileDump(const std::string& database)
{
    return Sql(database, "SELECT zoom_level, tile_column, tile_row, hex(tile_data) FROM tiles ORDER BY 1, 2, 3");
}

// A deduplicated MBTiles file as MapProxy and mbutil write it (a tiles view
// over map and images): 285 map rows, zooms 0 to 4, sharing the 21 JPEG
// images of the GDAL fixture; small pages, so that a table has several.
std::string Deduplicated(const TempFolder& folder)
{
    const std::string path = folder.File("dedup.mbtiles");
    Sql(path, "PRAGMA page_size = 1024; ATTACH " + Quote(FIXTURE_MBTILES) + " AS source;"
              "CREATE TABLE map (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_id TEXT);"
              "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
              "CREATE TABLE images (tile_data BLOB, tile_id TEXT);"
              "CREATE UNIQUE INDEX images_id ON images (tile_id);"
              "CREATE TABLE metadata (name TEXT, value TEXT);"
              "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,"
              " map.tile_row AS tile_row, images.tile_data AS tile_data"
              " FROM map JOIN images ON images.tile_id = map.tile_id;"
              "INSERT INTO images SELECT tile_data, zoom_level || '/' || tile_column || '/' || tile_row FROM source.tiles;"
              "WITH RECURSIVE z(z) AS (SELECT 0 UNION ALL SELECT z + 1 FROM z WHERE z < 4),"
              " c(c) AS (SELECT 0 UNION ALL SELECT c + 1 FROM c WHERE c < 15)"
              " INSERT INTO map SELECT z.z, a.c, b.c, '2/' || (a.c % 4) || '/' || (b.c % 4)"
              " FROM z, c AS a, c AS b WHERE a.c < (1 << z.z) AND b.c < (1 << z.z) ORDER BY z.z, a.c, b.c LIMIT 285;"
              "INSERT INTO metadata VALUES ('name', 'dedup'), ('format', 'jpg');");
    return path;
}

// Writes garbage over the middle of the first leaf page of `table`: the
// page still parses, but its rows' ids are out of order, so that a listing
// in id order stops early without an error.
void DamageFirstLeaf(const std::string& database, const std::string& table)
{
    const int64_t page =
        Number(database, "SELECT min(pageno) FROM dbstat WHERE name = '" + table + "' AND pagetype = 'leaf'");
    const int64_t pageSize = Number(database, "PRAGMA page_size");
    std::fstream file(database, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((page - 1) * pageSize + pageSize * 600 / 1024);
    for (int i = 0; i < 100; ++i)
        file.put(static_cast<char>((i * 37 + 11) % 256));
}

std::string Copied(const TempFolder& folder, const char* name)
{
    const std::string path = folder.File(name);
    fs::copy_file(FIXTURE_MBTILES, path);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    return path;
}

} // namespace

// compact after a deletion: the file shrinks by the free pages SQLite
// counts, the tiles stay byte for byte, and the new file passes SQLite's
// full integrity check. Refusals leave the file as it was.
TEST(ContainerCliTest, CompactGivesBackTheFreePages)
{
    // A file in WAL mode stays in it: the copy SQLite writes would not be.
    for (const char* mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        TempFolder folder;
        const std::string world = Copied(folder, "world.mbtiles");
        ASSERT_EQ(Sql(world, std::string("PRAGMA journal_mode = ") + mode), std::string(mode) + "\n");
        ASSERT_EQ(RunCli(folder, {"delete", world, "--z", "2", "--yes"}).code, 0);
        const uint64_t before = FileSize(world);
        const uint64_t free = Number(world, "PRAGMA freelist_count") * Number(world, "PRAGMA page_size");
        ASSERT_GT(free, before / 3) << "the deletion left too little to reclaim for the test to mean anything";
        const std::string tiles = TileDump(world);

        Outcome outcome = RunCli(folder, {"compact", world, "--dry-run"});
        EXPECT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_NE(outcome.out.find("(" + std::to_string(free) + " bytes)"), std::string::npos) << outcome.out;
        EXPECT_EQ(FileSize(world), before);

        outcome = RunCli(folder, {"compact", world, "--json"});
        ASSERT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_EQ(FileSize(world), before - free);
        EXPECT_NE(outcome.out.find("\"reclaimed\":" + std::to_string(free) + ","), std::string::npos) << outcome.out;
        EXPECT_NE(outcome.out.find("\"exit\":\"done\""), std::string::npos) << outcome.out;
        // Nothing beside it: the new file took the old one's place.
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"stderr", "stdout", "world.mbtiles"}));
        EXPECT_EQ(TileDump(world), tiles);
        EXPECT_EQ(Sql(world, "PRAGMA integrity_check"), "ok\n");
        EXPECT_EQ(Sql(world, "PRAGMA freelist_count"), "0\n");
        EXPECT_EQ(Sql(world, "PRAGMA journal_mode"), std::string(mode) + "\n");
    }

    struct Refusal {
        const char* what;
        bool readOnly;
        bool noRoom;
        const char* says;
    };
    for (const Refusal& c : {Refusal{"a read-only file", true, false, "read-only"},
                             Refusal{"no room beside it", false, true, "No room to compact"}}) {
        SCOPED_TRACE(c.what);
        TempFolder other;
        const std::string path = Copied(other, "full.mbtiles");
        ASSERT_EQ(RunCli(other, {"delete", path, "--z", "2", "--yes"}).code, 0);
        const uint64_t size = FileSize(path);
        if (c.readOnly)
            fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        std::vector<std::string> environment;
        if (c.noRoom)
            environment = {"LD_PRELOAD=" NO_ROOM_PRELOAD, "ULMORA_TEST_NO_ROOM=" + other.Path().string()};
        const Outcome outcome = RunCli(other, {"compact", path}, environment);
        EXPECT_EQ(outcome.code, 3) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_EQ(FileSize(path), size);
        EXPECT_EQ(other.Names(), (std::vector<std::string>{"full.mbtiles", "stderr", "stdout"}));
    }
}

// A page of garbage in a deduplicated file hides most of its plates from the
// listing, and every plate listed decodes: only the container's check can
// tell. A folder has no container and is no failure.
TEST(ContainerCliTest, VerifyChecksTheContainerBeforeThePlates)
{
    TempFolder folder;
    const std::string sound = Deduplicated(folder);
    ASSERT_EQ(Sql(sound, "SELECT count(*) FROM tiles"), "285\n");
    const std::string damaged = folder.File("damaged.mbtiles");
    fs::copy_file(sound, damaged);
    DamageFirstLeaf(damaged, "map");
    const std::string tiles = folder.File("tiles");
    ASSERT_EQ(RunCli(folder, {"export", sound, tiles, "--layout", "xyz"}).code, 0);

    struct Case {
        const char* what;
        std::string storage;
        std::vector<std::string> options;
        int code;
        std::vector<std::string> out;
        std::vector<std::string> err;
    };
    const std::vector<Case> cases = {
        {"sound", sound, {}, 0, {}, {"container: sound", "285 of 285 plates checked, 0 broken"}},
        {"damaged", damaged, {}, 1, {"container\tOn tree page "}, {"container: damaged", ", 0 broken"}},
        {"damaged, JSON", damaged, {"--json"}, 1, {"{\"container\":", "\"finding\":\"On tree page "}, {}},
        {"a folder", tiles, {}, 0, {}, {", 0 broken"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> arguments = {"verify", c.storage};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const Outcome outcome = RunCli(folder, arguments);
        EXPECT_EQ(outcome.code, c.code) << outcome.out << outcome.err;
        for (const std::string& text : c.out)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << outcome.out;
        for (const std::string& text : c.err)
            EXPECT_NE(outcome.err.find(text), std::string::npos) << outcome.err;
    }
    // What the damage does to the listing: plates missing without an error.
    const Outcome listed = RunCli(folder, {"list", damaged});
    EXPECT_EQ(listed.code, 0) << listed.err;
    EXPECT_LT(std::count(listed.out.begin(), listed.out.end(), '\n'), 285);
}

// The summaries scripts read: one JSON object with the counts, bytes and
// the exit reason, for the runs that change something; also for a dry run
// (what is selected, nothing done) and for a command that fails before its
// run begins (a storage that cannot be opened, an option that cannot be
// read), so that a script always finds the object.
TEST(ContainerCliTest, RunsEndWithAJsonSummary)
{
    TempFolder folder;
    const std::string world = Copied(folder, "world.mbtiles");
    // Zoom 1 of the fixture: 4 plates, their sizes from SQLite.
    const std::string bytes = Sql(world, "SELECT sum(length(tile_data)) FROM tiles WHERE zoom_level = 1");
    const std::string summary = ",\"bytes\":" + bytes.substr(0, bytes.size() - 1) + ",";
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int code;
        std::vector<std::string> out;
    };
    const std::string missing = folder.File("missing.mbtiles");
    const std::string nothing = "\"selected\":0,\"done\":0,\"bytes\":0,\"skipped\":0,\"failed\":0,";
    const std::vector<Case> cases = {
        {"copy, dry run", {"copy", world, folder.File("dry.mbtiles"), "--z", "1", "--dry-run", "--json"}, 0,
         {"{\"command\":\"copy\",\"selected\":4,\"done\":0,\"bytes\":0,", "\"exit\":\"done\",\"code\":0}"}},
        {"export, dry run", {"export", world, folder.File("dry"), "--z", "1", "--dry-run", "--json"}, 0,
         {"{\"command\":\"export\",\"selected\":4,\"done\":0,\"bytes\":0,", "\"exit\":\"done\",\"code\":0}"}},
        {"delete, dry run", {"delete", world, "--z", "1", "--dry-run", "--json"}, 0,
         {"{\"command\":\"delete\",\"selected\":4,\"done\":0,\"bytes\":0,", "\"exit\":\"done\",\"code\":0}"}},
        {"compact, dry run", {"compact", world, "--dry-run", "--json"}, 0,
         {"{\"storage\":\"" + world + "\",\"before\":", "\"reclaimed\":0,", "\"exit\":\"done\",\"code\":0}"}},
        {"copy from a storage that is not there", {"copy", missing, folder.File("c.mbtiles"), "--json"}, 3,
         {"{\"command\":\"copy\"," + nothing, "\"exit\":\"error\",\"code\":3}"}},
        {"export of a storage that is not there", {"export", missing, folder.File("e"), "--json"}, 3,
         {"{\"command\":\"export\"," + nothing, "\"exit\":\"error\",\"code\":3}"}},
        {"delete in a storage that is not there", {"delete", missing, "--z", "1", "--json", "--yes"}, 3,
         {"{\"command\":\"delete\"," + nothing, "\"exit\":\"error\",\"code\":3}"}},
        {"compact of a storage that is not there", {"compact", missing, "--json"}, 3,
         {"{\"storage\":\"" + missing + "\",\"before\":0,\"after\":0,\"reclaimed\":0,", "\"exit\":\"error\",\"code\":3}"}},
        {"a zoom that is no number", {"copy", world, folder.File("z.mbtiles"), "--json", "--z", "one"}, 2,
         {"{\"command\":\"copy\"," + nothing, "\"exit\":\"usage\",\"code\":2}"}},
        {"a bad box before --json", {"delete", world, "--bbox", "1,2", "--json"}, 2,
         {"{\"command\":\"delete\"," + nothing, "\"exit\":\"usage\",\"code\":2}"}},
        {"copy", {"copy", world, folder.File("copy.mbtiles"), "--z", "1", "--json"}, 0,
         {"{\"command\":\"copy\",\"selected\":4,\"done\":4", summary, "\"exit\":\"done\",\"code\":0}"}},
        {"export", {"export", world, folder.File("out"), "--z", "1", "--json"}, 0,
         {"{\"command\":\"export\",\"selected\":4,\"done\":4", summary, "\"exit\":\"done\""}},
        {"delete, not confirmed", {"delete", world, "--z", "1", "--json"}, 4,
         {"{\"command\":\"delete\",\"selected\":4,\"done\":0", "\"exit\":\"cancelled\",\"code\":4}"}},
        {"delete", {"delete", world, "--z", "1", "--json", "--yes"}, 0,
         {"{\"command\":\"delete\",\"selected\":4,\"done\":4", summary, "\"exit\":\"done\""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome outcome = RunCli(folder, c.arguments);
        EXPECT_EQ(outcome.code, c.code) << outcome.err;
        for (const std::string& text : c.out)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << outcome.out;
        EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 1) << outcome.out;
    }
}
