// The choice of a storage plugin by what a path is.
#include "plugins/PluginChoice.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

const std::vector<PluginKind> kShipped = {
    {"folder", UsesDirectory | SupportsWrite | SupportsList, ""},
    {"geopackage", SupportsWrite | SupportsList, "gpkg"},
    {"mbtiles", SupportsWrite | SupportsList, "mbtiles"},
    {"pmtiles", SupportsList, "pmtiles"},
    {"tilebundle", UsesDirectory | SupportsList, ""},
};
// Two of each kind: the one named after the kind is the usual answer, for
// .mbtiles none is.
const std::vector<PluginKind> kDoubled = {
    {"tiles_tree", UsesDirectory | SupportsList, ""},
    {"folder", UsesDirectory | SupportsWrite | SupportsList, ""},
    {"fast_mbtiles", SupportsList, "mbtiles"},
    {"other_mbtiles", SupportsWrite | SupportsList, "mbtiles"},
    {"pmtiles", SupportsList, "pmtiles"},
    {"PMTILES", SupportsList, "PMTiles"},
};

struct Case {
    const char* what;
    const std::vector<PluginKind>* kinds;
    std::string path;           // below the test's folder
    const char* chosen;         // the kind's name; "" for none
    bool folder;                // the path asks for a folder plugin
    std::vector<int> fits;      // when several fit and none is usual
};

} // namespace

TEST(PathChoiceTest, ChoosesByWhatThePathIs)
{
    const std::string longName(300, 'n');
    const std::vector<Case> cases = {
        {"an existing folder", &kShipped, "tiles", "folder", true, {}},
        {"a folder named like a file", &kShipped, "x.mbtiles", "folder", true, {}},
        {"a new path without an extension", &kShipped, "new", "folder", true, {}},
        {"a folder with options", &kShipped, "tiles?layout=tms", "folder", true, {}},
        {"a new folder with options", &kShipped, "new?layout=xyz", "folder", true, {}},
        {"an MBTiles file", &kShipped, "world.mbtiles", "mbtiles", false, {}},
        {"a new MBTiles file", &kShipped, "new.mbtiles", "mbtiles", false, {}},
        {"an extension in capitals", &kShipped, "w.GPKG", "geopackage", false, {}},
        {"a PMTiles archive", &kShipped, "a.pmtiles", "pmtiles", false, {}},
        {"an unknown extension", &kShipped, "x.xyz", "", false, {}},
        {"a file without an extension", &kShipped, "noext", "", false, {}},
        {"a name too long to look at", &kShipped, longName + ".mbtiles", "mbtiles", false, {}},
        {"a folder name too long to look at", &kShipped, longName, "folder", true, {}},
        {"a file through a link loop", &kShipped, "loop/x.mbtiles", "mbtiles", false, {}},
        {"a link loop", &kShipped, "loop", "folder", true, {}},
        {"a compact cache's bundles", &kShipped, "compact", "tilebundle", true, {}},
        {"an ArcGIS server's bundles", &kShipped, "server", "tilebundle", true, {}},
        {"level folders of tiles, not bundles", &kShipped, "arcgis", "folder", true, {}},
        {"no plugins", &kDoubled, "x.gpkg", "", false, {}},
        {"the usual folder plugin", &kDoubled, "tiles", "folder", true, {}},
        {"several file plugins", &kDoubled, "world.mbtiles", "", false, {2, 3}},
        {"the usual one by name in any case", &kDoubled, "a.pmtiles", "pmtiles", false, {}},
    };
    TempFolder folder;
    fs::create_directory(folder.Path() / "tiles");
    fs::create_directory(folder.Path() / "x.mbtiles");
    for (const char* file : {"world.mbtiles", "w.GPKG", "a.pmtiles", "noext"})
        WriteWholeFile(folder.File(file), "x");
    fs::create_directory_symlink("loop", folder.Path() / "loop");
    for (const char* file : {"compact/L00/R0000C0000.bundle", "server/Layers/_alllayers/L03/R0000C0080.bundle",
                             "arcgis/L00/R00000000/C00000000.png"}) {
        fs::create_directories(fs::path(folder.File(file)).parent_path());
        WriteWholeFile(folder.File(file), "x");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PathChoice choice = ChoosePluginForPath(*c.kinds, folder.File(c.path));
        const std::string chosen = choice.chosen >= 0 ? (*c.kinds)[static_cast<std::size_t>(choice.chosen)].name : "";
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(choice.folder, c.folder);
        EXPECT_EQ(choice.fits, c.fits);
    }
}

TEST(PathChoiceTest, OptionsAreCutOnlyFromAPathThatDoesNotExistAsItIs)
{
    TempFolder folder;
    fs::create_directory(folder.Path() / "tiles");
    WriteWholeFile(folder.File("odd?name=1"), "x");
    EXPECT_EQ(StoragePathPart(folder.File("tiles?layout=tms")), folder.File("tiles"));
    EXPECT_EQ(StoragePathPart(folder.File("odd?name=1")), folder.File("odd?name=1"));
    EXPECT_EQ(StoragePathPart(folder.File("what?")), folder.File("what?"));
}
