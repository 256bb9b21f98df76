// ulmora-cli meta and info's metadata: files of other writers read, keys
// set and deleted and read back with SQLite, and a plugin without the
// metadata extension named as such.
#include "CliRun.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using cli_test::Outcome;
using cli_test::Quote;
using cli_test::RunCli;
using cli_test::Sql;

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

struct Case {
    const char* what;
    const char* fixture; // copied into the folder as "@"
    std::vector<std::string> arguments;
    int code;
    std::vector<std::string> out; // texts stdout must hold
    std::vector<std::string> err; // texts stderr must hold
    int outLines = -1;            // -1: not checked
    bool readOnly = false;        // the copy without write bits
};

} // namespace

TEST(MetaCliTest, CommandLines)
{
    // GDAL writes eight metadata rows; MapProxy an empty metadata table.
    const std::vector<Case> cases = {
        {"GDAL's rows", "gdal-world.mbtiles", {"meta", "@"}, 0,
         {"name\tUlmora test world\n", "format\tjpg\n", "bounds\t-180,-85.0511287798066036,180,85.0511287798066036\n"}, {}, 8},
        {"as JSON", "gdal-world.mbtiles", {"meta", "@", "--json"}, 0,
         {"\"plugin\":\"mbtiles\",\"metadata\":{\"name\":\"Ulmora test world\",\"type\":\"overlay\""}, {}, 1},
        {"MapProxy's empty table", "mapproxy-debug.mbtiles", {"meta", "@"}, 0, {}, {"has no metadata"}, 0},
        {"MapProxy's as JSON", "mapproxy-debug.mbtiles", {"meta", "@", "--json"}, 0, {"\"metadata\":{}}"}, {}, 1},
        {"info shows it", "gdal-world.mbtiles", {"info", "@"}, 0, {"total", "\nmetadata\n  name         Ulmora test world\n  type         overlay\n"}, {}},
        {"info as JSON", "gdal-world.mbtiles", {"info", "@", "--json"}, 0,
         {"\"metadata\":{\"name\":\"Ulmora test world\""}, {}, 1},
        {"an old plugin", "gdal-world.mbtiles", {"meta", "@", "--plugin", OLD_PLUGIN}, 3, {},
         {"has no metadata extension (ulmora.metadata/1): it cannot read a storage's metadata"}},
        {"an old plugin, changing", "gdal-world.mbtiles", {"meta", "@", "--plugin", OLD_PLUGIN, "--set", "a=b"}, 3, {},
         {"has no metadata extension"}},
        {"--set without =", "gdal-world.mbtiles", {"meta", "@", "--set", "name"}, 2, {}, {"--set wants KEY=VALUE"}},
        {"--set without a key", "gdal-world.mbtiles", {"meta", "@", "--set=", "=x"}, 2, {}, {"--set wants KEY=VALUE"}},
        {"a read-only file", "gdal-world.mbtiles", {"meta", "@", "--set", "name=x"}, 3, {}, {"read-only"}, -1, true},
        {"--set is meta's", "gdal-world.mbtiles", {"info", "@", "--set", "name=x"}, 2, {}, {"not one of info's"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string storage = folder.File("storage.mbtiles");
        fs::copy_file(std::string(FIXTURE_DIR "/") + c.fixture, storage);
        if (c.readOnly)
            chmod(storage.c_str(), 0444);
        const std::string before = Sql(storage, "SELECT * FROM metadata");
        std::vector<std::string> arguments;
        for (const std::string& argument : c.arguments)
            arguments.push_back(argument == "@" ? storage : argument);
        const Outcome outcome = RunCli(folder, arguments);
        EXPECT_EQ(outcome.code, c.code) << outcome.err;
        for (const std::string& text : c.out)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << "missing " << text << " in\n" << outcome.out;
        for (const std::string& text : c.err)
            EXPECT_NE(outcome.err.find(text), std::string::npos) << "missing " << text << " in\n" << outcome.err;
        if (c.outLines >= 0) {
            EXPECT_EQ(Lines(outcome.out), c.outLines) << outcome.out;
        }
        // None of these changes a key.
        EXPECT_EQ(Sql(storage, "SELECT * FROM metadata"), before);
    }
}

// --set and --delete in the order given, seen by SQLite and by meta itself;
// a value with a line break and quotes comes back whole through --json.
TEST(MetaCliTest, SetAndDeleteRoundTrip)
{
    TempFolder folder;
    const std::string storage = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_DIR "/gdal-world.mbtiles", storage);
    Outcome outcome = RunCli(folder, {"meta", storage, "--set", "name=Renamed", "--delete", "description",
                                      "--set=attribution=a \"b\"\nc", "--delete", "absent", "--set", "json=x",
                                      "--delete", "json"});
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("no key absent to delete"), std::string::npos) << outcome.err;
    EXPECT_EQ(Sql(storage, "SELECT name || '=' || value FROM metadata ORDER BY name"),
              "attribution=a \"b\"\nc\nbounds=-180,-85.0511287798066036,180,85.0511287798066036\nformat=jpg\n"
              "maxzoom=2\nminzoom=0\nname=Renamed\ntype=overlay\nversion=1.1\n");
    outcome = RunCli(folder, {"meta", storage, "--json"});
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("\"name\":\"Renamed\""), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("\"attribution\":\"a \\\"b\\\"\\u000ac\""), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.out.find("description"), std::string::npos) << outcome.out;
    // The text form keeps one key a line.
    outcome = RunCli(folder, {"meta", storage});
    EXPECT_NE(outcome.out.find("attribution\ta \"b\"\\nc\n"), std::string::npos) << outcome.out;
    EXPECT_EQ(Lines(outcome.out), 8) << outcome.out;
}

// copy carries the metadata between MBTiles files: a new target gets the
// source's keys (the format requires "name"), a partial copy gets the
// extent and zooms of what it copied, and a target keeps its own keys.
TEST(MetaCliTest, CopyKeepsTheMetadataBetweenMbtilesFiles)
{
    const std::string all = "bounds=-180,-85.0511287798066036,180,85.0511287798066036\ndescription=gdal-world\n"
                            "format=jpg\nmaxzoom=2\nminzoom=0\nname=Ulmora test world\ntype=overlay\nversion=1.1\n";
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* targetSql; // makes the target first; null: a new file
        std::string expected;  // name=value lines, sorted by name
    };
    const std::vector<Case> cases = {
        {"a new file", {}, nullptr, all},
        {"a partial copy", {"--z", "1-2", "--bbox", "10,10,20,20"}, nullptr,
         "bounds=0,0,180,85.0511287798\ncenter=90,42.5255643899,1\ndescription=gdal-world\nformat=jpg\nmaxzoom=2\n"
         "minzoom=1\nname=Ulmora test world\ntype=overlay\nversion=1.1\n"},
        {"a target with its own name",
         {},
         "CREATE TABLE metadata (name TEXT, value TEXT); INSERT INTO metadata VALUES ('name', 'Mine');"
         "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);",
         "bounds=-180,-85.0511287798066036,180,85.0511287798066036\ndescription=gdal-world\n"
         "format=jpg\nmaxzoom=2\nminzoom=0\nname=Mine\ntype=overlay\nversion=1.1\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string target = folder.File("copy.mbtiles");
        if (c.targetSql)
            Sql(target, c.targetSql);
        std::vector<std::string> arguments = {"copy", FIXTURE_DIR "/gdal-world.mbtiles", target};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const Outcome outcome = RunCli(folder, arguments);
        ASSERT_EQ(outcome.code, 0) << outcome.err;
        EXPECT_EQ(Sql(target, "SELECT name || '=' || value FROM metadata ORDER BY name"), c.expected);
    }
}

// copy puts the source's description into the target format's terms: the
// keys expected in the target (as meta prints them, "key\tvalue") after one
// copy or a chain of them, and keys that must not be there.
TEST(MetaCliTest, CopyTranslatesTheMetadataBetweenFormats)
{
    const std::string pmtiles = FIXTURE_DIR "/pmtiles/";
    struct Case {
        const char* what;
        std::string source;
        std::vector<std::string> targets; // file names in the folder, copied one into the next
        std::vector<std::string> options; // of the first copy
        std::vector<std::string> expected;
        std::vector<std::string> absent;
        std::vector<std::string> set = {}; // KEY=VALUE set in a copy of an MBTiles source first
    };
    const std::vector<Case> cases = {
        {"MBTiles into PMTiles: the header's extent, the rest as JSON members",
         FIXTURE_DIR "/gdal-world.mbtiles", {"a.pmtiles"}, {},
         {"header.min_zoom\t0\n", "header.max_zoom\t2\n", "header.bounds\t-180,-85.0511288,180,85.0511288\n",
          "header.tile_type\tjpg\n", "\nname\tUlmora test world\n", "\ndescription\tgdal-world\n",
          "\nversion\t1.1\n", "\ntype\toverlay\n"},
         {"\nminzoom", "\nbounds"}},
        {"MBTiles to PMTiles and back", FIXTURE_DIR "/gdal-world.mbtiles", {"a.pmtiles", "b.mbtiles"}, {},
         {"\nname\tUlmora test world\n", "\ndescription\tgdal-world\n", "\nbounds\t-180,-85.0511288,180,85.0511288\n",
          "\nminzoom\t0\n", "\nmaxzoom\t2\n", "\nformat\tjpg\n", "\ntype\toverlay\n"},
         {"header."}},
        {"PMTiles vector tiles into MBTiles: vector_layers in the json row", pmtiles + "test_fixture_1.pmtiles",
         {"v.mbtiles"}, {},
         {"format\tpbf\n", "\nname\ttest_fixture_1.pmtiles\n", "\nminzoom\t0\n", "\nmaxzoom\t0\n",
          "\ngenerator\ttippecanoe v2.5.0\n", "\njson\t{\"vector_layers\":[{\"id\":\"test_fixture_1pmtiles\""},
         {"\nvector_layers", "header."}},
        {"vector tiles through MBTiles into PMTiles: json spread into members", pmtiles + "test_fixture_1.pmtiles",
         {"v.mbtiles", "v.pmtiles"}, {},
         {"header.tile_type\tmvt\n", "header.tile_compression\tgzip\n", "\nvector_layers\t[{\"id\":\"test_fixture_1pmtiles\"",
          "\ntilestats\t{\"layerCount\":1", "\nname\ttest_fixture_1.pmtiles\n"},
         {"\njson\t"}},
        {"a PMTiles archive without JSON metadata, part of it", pmtiles + "stamen-toner-raster-z3.pmtiles",
         {"s.mbtiles"}, {"--z", "2"},
         {"name\tstamen-toner-raster-z3\n", "format\tpng\n", "minzoom\t2\n", "maxzoom\t2\n",
          "bounds\t-180,-85.0511287798,180,85.0511287798\n"},
         {}},
        {"MapProxy's empty table: a name and the extent from the tiles", FIXTURE_DIR "/mapproxy-debug.mbtiles",
         {"m.mbtiles"}, {},
         {"name\tmapproxy-debug\n", "format\tpng\n", "minzoom\t0\n", "bounds\t-180,-85.0511287798,180,85.0511287798\n"},
         {}},
        {"GeoPackage contents into MBTiles", FIXTURE_DIR "/geopackage/world.gpkg", {"g.mbtiles"}, {},
         {"name\tworld\n", "bounds\t-180,-85.0511287798,180,85.0511287798\n", "minzoom\t0\n", "maxzoom\t2\n"},
         {"gpkg_"}},
        {"a TMS tree's tilemapresource.xml into MBTiles", FIXTURE_DIR "/folders/gdal-tms", {"t.mbtiles"}, {},
         {"name\tEurope\n", "bounds\t-10,33.3882986219,30,60\n", "minzoom\t0\n", "maxzoom\t3\n", "format\tpng\n"},
         {"tilemapresource.", "\ndescription"}},
        {"MBTiles into a new GeoPackage: name and text in its contents row", FIXTURE_DIR "/gdal-world.mbtiles",
         {"w.gpkg"}, {},
         {"gpkg_contents.identifier\tUlmora test world\n", "gpkg_contents.description\tgdal-world\n",
          "gpkg_contents.min_x\t-20037508.34278", "gpkg_contents.max_y\t20037508.34278",
          "gpkg_tile_matrix.zoom_level\t0,1,2\n"},
         {"\nname\t", "\nattribution"}},
        {"PMTiles through a GeoPackage into MBTiles", pmtiles + "stamen-toner-raster-z3.pmtiles",
         {"s.gpkg", "s.mbtiles"}, {"--z", "1-2", "--bbox", "10,10,20,20"},
         {"\nname\tstamen-toner-raster-z3\n", "\nbounds\t0,0,180,85.0511287798\n", "\nminzoom\t1\n",
          "\nmaxzoom\t2\n", "\nformat\tpng\n"},
         {"gpkg_"}},
        {"attribution through every format that holds it", FIXTURE_DIR "/gdal-world.mbtiles",
         {"a.pmtiles", "tree", "b.mbtiles"}, {},
         {"\nname\tUlmora test world\n", "\ndescription\tgdal-world\n", "\nattribution\t© Ulmora \"test\"\n",
          "\nbounds\t-180,-85.0511288,180,85.0511288\n", "\nminzoom\t0\n", "\nmaxzoom\t2\n"},
         {"\nscheme", "header."}, {"attribution=© Ulmora \"test\""}},
        {"keys of no column through a GeoPackage's GDAL metadata", FIXTURE_DIR "/gdal-world.mbtiles",
         {"w.gpkg", "b.mbtiles"}, {},
         {"\nname\tUlmora test world\n", "\ndescription\tgdal-world\n", "\nattribution\t© Ulmora \"test\" & <co>\n",
          "\nbounds\t-180,-85.0511287798,180,85.0511287798\n", "\nminzoom\t0\n", "\nmaxzoom\t2\n", "\ntype\toverlay\n",
          "\nversion\t1.1\n"},
         {"gpkg_", "AREA_OR_POINT"}, {"attribution=© Ulmora \"test\" & <co>"}},
        {"MBTiles through a GeoPackage into PMTiles", FIXTURE_DIR "/gdal-world.mbtiles", {"w.gpkg", "w.pmtiles"}, {},
         {"\nname\tUlmora test world\n", "\ndescription\tgdal-world\n", "header.min_zoom\t0\n",
          "header.max_zoom\t2\n", "header.bounds\t-180,-85.0511288,180,85.0511288\n"},
         {"gpkg_"}},
        {"MBTiles into a z/x/y tree and on into PMTiles", FIXTURE_DIR "/gdal-world.mbtiles", {"tree", "f.pmtiles"}, {},
         {"\nname\tUlmora test world\n", "\ndescription\tgdal-world\n",
          "header.bounds\t-180,-85.0511288,180,85.0511288\n", "header.max_zoom\t2\n"},
         {"\nscheme"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        std::string from = c.source;
        if (!c.set.empty()) {
            from = folder.File("source.mbtiles");
            fs::copy_file(c.source, from);
            for (const std::string& change : c.set)
                ASSERT_EQ(RunCli(folder, {"meta", from, "--set", change}).code, 0) << change;
        }
        for (std::size_t i = 0; i < c.targets.size(); ++i) {
            const std::string into = folder.File(c.targets[i]);
            std::vector<std::string> arguments = {"copy", from, into};
            if (i == 0)
                arguments.insert(arguments.end(), c.options.begin(), c.options.end());
            const Outcome copied = RunCli(folder, arguments);
            ASSERT_EQ(copied.code, 0) << from << " -> " << into << ": " << copied.err;
            from = into;
        }
        const Outcome outcome = RunCli(folder, {"meta", from});
        ASSERT_EQ(outcome.code, 0) << outcome.err;
        const std::string out = "\n" + outcome.out;
        for (const std::string& text : c.expected)
            EXPECT_NE(out.find(text), std::string::npos) << "missing " << text << " in\n" << outcome.out;
        for (const std::string& text : c.absent)
            EXPECT_EQ(out.find(text), std::string::npos) << "unexpected " << text << " in\n" << outcome.out;
    }
}

namespace {

std::string Shell(const std::string& command, int* status) { return CommandOutput(command + " 2>&1", status); }

} // namespace

// Keys a GeoPackage has no column for live where GDAL keeps a raster's
// metadata: what a copy writes there gdalinfo shows (and GDAL's validator
// passes), and what gdal_edit.py writes there ulmora reads and copies on.
TEST(MetaCliTest, GeoPackageMetadataIsGdals)
{
    TempFolder folder;
    const std::string source = folder.File("source.mbtiles");
    fs::copy_file(FIXTURE_DIR "/gdal-world.mbtiles", source);
    ASSERT_EQ(RunCli(folder, {"meta", source, "--set", "attribution=© Ulmora & <co>"}).code, 0);
    const std::string gpkg = folder.File("w.gpkg");
    const Outcome copied = RunCli(folder, {"copy", source, gpkg});
    ASSERT_EQ(copied.code, 0) << copied.err;

    int status = 0;
    const std::string info = Shell("gdalinfo " + Quote(gpkg), &status);
    ASSERT_EQ(status, 0) << info;
    for (const char* line : {"\n  attribution=© Ulmora & <co>\n", "\n  type=overlay\n", "\n  version=1.1\n",
                             "\n  IDENTIFIER=Ulmora test world\n", "\n  DESCRIPTION=gdal-world\n"})
        EXPECT_NE(info.find(line), std::string::npos) << "missing" << line << "in\n" << info;
    const std::string faults = Shell(
        "/usr/bin/python3 -m osgeo_utils.samples.validate_gpkg -k --extra --warning-as-error " + Quote(gpkg), &status);
    EXPECT_EQ(status, 0) << faults;

    const std::string edited =
        Shell("gdal_edit.py -mo " + Quote("attribution=GDAL's \"own\"") + " -mo license=CC0 " + Quote(gpkg), &status);
    ASSERT_EQ(status, 0) << edited;
    const Outcome meta = RunCli(folder, {"meta", gpkg});
    ASSERT_EQ(meta.code, 0) << meta.err;
    for (const char* line : {"\nattribution\tGDAL's \"own\"\n", "\nlicense\tCC0\n", "\ntype\toverlay\n"})
        EXPECT_NE(("\n" + meta.out).find(line), std::string::npos) << "missing" << line << "in\n" << meta.out;
    const std::string back = folder.File("back.mbtiles");
    ASSERT_EQ(RunCli(folder, {"copy", gpkg, back}).code, 0);
    EXPECT_EQ(Sql(back, "SELECT name, value FROM metadata WHERE name IN ('attribution', 'license', 'name')"
                        " ORDER BY name"),
              "attribution|GDAL's \"own\"\nlicense|CC0\nname|Ulmora test world\n");
}
