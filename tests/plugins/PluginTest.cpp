// The loader and the action wrapper against the family of test plugins.
#include "plugins/Plugin.h"

#include "base/Paths.h"
#include "log/Errors.h"
#include "platform/LastError.h"
#include "test_plugin_control.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

const PluginHostInfo kHost = {ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};

bool IsMapped(const char* path)
{
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}

// Holds the library loaded for the test's whole life, so that the plugin's
// counters survive the loader's own unloads, and resets them.
class PluginFixture : public ::testing::Test {
protected:
    void Use(const char* path)
    {
        path_ = path;
        handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        auto stateOf = reinterpret_cast<TestPluginStateFn>(dlsym(handle_, "TestPluginState"));
        ASSERT_NE(stateOf, nullptr);
        state_ = stateOf();
        *state_ = TestPluginControl{};
        state_->openResult = 1;
    }
    void TearDown() override
    {
        if (handle_ != nullptr)
            dlclose(handle_);
    }
    std::unique_ptr<StoragePlugin> Load(int type = PluginTypeStorage)
    {
        return LoadPlugin(path_, &kHost, type);
    }
    StorageAction* OpenAction(BasePlugin& plugin, const char* storage = "/data/cache.db")
    {
        StorageAction* action = plugin.CreateAction();
        EXPECT_NE(action, nullptr) << ErrorText(kCurrentError);
        if (action != nullptr) {
            EXPECT_TRUE(action->Open(storage)) << ErrorText(kCurrentError);
        }
        return action;
    }

    const char* path_ = nullptr;
    void* handle_ = nullptr;
    TestPluginControl* state_ = nullptr;
};

// ---- loading ---------------------------------------------------------------

struct Refusal {
    const char* name;
    const char* path;
    int type;
    int code;
    std::string text; // the error text, or a part of it for loader texts
};

class RefusalTest : public PluginFixture, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusalTest, RefusesWithReasonAndFreesTheLibrary)
{
    const Refusal& refusal = GetParam();
    SetLastError(0);
    EXPECT_EQ(LoadPlugin(refusal.path, &kHost, refusal.type), nullptr);
    EXPECT_EQ(CurrentError(), refusal.code);
    // Loader texts vary by system: only a part of them is checked.
    if (refusal.code == ErrCustomText && refusal.text.find("Plugin") != 0) {
        EXPECT_NE(ErrorText(kCurrentError).find(refusal.text), std::string::npos)
            << ErrorText(kCurrentError);
    } else {
        EXPECT_EQ(ErrorText(kCurrentError), refusal.text);
    }
    EXPECT_FALSE(IsMapped(refusal.path)) << "the library stays loaded after a refusal";

    // A refused query is followed by neither Init nor Shutdown.
    if (std::string(refusal.path).find("missing") == std::string::npos) {
        Use(refusal.path);
        EXPECT_EQ(LoadPlugin(refusal.path, &kHost, refusal.type), nullptr);
        EXPECT_EQ(state_->inits, 0);
        EXPECT_EQ(state_->shutdowns, 0);
    }
}

const std::string kOtherTypePath = MakeRelativeToProgramFolder(TP_OTHERTYPE_PATH);

INSTANTIATE_TEST_SUITE_P(
    Plugins, RefusalTest,
    ::testing::Values(
        Refusal{"NoExport", TP_NOEXPORT_PATH, kAnyPluginType, ErrCustomText, "QueryPluginInterface"},
        Refusal{"InitError", TP_INITERROR_PATH, kAnyPluginType, ErrCustomText,
                "Plugin init error: broken on purpose"},
        Refusal{"BadMagic", TP_BADMAGIC_PATH, kAnyPluginType, ErrBadMagic, "Bad ID magic value"},
        Refusal{"OneByteShort", TP_SHORT_PATH, kAnyPluginType, ErrUnexpectedData,
                "Data block contains unexpected data"},
        Refusal{"NotRequestedType", TP_OTHERTYPE_PATH, PluginTypeStorage, ErrCustomText,
                "Plugin " + kOtherTypePath + " is not requested Storage type plugin"},
        Refusal{"UnknownType", TP_OTHERTYPE_PATH, kAnyPluginType, ErrCustomText,
                "Plugin is of unknown type: 65538 (Desc: Test storage)"},
        Refusal{"MissingFile", "/nonexistent/missing.so", kAnyPluginType, ErrCustomText,
                "No such file or directory"}),
    [](const auto& test) { return test.param.name; });

TEST_F(PluginFixture, AcceptsRecordsOfTheirSizeOrLarger)
{
    for (const char* path : {TP_STORAGE_PATH, TP_LARGE_PATH, TP_NOINIT_PATH}) {
        auto plugin = LoadPlugin(path, &kHost, kAnyPluginType);
        ASSERT_NE(plugin, nullptr) << path << ": " << ErrorText(kCurrentError);
        EXPECT_EQ(plugin->Type(), PluginTypeStorage);
        EXPECT_STREQ(plugin->Description(), "Test storage");
        EXPECT_EQ(plugin->Flags(), static_cast<uint32_t>(SupportsWrite | SupportsList));
    }
}

TEST_F(PluginFixture, KeepsTheLibraryPathRelativeToTheProgramFolder)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->LibraryPath(), "../plugins/tp_storage.so");
    // The relative form loads the same library again.
    EXPECT_NE(LoadPlugin(plugin->LibraryPath().c_str(), &kHost, PluginTypeStorage), nullptr);
}

TEST_F(PluginFixture, EachLoadSeesItsOwnInitAndShutdown)
{
    Use(TP_STORAGE_PATH);
    auto first = Load();
    auto second = Load();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(state_->inits, 2);
    first.reset();
    second.reset();
    EXPECT_EQ(state_->shutdowns, 2);
    EXPECT_EQ(state_->queries, 2);
}

// ---- actions ---------------------------------------------------------------

TEST_F(PluginFixture, CreateActionRefusesBadObjectsAndHandsThemBack)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    ASSERT_NE(plugin, nullptr);

    state_->createReturnsNull = 1;
    EXPECT_EQ(plugin->CreateAction(), nullptr);
    EXPECT_EQ(ErrorText(kCurrentError), "Error requesting new action from plugin");
    state_->createReturnsNull = 0;

    state_->actionMagic = 0x0251545A;
    EXPECT_EQ(plugin->CreateAction(), nullptr);
    EXPECT_EQ(CurrentError(), ErrBadMagic);
    state_->actionMagic = 0;

    state_->actionSize = sizeof(ActionInterface) - 1;
    EXPECT_EQ(plugin->CreateAction(), nullptr);
    EXPECT_EQ(CurrentError(), ErrUnexpectedData);
    EXPECT_EQ(state_->frees, 2) << "refused objects go back to the plugin";

    state_->actionSize = sizeof(ActionInterface);
    EXPECT_NE(plugin->CreateAction(), nullptr);
    EXPECT_EQ(plugin->ActionCount(), 1u);
}

TEST_F(PluginFixture, CreateActionOfAPluginWithoutOneFailsCleanly)
{
    Use(TP_NOCREATE_PATH);
    auto plugin = Load();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->CreateAction(), nullptr);
    EXPECT_EQ(ErrorText(kCurrentError), "Error requesting new action from plugin");
}

struct Completion {
    const char* plugin;
    std::string given;
    std::string passed;
};

TEST_F(PluginFixture, OpenCompletesTheDefaultExtensionOfFileStorages)
{
    const std::string longName(258, 'a');
    const Completion cases[] = {
        {TP_STORAGE_PATH, "/data/cache", "/data/cache.db"},
        {TP_STORAGE_PATH, "/data/my.folder/cache", "/data/my.folder/cache.db"},
        {TP_STORAGE_PATH, "/data/cache.sqlite", "/data/cache.sqlite"},
        {TP_STORAGE_PATH, "cache", "cache.db"},
        {TP_STORAGE_PATH, longName, longName + ".db"}, // carried whole, never cut
        {TP_FOLDER_PATH, "/data/cache", "/data/cache"},
    };
    for (const Completion& c : cases) {
        Use(c.plugin);
        auto plugin = Load();
        ASSERT_NE(plugin, nullptr);
        StorageAction* action = plugin->CreateAction();
        ASSERT_TRUE(action->Open(c.given.c_str()));
        EXPECT_EQ(action->StoragePath(), c.passed);
        EXPECT_NE(std::string(state_->events).find("open:1:" + c.passed), std::string::npos)
            << state_->events;
        plugin.reset();
        TearDown();
    }
}

TEST_F(PluginFixture, OpenClosesFirstAndAFailedOpenLeavesTheActionClosed)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin, "/a.db");
    state_->openResult = 0;
    std::snprintf(state_->errorText, sizeof state_->errorText, "no such storage");
    EXPECT_FALSE(action->Open("/b.db"));
    EXPECT_FALSE(action->IsOpen());
    EXPECT_EQ(CurrentError(), ErrCustomText);
    EXPECT_EQ(ErrorText(kCurrentError), "no such storage");
    EXPECT_STREQ(state_->events, "init create:1 open:1:/a.db close:1 open:1:/b.db");
    // Closing a closed action does not reach the plugin.
    action->Close();
    EXPECT_STREQ(state_->events, "init create:1 open:1:/a.db close:1 open:1:/b.db");
}

TEST_F(PluginFixture, OperationsOnAClosedActionFailWithoutReachingThePlugin)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = plugin->CreateAction();
    state_->plateCount = 5;
    const void* data = nullptr;
    uint32_t size = 0;

    EXPECT_EQ(action->GetPlateData("t", &data, &size), static_cast<uint32_t>(Failed));
    EXPECT_EQ(CurrentError(), platform::kErrorNotReady);
    SetLastError(0);
    EXPECT_EQ(action->Write("t", nullptr, 0, WriteModeDelete), static_cast<uint32_t>(Failed));
    EXPECT_EQ(CurrentError(), platform::kErrorNotReady);
    SetLastError(0);
    EXPECT_EQ(action->Enumerate(0, {}, 2), static_cast<uint32_t>(Failed));
    EXPECT_EQ(CurrentError(), platform::kErrorNotReady);
    EXPECT_EQ(state_->writes, 0);
    EXPECT_EQ(state_->callbacks, 0);
}

TEST_F(PluginFixture, WriteIsRefusedWithoutSupportsWrite)
{
    Use(TP_READONLY_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    EXPECT_EQ(action->Write("tq", nullptr, 0, WriteModeDelete), static_cast<uint32_t>(Failed));
    EXPECT_EQ(ErrorText(kCurrentError), "Plugin does not support write operations");
    EXPECT_EQ(state_->writes, 0);
}

TEST_F(PluginFixture, WritePassesItsArgumentsThrough)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    EXPECT_EQ(action->Write("tqrs", nullptr, 0, WriteModeDelete), static_cast<uint32_t>(Done));
    EXPECT_STREQ(state_->lastWriteName, "tqrs");
    EXPECT_EQ(state_->lastWriteMode, static_cast<uint32_t>(WriteModeDelete));
}

enum class Op { GetPlateData, Write, Enumerate };

struct Mapping {
    Op op;
    uint32_t pluginResult;
    uint32_t expected;
};

TEST_F(PluginFixture, PluginResultsAreMappedAndFailuresFetchTheText)
{
    const Mapping cases[] = {
        {Op::GetPlateData, Done, Done},       {Op::GetPlateData, Empty, Empty},
        {Op::GetPlateData, Failed, Failed},   {Op::GetPlateData, Aborted, Failed},
        {Op::GetPlateData, 0x10000, Done},    {Op::GetPlateData, 9, Failed},
        {Op::Write, Done, Done},              {Op::Write, Empty, Empty},
        {Op::Write, Aborted, Failed},         {Op::Write, 0xFFFF0002u, Failed},
        {Op::Enumerate, Done, Done},          {Op::Enumerate, Empty, Empty},
        {Op::Enumerate, Failed, Failed},      {Op::Enumerate, Aborted, Aborted},
        {Op::Enumerate, 7, Failed},
    };
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    std::snprintf(state_->errorText, sizeof state_->errorText, "plugin says no");
    for (const Mapping& c : cases) {
        SCOPED_TRACE(testing::Message() << "op " << static_cast<int>(c.op) << " result " << c.pluginResult);
        SetErrorText("untouched");
        state_->plateCount = 1;
        state_->plateDataResult = state_->writeResult = state_->enumerateResult = c.pluginResult;
        const void* data = nullptr;
        uint32_t size = 0;
        uint32_t result = 0;
        switch (c.op) {
        case Op::GetPlateData: result = action->GetPlateData("tq", &data, &size); break;
        case Op::Write: result = action->Write("tq", nullptr, 0, WriteModeDelete); break;
        case Op::Enumerate: result = action->Enumerate(0, {}, 2); break;
        }
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(ErrorText(kCurrentError), c.expected == Failed ? "plugin says no" : "untouched");
    }
}

TEST_F(PluginFixture, GetPlateDataHandsOutThePluginsBlock)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    const void* data = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(action->GetPlateData("tqr", &data, &size), static_cast<uint32_t>(Done));
    EXPECT_EQ(std::string(static_cast<const char*>(data), size), "data of tqr");
}

TEST_F(PluginFixture, AnUnterminatedErrorTextIsCutToTheBuffer)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    state_->errorTextUnterminated = 1;
    state_->plateDataResult = Failed;
    const void* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(action->GetPlateData("t", &data, &size), static_cast<uint32_t>(Failed));
    EXPECT_EQ(ErrorText(kCurrentError), std::string(99, 'x'));
}

// Collects plates and stops after `limit` of them.
struct Collector {
    std::vector<std::string> names;
    std::vector<int32_t> numbers;
    std::size_t limit = SIZE_MAX;
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t)
    {
        names.push_back(name);
        numbers.push_back(number);
        return names.size() < limit;
    }
};

TEST_F(PluginFixture, EnumerateReportsEveryPlateAndStopsWhenTold)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    state_->plateCount = 10;

    Collector all;
    auto handler = StorageAction::PlateHandler::Bind<&Collector::OnPlate>(&all);
    EXPECT_EQ(action->Enumerate(0, handler, 2), static_cast<uint32_t>(Done));
    EXPECT_EQ(all.names.size(), 10u);
    EXPECT_EQ(all.names[5], "trr"); // 5 is 11 in base 4
    EXPECT_EQ(state_->lastEnumerateValue1, 0u);
    EXPECT_EQ(state_->lastEnumerateValue2, 2u);

    Collector three;
    three.limit = 3;
    EXPECT_EQ(action->Enumerate(0, StorageAction::PlateHandler::Bind<&Collector::OnPlate>(&three), 2),
              static_cast<uint32_t>(Aborted));
    EXPECT_EQ(state_->callbacks, 3) << "the plugin must stop at once";
    EXPECT_EQ(three.numbers, (std::vector<int32_t>{1, 2, 3}));
}

// A plate handler that fails on the third plate.
struct Thrower {
    int seen = 0;
    bool OnPlate(StorageAction*, int32_t, const char*, uint32_t, uint32_t)
    {
        if (++seen == 3)
            throw std::runtime_error("no room for the plate");
        return true;
    }
};

// An exception of the handler must not cross the plugin's frames: a plugin
// built without frame information would end the program there. The plugin is
// told to stop, and Enumerate throws the exception once the plugin returned.
TEST_F(PluginFixture, AHandlersExceptionReachesTheCallerPastThePlugin)
{
    Use(TP_NOUNWIND_PATH);
    auto plugin = Load();
    StorageAction* action = OpenAction(*plugin);
    state_->plateCount = 10;
    Thrower thrower;
    EXPECT_THROW(action->Enumerate(0, StorageAction::PlateHandler::Bind<&Thrower::OnPlate>(&thrower), 2),
                 std::runtime_error);
    EXPECT_EQ(state_->callbacks, 3) << "the plugin was told to stop";
    // Nothing of the failure stays with the action.
    Collector all;
    EXPECT_EQ(action->Enumerate(0, StorageAction::PlateHandler::Bind<&Collector::OnPlate>(&all), 2),
              static_cast<uint32_t>(Done));
    EXPECT_EQ(all.names.size(), 10u);
}

// Records destroy notifications in order.
struct Witness {
    std::vector<std::string> seen;
    void PluginGone(BasePlugin*) { seen.push_back("plugin"); }
    void ActionGone(PluginAction* action)
    {
        seen.push_back("action:" + static_cast<StorageAction*>(action)->StoragePath());
    }
};

TEST_F(PluginFixture, UnloadingFreesActionsNewestFirstThenShutsDown)
{
    Use(TP_STORAGE_PATH);
    auto plugin = Load();
    Witness witness;
    plugin->SetDestroyNotification(BasePlugin::DestroyNotification::Bind<&Witness::PluginGone>(&witness));
    for (const char* storage : {"/1.db", "/2.db", "/3.db"}) {
        StorageAction* action = OpenAction(*plugin, storage);
        action->SetDestroyNotification(
            PluginAction::DestroyNotification::Bind<&Witness::ActionGone>(&witness));
    }
    state_->events[0] = '\0';
    plugin.reset();
    EXPECT_STREQ(state_->events, "close:3 free:3 close:2 free:2 close:1 free:1 shutdown");
    // The action is closed before its notification, so its path is still known.
    EXPECT_EQ(witness.seen,
              (std::vector<std::string>{"plugin", "action:/3.db", "action:/2.db", "action:/1.db"}));
}

TEST_F(PluginFixture, FreeActionIgnoresActionsOfOtherPlugins)
{
    Use(TP_STORAGE_PATH);
    auto first = Load();
    auto second = Load();
    StorageAction* foreign = second->CreateAction();
    first->FreeAction(foreign);
    EXPECT_EQ(state_->frees, 0);
    EXPECT_EQ(second->ActionCount(), 1u);
    second->FreeAction(foreign);
    EXPECT_EQ(state_->frees, 1);
    EXPECT_EQ(second->ActionCount(), 0u);
}

} // namespace
