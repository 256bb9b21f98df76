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

// A URL is never a local path: it takes the plugin that serves its scheme
// (a folder plugin naming the scheme as its extension), or none, and a
// local folder never takes that plugin.
TEST(PathChoiceTest, UrlsTakeThePluginOfTheirScheme)
{
    const std::vector<PluginKind> withS3 = {
        {"folder", UsesDirectory | SupportsWrite | SupportsList, ""},
        {"mbtiles", SupportsWrite | SupportsList, "mbtiles"},
        {"s3", UsesDirectory | SupportsWrite | SupportsList, "s3,https,http"},
    };
    struct UrlCase {
        const char* what;
        const std::vector<PluginKind>* kinds;
        std::string path;
        const char* chosen;
        const char* scheme;
    };
    const std::vector<UrlCase> cases = {
        {"a bucket", &withS3, "s3://bkt/tiles", "s3", "s3"},
        {"a bucket with options", &withS3, "s3://bkt/tiles?layout=tms", "s3", "s3"},
        {"a scheme in capitals", &withS3, "S3://bkt/tiles", "s3", "s3"},
        {"a bucket without the plugin", &kShipped, "s3://bkt/tiles", "", "s3"},
        {"an archive on a web server", &withS3, "https://host/a/world.pmtiles", "s3", "https"},
        {"plain http", &withS3, "HTTP://127.0.0.1:8080/b/world.pmtiles", "s3", "http"},
        {"a part of a scheme name", &withS3, "ht://host/tiles", "", "ht"},
        {"an unknown scheme", &withS3, "gopher://host/tiles", "", "gopher"},
        {"a local folder", &withS3, "tiles", "folder", ""},
        {"a new local folder", &withS3, "new", "folder", ""},
    };
    TempFolder folder;
    fs::create_directory(folder.Path() / "tiles");
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.path.find("://") != std::string::npos ? c.path : folder.File(c.path);
        const PathChoice choice = ChoosePluginForPath(*c.kinds, path);
        const std::string chosen = choice.chosen >= 0 ? (*c.kinds)[static_cast<std::size_t>(choice.chosen)].name : "";
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(choice.scheme, c.scheme);
        EXPECT_FALSE(choice.scheme.empty() && choice.chosen < 0);
        EXPECT_FALSE(fs::exists("s3:"));
    }
}
