// The engine without a window: a session's start-up, a storage load and its
// shutdown, in a program that links no Qt at all.
#include "app/Session.h"

#include "LogFileLines.h"
#include "ScriptedBoxes.h"
#include "ScriptedOperation.h"
#include "ShippedPlugins.h"
#include "StartConfig.h"
#include "TempFolder.h"
#include "TestPluginState.h"
#include "base/Paths.h"
#include "config/ConfigItem.h"
#include "config/ConfigKeys.h"
#include "config/TreeConfig.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

bool QtIsMapped()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("libQt") != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(SessionTest, StartsLoadsAndStopsWithoutQt)
{
    TempFolder folder;
    FillHostInfo();
    TestPluginControl* state = KeepTestPluginLoaded(TP_STORAGE_PATH);
    state->plateCount = 3;
    const std::vector<std::string> arguments =
        StartConfig(folder, MakeRelativeToProgramFolder(TP_STORAGE_PATH), "/data/cache");

    QuietView view;
    ScriptedOperation operation;
    {
        Session session(view, operation);
        session.Start(arguments);
        session.LoadRegistry();
        session.Choice().Choose(session.Link().ReadInt(cfgkey::kLastUsedPlugin, cfgkey::kNoPlugin));
        session.Started();

        const LoadResult result = session.LoadStorage(session.Link().ReadString(cfgkey::kLastUsedData, ""));
        EXPECT_EQ(result.outcome, LoadResult::Outcome::Loaded);
        EXPECT_EQ(result.plates, 3);
        EXPECT_EQ(session.Plates().Count(), 3);
        EXPECT_TRUE(view.errors.empty());
        session.Stop();
        EXPECT_FALSE(session.Running());
    }
    EXPECT_FALSE(QtIsMapped());

    const LogFileContent log = ReadLogFile(folder.File("u.log"));
    ASSERT_TRUE(log.exists);
    EXPECT_TRUE(log.hasHeader);
    std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[0], std::string(42, '-'));
    EXPECT_EQ(texts[3], std::string(42, '-'));
    texts.erase(texts.begin(), texts.begin() + 4);
    EXPECT_EQ(texts, (std::vector<std::string>{"Starting...", "Load cfg...", "OK", "Load storage contents...",
                                               "Loaded 3 items", "Free allocated storage connection...", "OK",
                                               "Free allocated items...", "OK", "Save cfg...", "Shutdown plugins...",
                                               "Shutdown programm...", "Shutting down..."}));
}

TEST(SessionTest, AFailedLoadIsAResultAndALogLine)
{
    TempFolder folder;
    FillHostInfo();
    QuietView view;
    ScriptedOperation operation;
    Session session(view, operation);
    session.Start({"ulmora", "-CFG=" + folder.File("u.hcfg"), "-LOG=" + folder.File("u.log")});
    session.LoadRegistry();
    session.Started();
    const LoadResult result = session.LoadStorage("/data/cache");
    EXPECT_EQ(result.outcome, LoadResult::Outcome::NoPlugin) << "no plugin is chosen: nothing is tried";
    EXPECT_EQ(result.error, "Plugin is not loaded or selected");
    EXPECT_FALSE(result.StorageLoaded());
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0], result.error);
    session.Stop();
    const std::vector<std::string> texts = ReadLogFile(folder.File("u.log")).Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), result.error), texts.end());
}

// What a start makes of the configuration's plugin list: only a first start
// (no list at all) registers the shipped plugins, in name order, and chooses
// the first; a list the user keeps, even an empty one, is left alone.
TEST(SessionTest, AFirstStartRegistersTheShippedPlugins)
{
    FillHostInfo();
    struct Case {
        const char* what;
        bool writeFile;
        int count; // -1: no plugin list; else "Plugins/Count", with the test plugin as item 0 when 1
        std::vector<std::string> libraries;
        int chosen;
    };
    const std::string testPlugin(LastComponent(TP_STORAGE_PATH));
    const std::vector<std::string> shipped = PluginLibraryNames(SHIPPED_PLUGIN_DIR);
    ASSERT_GE(shipped.size(), 2u);
    ASSERT_EQ(shipped[0], "folder.so");
    const Case cases[] = {
        {"no configuration file", false, -1, shipped, 0},
        {"a configuration without a plugin list", true, -1, shipped, 0},
        {"an empty plugin list", true, 0, {}, -1},
        {"a plugin list of the user's", true, 1, {testPlugin}, -1},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const std::string config = folder.File("u.hcfg");
        if (c.writeFile) {
            TreeConfig tree;
            ConfigItem* ide = tree.Root()->Item("IDE");
            ide->WriteString("LastUsedData", "/data/cache");
            if (c.count >= 0)
                ide->WriteInt("Plugins/Count", c.count);
            if (c.count == 1)
                ide->WriteString("Plugins/Item0", TP_STORAGE_PATH);
            ASSERT_TRUE(tree.Save(config)) << c.what;
        }
        QuietView view;
        ScriptedOperation operation;
        Session session(view, operation);
        SessionFiles files;
        files.plugins = SHIPPED_PLUGIN_DIR;
        session.Start({"ulmora", "-CFG=" + config, "-LOG=" + folder.File("u.log")}, files);
        session.LoadRegistry();
        session.RestoreChoice();
        session.Started();
        std::vector<std::string> libraries;
        for (int i = 0; i < session.Plugins().Count(); ++i)
            libraries.emplace_back(LastComponent(session.Plugins().Plugin(i)->LibraryPath()));
        EXPECT_EQ(libraries, c.libraries) << c.what;
        EXPECT_EQ(session.Choice().Chosen(), c.chosen) << c.what;
        session.Stop();

        // What the first start registered is the user's list from then on.
        TreeConfig saved;
        ASSERT_TRUE(saved.Load(config)) << c.what;
        EXPECT_EQ(saved.Root()->ReadInt("IDE/Plugins/Count", -1), static_cast<int>(c.libraries.size())) << c.what;
    }
}
