// The engine without a window: a session's start-up, a storage load and its
// shutdown, in a program that links no Qt at all.
#include "app/Session.h"

#include "LogFileLines.h"
#include "ScriptedBoxes.h"
#include "ScriptedOperation.h"
#include "StartConfig.h"
#include "TempFolder.h"
#include "TestPluginState.h"
#include "base/Paths.h"
#include "config/ConfigKeys.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

class QuietView : public BrowserView {
public:
    std::vector<std::string> errors;
    void ShowLoadButton(LoadButton) override {}
    void ShowPlateCount(int) override {}
    void PumpMessages() override {}
    void ListClick() override {}
    BoxOwner Owner() override { return nullptr; }
    void ShowError(const std::string& text) override { errors.push_back(text); }
};

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
    EXPECT_EQ(result.outcome, LoadResult::Outcome::PluginFailed);
    EXPECT_FALSE(result.StorageLoaded());
    ASSERT_EQ(view.errors.size(), 1u);
    EXPECT_EQ(view.errors[0], result.error);
    session.Stop();
    const std::vector<std::string> texts = ReadLogFile(folder.File("u.log")).Texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), result.error), texts.end());
}
