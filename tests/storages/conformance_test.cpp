// What every shipped storage plugin owes the program, as one table: each
// plugin, driven through the contract header alone, against each case. What
// rightly differs between plugins (a read-only plugin, the texts naming a
// storage of the wrong kind) is a column of kPlugins, not a copy of a test.
#include "plugin_host.h"
#include "pmtiles_writer.h"
#include "sqlite_db.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

namespace storage_test {
namespace {

namespace fs = std::filesystem;
constexpr uint32_t kDone = Done, kFailed = Failed, kAborted = Aborted;

struct ShippedPlugin {
    const char* label;
    const char* library;
    uint32_t flags;        // PluginInfo.flags, exactly
    const char* extension; // ActionInterface.extension
    // Makes a storage of known plates in `dir` and returns the path to open.
    std::string (*make)(const TempDir& dir);
    // Makes a storage of this kind without plates in `dir`.
    std::string (*makeEmpty)(const TempDir& dir);
    size_t plates;       // how many it holds
    const char* present; // one of them
    const char* missing; // a valid plate name it does not hold
    // False for a plugin that never changes a storage: every Write fails
    // with `readOnlyText`. True: a storage without write bits is refused so.
    bool writable;
    const char* readOnlyText;
    const char* wrongKindText; // a folder given to a file plugin, a file to the folder plugin
    const char* specialText;   // a FIFO or a device given as the storage
    // What a listing that returned Done leaves as its text: nothing, or the
    // start of a note on how the storage was read (the folder's layout).
    const char* listingNote = "";
};

void PrintTo(const ShippedPlugin& plugin, std::ostream* out) { *out << plugin.label; }

std::string CopyFixture(const TempDir& dir, const char* fixture, const char* as) {
    const std::string path = dir / as;
    fs::copy_file(std::string(FIXTURE_DIR "/") + fixture, path);
    return path;
}

std::string MakeTree(const TempDir& dir, const std::vector<std::string>& files) {
    for (const std::string& file : files)
        WriteFile(dir / ("tree/" + file), "plate " + file);
    return dir / "tree";
}

std::string MakeFolders(const TempDir& dir, const std::string& folders) {
    fs::create_directories(dir / ("empty/" + folders));
    return dir / "empty";
}

const ShippedPlugin kPlugins[] = {
    {"mbtiles", MBTILES_PLUGIN, SupportsWrite | SupportsList, "mbtiles",
     [](const TempDir& dir) { return CopyFixture(dir, "gdal-world.mbtiles", "world.mbtiles"); },
     [](const TempDir& dir) {
         const std::string path = dir / "empty.mbtiles";
         SqliteDb(path).Exec("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER,"
                             " tile_data BLOB);"
                             "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
         return path;
     },
     21, "tqq", "tqqq",
     true, "world.mbtiles is read-only", "is a folder, not an MBTiles file", "is not a regular file"},
    {"geopackage", GEOPACKAGE_PLUGIN, SupportsWrite | SupportsList, "gpkg",
     [](const TempDir& dir) { return CopyFixture(dir, "geopackage/world.gpkg", "world.gpkg"); },
     [](const TempDir& dir) {
         const std::string path = CopyFixture(dir, "geopackage/world.gpkg", "empty.gpkg");
         SqliteDb(path).Exec("DELETE FROM world");
         return path;
     },
     21, "tqq", "tqqq",
     true, "world.gpkg is read-only", "is a folder, not a GeoPackage", "is not a regular file"},
    // A GeoPackage this plugin made from an empty file (a copy's target);
    // an empty file is one without plates.
    {"new_geopackage", GEOPACKAGE_PLUGIN, SupportsWrite | SupportsList, "gpkg",
     [](const TempDir& dir) {
         const std::string path = dir / "new.gpkg";
         WriteFile(path, "");
         LoadedPlugin plugin(GEOPACKAGE_PLUGIN);
         Action action(plugin);
         EXPECT_TRUE(action.Open(path)) << action.ErrorText();
         for (const char* name : {"t", "tq", "tr", "ts", "tt", "tqq"})
             EXPECT_EQ(action.Store(name, std::string("plate ") + name), kDone) << action.ErrorText();
         return path;
     },
     [](const TempDir& dir) {
         WriteFile(dir / "empty.gpkg", "");
         return dir / "empty.gpkg";
     },
     6, "tq", "tqqqq",
     true, "new.gpkg is read-only", "is a folder, not a GeoPackage", "is not a regular file"},
    // Stores only into a new, empty file and writes the archive whole on
    // closing, so an existing archive is never changed.
    {"pmtiles", PMTILES_PLUGIN, SupportsWrite | SupportsList, "pmtiles",
     [](const TempDir& dir) {
         return CopyFixture(dir, "pmtiles/stamen-toner-raster-z3.pmtiles", "world.pmtiles");
     },
     [](const TempDir& dir) {
         WriteFile(dir / "empty.pmtiles", pmtiles_writer::ArchiveHead({}, 0));
         return dir / "empty.pmtiles";
     },
     85, "tqs", "tqqqq", false, "A PMTiles archive is written whole", "is a folder, not a PMTiles archive",
     "is not a regular file"},
    {"folder_xyz", FOLDER_PLUGIN, UsesDirectory | SupportsWrite | SupportsList, "",
     [](const TempDir& dir) {
         return MakeTree(dir, {"0/0/0.png", "1/0/0.png", "1/1/0.png", "1/0/1.png", "1/1/1.png", "2/1/2.png"});
     },
     [](const TempDir& dir) { return MakeFolders(dir, "5/3"); },
     6, "tq", "tqqqq", true, "Permission denied", "is not a folder", "is not a folder", "layout: "},
    {"folder_plates", FOLDER_PLUGIN, UsesDirectory | SupportsWrite | SupportsList, "",
     [](const TempDir& dir) {
         return MakeTree(dir, {"t.jpg", "t/q.jpg", "t/r.jpg", "t/s.jpg", "t/t.jpg", "t/q/q.jpg"});
     },
     [](const TempDir& dir) { return MakeFolders(dir, "t/q"); },
     6, "tq", "tqqqq", true, "Permission denied", "is not a folder", "is not a folder", "layout: "},
};

// Names no plate can have: empty, not starting at the world plate "t",
// letters other than q, r, s and t, deeper than zoom 30, a path.
const std::string kBadNames[] = {"", "q", "tqx", "tQ", "t" + std::string(31, 'q'), "t/q", "../t"};

class Conformance : public testing::TestWithParam<ShippedPlugin> {
protected:
    void SetUp() override {
        ASSERT_EQ(plugin_.LoadError(), "");
        path_ = GetParam().make(dir_);
    }

    // Every plate of an open action with its bytes, each listed once.
    static std::map<std::string, std::string> Contents(Action& action) {
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        std::map<std::string, std::string> contents;
        for (const Plate& plate : plates) {
            std::string bytes;
            EXPECT_EQ(action.GetPlateData(plate.name, &bytes), kDone) << plate.name << ": " << action.ErrorText();
            EXPECT_EQ(bytes.size(), plate.size) << plate.name;
            EXPECT_TRUE(contents.emplace(plate.name, bytes).second) << plate.name << " listed twice";
        }
        return contents;
    }

    // What a fresh action finds in the storage: what is on disk.
    std::map<std::string, std::string> Reopened() {
        Action action(plugin_);
        EXPECT_TRUE(action.Open(path_)) << action.ErrorText();
        return Contents(action);
    }

    // The text a refused Write must carry: `writableText` from a plugin that
    // writes, the read-only text from one that never does.
    std::string RefusalOf(const std::string& writableText) const {
        return GetParam().writable ? writableText : GetParam().readOnlyText;
    }

    static uint32_t WriteMode(Action& action, const std::string& name, uint32_t mode) {
        static const char kData[] = "data";
        return action.Raw()->functions->Write(action.Raw(), name.c_str(), kData, sizeof kData, mode) & 0xFFFF;
    }

    LoadedPlugin plugin_{GetParam().library};
    TempDir dir_;
    std::string path_;
};

#define EXPECT_TEXT(action, text) \
    EXPECT_NE((action).ErrorText().find(text), std::string::npos) << "wanted \"" << (text) << "\": " << (action).ErrorText()

// ---- the records ----------------------------------------------------------------

TEST_P(Conformance, FillsExactlyThePluginInfoBlock) {
    // Bytes past the block must stay untouched.
    std::vector<unsigned char> block(sizeof(PluginInfo) + 32, 0xA5);
    ASSERT_EQ(plugin_.Query()(HostInfo(), reinterpret_cast<PluginInfo*>(block.data())), nullptr);
    for (size_t i = sizeof(PluginInfo); i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xA5) << "byte " << i << " written past the record";

    PluginInfo info;
    std::memcpy(&info, block.data(), sizeof info);
    EXPECT_EQ(info.magic, ULMORA_PLUGIN_MAGIC);
    EXPECT_GE(info.size, sizeof(PluginInfo));
    EXPECT_EQ(info.type, static_cast<uint32_t>(PluginTypeStorage));
    EXPECT_EQ(info.flags, GetParam().flags);
    ASSERT_NE(info.description, nullptr);
    EXPECT_GT(std::strlen(info.description), 10u);
    EXPECT_NE(info.CreateAction, nullptr);
    EXPECT_NE(info.FreeAction, nullptr);
}

TEST_P(Conformance, RefusesAHostOfAnotherMagic) {
    const PluginHostInfo stranger{0x0251545A, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    PluginInfo info{};
    const char* refusal = plugin_.Query()(&stranger, &info);
    ASSERT_NE(refusal, nullptr);
    EXPECT_GT(std::strlen(refusal), 0u);
}

TEST_P(Conformance, MakesActionsThatCarryTheContractFields) {
    Action first(plugin_);
    Action second(plugin_);
    for (ActionInterface* action : {first.Raw(), second.Raw()}) {
        EXPECT_EQ(action->magic, ULMORA_PLUGIN_MAGIC);
        EXPECT_GE(action->size, sizeof(ActionInterface));
        ASSERT_NE(action->extension, nullptr);
        EXPECT_STREQ(action->extension, GetParam().extension);
        const ActionFunctions* functions = action->functions;
        ASSERT_NE(functions, nullptr);
        EXPECT_NE(functions->Open, nullptr);
        EXPECT_NE(functions->GetErrorText, nullptr);
        EXPECT_NE(functions->GetPlateData, nullptr);
        EXPECT_NE(functions->Write, nullptr);
        EXPECT_NE(functions->Enumerate, nullptr);
    }
    EXPECT_NE(first.Raw(), second.Raw());
}

// The program never calls these on a closed action, but another host may.
TEST_P(Conformance, AClosedActionFailsWithAText) {
    Action action(plugin_);
    std::vector<Plate> plates;
    std::string bytes;
    EXPECT_EQ(action.Enumerate(&plates), kFailed);
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_EQ(action.GetPlateData("t", &bytes), kFailed);
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_EQ(action.Delete("t"), kFailed);
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_EQ(action.Store("t", "data"), kFailed);
    EXPECT_NE(action.ErrorText(), "");
    EXPECT_TRUE(plates.empty());
}

TEST_P(Conformance, CutsALongErrorTextToTheProgramsBuffer) {
    Action action(plugin_);
    EXPECT_FALSE(action.Open("/nonexistent/" + std::string(300, 'n')));
    const std::string text = action.ErrorText();
    EXPECT_NE(text, "<unterminated>");
    EXPECT_EQ(text.size(), 99u);
}

// ---- opening ----------------------------------------------------------------------

TEST_P(Conformance, RefusesAStorageThatIsMissingOrOfTheWrongKind) {
    const bool folders = GetParam().flags & UsesDirectory;
    const std::string wrongKind = folders ? dir_ / "file.png" : dir_ / (std::string("dir.") + GetParam().extension);
    if (folders)
        WriteFile(wrongKind, "x");
    else
        fs::create_directory(wrongKind);
    const std::string missing = folders ? "missing" : std::string("missing.") + GetParam().extension;
    struct Case {
        std::string path;
        std::string text;
    };
    const Case cases[] = {
        {dir_ / missing, missing + ": No such file or directory"},
        {wrongKind, fs::path(wrongKind).filename().string() + " " + GetParam().wrongKindText},
    };
    for (const Case& c : cases) {
        Action action(plugin_);
        EXPECT_FALSE(action.Open(c.path)) << c.path;
        EXPECT_TEXT(action, c.text);
    }
    Action action(plugin_);
    EXPECT_FALSE(action.Open(""));
    EXPECT_NE(action.ErrorText(), "");
}

// A FIFO or a device in the storage's place: refused at once. Reading a FIFO
// blocks for ever, and a device is no storage to list or to store into. Run
// in a child process under an alarm, so that a regression fails the test
// instead of hanging the suite.
TEST_P(Conformance, RefusesAFifoOrADeviceWithoutBlocking) {
    const std::string fifo = dir_ / (std::string("fifo.") + GetParam().extension);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            alarm(5);
            int wrong = 0;
            for (const std::string& path : {fifo, std::string("/dev/null")}) {
                Action action(plugin_);
                const bool opened = action.Open(path);
                const std::string expected = fs::path(path).filename().string() + " " + GetParam().specialText;
                if (opened || action.ErrorText().find(expected) == std::string::npos) {
                    fprintf(stderr, "%s: %s, wanted \"%s\"\n", path.c_str(),
                            opened ? "opened" : action.ErrorText().c_str(), expected.c_str());
                    ++wrong;
                }
            }
            _exit(wrong);
        },
        testing::ExitedWithCode(0), "");
}

// ---- reading ----------------------------------------------------------------------

TEST_P(Conformance, HandsOutWhatItLists) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    const auto contents = Contents(action);
    EXPECT_EQ(contents.size(), GetParam().plates);
    // A name's length is the plate's level: "t", then q, r, s or t per level.
    for (const auto& [name, bytes] : contents) {
        EXPECT_TRUE(!name.empty() && name.size() <= 31 && name[0] == 't' &&
                    name.find_first_not_of("qrst", 1) == std::string::npos)
            << name;
    }
    EXPECT_EQ(contents.count(GetParam().present), 1u);
    EXPECT_EQ(contents.count(GetParam().missing), 0u);
}

// The program logs a non-empty text after a listing that returned Done as a
// notice: a clean listing must not leave the text of an earlier failure.
TEST_P(Conformance, AListingWithNothingToSayLeavesNoText) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    const std::string note = GetParam().listingNote;
    // Only the plugin's own note, never an earlier failure's text.
    auto expectNote = [&](const char* what) {
        if (note.empty())
            EXPECT_EQ(action.ErrorText(), "") << what;
        else
            EXPECT_EQ(action.ErrorText().rfind(note, 0), 0u) << what << ": " << action.ErrorText();
    };
    std::vector<Plate> plates;
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    expectNote("the first listing");
    std::string bytes;
    ASSERT_EQ(action.GetPlateData(GetParam().missing, &bytes), kFailed);
    ASSERT_NE(action.ErrorText(), "");
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    expectNote("the failure before the listing");
    ASSERT_EQ(action.Enumerate(&plates, 1), kAborted);
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    expectNote("the aborted listing before");
}

TEST_P(Conformance, ReportsAStorageWithoutPlatesAsEmpty) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(GetParam().makeEmpty(dir_))) << action.ErrorText();
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), static_cast<uint32_t>(Empty)) << action.ErrorText();
    EXPECT_TRUE(plates.empty());
    std::string bytes;
    EXPECT_EQ(action.GetPlateData(GetParam().present, &bytes), kFailed);
    EXPECT_TEXT(action, std::string("No plate \"") + GetParam().present + "\"");
}

TEST_P(Conformance, StopsAtOnceWhenTheCallbackSaysSo) {
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    const size_t all = GetParam().plates;
    // A stop at the last plate is a stop too.
    for (const size_t stopAt : {size_t{1}, all / 2, all}) {
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates, stopAt), kAborted) << stopAt;
        EXPECT_EQ(plates.size(), stopAt);
    }
    // An aborted listing leaves nothing behind.
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    EXPECT_EQ(plates.size(), all);
    std::string bytes;
    EXPECT_EQ(action.GetPlateData(GetParam().present, &bytes), kDone) << action.ErrorText();
}

// ---- refusals ---------------------------------------------------------------------

TEST_P(Conformance, RefusesBadPlateNamesAndChangesNothing) {
    const auto before = Reopened();
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        for (const std::string& name : kBadNames) {
            SCOPED_TRACE("plate name \"" + name + "\"");
            std::string bytes;
            EXPECT_EQ(action.GetPlateData(name, &bytes), kFailed);
            EXPECT_TEXT(action, "Invalid plate name");
            EXPECT_EQ(action.Delete(name), kFailed);
            EXPECT_TEXT(action, RefusalOf("Invalid plate name"));
            EXPECT_EQ(action.Store(name, "data"), kFailed);
            EXPECT_TEXT(action, RefusalOf("Invalid plate name"));
        }
    }
    EXPECT_EQ(Reopened(), before);
}

TEST_P(Conformance, SaysWhichPlateIsMissing) {
    const auto before = Reopened();
    const std::string missing = GetParam().missing;
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        std::string bytes;
        EXPECT_EQ(action.GetPlateData(missing, &bytes), kFailed);
        EXPECT_TEXT(action, "No plate \"" + missing + "\"");
        EXPECT_EQ(action.Delete(missing), kFailed);
        EXPECT_TEXT(action, RefusalOf("No plate \"" + missing + "\""));
    }
    EXPECT_EQ(Reopened(), before);
}

TEST_P(Conformance, RefusesUnknownWriteModesAndChangesNothing) {
    const auto before = Reopened();
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        for (const uint32_t mode : {0u, 3u, 7u, 0x10002u}) {
            for (const std::string name : {GetParam().present, GetParam().missing}) {
                EXPECT_EQ(WriteMode(action, name, mode), kFailed) << mode << " " << name;
                // A plugin that writes somewhere (PMTiles: new archives only)
                // names the mode it does not know.
                const std::string unknown = "Unknown write mode " + std::to_string(mode);
                EXPECT_TEXT(action, GetParam().flags & SupportsWrite ? unknown : RefusalOf(unknown));
            }
        }
    }
    EXPECT_EQ(Reopened(), before);
}

// A storage the owner marked as not to be changed (a file without write
// bits), or a plugin that never changes one: read, never changed.
TEST_P(Conformance, ReadsButNeverChangesAReadOnlyStorage) {
    const auto before = Reopened();
    const bool folders = GetParam().flags & UsesDirectory;
    if (GetParam().writable) {
        if (folders && geteuid() == 0)
            GTEST_SKIP() << "a folder's write bits do not bind root";
        ASSERT_EQ(chmod(path_.c_str(), folders ? 0555 : 0444), 0);
        if (folders) {
            for (const auto& entry : fs::recursive_directory_iterator(path_)) {
                if (entry.is_directory()) {
                    ASSERT_EQ(chmod(entry.path().c_str(), 0555), 0);
                }
            }
        }
    }
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        EXPECT_EQ(Contents(action), before);
        EXPECT_EQ(action.Delete(GetParam().present), kFailed);
        EXPECT_TEXT(action, GetParam().readOnlyText);
        EXPECT_EQ(action.Store(GetParam().present, "new"), kFailed);
        EXPECT_TEXT(action, GetParam().readOnlyText);
        EXPECT_EQ(action.Store(GetParam().missing, "new"), kFailed);
        EXPECT_TEXT(action, GetParam().readOnlyText);
    }
    EXPECT_EQ(Reopened(), before);
    if (folders) {
        for (const auto& entry : fs::recursive_directory_iterator(path_))
            if (entry.is_directory())
                chmod(entry.path().c_str(), 0755);
    }
}

// ---- writing ----------------------------------------------------------------------

// A store is seen at once by the same action and after a new Open; storing
// a plate again replaces it; a deletion is final. A read-only plugin
// refuses the store.
TEST_P(Conformance, StoresAndDeletesPlatesForGood) {
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + "first";
    const std::string jpeg = "\xFF\xD8\xFF\xE0 second";
    const std::string missing = GetParam().missing;
    const std::string present = GetParam().present;
    auto expected = Reopened();
    if (!GetParam().writable) {
        {
            Action action(plugin_);
            ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
            EXPECT_EQ(action.Store(missing, png), kFailed);
            EXPECT_TEXT(action, GetParam().readOnlyText);
        }
        EXPECT_EQ(Reopened(), expected);
        return;
    }
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        ASSERT_EQ(action.Store(missing, png), kDone) << action.ErrorText();
        std::string bytes;
        ASSERT_EQ(action.GetPlateData(missing, &bytes), kDone) << action.ErrorText();
        EXPECT_EQ(bytes, png);
        ASSERT_EQ(action.Store(missing, jpeg), kDone) << action.ErrorText();
        ASSERT_EQ(action.Store(present, png), kDone) << action.ErrorText();
        expected[missing] = jpeg;
        expected[present] = png;
        EXPECT_EQ(Contents(action), expected) << "seen at once, each plate once";
    }
    EXPECT_EQ(Reopened(), expected) << "durable once the action is closed";
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        ASSERT_EQ(action.Delete(missing), kDone) << action.ErrorText();
        expected.erase(missing);
        std::string bytes;
        EXPECT_EQ(action.GetPlateData(missing, &bytes), kFailed);
        EXPECT_TEXT(action, "No plate \"" + missing + "\"");
        EXPECT_EQ(action.Delete(missing), kFailed);
        EXPECT_TEXT(action, "No plate \"" + missing + "\"");
        EXPECT_EQ(Contents(action), expected);
    }
    EXPECT_EQ(Reopened(), expected);
}

// An empty block is a plate without data: listed with size 0, and Empty
// when looked up. A size without a block is refused.
TEST_P(Conformance, StoresAnEmptyPlateAndRefusesASizeWithoutData) {
    if (!GetParam().writable)
        GTEST_SKIP() << "a read-only plugin refuses every store (StoresAndDeletesPlatesForGood)";
    const std::string missing = GetParam().missing;
    auto expected = Reopened();
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
        ActionInterface* raw = action.Raw();
        EXPECT_EQ(raw->functions->Write(raw, GetParam().present, nullptr, 5, WriteModeStore) & 0xFFFF, kFailed);
        EXPECT_NE(action.ErrorText(), "");
        ASSERT_EQ(raw->functions->Write(raw, missing.c_str(), nullptr, 0, WriteModeStore) & 0xFFFF, kDone)
            << action.ErrorText();
        std::string bytes;
        EXPECT_EQ(action.GetPlateData(missing, &bytes), static_cast<uint32_t>(Empty)) << action.ErrorText();
        std::vector<Plate> plates;
        ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
        EXPECT_EQ(plates.size(), expected.size() + 1);
        for (const Plate& plate : plates) {
            if (plate.name == missing) {
                EXPECT_EQ(plate.size, 0u);
            }
        }
    }
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path_)) << action.ErrorText();
    std::string bytes;
    EXPECT_EQ(action.GetPlateData(missing, &bytes), static_cast<uint32_t>(Empty)) << action.ErrorText();
    EXPECT_EQ(action.GetPlateData(GetParam().present, &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes, expected.at(GetParam().present)) << "a refused store changes nothing";
}

INSTANTIATE_TEST_SUITE_P(Shipped, Conformance, testing::ValuesIn(kPlugins),
                         [](const testing::TestParamInfo<ShippedPlugin>& param) {
                             return std::string(param.param.label);
                         });

} // namespace
} // namespace storage_test
