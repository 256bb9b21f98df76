#include "plugin_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kFailed = Failed;

struct TreeCase {
    const char* label;
    std::vector<std::string> plateFiles;          // each file's contents is its own path
    std::vector<std::string> noise;               // files that are no plates
    std::map<std::string, std::string> expected;  // plate name -> file
};

// Both layouts, each with files that must be passed over.
const TreeCase kTrees[] = {
    {"PlateTree",
     {"t.jpg", "t/q.png", "t/q/r/s.jpg", "t/s/t.jpeg", "t/r.JPG", "t/t.Webp"},
     {"t/readme.txt", "t/x.jpg", "t/q/r/q.jp", "t/qq.jpg", ".hidden.jpg", "q.jpg", "t/q/r/s/notes"},
     {{"t", "t.jpg"},
      {"tq", "t/q.png"},
      {"tqrs", "t/q/r/s.jpg"},
      {"tst", "t/s/t.jpeg"},
      {"tr", "t/r.JPG"},
      {"tt", "t/t.Webp"}}},
    {"SlippyTree",
     {"0/0/0.png", "1/0/1.jpg", "1/1/0.webp", "3/7/7.jpeg", "3/3/5.PNG"},
     {"1/2/0.png", "1/0/5.png", "1/0/a.png", "01/0/0.png", "README.md", "1/0/1.txt", "31/0/0.png", "1/0/.1.png"},
     {{"t", "0/0/0.png"}, {"tt", "1/0/1.jpg"}, {"tr", "1/1/0.webp"}, {"tsss", "3/7/7.jpeg"}, {"ttrs", "3/3/5.PNG"}}},
};

void PrintTo(const TreeCase& tree, std::ostream* out) { *out << tree.label; }

class FolderPlugin : public testing::TestWithParam<TreeCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(plugin_.LoadError(), "");
        for (const std::string& file : GetParam().plateFiles)
            WriteFile(dir_ / file, file);
        for (const std::string& file : GetParam().noise)
            WriteFile(dir_ / file, "noise");
        ASSERT_TRUE(action_.Open(dir_.Path())) << action_.ErrorText();
    }

    LoadedPlugin plugin_{FOLDER_PLUGIN};
    Action action_{plugin_};
    TempDir dir_;
};

TEST_P(FolderPlugin, ListsEveryPlateFileWithItsSize) {
    std::vector<Plate> plates;
    ASSERT_EQ(action_.Enumerate(&plates), kDone) << action_.ErrorText();
    std::map<std::string, uint32_t> listed;
    std::set<int32_t> numbers;
    for (const Plate& plate : plates) {
        EXPECT_TRUE(listed.emplace(plate.name, plate.size).second) << plate.name << " listed twice";
        numbers.insert(plate.number);
    }
    std::map<std::string, uint32_t> expected;
    for (const auto& [name, file] : GetParam().expected)
        expected[name] = static_cast<uint32_t>(file.size());
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(numbers.size(), plates.size()) << "numbers must tell plates apart";
}

TEST_P(FolderPlugin, HandsOutEachPlatesFile) {
    for (const auto& [name, file] : GetParam().expected) {
        std::string bytes;
        ASSERT_EQ(action_.GetPlateData(name, &bytes), kDone) << name << ": " << action_.ErrorText();
        EXPECT_EQ(bytes, file) << name;
    }
}

TEST_P(FolderPlugin, DeletesAPlatesFileAndNothingElse) {
    const auto& [name, file] = *GetParam().expected.begin();
    ASSERT_EQ(action_.Delete(name), kDone) << action_.ErrorText();
    EXPECT_FALSE(std::filesystem::exists(dir_ / file));
    for (const std::string& noise : GetParam().noise)
        EXPECT_TRUE(std::filesystem::exists(dir_ / noise)) << noise;
    EXPECT_EQ(action_.Delete(name), kFailed);
    EXPECT_NE(action_.ErrorText().find("No plate"), std::string::npos) << action_.ErrorText();

    std::vector<Plate> plates;
    ASSERT_EQ(action_.Enumerate(&plates), kDone);
    EXPECT_EQ(plates.size(), GetParam().expected.size() - 1);
    for (const Plate& plate : plates)
        EXPECT_NE(plate.name, name);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FolderPlugin, testing::ValuesIn(kTrees),
                         [](const testing::TestParamInfo<TreeCase>& param) { return param.param.label; });

class FolderStorage : public testing::Test {
protected:
    LoadedPlugin plugin_{FOLDER_PLUGIN};
    TempDir dir_;
};

TEST_F(FolderStorage, ListsASlippyTreeInZoomOrder) {
    for (const char* file : {"4/1/1.png", "2/1/1.png", "10/0/0.png", "0/0/0.png", "3/1/1.png", "1/1/1.png"})
        WriteFile(dir_ / file, "x");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(dir_.Path())) << action.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone);
    std::vector<size_t> zooms;
    for (const Plate& plate : plates)
        zooms.push_back(plate.name.size());
    EXPECT_EQ(zooms, (std::vector<size_t>{1, 2, 3, 4, 5, 11}));
}

// A store keeps the plate folder of the last store open for the next one;
// a folder removed in between is made again, not written into the void.
TEST_F(FolderStorage, StoresIntoAPlateFolderRemovedSinceTheLastStore) {
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "picture";
    Action action(plugin_);
    ASSERT_TRUE(action.Open(dir_.Path())) << action.ErrorText();
    ASSERT_EQ(action.Store("tqq", png), kDone) << action.ErrorText();
    ASSERT_TRUE(std::filesystem::exists(dir_ / "2/0/0.png"));
    std::filesystem::remove_all(dir_ / "2/0");
    ASSERT_EQ(action.Store("tqt", png), kDone) << action.ErrorText();
    action.Close();
    EXPECT_TRUE(std::filesystem::exists(dir_ / "2/0/1.png"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "2/0/0.png"));
}

TEST_F(FolderStorage, RefusesFoldersOfNoKnownLayout) {
    struct Case {
        const char* path;
        std::vector<std::string> files;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"photos", {"photos/2019/a.jpg", "photos/README"}, "holds no tile tree"},
        {"deep", {"deep/99/0/0.png", "deep/T/q.jpg"}, "holds no tile tree"},
    };
    for (const Case& c : cases) {
        for (const std::string& file : c.files)
            WriteFile(dir_ / file, "x");
        Action action(plugin_);
        EXPECT_FALSE(action.Open(dir_ / c.path)) << c.path;
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << c.path << ": " << action.ErrorText();
    }
}

// ---- links that lead out of the storage --------------------------------------

// A storage beside a guard folder; links in the storage point into the guard
// (or stay inside). The storage's plates are the files inside it: nothing in
// the guard may be listed, deleted or written through a link.
struct LinkCase {
    const char* label;
    std::vector<std::string> storeFiles;                     // below store/
    std::vector<std::string> guardFiles;                     // below guard/
    std::vector<std::pair<std::string, std::string>> links;  // store/PATH -> TARGET
    std::set<std::string> listed;                            // plate names the listing gives
    std::vector<std::string> deletable;                      // deleted: Done
    std::vector<std::string> refused;                        // deleting and storing fail
    std::set<std::string> storeLeft;                         // files below store/ afterwards (links included)
};

const LinkCase kLinkCases[] = {
    {"ZoomFolderLinkOut",
     {"0/0/0.png"},
     {"3/1/1.png", "3/2/2.png", "3/7/7.png"},
     {{"3", "../guard/3"}},
     {"t"},
     {},
     {"tqqs", "tsss", "tqsq"},
     {"0", "0/0", "0/0/0.png", "3"}},
    {"PlateFolderLinkOut",
     {"t.jpg", "t/r.jpg"},
     {"q/r.jpg", "q/s.jpg"},
     {{"t/q", "../../guard/q"}},
     {"t", "tr"},
     {"t", "tr"},
     {"tqr", "tqs", "tqq"},
     {"t", "t/q"}},
    {"AbsoluteLinkOut",
     {"0/0/0.png"},
     {"3/1/1.png"},
     {{"3", "@guard/3"}}, // '@' stands for the test's folder
     {"t"},
     {"t"},
     {"tqqs"},
     {"0", "0/0", "3"}},
    {"FileLinkOut",
     {},
     {"x.png"},
     {{"0/0/0.png", "../../../guard/x.png"}},
     {"t"},
     {"t"}, // removes the link only
     {},
     {"0", "0/0"}},
    {"LinkThatStaysInside",
     {"0/0/0.png", "zz/3/1/1.png"},
     {"3/1/1.png"},
     {{"3", "zz/3"}},
     {"t", "tqqs"},
     {"tqqs"},
     {},
     {"0", "0/0", "0/0/0.png", "3", "zz", "zz/3", "zz/3/1"}},
};

void PrintTo(const LinkCase& c, std::ostream* out) { *out << c.label; }

std::set<std::string> FilesBelow(const std::string& folder, bool withFolders) {
    std::set<std::string> names;
    for (auto it = std::filesystem::recursive_directory_iterator(folder); it != std::filesystem::end(it); ++it) {
        if (withFolders || !it->is_directory())
            names.insert(it->path().lexically_relative(folder).string());
    }
    return names;
}

class FolderLinks : public testing::TestWithParam<LinkCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(plugin_.LoadError(), "");
        for (const std::string& file : GetParam().storeFiles)
            WriteFile(root_ / ("store/" + file), "store " + file);
        for (const std::string& file : GetParam().guardFiles)
            WriteFile(root_ / ("guard/" + file), "guard " + file);
        std::filesystem::create_directories(root_ / "store");
        std::filesystem::create_directories(root_ / "guard");
        for (const auto& [path, target] : GetParam().links) {
            const std::string at = root_ / ("store/" + path);
            std::filesystem::create_directories(std::filesystem::path(at).parent_path());
            std::string to = target;
            if (!to.empty() && to[0] == '@')
                to = root_.Path() + "/" + to.substr(1);
            std::filesystem::create_symlink(to, at);
        }
        guardBefore_ = Contents("guard");
    }

    std::map<std::string, std::string> Contents(const std::string& folder) {
        std::map<std::string, std::string> contents;
        for (const std::string& file : FilesBelow(root_ / folder, false))
            contents[file] = ReadFile(root_ / (folder + "/" + file));
        return contents;
    }

    LoadedPlugin plugin_{FOLDER_PLUGIN};
    TempDir root_;
    std::map<std::string, std::string> guardBefore_;
};

TEST_P(FolderLinks, NothingOutsideTheStorageIsListedDeletedOrWritten) {
    const LinkCase& c = GetParam();
    Action action(plugin_);
    ASSERT_TRUE(action.Open(root_ / "store")) << action.ErrorText();
    std::vector<Plate> plates;
    action.Enumerate(&plates);
    std::set<std::string> listed;
    for (const Plate& plate : plates)
        listed.insert(plate.name);
    EXPECT_EQ(listed, c.listed);

    for (const std::string& name : c.deletable)
        EXPECT_EQ(action.Delete(name), kDone) << name << ": " << action.ErrorText();
    for (const std::string& name : c.refused) {
        EXPECT_EQ(action.Delete(name), kFailed) << name;
        EXPECT_EQ(action.Store(name, "new data"), kFailed) << name;
    }
    action.Close();

    EXPECT_EQ(Contents("guard"), guardBefore_) << "the guard folder must stay as it was";
    std::set<std::string> left;
    for (const std::string& file : FilesBelow(root_ / "store", true))
        left.insert(file);
    EXPECT_EQ(left, c.storeLeft);
}

INSTANTIATE_TEST_SUITE_P(Links, FolderLinks, testing::ValuesIn(kLinkCases),
                         [](const testing::TestParamInfo<LinkCase>& param) { return param.param.label; });

} // namespace
} // namespace storage_test
