// The log window: lines on screen, lines in the file, and lines that come
// from other threads.
#include "log/LogComboBox.h"

#include "platform/LastError.h"
#include "platform/Thread.h"
#include "LogFileLines.h"
#include "TempFolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>

namespace {

enum class From { OwnThread, OtherThread };

// Adds a message as a caller on the given thread would, then lets the
// control's thread handle what was posted to it.
void Add(LogComboBox& box, From from, const std::string& text)
{
    if (from == From::OwnThread) {
        box.AddLog("%s", text.c_str());
    } else {
        std::thread other([&] { box.AddLog("%s", text.c_str()); });
        other.join();
    }
    QCoreApplication::sendPostedEvents();
}

std::vector<std::string> Items(const LogComboBox& box)
{
    std::vector<std::string> items;
    for (int i = 0; i < box.count(); ++i)
        items.push_back(box.itemText(i).toStdString());
    return items;
}

class LogComboBoxTest : public ::testing::TestWithParam<From> {
protected:
    LogComboBoxTest()
    {
        box.SetOptions(acbLog | acbIndexOnLast | acbFileLog);
        box.SetLogFile(path);
        box.EnsureWindow();
    }

    TempFolder folder;
    const std::string path = folder.File("Ulmora.log");
    LogComboBox box;
};

TEST_P(LogComboBoxTest, LinesAreSplitOnScreenAndInTheFile)
{
    struct Case {
        const char* what;
        std::string message;
        std::vector<std::string> items;
        std::vector<std::string> fileLines;
    };
    const std::string longRun(600, 'x');
    const Case cases[] = {
        {"two lines", "a\nb\n", {"a", "b"}, {"a", "b"}},
        {"an empty line between", "a\n\nb", {"a", "", "b"}, {"a", "", "b"}},
        {"600 characters", longRun, {longRun}, {longRun.substr(0, 511), longRun.substr(511)}},
    };
    for (const Case& c : cases) {
        box.clear();
        std::remove(path.c_str());
        platform::SetLastError(77);
        Add(box, GetParam(), c.message);
        EXPECT_EQ(Items(box), c.items) << c.what;
        EXPECT_EQ(box.currentIndex(), box.count() - 1) << c.what;
        LogFileContent file = ReadLogFile(path);
        EXPECT_EQ(file.Texts(), c.fileLines) << c.what;
        for (const auto& line : file.lines)
            EXPECT_EQ(line.thread, platform::CurrentThreadId()) << "written by the control's thread";
        EXPECT_EQ(platform::GetLastError(), 77);
    }
    platform::SetLastError(0);
}

TEST_P(LogComboBoxTest, TheListIsTrimmedFiftyLinesBelowItsLimit)
{
    struct Case {
        int limit;
        int linesBefore;
        int linesAfter;
    };
    const Case cases[] = {{500, 500, 501}, {500, 501, 451}, {30, 31, 1}, {50, 51, 1}, {0, 700, 701}};
    box.SetOptions(acbLog | acbIndexOnLast);
    for (const Case& c : cases) {
        box.clear();
        box.SetLogLimit(c.limit);
        for (int i = 0; i < c.linesBefore; ++i)
            box.AddLog("line %d", i);
        Add(box, GetParam(), "newest");
        EXPECT_EQ(box.count(), c.linesAfter) << c.limit << " after " << c.linesBefore;
        EXPECT_EQ(box.currentText().toStdString(), "newest");
    }
}

TEST_P(LogComboBoxTest, WithoutLoggingNothingIsShownOrWritten)
{
    box.SetOptions(acbIndexOnLast | acbFileLog);
    Add(box, GetParam(), "silent");
    EXPECT_EQ(box.count(), 0);
    EXPECT_FALSE(ReadLogFile(path).exists);
}

TEST_P(LogComboBoxTest, ADashAsFileNameShowsTheLineAndWritesNothing)
{
    box.SetLogFile("-");
    Add(box, GetParam(), "screen only");
    EXPECT_EQ(Items(box), std::vector<std::string>{"screen only"});
    EXPECT_FALSE(std::filesystem::exists("-"));
    EXPECT_TRUE(folder.Names().empty());
}

std::string CallerName(const ::testing::TestParamInfo<From>& caller)
{
    return caller.param == From::OwnThread ? "OwnThread" : "OtherThread";
}
INSTANTIATE_TEST_SUITE_P(Callers, LogComboBoxTest, ::testing::Values(From::OwnThread, From::OtherThread),
                         CallerName);

TEST(LogComboBoxWindowTest, BeforeTheWindowOwnLinesReachOnlyTheFileAndOthersAreDropped)
{
    TempFolder folder;
    const std::string path = folder.File("Ulmora.log");
    LogComboBox box;
    box.SetOptions(acbLog | acbIndexOnLast | acbFileLog);
    box.SetLogFile(path);
    ASSERT_FALSE(box.HasWindow());

    Add(box, From::OwnThread, "own");
    Add(box, From::OtherThread, "other");
    box.EnsureWindow();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(ReadLogFile(path).Texts(), std::vector<std::string>{"own"});

    Add(box, From::OtherThread, "after");
    EXPECT_EQ(Items(box), std::vector<std::string>{"after"});
}

TEST(LogComboBoxWindowTest, EditableStylesAreRefusedWhileLogging)
{
    LogComboBox box;
    box.SetOptions(acbIndexOnLast);
    box.SetStyle(ComboStyle::DropDown);
    EXPECT_EQ(box.Style(), ComboStyle::DropDown);
    EXPECT_TRUE(box.isEditable());

    box.SetOptions(acbLog | acbIndexOnLast);
    EXPECT_EQ(box.Style(), ComboStyle::DropDownList);
    EXPECT_FALSE(box.isEditable());

    box.SetStyle(ComboStyle::Simple);
    EXPECT_EQ(box.Style(), ComboStyle::DropDownList);
    EXPECT_FALSE(box.isEditable());
}

} // namespace
