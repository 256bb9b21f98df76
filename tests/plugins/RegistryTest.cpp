// The plugin registry and the storage definitions, with their persistence.
#include "plugins/Registry.h"

#include "ScriptedBoxes.h"
#include "TempFolder.h"
#include "base/Paths.h"
#include "config/ConfigItem.h"
#include "config/TreeConfig.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "TestPluginState.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

const std::string kStorage = MakeRelativeToProgramFolder(TP_STORAGE_PATH);
const std::string kFolder = MakeRelativeToProgramFolder(TP_FOLDER_PATH);


class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FillHostInfo();
        logSubscription = SubscribeLog([this](const std::string& line) { logged.push_back(line); });
        // A folder of its own: ctest runs test cases side by side.
        storageFile = folder.Path() / "storage.db";
        std::ofstream(storageFile) << "x";
    }
    void TearDown() override
    {
        storages.Clear();
        plugins.Clear();
        UnsubscribeLog(logSubscription);
    }
    ConfigItem& Config() { return *tree.Root(); }

    TempFolder folder;
    ScriptedBoxes boxes;
    TreeConfig tree;
    PluginsArray plugins;
    StorageArray storages{plugins};
    std::vector<std::string> logged;
    int logSubscription = 0;
    std::filesystem::path storageFile;
};

TEST_F(RegistryTest, AnEmptyItemIsSkippedAndTheListIsWrittenBackDense)
{
    Config().WriteInt("Plugins/Count", 3);
    Config().WriteString("Plugins/Item0", kStorage);
    Config().WriteString("Plugins/Item1", "");
    Config().WriteString("Plugins/Item2", kFolder);
    plugins.LoadPluginList(Config());
    ASSERT_EQ(plugins.Count(), 2);
    EXPECT_TRUE(boxes.shown.empty());

    TreeConfig saved;
    plugins.SavePluginList(*saved.Root());
    EXPECT_EQ(saved.Root()->ReadInt("Plugins/Count", 0), 2);
    EXPECT_EQ(saved.Root()->ReadString("Plugins/Item0", ""), kStorage);
    EXPECT_EQ(saved.Root()->ReadString("Plugins/Item1", ""), kFolder);
}

TEST_F(RegistryTest, AFailingEntryShowsItsBoxAndTheOthersStillLoad)
{
    Config().WriteInt("Plugins/Count", 3);
    Config().WriteString("Plugins/Item0", "../plugins/missing.so");
    Config().WriteString("Plugins/Item1", MakeRelativeToProgramFolder(TP_BADMAGIC_PATH));
    Config().WriteString("Plugins/Item2", kStorage);
    plugins.LoadPluginList(Config());
    EXPECT_EQ(plugins.Count(), 1);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text.rfind("Error loading plugin libray [../plugins/missing.so]\nError: ", 0), 0u)
        << boxes.shown[0].text;
    EXPECT_EQ(boxes.shown[1].text, "Error loading plugin libray [" +
                                       MakeRelativeToProgramFolder(TP_BADMAGIC_PATH) +
                                       "]\nError: Bad ID magic value");
    EXPECT_EQ(logged.size(), 2u) << "error boxes are logged too";
}

TEST_F(RegistryTest, TheSameLibraryByAbsoluteAndRelativePathIsRefused)
{
    ASSERT_NE(plugins.AddPlugin(TP_STORAGE_PATH), nullptr);
    EXPECT_EQ(plugins.AddPlugin(kStorage.c_str()), nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Plugin library \"" + kStorage +
                                       "\" already used.\nSingle library cannot be used multiple times.");

    // Letter case counts: the registry lets it through to the loader.
    std::string otherCase = kStorage;
    otherCase.replace(otherCase.find("tp_storage"), 10, "TP_STORAGE");
    EXPECT_EQ(plugins.AddPlugin(otherCase.c_str()), nullptr);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_NE(boxes.shown[1].text.find("Error loading plugin libray"), std::string::npos);
    EXPECT_EQ(plugins.Count(), 1);
}

TEST_F(RegistryTest, FindPluginStopsAtTheFirstMatchOfAnotherType)
{
    BasePlugin* plugin = plugins.AddPlugin(TP_STORAGE_PATH);
    EXPECT_EQ(plugins.FindPlugin(TP_STORAGE_PATH, kAnyPluginType), plugin);
    EXPECT_EQ(plugins.FindPlugin(kStorage.c_str(), PluginTypeStorage), plugin);
    EXPECT_EQ(plugins.FindPlugin(kStorage.c_str(), 65538), nullptr);
    EXPECT_EQ(plugins.FindPlugin("other.so", kAnyPluginType), nullptr);
}

struct ListenerSpy {
    std::vector<int> calls;
    void Changed(int value) { calls.push_back(value); }
};

TEST_F(RegistryTest, ListenersHearEveryAddUntilRemoved)
{
    ListenerSpy spy;
    auto listener = PluginsArray::Listener::Bind<&ListenerSpy::Changed>(&spy);
    plugins.AddListener(listener);
    plugins.AddPlugin(TP_STORAGE_PATH);
    plugins.AddPlugin(TP_STORAGE_PATH); // refused: no change, no call
    plugins.RemoveListener(listener);
    plugins.AddPlugin(TP_FOLDER_PATH);
    EXPECT_EQ(spy.calls, std::vector<int>{-1});
}

void WriteItem(ConfigItem& config, int index, const std::string& library, const std::string& path,
               bool enabled)
{
    ConfigItem* item = config.Item("Storages/Item" + std::to_string(index));
    item->WriteString("LibName", library);
    item->WriteString("UsedPathName", path);
    item->WriteBool("Enabled", enabled);
}

TEST_F(RegistryTest, StorageItemsOpenOnlyWhenTheyCan)
{
    KeepTestPluginLoaded(TP_STORAGE_PATH);
    plugins.AddPlugin(TP_STORAGE_PATH);
    plugins.AddPlugin(TP_FOLDER_PATH);
    Config().WriteInt("Storages/Count", 5);
    WriteItem(Config(), 0, kStorage, storageFile.string(), true);        // opens
    WriteItem(Config(), 1, "../plugins/unknown.so", storageFile.string(), true); // not registered
    WriteItem(Config(), 2, kStorage, "/nonexistent/cache.db", true);     // missing file
    WriteItem(Config(), 3, kFolder, "/nonexistent/folder", true);        // folders are not checked
    WriteItem(Config(), 4, kStorage, storageFile.string(), false);       // not enabled
    storages.LoadStorages(Config());

    ASSERT_EQ(storages.Count(), 5);
    const bool expected[] = {true, false, false, true, false};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(storages.Item(i)->Enabled(), expected[i]) << "item " << i;
    ASSERT_NE(storages.Item(0)->Action(), nullptr);
    // Stored paths are relative to the program folder; the plugin gets them joined to it.
    EXPECT_EQ(storages.Item(0)->storagePath, MakeRelativeToProgramFolder(storageFile.string()));
    EXPECT_EQ(storages.Item(0)->Action()->StoragePath(), JoinToProgramFolder(storages.Item(0)->storagePath));
    EXPECT_EQ(logged, std::vector<std::string>{"Specified storage file \"" +
                                               MakeRelativeToProgramFolder("/nonexistent/cache.db") +
                                               "\" cannot be found"});
    EXPECT_TRUE(boxes.shown.empty()) << "storage failures are not shown";

    TreeConfig saved;
    storages.SaveStorages(*saved.Root());
    EXPECT_EQ(saved.Root()->ReadInt("Storages/Count", 0), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(saved.Root()->ReadBool("Storages/Item" + std::to_string(i) + "/Enabled", !expected[i]),
                  expected[i]);
    EXPECT_EQ(saved.Root()->ReadString("Storages/Item1/LibName", ""), "../plugins/unknown.so");
}

TEST_F(RegistryTest, AnUndefinedItemSaysWhy)
{
    StorageItem* item = storages.Add();
    item->Open();
    EXPECT_FALSE(item->Enabled());
    EXPECT_EQ(ErrorText(kCurrentError), "Library name of work file is not set");
    item->libraryName = "../plugins/unknown.so";
    item->storagePath = "x";
    item->Open();
    EXPECT_EQ(ErrorText(kCurrentError), "Storage plugin with given name is not found");
}

TEST_F(RegistryTest, FreeingAPluginClosesTheItemsThatUseItFirst)
{
    TestPluginControl* state = KeepTestPluginLoaded(TP_STORAGE_PATH);
    BasePlugin* plugin = plugins.AddPlugin(TP_STORAGE_PATH);
    for (int i = 0; i < 3; ++i) {
        StorageItem* item = storages.Add();
        item->libraryName = kStorage;
        item->storagePath = storageFile.string();
        item->Open();
        ASSERT_TRUE(item->Enabled());
    }
    state->events[0] = '\0';
    plugins.RemovePlugin(plugin);
    EXPECT_STREQ(state->events, "close:3 free:3 close:2 free:2 close:1 free:1 shutdown");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(storages.Item(i)->Enabled());
        EXPECT_EQ(storages.Item(i)->Action(), nullptr);
    }
    TreeConfig saved;
    storages.SaveStorages(*saved.Root());
    EXPECT_FALSE(saved.Root()->ReadBool("Storages/Item2/Enabled", true));
}

TEST_F(RegistryTest, ShutdownClosesStorageItemsBeforeAnyLibraryIsFreed)
{
    TestPluginControl* storageState = KeepTestPluginLoaded(TP_STORAGE_PATH);
    TestPluginControl* folderState = KeepTestPluginLoaded(TP_FOLDER_PATH);
    plugins.AddPlugin(TP_STORAGE_PATH);
    plugins.AddPlugin(TP_FOLDER_PATH);
    for (const std::string& library : {kStorage, kFolder}) {
        StorageItem* item = storages.Add();
        item->libraryName = library;
        item->storagePath = storageFile.string();
        item->Open();
        ASSERT_TRUE(item->Enabled());
    }
    storageState->events[0] = folderState->events[0] = '\0';
    storages.Clear();
    EXPECT_STREQ(storageState->events, "close:1 free:1");
    EXPECT_STREQ(folderState->events, "close:1 free:1");
    plugins.Clear();
    EXPECT_STREQ(storageState->events, "close:1 free:1 shutdown");
    EXPECT_STREQ(folderState->events, "close:1 free:1 shutdown");
}

} // namespace

// A plugins folder holds what a user put there: entries that cannot be looked
// at, libraries that are no plugin, paths too long to carry. Each is passed
// over or refused, and the others are still registered.
TEST_F(RegistryTest, RegisterFolderPassesOverWhatItCannotUse)
{
    namespace fs = std::filesystem;
    const fs::path plugin = fs::absolute(TP_STORAGE_PATH);
    const fs::path library = folder.Path() / "plugins";
    fs::create_directory(library);
    fs::create_symlink(plugin, library / "m_storage.so");
    for (const char* name : {"a.so", "b.so", "y.so", "z.so"})
        fs::create_symlink(name, library / name); // each a link to itself
    WriteWholeFile((library / "notes.so").string(), "not a library");

    std::vector<PluginsArray::Refused> refused;
    EXPECT_EQ(plugins.RegisterFolder(library.string(), &refused), 1);
    ASSERT_EQ(plugins.Count(), 1);
    EXPECT_EQ(fs::path(plugins.Plugin(0)->LibraryPath()).filename(), "m_storage.so");
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(fs::path(refused[0].path).filename(), "notes.so");
    EXPECT_NE(refused[0].reason, "");

    // Folders that cannot be read register nothing.
    fs::create_directory_symlink("loop", folder.Path() / "loop");
    EXPECT_EQ(plugins.RegisterFolder((folder.Path() / "loop").string()), 0);
    EXPECT_EQ(plugins.RegisterFolder((folder.Path() / std::string(300, 'p')).string()), 0);
    EXPECT_EQ(plugins.Count(), 1);
}

// A library path longer than 260 characters is refused; cut, it would name
// another library: here a decoy plugin.
TEST_F(RegistryTest, ALibraryPathTooLongIsRefusedNotCut)
{
    namespace fs = std::filesystem;
    const fs::path library = folder.Path() / "plugins";
    fs::create_directory(library);
    const std::string longPath = library.string() + "/" + std::string(255 - 3, 'l') + ".so";
    WriteWholeFile(longPath, "not a library");
    // The registry keeps paths relative to the program folder: the decoy is
    // where that form, cut, would lead.
    const std::string stored = MakeRelativeToProgramFolder(longPath);
    ASSERT_GT(stored.size(), 260u);
    const fs::path decoy = JoinToProgramFolder(stored.substr(0, 260));
    ASSERT_TRUE(fs::equivalent(decoy.parent_path(), library));
    fs::create_symlink(fs::absolute(TP_STORAGE_PATH), decoy);

    std::vector<PluginsArray::Refused> refused;
    EXPECT_EQ(plugins.RegisterFolder(library.string(), &refused), 0);
    EXPECT_EQ(plugins.Count(), 0);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].path, longPath);
    EXPECT_EQ(LoadPlugin(longPath.c_str(), &HostInfo(), PluginTypeStorage), nullptr);
}
