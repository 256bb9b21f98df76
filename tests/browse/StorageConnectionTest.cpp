// Loading and releasing a storage through the test plugins.
#include "browse/StorageConnection.h"

#include "ScriptedBoxes.h"
#include "ScriptedOperation.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plugins/Registry.h"
#include "TestPluginState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

class FakeView : public BrowserView {
public:
    std::vector<LoadButton> buttons;
    std::vector<int> counts;
    int clicks = 0;
    int pumps = 0;
    void ShowLoadButton(LoadButton state) override { buttons.push_back(state); }
    void ShowPlateCount(int count) override { counts.push_back(count); }
    void PumpMessages() override { ++pumps; }
    void ListClick() override { ++clicks; }
    BoxOwner Owner() override { return this; }
};

class StorageConnectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillHostInfo();
        state = KeepTestPluginLoaded(TP_STORAGE_PATH);
        logSubscription = SubscribeLog([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override
    {
        connection.ReleaseStorage();
        UnsubscribeLog(logSubscription);
    }
    bool Logged(const std::string& line) const
    {
        return std::find(logged.begin(), logged.end(), line) != logged.end();
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < connection.Plates().Count(); ++i) {
            PlateItem plate;
            connection.Plates().At(i, &plate);
            names.push_back(plate.name);
        }
        return names;
    }

    TestPluginControl* state = nullptr;
    ScriptedBoxes boxes;
    ScriptedOperation operation;
    PRPeriod period{400, &AlwaysElapsedClock};
    FakeView view;
    StorageConnection connection{view, operation, period, &HostInfo()};
    std::vector<std::string> logged;
    int logSubscription = 0;
};

TEST_F(StorageConnectionTest, ListsEveryPlateWithProgress)
{
    state->plateCount = 6;
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    EXPECT_TRUE(connection.Loaded());
    ASSERT_EQ(connection.Plates().Count(), 6);
    EXPECT_EQ(Names(), (std::vector<std::string>{"t", "tr", "ts", "tt", "tqr", "trr"}));
    PlateItem plate;
    connection.Plates().At(2, &plate);
    EXPECT_EQ(plate.number, 3);
    EXPECT_EQ(plate.size, 102u);
    EXPECT_EQ(connection.Action()->StoragePath(), "/data/cache.db");
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(operation.abortable);
    EXPECT_EQ(operation.texts.front(), "Scaning storage /data/cache.db...\nItems found: 1");
    EXPECT_EQ(operation.texts.back(), "Scaning storage /data/cache.db...\nItems found: 6");
    EXPECT_EQ(operation.ends, 1);
    EXPECT_EQ(view.pumps, 6);
    EXPECT_EQ(view.counts.back(), 6);
    EXPECT_EQ(view.buttons, (std::vector<BrowserView::LoadButton>{BrowserView::LoadButton::Load,
                                                                  BrowserView::LoadButton::Loading,
                                                                  BrowserView::LoadButton::Release}));
    EXPECT_EQ(logged.front(), "Load storage contents...");
    EXPECT_EQ(logged.back(), "Loaded 6 items");
    EXPECT_EQ(view.clicks, 2) << "after the release and after the load";
}

// A load that keeps plates by name holds only those, in the listing's order
// with their numbers and sizes; the rest are counted, and a later load
// without a filter lists every plate again.
TEST_F(StorageConnectionTest, KeepsOnlyThePlatesItIsAskedFor)
{
    state->plateCount = 6;
    const LoadResult kept = connection.LoadStorage(TP_STORAGE_PATH, "/data/cache",
                                                   [](std::string_view name) { return name.size() == 2; });
    EXPECT_EQ(kept.outcome, LoadResult::Outcome::Loaded);
    EXPECT_EQ(kept.plates, 3);
    EXPECT_EQ(kept.passed, 3);
    EXPECT_EQ(Names(), (std::vector<std::string>{"tr", "ts", "tt"}));
    PlateItem plate;
    ASSERT_TRUE(connection.Plates().At(1, &plate));
    EXPECT_EQ(plate.number, 3);
    EXPECT_EQ(plate.size, 102u);
    EXPECT_EQ(state->callbacks, 6) << "the whole listing is walked, for progress and Abort";
    EXPECT_TRUE(Logged("Loaded 3 items"));
    EXPECT_TRUE(Logged("3 other plates of the storage were not kept"));

    const LoadResult all = connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    EXPECT_EQ(all.plates, 6);
    EXPECT_EQ(all.passed, 0);
    EXPECT_EQ(connection.Plates().Count(), 6);

    // A plugin that cannot list a part lists the whole; the keep picks.
    const PlatePart part{2, 2, {"tr", "tt"}};
    const LoadResult inPart = connection.LoadStorage(
        TP_STORAGE_PATH, "/data/cache", [](std::string_view name) { return name == "tr" || name == "tt"; }, &part);
    EXPECT_EQ(inPart.outcome, LoadResult::Outcome::Loaded);
    EXPECT_EQ(Names(), (std::vector<std::string>{"tr", "tt"}));
    EXPECT_EQ(inPart.passed, 4);
}

// A load for a run that needs every plate's data reads the storage from the
// plugin's plate stream only when the stream leaves no plate out, handing
// each plate on with its data and keeping no list; after a stream that
// failed, the listing makes the list of every plate kept.
TEST_F(StorageConnectionTest, ALoadWithDataHandsAWholeStreamOnWithoutAList)
{
    const std::vector<std::string> all{"t", "tr", "ts", "tt", "tqr", "trr"};
    const std::vector<std::string> pairs{"tr", "ts", "tt"};
    struct Case {
        const char* what;
        uint32_t flags;
        int failsAfter;
        bool keepPairs; // keep the names of two letters only
        std::vector<std::string> handed; // in the stream's order
        int enumerated;                  // plates the listing reported
        std::vector<std::string> names;  // the list after the load
    } const cases[] = {
        {"a whole stream", ULMORA_STREAM_WHOLE, 0, false, all, 0, {}},
        {"a stream that may leave plates out", 0, 0, false, {}, 6, all},
        {"a whole stream that fails", ULMORA_STREAM_WHOLE, 2, false, {"t", "tr"}, 6, all},
        {"a whole stream, some plates kept", ULMORA_STREAM_WHOLE, 0, true, pairs, 0, {}},
        {"a whole stream that fails, some plates kept", ULMORA_STREAM_WHOLE, 3, true, {"tr", "ts"}, 6, pairs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        state->plateCount = 6;
        state->streamOffered = 1;
        state->streamFlags = c.flags;
        state->streamFailsAfter = c.failsAfter;
        state->callbacks = 0;
        logged.clear();
        std::vector<std::string> handedNames;
        const ListedData withData = [&](int index, const PlateItem& plate, const void* data, uint32_t size) {
            EXPECT_EQ(index, static_cast<int>(handedNames.size())) << "its place in the stream";
            EXPECT_EQ(plate.nameLength, static_cast<int>(std::strlen(plate.name)));
            EXPECT_EQ(std::string(static_cast<const char*>(data), size), std::string("data of ") + plate.name);
            handedNames.emplace_back(plate.name);
            return true;
        };
        int handed = -1;
        const LoadResult result =
            connection.LoadStorageWithData(TP_STORAGE_PATH, "/data/cache",
                                           c.keepPairs ? PlateKeep([](std::string_view name) { return name.size() == 2; })
                                                       : PlateKeep(),
                                           withData, &handed);
        EXPECT_EQ(result.outcome, LoadResult::Outcome::Loaded);
        EXPECT_EQ(handed, static_cast<int>(c.handed.size()));
        EXPECT_EQ(handedNames, c.handed);
        EXPECT_EQ(state->callbacks, c.enumerated);
        EXPECT_EQ(Names(), c.names);
        const int kept = c.keepPairs ? 3 : 6;
        EXPECT_EQ(result.plates, c.names.empty() ? kept : static_cast<int>(c.names.size()));
        EXPECT_EQ(result.passed, 6 - kept);
        EXPECT_EQ(Logged("The plate stream of /data/cache.db stopped: the stream broke; the storage is listed and read "
                         "plate by plate"),
                  c.failsAfter > 0);
    }
}

TEST_F(StorageConnectionTest, AnEmptyStorageIsLoadedWithoutPlates)
{
    state->plateCount = 0;
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Strage is empty!");
    EXPECT_TRUE(connection.Loaded());
    EXPECT_EQ(connection.Plates().Count(), 0);
    EXPECT_EQ(view.buttons.back(), BrowserView::LoadButton::Release);
    EXPECT_EQ(logged.back(), "Loaded 0 items");
}

TEST_F(StorageConnectionTest, AFailingEnumerationKeepsWhatWasFound)
{
    state->plateCount = 3;
    state->enumerateResult = Failed;
    std::snprintf(state->errorText, sizeof state->errorText, "disk read error");
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Error enumerating storage\nError: disk read error");
    EXPECT_EQ(connection.Plates().Count(), 3);
    EXPECT_TRUE(connection.Loaded());
}

TEST_F(StorageConnectionTest, APluginsNoticeAfterAListingIsLogged)
{
    state->plateCount = 2;
    std::snprintf(state->errorText, sizeof state->errorText, "Left out 3 rows not tiles");
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    EXPECT_TRUE(boxes.shown.empty());
    const auto notice = std::find(logged.begin(), logged.end(), "Left out 3 rows not tiles");
    ASSERT_NE(notice, logged.end());
    EXPECT_EQ(*(notice + 1), "Loaded 2 items");
}

TEST_F(StorageConnectionTest, AbortAsksAndYesKeepsThePartialList)
{
    state->plateCount = 10;
    operation.abortAt = {2, 5};
    boxes.Reply(BoxNo);  // the first press: go on
    boxes.Reply(BoxYes); // the second: stop
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "Abort scan storage?");
    EXPECT_EQ(connection.Plates().Count(), 5);
    EXPECT_EQ(state->callbacks, 5) << "the plugin stops at once";
    EXPECT_TRUE(Logged("Loaded 5 items"));
    EXPECT_EQ(view.buttons.back(), BrowserView::LoadButton::Release);
}

TEST_F(StorageConnectionTest, AConnectionThatCannotBeMadeIsDropped)
{
    struct Case {
        const char* library;
        void (*breakIt)(TestPluginControl&);
        std::string box;
    };
    const Case cases[] = {
        {"/nonexistent/plugin.so", [](TestPluginControl&) {}, "Error loading storage plugin: "},
        {TP_STORAGE_PATH, [](TestPluginControl& s) { s.createReturnsNull = 1; },
         "Error creating storage action: Error requesting new action from plugin"},
        {TP_STORAGE_PATH,
         [](TestPluginControl& s) {
             s.openResult = 0;
             std::snprintf(s.errorText, sizeof s.errorText, "not a storage");
         },
         "Error initialize storage data \"/data/cache\": not a storage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        *state = TestPluginControl{};
        state->openResult = 1;
        c.breakIt(*state);
        boxes.shown.clear();
        connection.LoadStorage(c.library, "/data/cache");
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text.rfind(c.box, 0), 0u) << boxes.shown[0].text;
        EXPECT_FALSE(connection.Loaded());
        EXPECT_EQ(view.buttons.back(), BrowserView::LoadButton::Load) << "a click loads again";
    }
}

TEST_F(StorageConnectionTest, ReleaseSaysWhatItFrees)
{
    state->plateCount = 0;
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    logged.clear();
    connection.ReleaseStorage();
    EXPECT_EQ(logged, (std::vector<std::string>{"Free allocated storage connection...", "OK"}));
    EXPECT_STREQ(state->events, "init create:1 open:1:/data/cache.db close:1 free:1 shutdown");

    state->plateCount = 2;
    connection.LoadStorage(TP_STORAGE_PATH, "/data/cache");
    logged.clear();
    connection.ReleaseStorage();
    EXPECT_EQ(logged, (std::vector<std::string>{"Free allocated storage connection...", "OK",
                                                "Free allocated items...", "OK"}));
    EXPECT_EQ(view.counts.back(), 0);
    EXPECT_EQ(view.buttons.back(), BrowserView::LoadButton::Load);
}

} // namespace
