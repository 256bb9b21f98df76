// The diagnostic writer: line format, splitting, files and threads.
#include "log/DiagnosticLog.h"

#include "base/Paths.h"
#include "log/Errors.h"
#include "platform/LastError.h"
#include "platform/Thread.h"
#include "LogFileLines.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

class DiagnosticLogTest : public ::testing::Test {
protected:
    TempFolder folder;
    const std::string path = folder.File("Ulmora.log");
};

TEST_F(DiagnosticLogTest, MessagesAreSplitIntoLinesAndCut)
{
    struct Case {
        const char* what;
        std::string message;
        std::vector<std::string> lines;
    };
    const std::string longRun(600, 'x');
    const std::string tooLong(1500, 'y');
    std::string accents;
    for (int i = 0; i < 300; ++i)
        accents += "\xC3\xA9";
    const Case cases[] = {
        {"two lines", "a\nb\n", {"a", "b"}},
        {"CR LF gives an empty line", "a\r\nb", {"a", "", "b"}},
        {"a lone CR ends a line", "a\rb", {"a", "b"}},
        {"a lone LF", "\n", {""}},
        {"empty message", "", {}},
        {"600 characters", longRun, {longRun.substr(0, 511), longRun.substr(511)}},
        {"511 characters and LF", std::string(511, 'z') + "\n", {std::string(511, 'z'), ""}},
        {"cut at 999", tooLong, {tooLong.substr(0, 511), tooLong.substr(0, 488)}},
        {"no character split", accents, {accents.substr(0, 510), accents.substr(510)}},
    };
    for (const Case& c : cases) {
        std::remove(path.c_str());
        WriteLogFile(path, "%s", c.message.c_str());
        LogFileContent file = ReadLogFile(path);
        EXPECT_EQ(file.Texts(), c.lines) << c.what;
        for (const auto& line : file.lines)
            EXPECT_TRUE(line.wellFormed) << c.what;
    }
}

TEST_F(DiagnosticLogTest, ThePrefixNamesModuleThreadAndTheErrorThatStaysSet)
{
    platform::SetLastError(1234);
    platform::SetErrno(5);
    EXPECT_EQ(WriteLogFile(path, "value %d", 42), 8);
    EXPECT_EQ(platform::GetLastError(), 1234);
    EXPECT_EQ(platform::Errno(), 5);

    LogFileContent file = ReadLogFile(path);
    ASSERT_EQ(file.lines.size(), 1u);
    const LogFileLine& line = file.lines[0];
    EXPECT_TRUE(line.wellFormed);
    EXPECT_EQ(line.text, "value 42");
    EXPECT_EQ(line.error, 1234);
    EXPECT_EQ(line.thread, platform::CurrentThreadId());
    char module[32];
    std::snprintf(module, sizeof module, "%6d", platform::ProcessId());
    EXPECT_EQ(line.module, module);
    platform::SetLastError(0);
}

TEST_F(DiagnosticLogTest, NoFileForDashOrEmptyNamesOrAFolderThatIsMissing)
{
    const std::string missing = folder.File("missing/Ulmora.log");
    for (const std::string& name : {std::string("-"), std::string(), missing}) {
        platform::SetLastError(7);
        EXPECT_EQ(WriteLogFile(name, "%s", "text"), 4) << name;
        EXPECT_EQ(platform::GetLastError(), 7) << name;
    }
    EXPECT_FALSE(std::filesystem::exists("-"));
    EXPECT_TRUE(folder.Names().empty());
    platform::SetLastError(0);
}

TEST_F(DiagnosticLogTest, LinesOfManyThreadsNeverMix)
{
    constexpr int kThreads = 4;
    constexpr int kMessages = 100;
    std::vector<unsigned long> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ids[t] = platform::CurrentThreadId();
            // Two lines per message, the first one split at 511 characters.
            std::string text = std::string(700, static_cast<char>('a' + t)) + "\n" + std::string(3, 'A' + t);
            for (int i = 0; i < kMessages; ++i)
                WriteLogFile(path, "%s", text.c_str());
        });
    }
    for (auto& thread : threads)
        thread.join();

    LogFileContent file = ReadLogFile(path);
    ASSERT_EQ(file.lines.size(), static_cast<std::size_t>(kThreads * kMessages * 3));
    for (std::size_t i = 0; i < file.lines.size(); i += 3) {
        const int t = file.lines[i].text[0] - 'a';
        ASSERT_TRUE(t >= 0 && t < kThreads) << i;
        const char letter = static_cast<char>('a' + t);
        EXPECT_EQ(file.lines[i].text, std::string(511, letter));
        EXPECT_EQ(file.lines[i + 1].text, std::string(189, letter));
        EXPECT_EQ(file.lines[i + 2].text, std::string(3, 'A' + t));
        for (std::size_t k = i; k < i + 3; ++k) {
            EXPECT_TRUE(file.lines[k].wellFormed);
            EXPECT_EQ(file.lines[k].thread, ids[t]);
        }
    }
}

TEST_F(DiagnosticLogTest, EachRunStartsTheFileAfreshAndLaterWritesAppend)
{
    WriteWholeFile(path, "a line of an earlier run\n");
    const std::string helper = std::string(LOG_RUN_HELPER) + " '" + path + "' ";
    ASSERT_EQ(std::system((helper + "one two").c_str()), 0);
    LogFileContent first = ReadLogFile(path);
    EXPECT_TRUE(first.hasHeader);
    EXPECT_EQ(first.Texts(), (std::vector<std::string>{"one", "two"}));

    ASSERT_EQ(std::system((helper + "three").c_str()), 0);
    LogFileContent second = ReadLogFile(path);
    EXPECT_TRUE(second.hasHeader);
    EXPECT_EQ(second.Texts(), std::vector<std::string>{"three"});
}

std::string testLogName;
std::string TestProvider() { return testLogName; }

TEST_F(DiagnosticLogTest, DiagnosticLogWritesWhereTheProviderSays)
{
    testLogName = path;
    LogFileProvider previous = SetLogFileProvider(&TestProvider);
    EXPECT_EQ(previous(), "PLog.log");
    DiagnosticLog("from %s", "the provider");
    const char* empty = "";
    DiagnosticLog(empty);
    DiagnosticLog(nullptr);
    EXPECT_EQ(SetLogFileProvider(previous), &TestProvider);
    EXPECT_EQ(ReadLogFile(path).Texts(), std::vector<std::string>{"from the provider"});
    EXPECT_EQ(CurrentLogFilePath(), ProgramFolder() + "PLog.log");
}

TEST_F(DiagnosticLogTest, LogFileNamesAreResolvedAgainstTheProgramFolder)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"-", "-"},
        {"/var/log/u.log", "/var/log/u.log"},
        {"u.log", ProgramFolder() + "u.log"},
        {"/" + std::string(300, 'l'), "/" + std::string(300, 'l')}, // whole, never cut
        {"/" + std::string(4095, 'l'), ""},                        // more than the system opens
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(ResolveLogFileName(name), expected) << name;
}

std::vector<std::pair<std::string, std::string>> captured;
void CapturingWriter(platform::WritableFile&, std::string_view prefix, std::string_view text)
{
    captured.emplace_back(prefix, text);
}

TEST_F(DiagnosticLogTest, TheLineWriterCanBeReplaced)
{
    captured.clear();
    LogLineWriter previous = SetLogLineWriter(&CapturingWriter);
    WriteLogFile(path, "a\nb");
    EXPECT_EQ(SetLogLineWriter(previous), &CapturingWriter);
    ASSERT_EQ(captured.size(), 2u);
    EXPECT_EQ(captured[1].second, "b");
    EXPECT_EQ(captured[0].first.size(), LogLinePrefix(0).size());
    EXPECT_TRUE(ReadLogFile(path).lines.empty());
}

// A message that does not reach its file is counted, so that a caller can say
// the log is incomplete; no file asked for is no loss.
TEST_F(DiagnosticLogTest, MessagesThatCannotBeWrittenAreCounted)
{
    struct Case {
        const char* what;
        std::string path;
        int error; // 0: nothing lost
    };
    const Case cases[] = {
        {"a full device", "/dev/full", ENOSPC},
        {"a missing folder", folder.File("missing/Ulmora.log"), ENOENT},
        {"a folder", folder.Path().string(), EISDIR},
        {"a file", path, 0},
        {"no file", "-", 0},
        {"no name", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const LogWriteFailures before = LogFileWriteFailures();
        WriteLogFile(c.path, "%s", "text");
        const LogWriteFailures after = LogFileWriteFailures();
        EXPECT_EQ(after.messages - before.messages, c.error != 0 ? 1u : 0u);
        if (c.error != 0) {
            EXPECT_EQ(after.error, c.error);
        }
    }
    EXPECT_EQ(ReadLogFile(path).lines.size(), 1u);
}

} // namespace
