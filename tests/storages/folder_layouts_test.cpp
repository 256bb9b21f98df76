// The folder plugin on the trees real tile tools write, storing plates into
// each layout, and files that are no plates (FIFOs, devices) in their place.
#include "plate_key.h"
#include "plugin_host.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

namespace storage_test {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kDone = Done, kEmpty = Empty, kFailed = Failed;

const std::string kFolders = std::string(FIXTURE_DIR) + "/folders/";

// Every fixture covers Europe from zoom 0 to 3: these tiles, rows from the
// top; each case lists its files in this order.
const plate_key::Tile kEurope[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {2, 1, 1}, {2, 2, 1},
                                   {3, 3, 2}, {3, 3, 3}, {3, 4, 2}, {3, 4, 3}};

struct RealTree {
    const char* folder;
    const char* options; // appended to the path
    const char* notice;  // how the plugin says it read the tree (the start of its text)
    std::vector<std::string> files;
    // Copied into a folder of this name, away from the seeding configuration
    // beside the fixtures, with `config` (NAME:TEXT) beside it; null: read in place.
    const char* copyAs = nullptr;
    const char* config = nullptr;
    const char* plugin = FOLDER_PLUGIN;
    // The tiles' bytes are checked against this tree's files (default: the
    // tree's own); a compact cache holds the same tiles as the tc tree on
    // its grid.
    const char* filesOf = nullptr;
    // Opened instead of the copy: a folder above it (in the temporary folder).
    const char* openAs = nullptr;
};

const std::vector<std::string> kTcBottom = {
    "00/000/000/000/000/000/000.png", "01/000/000/000/000/000/001.png", "01/000/000/001/000/000/001.png",
    "02/000/000/001/000/000/002.png", "02/000/000/002/000/000/002.png", "03/000/000/003/000/000/005.png",
    "03/000/000/003/000/000/004.png", "03/000/000/004/000/000/005.png", "03/000/000/004/000/000/004.png"};
const std::vector<std::string> kTcTop = {
    "00/000/000/000/000/000/000.png", "01/000/000/000/000/000/000.png", "01/000/000/001/000/000/000.png",
    "02/000/000/001/000/000/001.png", "02/000/000/002/000/000/001.png", "03/000/000/003/000/000/002.png",
    "03/000/000/003/000/000/003.png", "03/000/000/004/000/000/002.png", "03/000/000/004/000/000/003.png"};
const std::vector<std::string> kTmsFiles = {"0/0/0.png", "1/0/1.png", "1/1/1.png", "2/1/2.png", "2/2/2.png",
                                            "3/3/5.png", "3/3/4.png", "3/4/5.png", "3/4/4.png"};

// What gdal2tiles --xyz writes into its tree (the comments left out), in a
// copy of the tree as "tiles".
constexpr const char* kGdal2tilesMapml = "tiles/mapml.mapml:" R"(<mapml>
    <head>
        <title>states</title>
        <base href="./" />
        <meta charset="utf-8" />
        <meta content="text/mapml;projection=OSMTILE" http-equiv="Content-Type" />
    </head>
    <body>
        <extent units="OSMTILE">
            <input name="z" type="zoom" value="2" min="0" max="2" />
            <input name="x" type="location" axis="column" units="tilematrix" min="1" max="2" />
            <input name="y" type="location" axis="row" units="tilematrix" min="1" max="1" />
            <link tref="./{z}/{x}/{y}.png" rel="tile" />
        </extent>
    </body>
</mapml>)";

const RealTree kRealTrees[] = {
    {"gdal-xyz", "", "layout: xyz, rows from the top (assumed: nothing tells the rows' order)",
     {"0/0/0.png", "1/0/0.png", "1/1/0.png", "2/1/1.png", "2/2/1.png", "3/3/2.png", "3/3/3.png", "3/4/2.png",
      "3/4/3.png"}},
    // gdal2tiles --xyz describes its tree in MapML (its default web viewers).
    {"gdal-xyz", "", "layout: xyz, rows from the top (mapml.mapml)",
     {"0/0/0.png", "1/0/0.png", "1/1/0.png", "2/1/1.png", "2/2/1.png", "3/3/2.png", "3/3/3.png", "3/4/2.png",
      "3/4/3.png"},
     "tiles", kGdal2tilesMapml},
    {"gdal-tms", "", "layout: tms, rows from the bottom (tilemapresource.xml)", kTmsFiles},
    // The seeding tool's TMS tree has no tilemapresource.xml: its
    // configuration beside the trees tells the layout and the grid's rows.
    {"mapproxy-tms", "", "layout: tms, rows from the bottom (mapproxy.yaml: cache c_tms, grid GLOBAL_MERCATOR)",
     kTmsFiles},
    {"mapproxy-tms", "?layout=tms", "layout: tms, rows from the bottom (named in the path)", kTmsFiles},
    // Alone, MapProxy's name for a cache's folder (CACHE_GRID) still tells.
    {"mapproxy-tms", "", "layout: tms, rows from the bottom (grid GLOBAL_MERCATOR in the folder's name)", kTmsFiles,
     "osm_GLOBAL_MERCATOR"},
    {"mapproxy-tms", "", "layout: tms, rows from the bottom (grid GLOBAL_MERCATOR in seed.yaml)", kTmsFiles, "tiles",
     "seed.yaml:seeds:\n  all:\n    caches: [osm]\n    grids: [GLOBAL_MERCATOR]\n"},
    {"mapproxy-tc", "", "layout: tc, rows from the bottom (mapproxy.yaml: cache c_tc, grid GLOBAL_MERCATOR)",
     kTcBottom},
    {"mapproxy-tc", "", "layout: tc, rows from the bottom (assumed: MapProxy's default grid)", kTcBottom, "tiles"},
    {"mapproxy-tc-nw", "", "layout: tc, rows from the top (mapproxy.yaml: cache c_tc-nw, grid GLOBAL_WEBMERCATOR)",
     kTcTop},
    {"mapproxy-tc-nw", "?origin=nw", "layout: tc, rows from the top (named in the path)", kTcTop},
    {"mapproxy-tc-nw", "", "layout: tc, rows from the top (grid GLOBAL_WEBMERCATOR in the folder's name)", kTcTop,
     "osm_cache_GLOBAL_WEBMERCATOR"},
    // A grid of the configuration's own, based on the Web-Mercator one.
    {"mapproxy-tc-nw", "", "layout: tc, rows from the top (mapproxy.yaml: cache osm, grid mine)", kTcTop, "tiles",
     "mapproxy.yaml:grids:\n  mine:\n    base: GLOBAL_WEBMERCATOR\ncaches:\n  osm:\n    grids: [mine]\n"
     "    cache:\n      type: file\n      directory: ./tiles\n"},
    // MapProxy's own folders for caches whose configuration names no
    // directory, below its cache base: CACHE_EPSG3857 (the grid's SRS).
    {"mapproxy-tc-nw", "", "layout: tc, rows from the top (mapproxy.yaml: cache osm, grid GLOBAL_WEBMERCATOR)", kTcTop,
     "cache_data/osm_EPSG3857", "mapproxy.yaml:caches:\n  osm:\n    grids: [GLOBAL_WEBMERCATOR]\n"},
    {"mapproxy-tc-nw", "", "layout: tc, rows from the top (mapproxy.yaml: cache osm, grid mine)", kTcTop,
     "tiles/osm_EPSG3857", "mapproxy.yaml:globals:\n  cache:\n    base_dir: ./tiles\ngrids:\n  mine:\n"
     "    base: GLOBAL_WEBMERCATOR\ncaches:\n  osm:\n    grids: [mine]\n"},
    {"mapproxy-mp", "", "layout: mp, rows from the bottom (mapproxy.yaml: cache c_mp, grid GLOBAL_MERCATOR)",
     {"00/0000/0000/0000/0000.png", "01/0000/0000/0000/0001.png", "01/0000/0001/0000/0001.png",
      "02/0000/0001/0000/0002.png", "02/0000/0002/0000/0002.png", "03/0000/0003/0000/0005.png",
      "03/0000/0003/0000/0004.png", "03/0000/0004/0000/0005.png", "03/0000/0004/0000/0004.png"}},
    {"mapproxy-quadkey", "", "layout: quadkey (quadtree digits)",
     {".png", "0.png", "1.png", "03.png", "12.png", "031.png", "033.png", "120.png", "122.png"}, "tiles"},
    {"mapproxy-arcgis", "", "layout: arcgis, rows from the top (mapproxy.yaml: cache c_arcgis, grid GLOBAL_WEBMERCATOR)",
     {"L00/R00000000/C00000000.png", "L01/R00000000/C00000000.png", "L01/R00000000/C00000001.png",
      "L02/R00000001/C00000001.png", "L02/R00000001/C00000002.png", "L03/R00000002/C00000003.png",
      "L03/R00000003/C00000003.png", "L03/R00000002/C00000004.png", "L03/R00000003/C00000004.png"}},
    // Compact caches: the bundles hold their grid's rows, and only the
    // configuration, the path or MapProxy's folder name tells which.
    {"mapproxy-compact", "", "layout: compact v2, rows from the top (mapproxy.yaml: cache c_compact, grid GLOBAL_WEBMERCATOR)",
     kTcTop, nullptr, nullptr, COMPACT_PLUGIN, "mapproxy-tc-nw"},
    {"mapproxy-compact-sw", "", "layout: compact v2, rows from the bottom (mapproxy.yaml: cache c_compact-sw, grid GLOBAL_MERCATOR)",
     kTcBottom, nullptr, nullptr, COMPACT_PLUGIN, "mapproxy-tc"},
    {"mapproxy-compact-sw", "?origin=sw", "layout: compact v2, rows from the bottom (named in the path)", kTcBottom,
     "tiles", nullptr, COMPACT_PLUGIN, "mapproxy-tc"},
    {"mapproxy-compact", "?origin=nw", "layout: compact v2, rows from the top (named in the path)", kTcTop, "tiles",
     nullptr, COMPACT_PLUGIN, "mapproxy-tc-nw"},
    // The path wins over the configuration beside the cache.
    {"mapproxy-compact", "?origin=nw", "layout: compact v2, rows from the top (named in the path)", kTcTop, "tiles",
     "mapproxy.yaml:caches:\n  osm:\n    grids: [GLOBAL_MERCATOR]\n    cache:\n      type: compact\n"
     "      version: 2\n      directory: ./tiles\n", COMPACT_PLUGIN, "mapproxy-tc-nw"},
    {"mapproxy-compact-sw", "", "layout: compact v2, rows from the bottom (mapproxy.yaml: cache cc, grid mine)", kTcBottom,
     "cache_data/cc/mine", "mapproxy.yaml:grids:\n  mine:\n    base: GLOBAL_MERCATOR\ncaches:\n  cc:\n    grids: [mine]\n"
     "    cache:\n      type: compact\n      version: 2\n", COMPACT_PLUGIN, "mapproxy-tc"},
    // MapProxy's folder for a compact cache without a directory: CACHE/GRID.
    {"mapproxy-compact-sw", "", "layout: compact v2, rows from the bottom (grid GLOBAL_MERCATOR in the folder's name)",
     kTcBottom, "GLOBAL_MERCATOR", nullptr, COMPACT_PLUGIN, "mapproxy-tc"},
    {"mapproxy-compact-sw", "", "layout: compact v2, rows from the bottom (grid GLOBAL_MERCATOR in seed.yaml)",
     kTcBottom, "tiles", "seed.yaml:seeds:\n  all:\n    caches: [osm]\n    grids: [GLOBAL_MERCATOR]\n", COMPACT_PLUGIN,
     "mapproxy-tc"},
    {"mapproxy-compact", "", "layout: compact v2, rows from the top (assumed: nothing tells the rows' order)", kTcTop,
     "tiles", nullptr, COMPACT_PLUGIN, "mapproxy-tc-nw"},
    // An ArcGIS server's tiling schemes all count rows from the top.
    {"mapproxy-compact", "", "layout: compact v2, rows from the top (an ArcGIS server's Layers/_alllayers)", kTcTop,
     "server/Layers/_alllayers", nullptr, COMPACT_PLUGIN, "mapproxy-tc-nw", "server"},
};

void PrintTo(const RealTree& tree, std::ostream* out) {
    *out << tree.folder << tree.options << (tree.copyAs ? std::string(" as ") + tree.copyAs : "");
}

class RealTrees : public testing::TestWithParam<RealTree> {};

TEST_P(RealTrees, ListAndHandOutEveryTileUnderItsPlateName) {
    const RealTree& tree = GetParam();
    ASSERT_EQ(tree.files.size(), std::size(kEurope));
    TempDir dir;
    std::string folder = kFolders + tree.folder;
    if (tree.copyAs) {
        fs::create_directories(fs::path(dir / tree.copyAs).parent_path());
        fs::copy(folder, dir / tree.copyAs, fs::copy_options::recursive);
        folder = dir / (tree.openAs ? tree.openAs : tree.copyAs);
    }
    if (tree.config) {
        const std::string config = tree.config;
        WriteFile(dir / config.substr(0, config.find(':')), config.substr(config.find(':') + 1));
    }
    const std::string filesOf = kFolders + (tree.filesOf ? tree.filesOf : tree.folder);
    std::map<std::string, std::string> expected; // plate name -> file
    for (size_t i = 0; i < tree.files.size(); ++i)
        expected[plate_key::Name(kEurope[i])] = filesOf + "/" + tree.files[i];

    LoadedPlugin plugin(tree.plugin);
    Action action(plugin);
    ASSERT_TRUE(action.Open(folder + tree.options)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    EXPECT_EQ(action.ErrorText(), tree.notice);
    std::map<std::string, uint32_t> listed;
    for (const Plate& plate : plates)
        EXPECT_TRUE(listed.emplace(plate.name, plate.size).second) << plate.name << " listed twice";
    std::map<std::string, uint32_t> sizes;
    for (const auto& [name, file] : expected)
        sizes[name] = static_cast<uint32_t>(fs::file_size(file));
    EXPECT_EQ(listed, sizes);

    for (const auto& [name, file] : expected) {
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(name, &bytes), kDone) << name << ": " << action.ErrorText();
        EXPECT_EQ(bytes, ReadFile(file)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, RealTrees, testing::ValuesIn(kRealTrees),
                         [](const testing::TestParamInfo<RealTree>& param) {
                             std::string label = std::to_string(param.index) + "_" + param.param.folder;
                             for (char& c : label)
                                 c = c == '-' ? '_' : c;
                             return label;
                         });

TEST(FolderOpen, SaysWhatIsWrong) {
    TempDir dir;
    WriteFile(dir / "photos/2019/a.jpg", "x");
    WriteFile(dir / "geodetic/tilemapresource.xml", "<TileMap><TileSets profile=\"geodetic\"></TileSets></TileMap>");
    WriteFile(dir / "geodetic/0/0/0.png", "x");
    fs::create_directory(dir / "empty");
    WriteFile(dir / "bundles/L00/R0000C0000.bundle", "x");
    WriteFile(dir / "vector/0/0/0.pbf", "x");
    struct Case {
        std::string path;
        const char* text;
    };
    const Case cases[] = {
        {"photos", "holds no tile tree; known layouts: plates, xyz, tms, tc, mp, quadkey, arcgis"},
        {"geodetic", "tilemapresource.xml describes a \"geodetic\" tree"},
        {"empty?layout=zxy", "Unknown folder layout \"zxy\"; known layouts: plates"},
        {"empty?layout=tc&rows=top", "Unknown option \"rows=top\""},
        {"empty?layout=quadkey&origin=sw", "The quadkey layout has no origin option"},
        {"missing?layout=xyz", "missing: No such file or directory"},
        // Read as arcgis once, the bundles listed as an empty storage.
        {"bundles", "bundles is a compact cache (.bundle files): open it with the tilebundle plugin"},
        {"vector", "vector: numbered folders of .pbf files, which are no plate images"},
    };
    LoadedPlugin plugin(FOLDER_PLUGIN);
    for (const Case& c : cases) {
        Action action(plugin);
        EXPECT_FALSE(action.Open(dir / c.path)) << c.path;
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << c.path << ": " << action.ErrorText();
    }
}

// A plate's file replaced by a FIFO or a link to a device: neither the listing
// nor the lookup may block (a blocking read of a FIFO never returns), and a
// link to a regular file is a plate like any. Run in a child process under an
// alarm, so that a regression fails the test instead of hanging the suite.
TEST(FolderSpecialFiles, AreRefusedWithoutBlocking) {
    TempDir dir;
    WriteFile(dir / "1/0/0.png", "real");
    fs::create_directories(dir / "1/1");
    ASSERT_EQ(mkfifo((dir / "1/1/0.png").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "1/0/1.png");
    fs::create_symlink("0.png", dir / "1/0/linked.png");
    fs::create_symlink("../0/0.png", dir / "1/1/1.png");

    EXPECT_EXIT(
        {
            alarm(5);
            LoadedPlugin plugin(FOLDER_PLUGIN);
            Action action(plugin);
            if (!action.Open(dir.Path()))
                _exit(10);
            std::vector<Plate> plates;
            if (action.Enumerate(&plates) != kDone || plates.size() != 2 || plates[0].size != 4 ||
                plates[1].size != 4)
                _exit(11);
            std::string bytes;
            // 1/1/0 is the FIFO, 1/0/1 the device; 1/1/1 links to 1/0/0.
            if (action.GetPlateData("tr", &bytes) != kFailed ||
                action.ErrorText().find("1/0.png is not a regular file") == std::string::npos)
                _exit(12);
            if (action.GetPlateData("tt", &bytes) != kFailed ||
                action.ErrorText().find("0/1.png is not a regular file") == std::string::npos)
                _exit(13);
            if (action.GetPlateData("ts", &bytes) != kDone || bytes != "real")
                _exit(14);
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

// Storing a plate: the file each layout gives it, then what a new Open of
// the folder (without options: the files tell the layout) makes of it.
struct StoreCase {
    const char* layout;  // "" for a folder given without options
    std::vector<std::string> files; // of kStored, in order
};

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "pixels";
const std::string kJpeg = "\xFF\xD8\xFF\xE0 jpeg";
const std::string kGif = "GIF89a gif";
const plate_key::Tile kDeep{12, 0xabc, 1000};

struct Stored {
    std::string name;
    std::string data;
};
const Stored kStored[] = {{"t", kPng}, {"trs", kJpeg}, {plate_key::Name(kDeep), kGif}};

std::string PlateTreePath(const std::string& name, const char* ext) {
    std::string path;
    for (size_t i = 0; i + 1 < name.size(); ++i)
        path += std::string(1, name[i]) + "/";
    return path + name.back() + "." + ext;
}

const StoreCase kStoreCases[] = {
    {"", {"0/0/0.png", "2/3/1.jpg", "12/2748/1000.gif"}},
    {"xyz", {"0/0/0.png", "2/3/1.jpg", "12/2748/1000.gif"}},
    {"tms", {"0/0/0.png", "2/3/2.jpg", "12/2748/3095.gif"}},
    {"tc", {"00/000/000/000/000/000/000.png", "02/000/000/003/000/000/002.jpg", "12/000/002/748/000/003/095.gif"}},
    {"mp", {"00/0000/0000/0000/0000.png", "02/0000/0003/0000/0002.jpg", "12/0000/2748/0000/3095.gif"}},
    {"quadkey", {".png", "13.jpg", "103232313100.gif"}},
    {"arcgis", {"L00/R00000000/C00000000.png", "L02/R00000001/C00000003.jpg", "L12/R000003e8/C00000abc.gif"}},
    {"plates", {"t.png", "t/r/s.jpg", PlateTreePath(plate_key::Name(kDeep), "gif")}},
};

void PrintTo(const StoreCase& c, std::ostream* out) { *out << (*c.layout ? c.layout : "default"); }

uint32_t Store(Action& action, const std::string& name, const std::string& data) {
    return action.Raw()->functions->Write(action.Raw(), name.c_str(), data.data(),
                                          static_cast<uint32_t>(data.size()), WriteModeStore) &
           0xFFFF;
}

// Every file below `root`, relative, hidden ones included.
std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory())
            files.push_back(fs::relative(entry.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

class StoreInto : public testing::TestWithParam<StoreCase> {
protected:
    std::string Options() const { return *GetParam().layout ? std::string("?layout=") + GetParam().layout : ""; }
    LoadedPlugin plugin_{FOLDER_PLUGIN};
    TempDir dir_;
};

TEST_P(StoreInto, AnEmptyFolderThenReopensAndLists) {
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(dir_.Path() + Options())) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kEmpty);
        for (const Stored& plate : kStored)
            ASSERT_EQ(Store(action, plate.name, plate.data), kDone) << plate.name << ": " << action.ErrorText();
        // Seen at once by the same action.
        std::string bytes;
        ASSERT_EQ(action.GetPlateData("trs", &bytes), kDone) << action.ErrorText();
        EXPECT_EQ(bytes, kJpeg);
    }
    std::vector<std::string> expectedFiles(GetParam().files.begin(), GetParam().files.end());
    if (std::string_view(GetParam().layout) == "tms")
        expectedFiles.push_back("tilemapresource.xml"); // so that the tree is known as TMS again
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(FilesBelow(dir_.Path()), expectedFiles) << "no temporary file may stay behind";
    for (size_t i = 0; i < std::size(kStored); ++i)
        EXPECT_EQ(ReadFile(dir_ / GetParam().files[i]), kStored[i].data) << GetParam().files[i];

    Action action(plugin_);
    ASSERT_TRUE(action.Open(dir_.Path())) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    std::map<std::string, uint32_t> listed, expected;
    for (const Plate& plate : plates)
        listed[plate.name] = plate.size;
    for (const Stored& plate : kStored)
        expected[plate.name] = static_cast<uint32_t>(plate.data.size());
    EXPECT_EQ(listed, expected);
    for (const Stored& plate : kStored) {
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(plate.name, &bytes), kDone) << plate.name << ": " << action.ErrorText();
        EXPECT_EQ(bytes, plate.data);
    }
}

TEST_P(StoreInto, ReplacesAPlateAndDeletesIt) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(dir_.Path() + Options())) << action.ErrorText();
    ASSERT_EQ(Store(action, "trs", kPng), kDone) << action.ErrorText();
    ASSERT_EQ(Store(action, "trs", kJpeg), kDone) << action.ErrorText();
    ASSERT_EQ(Store(action, "t", ""), kDone) << action.ErrorText(); // empty data: an empty file
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ASSERT_EQ(plates.size(), 2u) << "a replaced plate in another format must not stay twice";
    std::string bytes;
    EXPECT_EQ(action.GetPlateData("trs", &bytes), kDone);
    EXPECT_EQ(bytes, kJpeg);
    EXPECT_EQ(action.GetPlateData("t", &bytes), kEmpty);

    ASSERT_EQ(action.Delete("trs"), kDone) << action.ErrorText();
    EXPECT_FALSE(fs::exists(dir_ / GetParam().files[1]));
    EXPECT_EQ(action.Delete("trs"), kFailed);
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    ASSERT_EQ(plates.size(), 1u);
    EXPECT_EQ(plates[0].name, "t");
}

INSTANTIATE_TEST_SUITE_P(Layouts, StoreInto, testing::ValuesIn(kStoreCases),
                         [](const testing::TestParamInfo<StoreCase>& param) {
                             return std::string(*param.param.layout ? param.param.layout : "default");
                         });

// A plate stored again in another format leaves one file, whether its
// folder was there before the storage was opened (read once for what it
// holds) or was made by this run; the neighbours stay.
struct ReplaceCase {
    const char* label;
    std::vector<std::string> before;        // files there before Open
    std::vector<std::string> stores;        // data stored as plate "tt" (1/0/1 in z/x/y), in order
    std::vector<std::string> after;         // every file below the folder at the end
};

const ReplaceCase kReplaceCases[] = {
    {"LowerCaseSibling", {"1/0/1.jpg", "1/0/0.webp"}, {kPng}, {"1/0/0.webp", "1/0/1.png"}},
    {"UpperCaseSibling", {"1/0/1.JPG", "1/0/0.webp"}, {kPng}, {"1/0/0.webp", "1/0/1.png"}},
    {"MixedCaseSibling", {"1/0/1.Jpeg", "1/0/0.webp"}, {kPng}, {"1/0/0.webp", "1/0/1.png"}},
    {"SameFormat", {"1/0/1.png", "1/0/0.webp"}, {kPng}, {"1/0/0.webp", "1/0/1.png"}},
    {"TwiceInAFoundFolder", {"1/0/0.webp"}, {kPng, kJpeg}, {"1/0/0.webp", "1/0/1.jpg"}},
    {"TwiceInAMadeFolder", {"2/0/0.png"}, {kPng, kGif, kJpeg}, {"1/0/1.jpg", "2/0/0.png"}},
    {"TwiceInAnEmptyStorage", {}, {kJpeg, kPng}, {"1/0/1.png"}},
};

void PrintTo(const ReplaceCase& c, std::ostream* out) { *out << c.label; }

class ReplaceIn : public testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceIn, LeavesOneFileAPlate) {
    TempDir dir;
    for (const std::string& file : GetParam().before)
        WriteFile(dir / file, "old");
    LoadedPlugin plugin(FOLDER_PLUGIN);
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(dir.Path() + "?layout=xyz")) << action.ErrorText();
        for (const std::string& data : GetParam().stores)
            ASSERT_EQ(Store(action, "tt", data), kDone) << action.ErrorText();
    }
    EXPECT_EQ(FilesBelow(dir.Path()), GetParam().after);
    Action action(plugin);
    ASSERT_TRUE(action.Open(dir.Path() + "?layout=xyz")) << action.ErrorText();
    std::string bytes;
    ASSERT_EQ(action.GetPlateData("tt", &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes, GetParam().stores.back());
}

INSTANTIATE_TEST_SUITE_P(Folders, ReplaceIn, testing::ValuesIn(kReplaceCases),
                         [](const testing::TestParamInfo<ReplaceCase>& param) { return param.param.label; });

TEST(FolderStore, RefusesWhatCannotBeStored) {
    TempDir dir;
    LoadedPlugin plugin(FOLDER_PLUGIN);
    Action action(plugin);
    ASSERT_TRUE(action.Open(dir.Path())) << action.ErrorText();
    // A file where a folder must be made.
    WriteFile(dir / "2", "in the way");
    EXPECT_EQ(Store(action, "trs", kPng), kFailed);
    EXPECT_NE(action.ErrorText().find("Cannot write 2/3/1.png"), std::string::npos) << action.ErrorText();
    EXPECT_EQ(FilesBelow(dir.Path()), std::vector<std::string>{"2"});
}

} // namespace
} // namespace storage_test

namespace storage_test {
namespace {

// A version 2 bundle whose only tile, the first, is `size` bytes at `offset`.
std::string Bundle(uint64_t offset, uint32_t size) {
    std::string bytes(64 + 16384 * 8, '\0');
    const auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    };
    put32(0, 3);
    put32(4, 16384);
    put32(12, 5);
    const uint64_t entry = offset | uint64_t{size} << 40;
    put32(64, static_cast<uint32_t>(entry));
    put32(68, static_cast<uint32_t>(entry >> 32));
    return bytes;
}

TEST(CompactCache, SaysWhatItCannotRead) {
    TempDir dir;
    WriteFile(dir / "v1/L00/R0000C0000.bundlx", "x");
    WriteFile(dir / "tiles/0/0/0.png", "x");
    WriteFile(dir / "short/L00/R0000C0000.bundle", "0123456789");
    WriteFile(dir / "past/L00/R0000C0000.bundle", Bundle(1u << 30, 10));
    WriteFile(dir / "geodetic/L00/R0000C0000.bundle", Bundle(64 + 16384 * 8, 0));
    WriteFile(dir / "mapproxy.yaml", "caches:\n  geo:\n    grids: [GLOBAL_GEODETIC]\n    cache:\n      type: compact\n"
                                     "      version: 2\n      directory: ./geodetic\n");
    LoadedPlugin plugin(COMPACT_PLUGIN);
    EXPECT_EQ(plugin.Info().flags & SupportsWrite, 0u) << "a read-only storage says so in its flags";
    struct Case {
        const char* folder;
        const char* openError; // null: opens
        const char* listError; // null: lists
        const char* readError; // GetPlateData("t")
    };
    const Case cases[] = {
        {"v1", "v1 is a compact cache of version 1 (.bundlx index files): only version 2 is read", nullptr, nullptr},
        {"tiles", "tiles holds no compact cache: no L00 to L30 folders of .bundle files", nullptr, nullptr},
        {"short?origin=se", "Unknown origin \"se\"; known: nw (rows from the top), sw (from the bottom)", nullptr, nullptr},
        {"short?layout=tc", "Unknown option \"layout=tc\"; a compact cache takes origin=nw or origin=sw", nullptr, nullptr},
        {"geodetic", "mapproxy.yaml puts geodetic on grid GLOBAL_GEODETIC: only Web Mercator tiles are plates", nullptr,
         nullptr},
        {"short", nullptr, "L00/R0000C0000.bundle: too short for a bundle", nullptr},
        {"past", nullptr, nullptr, "L00/R0000C0000.bundle: the index points past the end of the bundle"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        Action action(plugin);
        ASSERT_EQ(action.Open(dir / c.folder), c.openError == nullptr) << action.ErrorText();
        if (c.openError) {
            EXPECT_EQ(action.ErrorText(), c.openError);
            continue;
        }
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), c.listError ? kFailed : kDone) << action.ErrorText();
        if (c.listError) {
            EXPECT_EQ(action.ErrorText(), c.listError);
            continue;
        }
        std::string bytes;
        EXPECT_EQ(action.GetPlateData("t", &bytes), kFailed);
        EXPECT_EQ(action.ErrorText(), c.readError);
        EXPECT_EQ(action.Store("t", "x"), kFailed);
        EXPECT_NE(action.ErrorText().find("read only"), std::string::npos) << action.ErrorText();
    }
}

} // namespace
} // namespace storage_test
