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
    std::vector<std::string> files;
};

const RealTree kRealTrees[] = {
    {"gdal-xyz", "",
     {"0/0/0.png", "1/0/0.png", "1/1/0.png", "2/1/1.png", "2/2/1.png", "3/3/2.png", "3/3/3.png", "3/4/2.png",
      "3/4/3.png"}},
    // Recognised by its tilemapresource.xml.
    {"gdal-tms", "",
     {"0/0/0.png", "1/0/1.png", "1/1/1.png", "2/1/2.png", "2/2/2.png", "3/3/5.png", "3/3/4.png", "3/4/5.png",
      "3/4/4.png"}},
    // The seeding tool's TMS tree has no such file: the path names the layout.
    {"mapproxy-tms", "?layout=tms",
     {"0/0/0.png", "1/0/1.png", "1/1/1.png", "2/1/2.png", "2/2/2.png", "3/3/5.png", "3/3/4.png", "3/4/5.png",
      "3/4/4.png"}},
    {"mapproxy-tc", "",
     {"00/000/000/000/000/000/000.png", "01/000/000/000/000/000/001.png", "01/000/000/001/000/000/001.png",
      "02/000/000/001/000/000/002.png", "02/000/000/002/000/000/002.png", "03/000/000/003/000/000/005.png",
      "03/000/000/003/000/000/004.png", "03/000/000/004/000/000/005.png", "03/000/000/004/000/000/004.png"}},
    {"mapproxy-tc-nw", "?origin=nw",
     {"00/000/000/000/000/000/000.png", "01/000/000/000/000/000/000.png", "01/000/000/001/000/000/000.png",
      "02/000/000/001/000/000/001.png", "02/000/000/002/000/000/001.png", "03/000/000/003/000/000/002.png",
      "03/000/000/003/000/000/003.png", "03/000/000/004/000/000/002.png", "03/000/000/004/000/000/003.png"}},
    {"mapproxy-mp", "",
     {"00/0000/0000/0000/0000.png", "01/0000/0000/0000/0001.png", "01/0000/0001/0000/0001.png",
      "02/0000/0001/0000/0002.png", "02/0000/0002/0000/0002.png", "03/0000/0003/0000/0005.png",
      "03/0000/0003/0000/0004.png", "03/0000/0004/0000/0005.png", "03/0000/0004/0000/0004.png"}},
    {"mapproxy-quadkey", "", {".png", "0.png", "1.png", "03.png", "12.png", "031.png", "033.png", "120.png", "122.png"}},
    {"mapproxy-arcgis", "",
     {"L00/R00000000/C00000000.png", "L01/R00000000/C00000000.png", "L01/R00000000/C00000001.png",
      "L02/R00000001/C00000001.png", "L02/R00000001/C00000002.png", "L03/R00000002/C00000003.png",
      "L03/R00000003/C00000003.png", "L03/R00000002/C00000004.png", "L03/R00000003/C00000004.png"}},
};

void PrintTo(const RealTree& tree, std::ostream* out) { *out << tree.folder << tree.options; }

class RealTrees : public testing::TestWithParam<RealTree> {};

TEST_P(RealTrees, ListAndHandOutEveryTileUnderItsPlateName) {
    const RealTree& tree = GetParam();
    ASSERT_EQ(tree.files.size(), std::size(kEurope));
    std::map<std::string, std::string> expected; // plate name -> file
    for (size_t i = 0; i < tree.files.size(); ++i)
        expected[plate_key::Name(kEurope[i])] = kFolders + tree.folder + "/" + tree.files[i];

    LoadedPlugin plugin(FOLDER_PLUGIN);
    Action action(plugin);
    ASSERT_TRUE(action.Open(kFolders + tree.folder + tree.options)) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
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
                             std::string label = param.param.folder;
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
