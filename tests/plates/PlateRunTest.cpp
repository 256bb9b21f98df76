// Export and deletion runs through the core with scripted answers: the
// output tree, the existing-file and error questions and their sticks, Abort,
// unsafe names, Move's durability, a full disk, the room check; and a round
// trip from a GDAL-written MBTiles file through the real plugins.
#include "plates/CopyRun.h"
#include "plates/DeleteRun.h"
#include "plates/ExportRun.h"

#include "FaultyFiles.h"
#include "ScriptedBoxes.h"
#include "ScriptedOperation.h"
#include "TempFolder.h"
#include "TestPluginState.h"
#include "base/ListSelection.h"
#include "base/Text.h"
#include "browse/PlateList.h"
#include "browse/StorageConnection.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "platform/LastError.h"
#include "plugins/Plugin.h"
#include "plugins/Registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// ---- a storage in memory, behind the plugin contract -------------------------

struct FakePlate {
    std::string name;
    std::string data;
    uint32_t result = Done; // of GetPlateData
    bool deleteFails = false;
    bool badPointer = false; // GetPlateData answers Done with ten bytes at address 16
};

struct FakeStorage {
    std::vector<FakePlate> plates;
    std::set<std::string> deleted; // durably
    // Batches as a database keeps them: with batch > 0, deletions answered
    // Done wait in `pending` until `batch` of them commit together; a failed
    // deletion takes the pending ones back, and so does closing when
    // `closeFails`.
    int batch = 0;
    bool closeFails = false;
    bool reopenFails = false; // the storage cannot be opened again (an object store that stopped answering)
    std::set<std::string> pending;
    std::function<void(const std::string&)> onDelete; // sees each deletion as it happens
    std::string error;
    // The plate stream, when the plugin has it: in the list's order or the
    // reverse; it fails after handing out `streamFailsAfter` plates (-1:
    // never). Plates that cannot be read are left out, as the contract says.
    bool streamReversed = false;
    int streamFailsAfter = -1;
};

FakeStorage* current = nullptr;

struct FakeAction {
    ActionInterface base;
};

int32_t ULMORA_CALL FakeOpen(ActionInterface*, const char* path)
{
    if (path == nullptr && !current->closeFails)
        current->deleted.merge(current->pending);
    current->pending.clear();
    if (path != nullptr && current->reopenFails) {
        current->error = "cannot reach the storage";
        return 0;
    }
    return 1;
}
void ULMORA_CALL FakeErrorText(ActionInterface*, char* buffer, uint32_t size)
{
    CopyBounded(buffer, current->error.c_str(), size);
}
uint32_t ULMORA_CALL FakeGetPlateData(ActionInterface*, const char* name, const void** data, uint32_t* size)
{
    for (const FakePlate& plate : current->plates)
        if (plate.name == name && current->deleted.count(name) == 0 && current->pending.count(name) == 0) {
            current->error = "no data for " + plate.name;
            *data = plate.badPointer ? reinterpret_cast<const void*>(uintptr_t{16}) : plate.data.data();
            *size = plate.badPointer ? 10u : static_cast<uint32_t>(plate.data.size());
            return plate.result;
        }
    current->error = "no such plate";
    return Failed;
}
uint32_t ULMORA_CALL FakeWrite(ActionInterface*, const char* name, const void*, uint32_t, uint32_t mode)
{
    for (const FakePlate& plate : current->plates)
        if (plate.name == name && mode == WriteModeDelete && !plate.deleteFails &&
            current->deleted.count(name) == 0 && current->pending.count(name) == 0) {
            if (current->onDelete)
                current->onDelete(name);
            if (current->batch == 0) {
                current->deleted.insert(name);
            } else {
                current->pending.insert(name);
                if (static_cast<int>(current->pending.size()) == current->batch)
                    current->deleted.merge(current->pending);
            }
            return Done;
        }
    current->pending.clear();
    current->error = std::string("cannot delete ") + name;
    return Failed;
}
uint32_t ULMORA_CALL FakeEnumerate(ActionInterface*, uint32_t, PlateCallback, uint32_t, void*) { return Done; }

uint32_t ULMORA_CALL FakeStreamPlates(ActionInterface*, PlateStreamCallback callback, void* cookie)
{
    std::vector<const FakePlate*> order;
    for (const FakePlate& plate : current->plates)
        order.push_back(&plate);
    if (current->streamReversed)
        std::reverse(order.begin(), order.end());
    int handed = 0;
    for (const FakePlate* plate : order) {
        if (current->deleted.count(plate->name) != 0 || current->pending.count(plate->name) != 0 ||
            plate->result == Failed)
            continue;
        if (handed++ == current->streamFailsAfter) {
            current->error = "the stream broke";
            return Failed;
        }
        const bool data = plate->result == Done && !plate->data.empty();
        if (callback(cookie, 0, plate->name.c_str(), data ? plate->data.data() : nullptr,
                     data ? static_cast<uint32_t>(plate->data.size()) : 0) == 0)
            return Aborted;
    }
    return Done;
}
const PlateStreamExtension kFakeStream = {ULMORA_PLUGIN_MAGIC, sizeof(PlateStreamExtension), FakeStreamPlates, 0};

const ActionFunctions kFakeFunctions = {FakeOpen, FakeErrorText, nullptr, FakeGetPlateData, FakeWrite, FakeEnumerate};
FakeAction fakeAction{{&kFakeFunctions, ULMORA_PLUGIN_MAGIC, sizeof(ActionInterface), 0, "fake"}};
ActionInterface* ULMORA_CALL FakeCreate() { return &fakeAction.base; }
void ULMORA_CALL FakeFree(ActionInterface*) {}

PluginInfo FakeInfo(uint32_t flags)
{
    PluginInfo info{};
    info.magic = ULMORA_PLUGIN_MAGIC;
    info.size = sizeof(PluginInfo);
    info.type = PluginTypeStorage;
    info.description = "fake";
    info.flags = flags;
    info.CreateAction = FakeCreate;
    info.FreeAction = FakeFree;
    return info;
}

// ---- the fixture ---------------------------------------------------------------

class CountingHost final : public PlateRunHost {
public:
    int pumps = 0;
    int reloads = 0;
    std::vector<int> handled; // list indexes, in the order they were handled
    void PumpMessages() override { ++pumps; }
    void ReloadStorage() override { ++reloads; }
    void PlateHandled(int index) override { handled.push_back(index); }
};

class PlateRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        current = &storage;
        logSubscription = SubscribeLog([this](const std::string& line) { log.push_back(line); });
    }
    void TearDown() override
    {
        UnsubscribeLog(logSubscription);
        if (action != nullptr)
            plugin->FreeAction(action);
        current = nullptr;
    }

    // Lists the storage's plates and selects those at `selected` (all when empty).
    void Load(std::vector<FakePlate> plates, std::vector<int> selected = {},
              uint32_t flags = SupportsWrite | SupportsList)
    {
        storage.plates = std::move(plates);
        plugin = std::make_unique<StoragePlugin>(nullptr, FakeInfo(flags), "fake");
        if (streamed)
            plugin->SetPlateStream(&kFakeStream);
        action = plugin->CreateAction();
        ASSERT_NE(action, nullptr);
        ASSERT_TRUE(action->Open("memory"));
        for (const FakePlate& plate : storage.plates)
            list.Append(plate.name.c_str(), 0, static_cast<uint32_t>(plate.data.size()));
        selection.Resize(list.Count());
        if (selected.empty())
            selection.SelectAll();
        for (int index : selected)
            selection.SetSelected(index, true);
    }
    PlateRun Run() { return {*action, list, selection, operation, period, host, nullptr}; }
    PlateRunResult Export(ExportOptions options) { return RunExport(Run(), std::move(options), files); }
    ExportOptions Options(int over = OverAsk, bool move = false, bool ask = false) const
    {
        ExportOptions options;
        options.BasePath = BasePathOf(Base());
        options.Over = over;
        options.Move = move;
        options.AskOnError = ask;
        return options;
    }
    std::string Base() const { return folder.File("out"); }
    std::string Out(const std::string& relative) const { return Base() + "/" + relative; }
    bool Logged(const std::string& text) const { return std::find(log.begin(), log.end(), text) != log.end(); }
    bool LoggedStart(const std::string& start) const
    {
        return std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line.starts_with(start); });
    }
    // Every file under the test's folder, relative to it.
    std::set<std::string> Tree() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(folder.Path()))
            if (!entry.is_directory())
                names.insert(fs::relative(entry.path(), folder.Path()).string());
        return names;
    }
    int Questions() const
    {
        return static_cast<int>(std::count_if(boxes.shown.begin(), boxes.shown.end(),
                                              [](const auto& box) { return box.kind == "ask"; }));
    }

    TempFolder folder;
    ScriptedBoxes boxes;
    ScriptedOperation operation;
    PRPeriod period{400, AlwaysElapsedClock};
    CountingHost host;
    FaultyFiles files;
    FakeStorage storage;
    std::unique_ptr<StoragePlugin> plugin;
    StorageAction* action = nullptr;
    PlateList list;
    ListSelection selection;
    std::vector<std::string> log;
    int logSubscription = 0;
    bool streamed = false; // the source plugin has the plate stream
};

TEST_F(PlateRunTest, WritesTheSelectedPlatesIntoTheTree)
{
    // "x" is not selected; "trs" comes back Empty and gives an empty file.
    Load({{"t", "world"}, {"tr", "east"}, {"x", "skip"}, {"trs", "", Empty}}, {0, 1, 3});
    ExportOptions options = Options();
    EXPECT_EQ(options.BasePath, Base() + "/") << "a base folder typed without its separator gets one";
    const PlateRunResult result = Export(options);

    EXPECT_EQ(Tree(), (std::set<std::string>{"out/t.jpg", "out/t/r.jpg", "out/t/r/s.jpg"}));
    EXPECT_EQ(ReadWholeFile(Out("t.jpg")), "world");
    EXPECT_EQ(ReadWholeFile(Out("t/r.jpg")), "east");
    EXPECT_EQ(fs::file_size(Out("t/r/s.jpg")), 0u);
    EXPECT_EQ(result.done, 3);
    EXPECT_EQ(result.selected, 3);
    EXPECT_EQ(result.errors, 0);
    EXPECT_TRUE(Logged("Export 3 plates data from storage..."));
    EXPECT_TRUE(Logged("Plates successfully exported from storage: 3 of 3"));
    EXPECT_EQ(log.back(), "Reload items from storage...");
    EXPECT_EQ(host.reloads, 1);
    EXPECT_TRUE(storage.deleted.empty()) << "a copy deletes nothing";
    EXPECT_TRUE(operation.abortable);
    ASSERT_FALSE(operation.texts.empty());
    EXPECT_EQ(operation.texts.front(), "Export plate data from database...\nPath: " + Base() +
                                           "/\nDatabase: memory.fake\nItem: t\nProcessed: 1 of 3 (33.333%)");
    EXPECT_EQ(operation.ends, 1);
    EXPECT_GT(host.pumps, 0);
}

TEST_F(PlateRunTest, FoldersAreMadeOncePerRun)
{
    Load({{"tqq", "1"}, {"tqr", "2"}, {"tqs", "3"}, {"tqt", "4"}, {"tr", "5"}});
    Export(Options());
    EXPECT_EQ(Tree().size(), 5u);
    // The base folder's own components, then "t/" and "t/q/" once each.
    const std::string base = Base();
    const int baseLevels = static_cast<int>(std::count(base.begin(), base.end(), '/'));
    EXPECT_EQ(files.folderCalls, baseLevels + 2);
}

TEST_F(PlateRunTest, UnsafeNamesAreRefusedAndTheRunGoesOn)
{
    const struct {
        std::string name;
        const char* why;
    } cases[] = {
        {"", "cannot be a file name"},        {".", "cannot be a file name"},
        {"t..", "cannot be a file name"},     {"t/q", "cannot be a file name"},
        {"t\\q", "cannot be a file name"},    {"t\x01q", "cannot be a file name"},
        {"t\xc3\xa9", "cannot be a file name"}, {"t:q", "cannot be a file name"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(PrintableName(c.name));
        fs::remove_all(Base());
        log.clear();
        list.Clear();
        boxes.shown.clear();
        boxes.Reply(BoxYes);
        Load({{"tq", "good 1"}, {c.name, "evil"}, {"tr", "good 2"}});
        const PlateRunResult result = Export(Options(OverAsk, false, true));
        EXPECT_EQ(result.done, 2);
        EXPECT_EQ(result.errors, 1);
        EXPECT_NE(result.errorText.find(c.why), std::string::npos) << result.errorText;
        EXPECT_EQ(Tree(), (std::set<std::string>{"out/t/q.jpg", "out/t/r.jpg"})) << "nothing written elsewhere";
        EXPECT_TRUE(LoggedStart("Plate \"" + PrintableName(c.name) + "\" is not exported: "));
        ASSERT_EQ(Questions(), 1);
        EXPECT_TRUE(boxes.shown.back().text.starts_with("Error export plate data from database.\nError: "));
        EXPECT_TRUE(Logged("Plates successfully exported from storage: 2 of 3"));
        plugin->FreeAction(action);
        action = nullptr;
    }
}

TEST_F(PlateRunTest, ExistingFilesFollowOverAndTheAnswers)
{
    struct Answer {
        int button;
        bool checked;
    };
    const struct {
        const char* label;
        int over;
        std::vector<Answer> answers;
        int questions;
        const char* tq; // content afterwards
        const char* tr;
        int done;
        bool stopped;
    } cases[] = {
        {"yes ticked sticks", OverAsk, {{BoxYes, true}}, 1, "new tq", "new tr", 3, false},
        {"no ticked sticks", OverAsk, {{BoxNo, true}}, 1, "old", "old", 1, false},
        {"yes then no", OverAsk, {{BoxYes, false}, {BoxNo, false}}, 2, "new tq", "old", 2, false},
        {"cancel stops", OverAsk, {{BoxCancel, false}}, 1, "old", "old", 1, true},
        {"overwrite", OverWrite, {}, 0, "new tq", "new tr", 3, false},
        {"stay as is", OverStay, {}, 0, "old", "old", 1, false},
        {"cancel process", OverCancel, {}, 0, "old", "old", 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(Base());
        fs::create_directories(Out("t"));
        WriteWholeFile(Out("t/q.jpg"), "old");
        WriteWholeFile(Out("t/r.jpg"), "old");
        log.clear();
        list.Clear();
        boxes.shown.clear();
        for (const Answer& answer : c.answers)
            boxes.Reply(answer.button, answer.checked);
        Load({{"t", "new t"}, {"tq", "new tq"}, {"tr", "new tr"}});
        const PlateRunResult result = Export(Options(c.over));
        EXPECT_EQ(Questions(), c.questions);
        EXPECT_EQ(boxes.unanswered, 0);
        if (c.questions > 0) {
            EXPECT_EQ(boxes.shown[0].text, "Image [" + Out("t/q.jpg") + "] already exist.\nOverwrite it?");
            EXPECT_EQ(boxes.shown[0].buttons, BoxPresenter::Buttons::YesNoCancel);
            EXPECT_TRUE(boxes.shown[0].withCheckBox);
            EXPECT_TRUE(Logged("File [" + Out("t/q.jpg") + "] exist"));
        }
        EXPECT_EQ(ReadWholeFile(Out("t.jpg")), "new t");
        EXPECT_EQ(ReadWholeFile(Out("t/q.jpg")), c.tq);
        EXPECT_EQ(ReadWholeFile(Out("t/r.jpg")), c.tr);
        EXPECT_EQ(result.done, c.done);
        EXPECT_EQ(result.stopped, c.stopped);
        EXPECT_EQ(Logged("Export cancelled with errors"), c.stopped);
        EXPECT_TRUE(Logged("Plates successfully exported from storage: " + std::to_string(c.done) + " of 3"));
        EXPECT_EQ(Tree(), (std::set<std::string>{"out/t.jpg", "out/t/q.jpg", "out/t/r.jpg"})) << "no .jp left";
        EXPECT_EQ(host.reloads, 1);
        host.reloads = 0;
        plugin->FreeAction(action);
        action = nullptr;
    }
}

TEST_F(PlateRunTest, ErrorQuestionsStickOrStop)
{
    // Two plates whose data cannot be read, around a good one.
    const struct {
        const char* label;
        std::vector<std::pair<int, bool>> replies; // button, box ticked
        int questions;
        int done;
        bool stopped;
    } cases[] = {
        {"ticked: the second failure is only logged", {{BoxYes, true}}, 1, 1, false},
        {"not ticked: asked again", {{BoxYes, false}, {BoxYes, false}}, 2, 1, false},
        {"no stops", {{BoxNo, false}}, 1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        list.Clear();
        boxes.shown.clear();
        for (const auto& [button, checked] : c.replies)
            boxes.Reply(button, checked);
        fs::remove_all(Base());
        Load({{"tq", "", Failed}, {"tr", "good"}, {"ts", "", Failed}});
        const PlateRunResult result = Export(Options(OverAsk, false, true));
        EXPECT_EQ(Questions(), c.questions);
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown[0].text,
                  "Error get storage data for plate tq.\nError: no data for tq\n\nContinue export plates?");
        EXPECT_TRUE(boxes.shown[0].withCheckBox);
        EXPECT_EQ(result.done, c.done);
        EXPECT_EQ(result.stopped, c.stopped);
        EXPECT_TRUE(Logged("Error get storage data for plate tq"));
        EXPECT_EQ(Logged("Error get storage data for plate ts"), !c.stopped);
        EXPECT_TRUE(Logged("Plates successfully exported from storage: " + std::to_string(c.done) + " of 3"));
        EXPECT_EQ(host.reloads, 1);
        host.reloads = 0;
        plugin->FreeAction(action);
        action = nullptr;
    }
}

// A plugin's bad data pointer is named in the log with the readability
// probe's answer, as the preview names it: 1 for a block that cannot be
// read, 0 for a readable block of no bytes.
TEST_F(PlateRunTest, ABadDataPointerIsLoggedWithTheProbesAnswer)
{
    const struct {
        FakePlate plate;
        std::string line;
    } cases[] = {
        {{"tq", "", Done, false, true}, "Plugin returns bad data pointer: 0x10[10] (1) for plate \"tq\""},
        {{"tq", "", Done}, "[0] (0) for plate \"tq\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        log.clear();
        list.Clear();
        selection = ListSelection();
        fs::remove_all(Base());
        Load({c.plate});
        const PlateRunResult result = Export(Options(OverAsk, false, false));
        EXPECT_EQ(result.done, 0);
        EXPECT_EQ(result.errors, 1);
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
            return line.find(c.line) != std::string::npos;
        })) << c.line;
        plugin->FreeAction(action);
        action = nullptr;
    }
}

TEST_F(PlateRunTest, AFullDiskFailsOnePlateCleanly)
{
    files.fault = FaultyFiles::Fault::Append; // half of "two is too big" fits
    files.bytesBeforeFull = 7;
    files.onlyFilesEndingIn = "/t/r.jp";
    Load({{"tq", "one"}, {"tr", "two is too big"}, {"ts", "three"}});
    const PlateRunResult result = Export(Options(OverAsk, true, false));
    EXPECT_EQ(result.done, 2);
    EXPECT_EQ(result.errors, 1);
    EXPECT_EQ(Tree(), (std::set<std::string>{"out/t/q.jpg", "out/t/s.jpg"})) << "no .jp left";
    EXPECT_TRUE(Logged("Error write data to local file " + Out("t/r.jp")));
    EXPECT_EQ(storage.deleted, (std::set<std::string>{"tq", "ts"})) << "Move keeps the plate that was not written";
    EXPECT_TRUE(Logged("Plates successfully exported from storage: 2 of 3"));
}

TEST_F(PlateRunTest, MoveDeletesOnlyWhatIsSafelyOnDisk)
{
    // Every deletion must come after a sync that followed the plate's rename.
    Load({{"tq", "one"}, {"tr", "two"}, {"ts", "three"}});
    storage.plates[1].deleteFails = true;
    storage.onDelete = [this](const std::string& name) {
        EXPECT_GE(files.syncs, 1) << name;
        EXPECT_TRUE(fs::exists(Out("t/" + name.substr(1) + ".jpg"))) << name;
    };
    const PlateRunResult result = Export(Options(OverAsk, true, false));
    EXPECT_EQ(storage.deleted, (std::set<std::string>{"tq", "ts"}));
    EXPECT_EQ(result.done, 2) << "the plate whose deletion failed is not counted";
    EXPECT_EQ(ReadWholeFile(Out("t/r.jpg")), "two") << "and its file stays";
    EXPECT_TRUE(Logged("Error delete tr plate"));
    EXPECT_TRUE(Logged("Plates successfully exported from storage: 2 of 3"));
    EXPECT_EQ(files.syncs, 1) << "one sync for the batch";
}

TEST_F(PlateRunTest, ExportDeselectsEachPlateAndMoveCountsWhatIsWritten)
{
    // Move deletes in batches after the run: its progress still counts the
    // files written, plate by plate.
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        fs::remove_all(Base());
        list.Clear();
        host.handled.clear();
        operation.texts.clear();
        Load({{"tq", "1"}, {"x", "skip"}, {"tr", "2"}, {"ts", "3"}}, {0, 2, 3});
        const PlateRunResult result = Export(Options(OverAsk, move, false));
        EXPECT_EQ(result.done, 3);
        EXPECT_EQ(host.handled, (std::vector<int>{0, 2, 3}));
        std::vector<std::string> processed;
        for (const std::string& text : operation.texts)
            if (const std::size_t at = text.find("Processed: "); at != std::string::npos)
                processed.push_back(text.substr(at, text.find(" (", at) - at));
        EXPECT_EQ(processed, (std::vector<std::string>{"Processed: 1 of 3", "Processed: 2 of 3", "Processed: 3 of 3"}));
        plugin->FreeAction(action);
        action = nullptr;
    }
}

TEST_F(PlateRunTest, OnePlateIsAskedAboutInTheSingular)
{
    Load({{"tq", "1"}, {"tr", "2"}}, {1});
    boxes.Reply(BoxNo);
    const PlateRunResult result = RunDelete(Run());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Delete 1 selected plate?");
    EXPECT_FALSE(result.started);
    EXPECT_TRUE(host.handled.empty());
}

TEST_F(PlateRunTest, MoveDeletesNothingWhenTheSyncFails)
{
    files.fault = FaultyFiles::Fault::SyncFileSystem;
    Load({{"tq", "one"}, {"tr", "two"}});
    const PlateRunResult result = Export(Options(OverAsk, true, false));
    EXPECT_TRUE(storage.deleted.empty());
    EXPECT_EQ(result.done, 0);
    EXPECT_EQ(result.errors, 2);
    EXPECT_EQ(Tree().size(), 2u);
    EXPECT_TRUE(Logged("Plates successfully exported from storage: 0 of 2"));
}

TEST_F(PlateRunTest, AbortStopsAfterTheCurrentPlate)
{
    // IsAborted is asked once per plate; the second answer is the press.
    for (const bool move : {false, true}) {
        SCOPED_TRACE(move ? "move" : "copy");
        fs::remove_all(Base());
        log.clear();
        list.Clear();
        storage.deleted.clear();
        operation.abortQueries = 0;
        operation.abortAt = {2};
        Load({{"tq", "1"}, {"tr", "2"}, {"ts", "3"}, {"tt", "4"}});
        const PlateRunResult result = Export(Options(OverAsk, move, false));
        EXPECT_TRUE(result.aborted);
        EXPECT_EQ(result.done, 2);
        EXPECT_EQ(Tree(), (std::set<std::string>{"out/t/q.jpg", "out/t/r.jpg"}));
        EXPECT_EQ(storage.deleted.size(), move ? 2u : 0u) << "the plates written before Abort are still moved";
        EXPECT_TRUE(Logged("Export stopped by the user"));
        EXPECT_TRUE(Logged("Plates successfully exported from storage: 2 of 4"));
        EXPECT_EQ(log.back(), "Reload items from storage...");
        plugin->FreeAction(action);
        action = nullptr;
    }
    EXPECT_EQ(host.reloads, 2);
}

TEST_F(PlateRunTest, TooLittleRoomIsAskedAboutWithTheFigures)
{
    files.roomIsTiny = true;
    for (const int answer : {BoxNo, BoxYes}) {
        boxes.shown.clear();
        list.Clear();
        boxes.Reply(answer);
        Load({{"tq", std::string(5000, 'x')}, {"tr", "2"}});
        const PlateRunResult result = Export(Options());
        ASSERT_EQ(Questions(), 1);
        const std::string& text = boxes.shown[0].text;
        EXPECT_TRUE(text.starts_with("Not enough free room for the export in " + Base() + "/.\nNeeded: ")) << text;
        EXPECT_NE(text.find(", 3 files and folders.\nFree: 1000 B, 2 files and folders."), std::string::npos) << text;
        EXPECT_EQ(result.started, answer == BoxYes);
        EXPECT_EQ(Tree().size(), answer == BoxYes ? 2u : 0u);
        plugin->FreeAction(action);
        action = nullptr;
    }
    EXPECT_EQ(host.reloads, 1) << "a declined run reloads nothing";
}

// ---- deletion ----------------------------------------------------------------

TEST_F(PlateRunTest, DeletionCountsAndAsks)
{
    const struct {
        const char* label;
        std::vector<int> answers; // the confirmation, then the error question
        bool checked;
        bool second;              // the second plate's deletion fails
        std::vector<std::string> lines;
        int done;
        std::vector<int> handled; // deselected one by one
    } cases[] = {
        {"all deleted", {BoxYes}, false, false, {"Plates successfully deleted from storage: 3 of 3"}, 3, {0, 1, 2}},
        {"a failure, go on", {BoxYes, BoxYes}, false, true, {"Plates successfully deleted from storage: 2 of 3"}, 2,
         {0, 1, 2}},
        {"a failure, stop", {BoxYes, BoxNo}, false, true,
         {"Delete cancelled with errors", "Plates successfully deleted from storage: 1 of 3"}, 1, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        host.handled.clear();
        log.clear();
        list.Clear();
        boxes.shown.clear();
        storage.deleted.clear();
        for (int answer : c.answers)
            boxes.Reply(answer, c.checked);
        Load({{"tq", "1"}, {"tr", "2", Done, c.second}, {"ts", "3"}});
        const PlateRunResult result = RunDelete(Run());
        ASSERT_GE(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "Delete 3 selected plates?");
        EXPECT_FALSE(boxes.shown[0].withCheckBox);
        if (c.second) {
            ASSERT_EQ(boxes.shown.size(), 2u);
            EXPECT_EQ(boxes.shown[1].text,
                      "Error delete plate data from database.\nError: cannot delete tr\n\nContinue delete plates?");
            EXPECT_TRUE(boxes.shown[1].withCheckBox);
        }
        EXPECT_EQ(result.done, c.done);
        EXPECT_EQ(static_cast<int>(storage.deleted.size()), c.done);
        EXPECT_EQ(host.handled, c.handled) << "the plate that stopped the run stays selected";
        host.handled.clear();
        EXPECT_TRUE(Logged("Delete 3 plates data from storage..."));
        for (const std::string& line : c.lines)
            EXPECT_TRUE(Logged(line)) << line;
        EXPECT_EQ(log.back(), "Reload items from storage...");
        plugin->FreeAction(action);
        action = nullptr;
    }
    EXPECT_EQ(host.reloads, 3);
}

TEST_F(PlateRunTest, DeletionErrorsStickSilently)
{
    boxes.Reply(BoxYes);       // the confirmation
    boxes.Reply(BoxYes, true); // the first failure, ticked
    Load({{"tq", "1", Done, true}, {"tr", "2", Done, true}, {"ts", "3"}});
    const PlateRunResult result = RunDelete(Run());
    EXPECT_EQ(Questions(), 2);
    EXPECT_EQ(result.done, 1);
    EXPECT_EQ(result.errors, 2);
    EXPECT_TRUE(Logged("Plates successfully deleted from storage: 1 of 3"));
}

TEST_F(PlateRunTest, DeletionThatIsDeclinedOrImpossibleChangesNothing)
{
    boxes.Reply(BoxNo);
    Load({{"tq", "1"}, {"tr", "2"}});
    EXPECT_FALSE(RunDelete(Run()).started);
    EXPECT_TRUE(storage.deleted.empty());
    EXPECT_TRUE(operation.texts.empty());
    EXPECT_FALSE(operation.abortable) << "no progress window";
    plugin->FreeAction(action);
    action = nullptr;

    boxes.shown.clear();
    list.Clear();
    Load({{"tq", "1"}}, {}, SupportsList);
    EXPECT_FALSE(RunDelete(Run()).started);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].kind, "error");
    EXPECT_EQ(boxes.shown[0].text, "Plugin does not support modify operations!");
    EXPECT_EQ(host.reloads, 0);
}

// A plugin that keeps deletions in batches answers Done before they are
// durable; a failure takes the open batch back, and so may closing. The
// runs count a plate as deleted (or moved) only once its deletion is
// durable, whatever the plugin answered.
TEST_F(PlateRunTest, DeletionsCountOnlyOnceTheirBatchIsDurable)
{
    const struct {
        const char* label;
        int batch;
        bool closeFails;
        bool thirdFails; // ts's deletion fails, taking the open batch back
        std::set<std::string> gone;
        bool reopenFails = false; // nothing can be checked: nothing is counted
    } cases[] = {
        {"a failure takes back the two before it", 3, false, true, {"tt", "tu"}},
        {"closing loses the last batch", 10, true, false, {}},
        {"committed on closing", 10, false, false, {"tq", "tr", "ts", "tt", "tu"}},
        {"no batches", 0, false, true, {"tq", "tr", "tt", "tu"}},
        {"the storage cannot be opened again", 3, true, false, {"tq", "tr", "ts"}, true},
    };
    for (const bool move : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (move ? ", Move" : ", Delete"));
            list.Clear();
            storage.deleted.clear();
            storage.batch = c.batch;
            storage.closeFails = c.closeFails;
            if (!move)
                boxes.Reply(BoxYes); // the confirmation; failures are then asked about
            boxes.Reply(BoxYes, true);
            Load({{"tq", "1"}, {"tr", "2"}, {"ts", "3", Done, c.thirdFails}, {"tt", "4"}, {"tu", "5"}});
            storage.reopenFails = c.reopenFails;
            const PlateRunResult result = move ? Export(Options(OverWrite, true)) : RunDelete(Run());
            storage.reopenFails = false;
            action->Close();
            EXPECT_EQ(storage.deleted, c.gone);
            const int counted = c.reopenFails ? 0 : static_cast<int>(c.gone.size());
            EXPECT_EQ(result.done, counted);
            EXPECT_EQ(result.errors, 5 - counted);
            EXPECT_EQ(result.unchecked, c.reopenFails ? 5 : 0);
            plugin->FreeAction(action);
            action = nullptr;
            boxes.shown.clear();
            fs::remove_all(Base());
        }
    }
}

TEST_F(PlateRunTest, AbortStopsADeletion)
{
    boxes.Reply(BoxYes);
    operation.abortAt = {1};
    Load({{"tq", "1"}, {"tr", "2"}, {"ts", "3"}});
    const PlateRunResult result = RunDelete(Run());
    EXPECT_TRUE(result.aborted);
    EXPECT_EQ(storage.deleted, (std::set<std::string>{"tq"}));
    EXPECT_TRUE(Logged("Delete stopped by the user"));
    EXPECT_TRUE(Logged("Plates successfully deleted from storage: 1 of 3"));
    EXPECT_EQ(host.reloads, 1);
}

// ---- copy ----------------------------------------------------------------------

// A target storage in memory that keeps its stores in batches, as a
// database does: stores answered Done wait in `pending` until `batch` of
// them commit together; a failed store takes the pending ones back.
struct FakeTarget {
    std::map<std::string, std::string> stored; // durably
    std::map<std::string, std::string> pending;
    int batch = 0;
    std::string refuse;  // a store of this plate fails alone, as a plugin refusing it
    int room = 1000;     // plates the target can hold; a store beyond fails as a full disk
    bool gone = false;   // closing loses the pending batch and the target cannot be opened again
    bool losesLastBatch = false; // closing loses the pending batch (its commit failed), opening works
    std::string error;
};

FakeTarget* currentTarget = nullptr;

int32_t ULMORA_CALL TargetOpen(ActionInterface*, const char* path)
{
    if (path == nullptr && !currentTarget->gone && !currentTarget->losesLastBatch)
        currentTarget->stored.merge(currentTarget->pending);
    currentTarget->pending.clear();
    // Gone only once something was stored: the first open succeeds.
    if (path != nullptr && currentTarget->gone && !currentTarget->stored.empty()) {
        currentTarget->error = "cannot reach the target";
        return 0;
    }
    return 1;
}
void ULMORA_CALL TargetErrorText(ActionInterface*, char* buffer, uint32_t size)
{
    CopyBounded(buffer, currentTarget->error.c_str(), size);
}
uint32_t ULMORA_CALL TargetGetPlateData(ActionInterface*, const char* name, const void** data, uint32_t* size)
{
    const auto found = currentTarget->stored.find(name);
    if (found == currentTarget->stored.end()) {
        currentTarget->error = "no such plate";
        return Failed;
    }
    *data = found->second.data();
    *size = static_cast<uint32_t>(found->second.size());
    return Done;
}
uint32_t ULMORA_CALL TargetWrite(ActionInterface*, const char* name, const void* data, uint32_t size, uint32_t mode)
{
    FakeTarget& target = *currentTarget;
    if (mode != WriteModeStore || target.refuse == name) {
        target.error = std::string("refused ") + name;
        return Failed;
    }
    if (static_cast<int>(target.stored.size() + target.pending.size()) >= target.room) {
        target.pending.clear();
        target.error = "disk full";
        return Failed;
    }
    target.pending[name] = std::string(static_cast<const char*>(data), size);
    if (target.batch == 0 || static_cast<int>(target.pending.size()) == target.batch)
        target.stored.merge(target.pending);
    return Done;
}
uint32_t ULMORA_CALL TargetEnumerate(ActionInterface*, uint32_t, PlateCallback, uint32_t, void*) { return Done; }

const ActionFunctions kTargetFunctions = {TargetOpen, TargetErrorText, nullptr, TargetGetPlateData, TargetWrite,
                                          TargetEnumerate};
FakeAction targetAction{{&kTargetFunctions, ULMORA_PLUGIN_MAGIC, sizeof(ActionInterface), 0, "fake"}};
ActionInterface* ULMORA_CALL TargetCreate() { return &targetAction.base; }

class CopyRunTest : public PlateRunTest {
protected:
    void SetUp() override
    {
        PlateRunTest::SetUp();
        currentTarget = &target;
    }
    void TearDown() override
    {
        if (into != nullptr)
            intoPlugin->FreeAction(into);
        currentTarget = nullptr;
        PlateRunTest::TearDown();
    }
    // Opens the target at `path` (beside the source unless given).
    void OpenTarget(const std::string& path = "copy")
    {
        PluginInfo info = FakeInfo(SupportsWrite | SupportsList);
        info.CreateAction = TargetCreate;
        intoPlugin = std::make_unique<StoragePlugin>(nullptr, info, "target");
        into = intoPlugin->CreateAction();
        ASSERT_NE(into, nullptr);
        ASSERT_TRUE(into->Open(path.c_str()));
    }

    FakeTarget target;
    std::unique_ptr<StoragePlugin> intoPlugin;
    StorageAction* into = nullptr;
};

// The failure paths of a copy, each with what it must leave: the summary
// counts only what the target durably holds.
TEST_F(CopyRunTest, FailuresAreCountedAndTheCountStaysHonest)
{
    const struct {
        const char* label;
        std::string refuse;         // the target refuses this plate
        int room;                   // plates the target holds before its disk is full
        int batch;                  // the target's batch size
        bool readFails;             // "tr" cannot be read from the source
        std::set<int> abortAt;      // IsAborted's answers
        bool sameStorage;           // the target is the source itself
        std::set<std::string> held; // in the target afterwards
        int errors;
        bool aborted;
        int handledEnd;             // the plates below it are handled, and deselected one by one
        bool gone = false;          // the target is lost at the end: nothing can be checked
        bool losesLastBatch = false;
    } cases[] = {
        {"every plate", "", 1000, 0, false, {}, false, {"tq", "tr", "ts", "tt"}, 0, false, 4},
        {"the target refuses a store", "tr", 1000, 0, false, {}, false, {"tq", "ts", "tt"}, 1, false, 4},
        {"a full disk takes back the open batch", "", 3, 2, false, {}, false, {"tq", "tr"}, 2, false, 4},
        {"a full disk loses the only batch", "", 3, 4, false, {}, false, {}, 4, false, 4},
        {"a source read error", "", 1000, 0, true, {}, false, {"tq", "ts", "tt"}, 1, false, 4},
        {"abort after the second plate", "", 1000, 0, false, {2}, false, {"tq", "tr"}, 0, true, 2},
        {"the target overlaps the source", "", 1000, 0, false, {}, true, {}, 0, false, -1},
        {"the target is gone at the end", "", 1000, 3, false, {}, false, {"tq", "tr", "ts"}, 4, false, 4, true},
        {"the last batch is lost when the target closes", "", 1000, 3, false, {}, false, {"tq", "tr", "ts"}, 1, false,
         4, false, true},
    };
    for (const bool stream : {false, true})
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.label) + (stream ? ", streamed" : ", read by name"));
        streamed = stream;
        log.clear();
        list.Clear();
        boxes.shown.clear();
        host.handled.clear();
        operation.abortQueries = 0;
        operation.abortAt = c.abortAt;
        target = FakeTarget{};
        target.refuse = c.refuse;
        target.room = c.room;
        target.batch = c.batch;
        target.gone = c.gone;
        target.losesLastBatch = c.losesLastBatch;
        Load({{"tq", "1"}, {"tr", "22", c.readFails ? Failed : Done}, {"ts", "333"}, {"tt", "4444"}});
        OpenTarget(c.sameStorage ? "memory" : "copy");

        std::vector<std::string> failures;
        CopyOptions options;
        options.AskOnError = false;
        options.onFailure = [&](const char* name, const std::string&) { failures.push_back(name); };
        const PlateRunResult result = RunCopy(Run(), *into, options);

        std::set<std::string> held;
        for (const auto& [name, data] : target.stored) {
            held.insert(name);
            EXPECT_EQ(data, storage.plates[static_cast<std::size_t>(name[1] - 'q')].data) << name;
        }
        EXPECT_EQ(held, c.held);
        // What could not be checked is not counted, even what is there.
        const std::set<std::string> counted = c.gone ? std::set<std::string>{} : c.held;
        EXPECT_EQ(result.done, static_cast<int>(counted.size()));
        EXPECT_EQ(result.unchecked, c.gone ? 4 : 0);
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_EQ(result.aborted, c.aborted);
        EXPECT_EQ(result.refused, c.sameStorage);
        uint64_t bytes = 0;
        for (const std::string& name : counted)
            bytes += static_cast<uint64_t>(name[1] - 'q' + 1);
        EXPECT_EQ(result.bytes, bytes);
        EXPECT_TRUE(storage.deleted.empty()) << "the source is left alone";
        EXPECT_FALSE(into->IsOpen()) << "the target is closed";
        EXPECT_EQ(host.reloads, 0) << "the source did not change";
        if (c.sameStorage) {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].kind, "error");
            EXPECT_FALSE(result.started);
            EXPECT_FALSE(LoggedStart("Copy ")) << "nothing was copied";
        } else {
            EXPECT_TRUE(boxes.shown.empty()) << "no questions without AskOnError";
            std::vector<int> handled;
            for (int index = 0; index < c.handledEnd; ++index)
                handled.push_back(index);
            // The stream leaves an unreadable plate to be read by name after it.
            std::vector<int> seen = host.handled;
            if (stream)
                std::sort(seen.begin(), seen.end());
            EXPECT_EQ(seen, handled);
            EXPECT_TRUE(Logged("Plates successfully copied: " + std::to_string(result.done) + " of 4"));
            EXPECT_EQ(Logged("Copy stopped by the user"), c.aborted);
            EXPECT_EQ(static_cast<int>(failures.size()) + result.undone, c.errors);
        }
        intoPlugin->FreeAction(into);
        into = nullptr;
        plugin->FreeAction(action);
        action = nullptr;
    }
}

// The plugin's stream hands out the plates in its own order: the selected
// ones are copied as they come, each once; what it left out, or did not
// reach before it failed, is read by name afterwards.
TEST_F(CopyRunTest, TheStreamCopiesTheSelectedPlatesInItsOwnOrder)
{
    const struct {
        const char* label;
        bool reversed;
        int failsAfter;
        std::vector<int> selected;
        std::set<std::string> held;
        std::vector<int> handled;
        int errors;
    } cases[] = {
        {"reversed, a part selected", true, -1, {1, 2, 4}, {"ts", "tqq"}, {4, 2, 1}, 1},
        {"the stream fails after one plate", false, 1, {}, {"tq", "ts", "tt", "tqq"}, {0, 1, 2, 3, 4}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        streamed = true;
        log.clear();
        list.Clear();
        selection.ClearAll();
        host.handled.clear();
        target = FakeTarget{};
        storage.streamReversed = c.reversed;
        storage.streamFailsAfter = c.failsAfter;
        Load({{"tq", "1"}, {"tr", "22", Failed}, {"ts", "333"}, {"tt", "4444"}, {"tqq", "55555"}}, c.selected);
        OpenTarget();
        CopyOptions options;
        options.AskOnError = false;
        const PlateRunResult result = RunCopy(Run(), *into, options);
        std::set<std::string> held;
        for (const auto& [name, data] : target.stored) {
            held.insert(name);
            EXPECT_EQ(data.size(), name == "tqq" ? 5u : static_cast<std::size_t>(name[1] - 'q' + 1)) << name;
        }
        EXPECT_EQ(held, c.held);
        EXPECT_EQ(host.handled, c.handled);
        EXPECT_EQ(result.done, static_cast<int>(c.held.size()));
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_TRUE(Logged("Error copy plate tr: cannot read: no data for tr"));
        EXPECT_EQ(LoggedStart("The plate stream of memory.fake stopped: the stream broke"), c.failsAfter >= 0);
        intoPlugin->FreeAction(into);
        into = nullptr;
        plugin->FreeAction(action);
        action = nullptr;
    }
}

TEST_F(CopyRunTest, AFailureIsAskedAboutAndNoStops)
{
    boxes.Reply(BoxNo);
    target.refuse = "tr";
    Load({{"tq", "1"}, {"tr", "2"}, {"ts", "3"}});
    OpenTarget();
    const PlateRunResult result = RunCopy(Run(), *into);
    ASSERT_EQ(Questions(), 1);
    EXPECT_EQ(boxes.shown[0].text, "Error copy plate tr.\nError: cannot store: refused tr\n\nContinue copy plates?");
    EXPECT_TRUE(boxes.shown[0].withCheckBox);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(target.stored.size(), 1u);
    EXPECT_TRUE(Logged("Error copy plate tr: cannot store: refused tr"));
    EXPECT_TRUE(Logged("Copy cancelled with errors"));
    EXPECT_TRUE(Logged("Plates successfully copied: 1 of 3"));
    EXPECT_EQ(host.handled, std::vector<int>{0}) << "the plate that stopped the run stays selected";
}

// A copy that lists its source as it reads it copies every plate: those a
// stream handed out, and after a stream that failed, the rest, read by
// name. Nothing kept, nothing made; the target is opened at the first plate.
TEST_F(CopyRunTest, ACopyWhileListingCopiesWhatTheStreamDidNotHand)
{
    FillHostInfo();
    TestPluginControl* source = KeepTestPluginLoaded(TP_STORAGE_PATH);
    CopyOptions quiet;
    quiet.AskOnError = false;
    const struct {
        const char* what;
        int failsAfter; // 0: never
        PlateKeep keep;
        std::map<std::string, std::string> copied;
        int streamed;
        std::string refuse = ""; // the target refuses this plate
        int batch = 0;           // the target's batch
        int room = 1000;         // plates the target holds before its disk is full
        bool losesLastBatch = false;
    } cases[] = {
        {"a whole stream", 0, {},
         {{"t", "data of t"}, {"tr", "data of tr"}, {"ts", "data of ts"}, {"tt", "data of tt"},
          {"tqr", "data of tqr"}, {"trr", "data of trr"}}, 6},
        {"a stream that fails after two plates", 2, {},
         {{"t", "data of t"}, {"tr", "data of tr"}, {"ts", "data of ts"}, {"tt", "data of tt"},
          {"tqr", "data of tqr"}, {"trr", "data of trr"}}, 2},
        {"some plates kept", 0, [](std::string_view name) { return name.size() == 3; },
         {{"tqr", "data of tqr"}, {"trr", "data of trr"}}, 6},
        {"no plate kept", 0, [](std::string_view) { return false; }, {}, 6},
        {"the target refuses a plate read by name", 2, {},
         {{"t", "data of t"}, {"tr", "data of tr"}, {"ts", "data of ts"}, {"tqr", "data of tqr"},
          {"trr", "data of trr"}}, 2, "tt"},
        {"a full disk takes back the open batch", 0, {},
         {{"t", "data of t"}, {"tr", "data of tr"}, {"ts", "data of ts"}, {"tt", "data of tt"}}, 6, "", 2, 5},
        {"the last batch is lost when the target closes", 0, {},
         {{"t", "data of t"}, {"tr", "data of tr"}, {"ts", "data of ts"}, {"tt", "data of tt"}}, 6, "", 4, 1000,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        source->plateCount = 6;
        source->streamOffered = 1;
        source->streamFlags = ULMORA_STREAM_WHOLE;
        source->streamFailsAfter = c.failsAfter;
        target = FakeTarget{};
        target.refuse = c.refuse;
        target.batch = c.batch;
        target.room = c.room;
        target.losesLastBatch = c.losesLastBatch;
        QuietView view;
        StorageConnection connection(view, operation, period, &HostInfo());
        int opened = 0;
        const auto openTarget = [&]() -> StorageAction* {
            ++opened;
            if (into == nullptr)
                OpenTarget();
            return into;
        };
        LoadResult load;
        const PlateRunResult result = RunCopyWhileListing(
            {connection, TP_STORAGE_PATH, "/data/cache", c.keep, openTarget, operation, period, host}, quiet, &load);
        EXPECT_EQ(source->streamed, c.streamed);
        EXPECT_EQ(target.stored, c.copied);
        const int kept = c.keep ? static_cast<int>(c.copied.size()) : 6;
        EXPECT_EQ(opened, kept == 0 ? 0 : 1);
        EXPECT_EQ(result.started, kept > 0);
        EXPECT_EQ(result.done, static_cast<int>(c.copied.size())) << "only what the target durably holds";
        EXPECT_EQ(result.selected, kept);
        EXPECT_EQ(result.errors, kept - static_cast<int>(c.copied.size()));
        uint64_t bytes = 0;
        for (const auto& [name, data] : c.copied)
            bytes += data.size();
        EXPECT_EQ(result.bytes, bytes);
        EXPECT_EQ(load.passed, 6 - kept);
        connection.ReleaseStorage();
        if (into != nullptr)
            intoPlugin->FreeAction(into);
        into = nullptr;
    }
}

// A copy while listing keeps no list of what it stored: when its last
// plate is not in the target and the copy was stopped, the plates stored
// cannot be told from the rest of the source, and none counts as copied.
TEST_F(CopyRunTest, ACopyStoppedWhileListingCountsNothingItCannotCheck)
{
    FillHostInfo();
    TestPluginControl* source = KeepTestPluginLoaded(TP_STORAGE_PATH);
    source->plateCount = 6;
    source->streamOffered = 1;
    source->streamFlags = ULMORA_STREAM_WHOLE;
    source->streamFailsAfter = 0;
    target.batch = 4;
    target.losesLastBatch = true;
    operation.abortQueries = 0;
    operation.abortAt = {3}; // the third plate waits for its batch, with the two before it
    CopyOptions quiet;
    quiet.AskOnError = false;
    QuietView view;
    StorageConnection connection(view, operation, period, &HostInfo());
    const auto openTarget = [&]() -> StorageAction* {
        OpenTarget();
        return into;
    };
    LoadResult load;
    const PlateRunResult result = RunCopyWhileListing(
        {connection, TP_STORAGE_PATH, "/data/cache", {}, openTarget, operation, period, host}, quiet, &load);
    EXPECT_TRUE(result.aborted);
    EXPECT_TRUE(target.stored.empty()) << "the open batch was lost";
    EXPECT_EQ(result.done, 0);
    EXPECT_EQ(result.unchecked, 3);
    EXPECT_EQ(result.errors, 3);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_TRUE(Logged("The plates copied into " + into->StoragePath() +
                       " cannot be checked one by one: the source was not read to its end"));
    connection.ReleaseStorage();
}

// ---- a round trip through the real plugins ------------------------------------

class Lister {
public:
    PlateList plates;
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        plates.Append(name, number, size);
        return true;
    }
};

std::map<std::string, std::string> ReadAll(StorageAction& action, PlateList& plates)
{
    Lister lister;
    EXPECT_EQ(action.Enumerate(0, StorageAction::PlateHandler::Bind<&Lister::OnPlate>(&lister), 2), uint32_t{Done});
    std::map<std::string, std::string> all;
    PlateItem plate;
    for (int i = 0; lister.plates.At(i, &plate); ++i) {
        const void* data = nullptr;
        uint32_t size = 0;
        EXPECT_EQ(action.GetPlateData(plate.name, &data, &size), uint32_t{Done}) << plate.name;
        all[plate.name] = std::string(static_cast<const char*>(data), size);
        plates.Append(plate.name, plate.number, plate.size);
    }
    return all;
}

TEST_F(PlateRunTest, RoundTripFromAGdalMbtilesIntoAFolderStorage)
{
    static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    const std::string source = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, source);

    std::unique_ptr<StoragePlugin> mbtiles = LoadPlugin(MBTILES_PLUGIN, &kHost, PluginTypeStorage);
    ASSERT_NE(mbtiles, nullptr) << ErrorText(kCurrentError);
    StorageAction* from = mbtiles->CreateAction();
    ASSERT_TRUE(from != nullptr && from->Open(source.c_str())) << ErrorText(kCurrentError);
    PlateList plates;
    const std::map<std::string, std::string> original = ReadAll(*from, plates);
    ASSERT_EQ(original.size(), 21u);

    ListSelection all(plates.Count());
    all.SelectAll();
    const PlateRunResult result =
        RunExport({*from, plates, all, operation, period, host, nullptr}, Options(OverAsk, false, true), files);
    EXPECT_EQ(result.done, 21);
    EXPECT_TRUE(boxes.shown.empty());

    std::unique_ptr<StoragePlugin> tree = LoadPlugin(FOLDER_PLUGIN, &kHost, PluginTypeStorage);
    ASSERT_NE(tree, nullptr) << ErrorText(kCurrentError);
    StorageAction* back = tree->CreateAction();
    ASSERT_TRUE(back != nullptr && back->Open(Base().c_str())) << ErrorText(kCurrentError);
    PlateList again;
    EXPECT_EQ(ReadAll(*back, again), original) << "the same names and bytes";
}

// ---- where an export may write -------------------------------------------------

// Regular files below `root` with their contents; links are not followed.
std::map<std::string, std::string> FilesIn(const std::string& root)
{
    std::map<std::string, std::string> files;
    if (!fs::exists(root))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_symlink() && entry.is_regular_file())
            files[fs::relative(entry.path(), root).string()] = ReadWholeFile(entry.path().string());
    return files;
}

void WriteAt(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// A copy through the real plugins writes the same tree whether the source's
// plates come from its stream (into a list of its order or another) or are
// read by name.
TEST_F(PlateRunTest, ACopyIsTheSameWithAndWithoutThePlateStream)
{
    static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    const std::string source = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, source);
    std::unique_ptr<StoragePlugin> mbtiles = LoadPlugin(MBTILES_PLUGIN, &kHost, PluginTypeStorage);
    ASSERT_NE(mbtiles, nullptr) << ErrorText(kCurrentError);
    ASSERT_NE(mbtiles->PlateStream(), nullptr);
    std::unique_ptr<StoragePlugin> tree = LoadPlugin(FOLDER_PLUGIN, &kHost, PluginTypeStorage);
    ASSERT_NE(tree, nullptr) << ErrorText(kCurrentError);
    const PlateStreamExtension* stream = mbtiles->PlateStream();
    const struct {
        const char* label;
        bool stream;
        bool reversed;
        bool halfSelected;
    } cases[] = {{"read by name", false, false, false},
                 {"streamed", true, false, false},
                 {"streamed into a reversed list", true, true, false},
                 {"read by name, every other plate", false, false, true},
                 {"streamed into a reversed list, every other plate", true, true, true}};
    std::map<std::string, std::string> expected[2];
    int made = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        mbtiles->SetPlateStream(c.stream ? stream : nullptr);
        StorageAction* from = mbtiles->CreateAction();
        ASSERT_TRUE(from != nullptr && from->Open(source.c_str())) << ErrorText(kCurrentError);
        PlateList plates;
        ReadAll(*from, plates);
        ASSERT_EQ(plates.Count(), 21);
        if (c.reversed) {
            std::vector<int32_t> order;
            for (int i = plates.Count() - 1; i >= 0; --i)
                order.push_back(i);
            plates.Reorder(order);
        }
        ListSelection chosen(plates.Count());
        // Every other plate of the storage's own order, whatever the list's.
        for (int i = 0; i < plates.Count(); ++i)
            chosen.SetSelected(i, !c.halfSelected || (c.reversed ? plates.Count() - 1 - i : i) % 2 == 0);
        const std::string into = folder.File("copy-" + std::to_string(++made));
        bool fresh = false;
        ASSERT_TRUE(MakeCopyTarget(into, &fresh)) << ErrorText(kCurrentError);
        StorageAction* target = tree->CreateAction();
        ASSERT_TRUE(target != nullptr && target->Open(into.c_str())) << ErrorText(kCurrentError);
        const PlateRunResult result = RunCopy({*from, plates, chosen, operation, period, host, nullptr}, *target);
        EXPECT_EQ(result.done, chosen.SelectedCount());
        EXPECT_EQ(result.errors, 0);
        const std::map<std::string, std::string> written = FilesIn(into);
        EXPECT_GE(written.size(), static_cast<std::size_t>(chosen.SelectedCount())) << "a file a plate";
        std::map<std::string, std::string>& same = expected[c.halfSelected ? 1 : 0];
        if (same.empty())
            same = written;
        else
            EXPECT_EQ(written, same);
        tree->FreeAction(target);
        mbtiles->FreeAction(from);
    }
}

TEST_F(PlateRunTest, AnExportThatOverlapsTheStorageIsRefused)
{
    static const PluginHostInfo kHost{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    const std::string store = folder.File("store");
    const std::map<std::string, std::string> stored = {
        {"t.jpg", "world"}, {"t/q.jpg", "north-west"}, {"t/r.jpg", "north-east"}};
    for (const auto& [file, content] : stored)
        WriteAt(store + "/" + file, content);
    fs::create_directory_symlink(store, folder.File("link"));
    const std::set<std::string> before = Tree();

    const struct {
        const char* label;
        std::string target;
    } targets[] = {
        {"the same path", store},
        {"the same folder spelt with ./", store + "/./"},
        {"a link to it", folder.File("link")},
        {"a folder inside it", store + "/t/sub"},
        {"the folder that holds it", folder.Path().string()},
    };
    std::unique_ptr<StoragePlugin> tree = LoadPlugin(FOLDER_PLUGIN, &kHost, PluginTypeStorage);
    ASSERT_NE(tree, nullptr) << ErrorText(kCurrentError);
    for (const auto& target : targets) {
        for (const bool move : {false, true}) {
            SCOPED_TRACE(std::string(target.label) + (move ? ", with Move" : ""));
            StorageAction* from = tree->CreateAction();
            ASSERT_TRUE(from != nullptr && from->Open(store.c_str())) << ErrorText(kCurrentError);
            PlateList plates;
            ASSERT_EQ(ReadAll(*from, plates).size(), stored.size());
            ListSelection all(plates.Count());
            all.SelectAll();
            boxes.shown.clear();
            ExportOptions options = Options(OverWrite, move, false);
            options.BasePath = BasePathOf(target.target);
            const PlateRunResult result = RunExport({*from, plates, all, operation, period, host, nullptr}, options, files);
            tree->FreeAction(from);

            EXPECT_TRUE(result.refused);
            EXPECT_EQ(result.done, 0);
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].kind, "error");
            EXPECT_EQ(FilesIn(store), stored) << "every plate stays as it was";
            EXPECT_EQ(Tree(), before) << "nothing is written anywhere";
        }
    }
}

TEST_F(PlateRunTest, LinksPlantedInTheTargetAreNeverWrittenThrough)
{
    const struct {
        const char* label;
        std::string link;   // below the target
        std::string leadsTo; // below the test's folder
        int over;
        std::map<std::string, std::string> written; // regular files below the target afterwards
        int done;
    } cases[] = {
        {"a file link where the temporary file goes", "t.jp", "guard/victim", OverAsk,
         {{"t.jpg", "world"}, {"t/q.jpg", "north-west"}}, 2},
        {"a file link where the file goes, overwritten", "t.jpg", "guard/victim", OverWrite,
         {{"t.jpg", "world"}, {"t/q.jpg", "north-west"}}, 2},
        {"a folder link that leads out", "t", "guard", OverAsk, {{"t.jpg", "world"}}, 1},
        {"a folder link that stays inside", "t", "out/inner", OverAsk,
         {{"t.jpg", "world"}, {"inner/q.jpg", "north-west"}}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(Base());
        fs::remove_all(folder.File("guard"));
        WriteAt(folder.File("guard/victim"), "guard data");
        fs::create_directories(Out("inner"));
        fs::create_symlink(folder.File(c.leadsTo), Out(c.link));
        const std::map<std::string, std::string> guard = FilesIn(folder.File("guard"));
        list.Clear();
        Load({{"t", "world"}, {"tq", "north-west"}});

        const PlateRunResult result = Export(Options(c.over, false, false));
        EXPECT_EQ(result.done, c.done);
        EXPECT_EQ(FilesIn(folder.File("guard")), guard) << "the guard folder stays as it was";
        EXPECT_EQ(FilesIn(Base()), c.written);
        plugin->FreeAction(action);
        action = nullptr;
    }
}

TEST_F(PlateRunTest, LongTargetPathsAreCarriedWholeOrRefused)
{
    // A path far beyond 260 characters, beside a decoy in the folder its
    // first 260 characters would name, and one close to the system's limit
    // where only the short names fit.
    const std::string parent = folder.File(std::string(150, 'd'));
    const std::string longBase = parent + "/" + std::string(150, 'e');
    std::string limitBase = folder.Path().string();
    while (limitBase.size() < 3990)
        limitBase += "/" + std::string(std::min<std::size_t>(250, 3990 - limitBase.size()), 'f');
    const std::string deep = "t" + std::string(60, 'q');
    const struct {
        const char* label;
        std::string base;
        std::map<std::string, std::string> written; // below the base
        int done;
        int errors;
    } cases[] = {
        {"a 300-character target", longBase, {{"t.jpg", "world"}, {"t/q.jpg", "north-west"}}, 2, 0},
        {"a target near the limit", limitBase, {{"t.jpg", "world"}, {"t/q.jpg", "north-west"}}, 2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WriteAt(parent + "/decoy.jpg", "decoy");
        list.Clear();
        Load({{"t", "world"}, {"tq", "north-west"}, {deep, "too deep"}}, {0, 1, 2});
        if (c.errors == 0)
            selection.SetSelected(2, false);
        ExportOptions options = Options(OverAsk, false, false);
        options.BasePath = BasePathOf(c.base);
        EXPECT_EQ(options.BasePath, c.base + "/") << "the path is kept whole";

        const PlateRunResult result = Export(options);
        EXPECT_EQ(result.done, c.done);
        EXPECT_EQ(result.errors, c.errors);
        EXPECT_EQ(FilesIn(c.base), c.written);
        if (c.errors > 0) {
            EXPECT_NE(result.errorText.find("longer than 4095 characters"), std::string::npos) << result.errorText;
        }
        std::map<std::string, std::string> beside = FilesIn(parent);
        std::erase_if(beside, [](const auto& file) { return file.first.starts_with(std::string(150, 'e')); });
        EXPECT_EQ(beside, (std::map<std::string, std::string>{{"decoy.jpg", "decoy"}})) << "nothing lands beside";
        plugin->FreeAction(action);
        action = nullptr;
    }
}

} // namespace
