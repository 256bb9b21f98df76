// The crash reporter through real faults: each case runs crash_victim as a
// child process with the crash helper, lets the helper's report window press
// its buttons (ULMORA_CRASH_TEST_WINDOW) and reads the log file it leaves.
#include "LogFileLines.h"
#include "TempFolder.h"
#include "crash/ExceptionCodes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

struct VictimRun {
    bool exited = false;
    int exitCode = -1;
    int signal = 0;
    LogFileContent log;
    std::vector<std::string> texts;
    std::string helperOutput; // what the helper printed about its window and boxes

    // Index of the first text starting with `prefix` at or after `from`; -1 when none.
    int Find(const std::string& prefix, int from = 0) const
    {
        for (int i = from; i < static_cast<int>(texts.size()); ++i)
            if (texts[static_cast<std::size_t>(i)].rfind(prefix, 0) == 0)
                return i;
        return -1;
    }
    // Whether a line starts with each prefix and the first such line of each
    // comes after that of the one before: a missing line fails, where
    // comparing two Find results would take its -1 for "before everything".
    ::testing::AssertionResult InOrder(const std::vector<std::string>& prefixes) const
    {
        int previous = -1;
        const std::string* previousPrefix = nullptr;
        for (const std::string& prefix : prefixes) {
            const int at = Find(prefix);
            if (at < 0)
                return ::testing::AssertionFailure() << "no line \"" << prefix << "\"";
            if (previousPrefix != nullptr && at <= previous)
                return ::testing::AssertionFailure() << "\"" << prefix << "\" (line " << at << ") is not after \""
                                                     << *previousPrefix << "\" (line " << previous << ")";
            previous = at;
            previousPrefix = &prefix;
        }
        return ::testing::AssertionSuccess();
    }
    int Count(const std::string& prefix) const
    {
        return static_cast<int>(std::count_if(texts.begin(), texts.end(),
                                              [&](const std::string& t) { return t.rfind(prefix, 0) == 0; }));
    }
    bool Shows(const std::string& text) const { return helperOutput.find(text) != std::string::npos; }
    // The frame lines of the report (before "Stack details:").
    std::vector<std::string> Frames() const
    {
        std::vector<std::string> frames;
        int details = Find("Stack details:");
        for (int i = 0; i < (details < 0 ? static_cast<int>(texts.size()) : details); ++i)
            if (texts[static_cast<std::size_t>(i)].rfind("Addr[", 0) == 0)
                frames.push_back(texts[static_cast<std::size_t>(i)]);
        return frames;
    }
};

// The order check itself, on a log of three lines: a line that is missing
// fails the check wherever it stands.
TEST(CrashLog, OrderNeedsEveryLine)
{
    VictimRun run;
    run.texts = {"first", "second", "third"};
    const struct {
        std::vector<std::string> lines;
        bool holds;
    } cases[] = {
        {{"first", "third"}, true},
        {{"first", "second", "third"}, true},
        {{"third", "first"}, false},
        {{"missing", "first"}, false},
        {{"first", "missing"}, false},
        {{"second", "missing", "third"}, false},
    };
    for (const auto& c : cases) {
        const ::testing::AssertionResult result = run.InOrder(c.lines);
        EXPECT_EQ(static_cast<bool>(result), c.holds) << c.lines.front() << ", " << c.lines.back() << ": "
                                                      << result.message();
    }
}

struct Options {
    Options(std::string windowSteps, std::vector<std::string> environment = {}, std::string helperPath = CRASH_HELPER)
        : steps(std::move(windowSteps)), extraEnv(std::move(environment)), helper(std::move(helperPath))
    {
    }
    std::string steps;                 // the window's test steps
    std::vector<std::string> extraEnv; // NAME=value
    std::string helper;
};

// Runs `args` (the program first) in `folder`; its log is folder/u.log.
VictimRun RunProgram(const TempFolder& folder, std::vector<std::string> args, const Options& options)
{
    const std::string log = folder.File("u.log");
    const std::string errors = folder.File("stderr.txt");
    const std::string runtime = folder.File("xdg");
    mkdir(runtime.c_str(), 0700);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("ULMORA_CRASH_TEST_WINDOW=", 0) != 0 && entry.rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("QT_QPA_PLATFORM=offscreen");
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
    env.push_back("ULMORA_CRASH_TEST_WINDOW=" + options.steps);
    env.insert(env.end(), options.extraEnv.begin(), options.extraEnv.end());
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int out = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    VictimRun run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << args[0] << " did not end";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.exited = WIFEXITED(status);
    run.exitCode = run.exited ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    // The helper ends when it sees the victim gone; give it a moment to
    // finish its output.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    run.log = ReadLogFile(log);
    run.texts = run.log.Texts();
    run.helperOutput = ReadWholeFile(errors);
    for (const LogFileLine& line : run.log.lines)
        EXPECT_TRUE(line.wellFormed) << line.text;
    return run;
}

VictimRun RunVictim(const TempFolder& folder, const std::string& mode, const Options& options)
{
    return RunProgram(folder, {CRASH_VICTIM, options.helper, folder.File("u.log"), mode, CRASH_PLUGIN}, options);
}

// The trace of one handled fault, in order, up to the window.
void ExpectTrace(const VictimRun& run, const std::string& exceptionName)
{
    int at = run.Find("Exception! Type: " + exceptionName + ". Calling handler...");
    ASSERT_GE(at, 0) << exceptionName;
    const std::string code = exceptionName.substr(0, 8);
    for (const std::string& next :
         {"VCL.ExceptionFilter[1] " + code + " at ", std::string("UnwindCallStack("), std::string("Unwind: "),
          std::string("END.UnwindCallStack: "), std::string("VCL.Demangling "), std::string("VCL.Write to log file"),
          "Exception " + exceptionName + " at ", std::string("  RBP: "), std::string("Addr[ 1]: "),
          std::string("Stack details:"), std::string("VCL.ExceptionFilter Show exception dialog")}) {
        int found = run.Find(next, at + 1);
        ASSERT_GT(found, at) << "no \"" << next << "\" after line " << at;
        at = found;
    }
}

struct FaultCase {
    const char* mode;
    const char* name;       // the exception name as logged
    const char* attempt;    // the access line's start, "" for none
    const char* operation;  // the window's operation field
    const char* module;     // the first frame's module
    const char* function;   // in the first frame's symbol
};

void PrintTo(const FaultCase& fault, std::ostream* out) { *out << fault.mode; }

std::string FaultCaseName(const ::testing::TestParamInfo<FaultCase>& param)
{
    std::string name = param.param.mode;
    name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
    return name;
}

class CrashFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CrashFaults, AreLoggedShownAndIgnored)
{
    const FaultCase& fault = GetParam();
    TempFolder folder;
    VictimRun run = RunVictim(folder, fault.mode, {"ignore"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    ExpectTrace(run, fault.name);
    if (*fault.attempt != '\0')
        EXPECT_EQ(run.Count(fault.attempt), 1) << fault.attempt;
    else
        EXPECT_EQ(run.Count("Attempt to "), 0);
    std::vector<std::string> frames = run.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_NE(frames[0].find(std::string("\"") + fault.module + "\""), std::string::npos) << frames[0];
    EXPECT_NE(frames[0].find(fault.function), std::string::npos) << frames[0];
    // The walk reaches the program's main through the command.
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const std::string& f) { return f.find(": \"main\" + ") != std::string::npos; }));
    // Ignored: the command is abandoned and the program goes on.
    EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter FINALLY", "VCL.ExceptionFilter returns IGNORE", "Victim ended"}));
    // The window showed the same fault.
    EXPECT_TRUE(run.Shows("window: Ошибка программы..."));
    EXPECT_TRUE(run.Shows("program: crash_victim"));
    EXPECT_TRUE(run.Shows(std::string("type: ") + fault.name));
    EXPECT_TRUE(run.Shows(std::string("operation: ") + fault.operation + (*fault.operation ? "" : "\n")));
    EXPECT_TRUE(run.Shows("ignorable: 1"));
    EXPECT_TRUE(run.Shows(std::string("|") + fault.module + "|.text|")) << run.helperOutput;
    EXPECT_TRUE(run.Shows("stack words: 10"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CrashFaults,
    ::testing::Values(
        FaultCase{"null-read", "C0000005 \"ACCESS_VIOLATION\"", "Attempt to READ at address 0000000000000000",
                  "Чтение по адресу 0000000000000000", "crash_victim", "ReadNull()"},
        FaultCase{"read-only", "C0000005 \"ACCESS_VIOLATION\"", "Attempt to WRITE at address ", "Запись по адресу ",
                  "crash_victim", "WriteReadOnly()"},
        FaultCase{"divide", "C0000094 \"INTEGER_DIVIDE_BY_ZERO\"", "", "", "crash_victim", "Divide()"},
        // The plugin's function is found by the plugin's own symbol table:
        // it is not exported.
        FaultCase{"plugin", "C0000005 \"ACCESS_VIOLATION\"", "Attempt to READ at address 0000000000000000",
                  "Чтение по адресу 0000000000000000", "tp_crash.so", ": \"GetPlateData\" + "}),
    FaultCaseName);

TEST(Crash, ReadOnlyWriteNamesTheConstantsAddress)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "read-only", {"ignore"});
    int attempt = run.Find("Attempt to WRITE at address ");
    ASSERT_GE(attempt, 0);
    EXPECT_NE(run.texts[static_cast<std::size_t>(attempt)], "Attempt to WRITE at address 0000000000000000");
}

TEST(Crash, PluginFaultNamesTheCallerInTheProgram)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "plugin", {"ignore"});
    std::vector<std::string> frames = run.Frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_NE(frames[0].find("(crash_plugin.c:"), std::string::npos) << frames[0];
    EXPECT_NE(frames[1].find("\"StorageAction::GetPlateData("), std::string::npos) << frames[1];
}

// A call through a null function pointer: no module and no frame
// information at the faulting address, so the walk scans the stack, then
// follows the frame information again from the return address it found.
TEST(Crash, JumpToAddressZeroIsWalkedFromTheStackContents)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "call-null", {"ignore"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.Count("Attempt to EXECUTE at address 0000000000000000"), 1);
    EXPECT_EQ(run.Count("Unwind: Stack frames unreachable. Analyze stack contents..."), 1);
    std::vector<std::string> frames = run.Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0], "Addr[ 1]: 0000000000000000 Mod:0000000000000000 lMod:0000000000000000 \"\"");
    EXPECT_NE(frames[1].find("CallNull()"), std::string::npos) << frames[1];
    EXPECT_NE(frames[2].find("main::{lambda()"), std::string::npos) << frames[2];
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const std::string& f) { return f.find(": \"main\" + ") != std::string::npos; }));
    // Outside any module the stack words are listed one by one.
    int details = run.Find("Stack details:");
    ASSERT_GE(details, 0);
    EXPECT_EQ(run.texts.at(static_cast<std::size_t>(details) + 2), "  Stack:");
    EXPECT_EQ(run.texts.at(static_cast<std::size_t>(details) + 3).rfind("   0) ", 0), 0u);
    EXPECT_EQ(run.texts.at(static_cast<std::size_t>(details) + 12).rfind("   9) ", 0), 0u);
    EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter returns IGNORE", "Victim ended"}));
}

TEST(Crash, StackOverflowListsEachReturnAddressOnce)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "recursion", {"ignore"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    ExpectTrace(run, "C00000FD \"STACK_OVERFLOW\"");
    EXPECT_EQ(run.Count("Stack cycled at addres "), 1);
    EXPECT_EQ(run.Count("Attempt to "), 0);
    std::vector<std::string> frames = run.Frames();
    std::set<std::string> addresses;
    int recursing = 0;
    for (const std::string& frame : frames) {
        std::string address = frame.substr(10, frame.find(' ', 10) - 10);
        EXPECT_TRUE(addresses.insert(address).second) << "listed twice: " << frame;
        recursing += frame.find("Recurse(int)") != std::string::npos;
    }
    // The faulting instruction and the one return address inside Recurse.
    EXPECT_EQ(recursing, 2);
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const std::string& f) { return f.find(": \"main\" + ") != std::string::npos; }));
    EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter returns IGNORE", "Victim ended"}));
}

// Ignore by the button and by Escape: the next command runs.
TEST(Crash, IgnoredFaultAbandonsOnlyItsCommand)
{
    for (const char* step : {"ignore", "escape"}) {
        SCOPED_TRACE(step);
        TempFolder folder;
        VictimRun run = RunVictim(folder, "ignore", {step});
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0) << "the first command ran on, or the second did not run";
        EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter returns IGNORE", "Second command ran"}));
        EXPECT_EQ(run.Count("VCL.ExceptionFilter returns IGNORE"), 1);
    }
}

TEST(Crash, EndLogsAndEndsWithExitCodeZero)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "null-read", {"end"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.texts.size(), 2u);
    EXPECT_EQ(run.texts[run.texts.size() - 2], "Programm terminated in cause of exception");
    EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter ABORT");
    EXPECT_EQ(run.Find("Victim ended"), -1);
    EXPECT_EQ(run.Find("VCL.ExceptionFilter FINALLY"), -1);
}

TEST(Crash, SaveWritesTheReportIntoATrapFile)
{
    TempFolder folder;
    const std::string trap = folder.File("report.trap");
    VictimRun run = RunVictim(folder, "null-read", {"save=" + trap + ",ignore"});
    EXPECT_EQ(run.exitCode, 0);
    std::vector<std::string> lines;
    std::string text = ReadWholeFile(trap);
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
    }
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("Exception C0000005 \"ACCESS_VIOLATION\" at ", 0), 0u);
    EXPECT_EQ(lines[1], "Attempt to READ at address 0000000000000000");
    // The same report as in the log.
    int first = run.Find("Exception C0000005 ");
    ASSERT_GE(first, 0);
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], run.texts[static_cast<std::size_t>(first) + i]);
}

// The close box answers: Ignore where the fault can be ignored, else End;
// never a fault left to kill the program.
TEST(Crash, ClosedWindowIgnoresOrEnds)
{
    TempFolder ignorable;
    VictimRun run = RunVictim(ignorable, "ignore", {"close"});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.signal;
    EXPECT_EQ(run.exitCode, 0) << "the next command did not run";
    EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter returns IGNORE", "Second command ran"}));
    EXPECT_EQ(run.Find("VCL.ExceptionFilter returns LEAVE UNHANDLED"), -1);

    TempFolder outside;
    run = RunVictim(outside, "outside", {"close"});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.signal;
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_GE(run.texts.size(), 2u);
    EXPECT_EQ(run.texts[run.texts.size() - 2], "Programm terminated in cause of exception");
    EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter ABORT");
}

TEST(Crash, FaultOutsideACommandCannotBeIgnored)
{
    TempFolder folder;
    // Ignore and Escape do nothing there; End ends.
    VictimRun run = RunVictim(folder, "outside", {"ignore,escape,end"});
    EXPECT_TRUE(run.Shows("ignorable: 0"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter ABORT");
    EXPECT_EQ(run.Find("VCL.ExceptionFilter returns IGNORE"), -1);
}

TEST(Crash, FaultOnAWorkerThreadIsReportedWithItsThread)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "worker", {"end"});
    EXPECT_EQ(run.exitCode, 0);
    ExpectTrace(run, "C0000005 \"ACCESS_VIOLATION\"");
    const LogFileLine& started = run.log.lines.at(static_cast<std::size_t>(run.Find("Victim started")));
    const LogFileLine& fault = run.log.lines.at(static_cast<std::size_t>(run.Find("Exception! Type: ")));
    EXPECT_NE(fault.thread, started.thread);
    std::vector<std::string> frames = run.Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_NE(frames[0].find("WriteReadOnly()"), std::string::npos);
    EXPECT_TRUE(run.Shows("ignorable: 0"));
}

TEST(Crash, StackOverflowOnAWorkerThreadIsIgnoredThere)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "worker-recursion", {"ignore"});
    EXPECT_EQ(run.exitCode, 0);
    ExpectTrace(run, "C00000FD \"STACK_OVERFLOW\"");
    EXPECT_EQ(run.Count("Stack cycled at addres "), 1);
    EXPECT_TRUE(run.Shows("ignorable: 1"));
    ASSERT_TRUE(run.InOrder({"Exception! Type: ", "VCL.ExceptionFilter returns IGNORE", "Worker went on", "Victim ended"}));
    EXPECT_EQ(run.log.lines[static_cast<std::size_t>(run.Find("Worker went on"))].thread,
              run.log.lines[static_cast<std::size_t>(run.Find("Exception! Type: "))].thread);
}

TEST(Crash, FaultWhileTheWindowIsOpenShowsTheBoxAndEnds)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "nested", {"hold"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.Shows("box: Unrecoverable error!: Exception occurs inside exception handler. Programm will be "
                          "terminated."));
    ASSERT_TRUE(run.InOrder({"VCL.ExceptionFilter Show exception dialog", "VCL.ExceptionFilter[2] C0000005 at "}));
    const int second = run.Find("VCL.ExceptionFilter[2] C0000005 at ");
    // The second fault's report is written in full before the end.
    EXPECT_GT(run.Find("Attempt to READ at address 0000000000000000", second), second);
    EXPECT_GT(run.Find("Stack details:", second), second);
    EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter ABORT");
    EXPECT_EQ(run.Count("VCL.ExceptionFilter Show exception dialog"), 1);
}

// The report comes out whole where the program's own heap or log lock
// cannot be used any more.
TEST(Crash, BrokenHeapAndHeldLogLockStillGiveTheReport)
{
    struct Case {
        const char* mode;
        const char* name;
        std::vector<const char*> functions; // named in the frames
    };
    for (const Case& c : {Case{"heap", "0EEFFACE \"ABORT\"", {"free", "BreakHeap()"}},
                          Case{"log-lock", "C0000005 \"ACCESS_VIOLATION\"", {"FaultingLineWriter(", "WriteLogFile("}}}) {
        SCOPED_TRACE(c.mode);
        TempFolder folder;
        VictimRun run = RunVictim(folder, c.mode, {"end"});
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitCode, 0);
        ExpectTrace(run, c.name);
        std::vector<std::string> frames = run.Frames();
        for (const char* function : c.functions)
            EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                                    [&](const std::string& f) { return f.find(function) != std::string::npos; }))
                << function;
        EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter ABORT");
    }
}

// An exception that nothing catches ends the program through std::terminate:
// reported with the exception's text, and not to be ignored.
TEST(Crash, UncaughtExceptionIsReportedBeforeTheEnd)
{
    TempFolder folder;
    VictimRun run = RunVictim(folder, "terminate", {"ignore,end"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0);
    ExpectTrace(run, "0EEDFAE3 \"CXX_UNHANDLED_EXCEPTION\"");
    EXPECT_EQ(run.Find("Exception message: plate index out of range"),
              run.Find("Exception! Type: 0EEDFAE3 \"CXX_UNHANDLED_EXCEPTION\". Calling handler...") + 1);
    std::vector<std::string> frames = run.Frames();
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const std::string& f) {
        return f.find("ThrowThroughNoexcept()") != std::string::npos;
    }));
    EXPECT_TRUE(run.Shows("ignorable: 0"));
    EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter ABORT");
}

// Without a display, or without the helper, the fault is logged and then
// ends the process as the signal would.
TEST(Crash, WithoutWindowOrHelperTheFaultIsLoggedAndKills)
{
    {
        TempFolder folder;
        VictimRun run = RunVictim(folder, "null-read", {"", {"VICTIM_NO_WINDOW=1"}});
        EXPECT_EQ(run.signal, SIGSEGV);
        EXPECT_GE(run.Find("Addr[ 1]: "), 0);
        EXPECT_EQ(run.Find("VCL.ExceptionFilter Show exception dialog"), -1);
        EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter returns LEAVE UNHANDLED");
    }
    {
        TempFolder folder;
        VictimRun run = RunVictim(folder, "divide", {"", {"VICTIM_ALLOW_NO_HELPER=1"}, folder.File("no-helper")});
        EXPECT_EQ(run.signal, SIGFPE);
        EXPECT_TRUE(run.InOrder(
            {"VCL.Write to log file", "Exception C0000094 \"INTEGER_DIVIDE_BY_ZERO\" at ", "  RDI: "}));
        EXPECT_EQ(run.texts.back(), "VCL.ExceptionFilter returns LEAVE UNHANDLED");
    }
}

// The real main window: the preview of a plate faults inside the plugin, the
// user ignores it, and the program releases and loads the storage again.
TEST(Crash, PreviewFaultInThePluginIsIgnoredInTheMainWindow)
{
    TempFolder folder;
    VictimRun run = RunProgram(folder, {CRASH_APP_VICTIM, CRASH_HELPER, folder.Path().string(), CRASH_PLUGIN, "preview"},
                               {"ignore"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 0) << "the storage did not load again, or a box was shown";
    EXPECT_GE(run.Find("Check released: 1"), 0) << "the faulted plugin's storage is still loaded";
    ExpectTrace(run, "C0000005 \"ACCESS_VIOLATION\"");
    std::vector<std::string> frames = run.Frames();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_NE(frames[0].find("\"tp_crash.so\""), std::string::npos) << frames[0];
    EXPECT_NE(frames[0].find(": \"GetPlateData\" + "), std::string::npos) << frames[0];
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const std::string& f) {
        return f.find(": \"TMainForm::listClick()\" + ") != std::string::npos;
    }));
    EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter returns IGNORE", "After the preview"}));
    EXPECT_TRUE(run.InOrder({"VCL.ExceptionFilter returns IGNORE", "Loaded again: 1 plates"}));
}

// A plugin faults once inside a long command while its progress window is
// up; the crash window's answer is Ignore or its close box. The program must
// then be as usable as after any failed command (the victim logs a line
// "Check ...: 1" for each check that held), have done the command's summary
// and reload, and end cleanly through Files -> Exit with its configuration
// saved.
struct LongCommandFault {
    const char* call;    // the plugin call that faults (the victim's mode)
    const char* answer;  // the crash window's step
    bool summary;        // the command writes a summary and reloads
};

class CrashInLongCommand : public ::testing::TestWithParam<LongCommandFault> {};

TEST_P(CrashInLongCommand, LeavesTheProgramUsable)
{
    const LongCommandFault& c = GetParam();
    TempFolder folder;
    VictimRun run = RunProgram(folder, {CRASH_APP_VICTIM, CRASH_HELPER, folder.Path().string(), TP_STORAGE_PATH, c.call},
                               {c.answer});
    ASSERT_TRUE(run.exited) << "killed by signal " << run.signal;
    EXPECT_EQ(run.exitCode, 0) << "Files -> Exit did not end the program";
    const int ignored = run.Find("VCL.ExceptionFilter returns IGNORE");
    ASSERT_GE(ignored, 0);
    EXPECT_EQ(run.Count("VCL.ExceptionFilter returns"), 1);
    const int after = run.Find("After the command", ignored);
    ASSERT_GT(after, ignored);
    for (const char* check : {"fault fired", "progress window gone", "no modal window", "list updates ended",
                              "load button enabled", "later load lists the plates", "selection painted", "no box"})
        EXPECT_GE(run.Find(std::string("Check ") + check + ": 1", after), 0) << check;
    // The abandoned command and its faulted plugin are in the log.
    const int faulted = run.Find("Plugin ", ignored);
    ASSERT_GT(faulted, ignored);
    EXPECT_NE(run.texts[static_cast<std::size_t>(faulted)].find("tp_storage.so faulted in "), std::string::npos);
    EXPECT_GT(run.Find("Command abandoned after an ignored fault", ignored), ignored);
    if (c.summary) {
        const int summary = run.Find("Plates successfully ", ignored);
        EXPECT_GT(summary, ignored);
        EXPECT_GT(run.Find("Reload items from storage...", summary), summary);
        EXPECT_GT(run.Find("Loaded 6 items", summary), summary);
    } else {
        EXPECT_GT(run.Find("Release the storage of the faulted plugin...", ignored), ignored);
    }
    EXPECT_GT(run.Find("Save cfg...", after), after);
    EXPECT_EQ(ReadWholeFile(folder.File("saved.txt")), c.call) << "the configuration was not saved";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CrashInLongCommand,
    ::testing::Values(LongCommandFault{"Enumerate", "ignore", false}, LongCommandFault{"GetPlateData", "ignore", true},
                      LongCommandFault{"Delete", "ignore", true}, LongCommandFault{"Move", "ignore", true},
                      LongCommandFault{"Broken", "ignore", false},
                      LongCommandFault{"Enumerate", "close", false}, LongCommandFault{"Delete", "close", true}),
    [](const ::testing::TestParamInfo<LongCommandFault>& param) {
        return std::string(param.param.call) + "_" + param.param.answer;
    });

// The plugin faults once while Files -> Exit releases its storage: after
// Ignore the end goes on, and the configuration is saved.
TEST(Crash, FaultWhileReleasingAtTheEndLetsTheEndGoOn)
{
    struct Case {
        const char* call;     // the victim's mode
        const char* function; // the plugin's function the log names (closing is Open without a path)
    };
    for (const Case& c : {Case{"Close", "Open"}, Case{"FreeAction", "FreeAction"}, Case{"Shutdown", "Shutdown"}}) {
        const char* call = c.call;
        SCOPED_TRACE(call);
        TempFolder folder;
        VictimRun run =
            RunProgram(folder, {CRASH_APP_VICTIM, CRASH_HELPER, folder.Path().string(), TP_STORAGE_PATH, call}, {"ignore"});
        ASSERT_TRUE(run.exited) << "killed by signal " << run.signal;
        EXPECT_EQ(run.exitCode, 0) << "Files -> Exit did not end the program";
        const int ignored = run.Find("VCL.ExceptionFilter returns IGNORE");
        ASSERT_GE(ignored, 0);
        const int faulted = run.Find("Plugin ", ignored);
        ASSERT_GT(faulted, ignored);
        EXPECT_NE(run.texts[static_cast<std::size_t>(faulted)].find(std::string("faulted in ") + c.function), std::string::npos);
        EXPECT_GT(run.Find("Shutting down...", ignored), ignored);
        EXPECT_EQ(ReadWholeFile(folder.File("saved.txt")), call) << "the configuration was not saved";
    }
}

TEST(CrashCodes, SignalsMapToExceptionCodes)
{
    struct Case {
        int signal, code;
        bool overflow;
        uint32_t expected;
        const char* name;
    };
    const Case cases[] = {
        {SIGSEGV, SEGV_MAPERR, false, crash::kAccessViolation, "ACCESS_VIOLATION"},
        {SIGSEGV, SEGV_MAPERR, true, crash::kStackOverflow, "STACK_OVERFLOW"},
        {SIGFPE, FPE_INTDIV, false, crash::kIntegerDivideByZero, "INTEGER_DIVIDE_BY_ZERO"},
        {SIGFPE, FPE_INTOVF, false, crash::kIntegerOverflow, "INTEGER_OVERFLOW"},
        {SIGFPE, FPE_FLTDIV, false, crash::kFloatDivideByZero, "FLOAT_DIVIDE_BY_ZERO"},
        {SIGFPE, FPE_FLTOVF, false, crash::kFloatOverflow, "FLOAT_OVERFLOW"},
        {SIGFPE, FPE_FLTUND, false, crash::kFloatUnderflow, "FLOAT_UNDERFLOW"},
        {SIGFPE, FPE_FLTRES, false, crash::kFloatInexactResult, "FLOAT_INEXACT_RESULT"},
        {SIGFPE, FPE_FLTINV, false, crash::kFloatInvalidOperation, "FLOAT_INVALID_OPERATION"},
        {SIGFPE, FPE_FLTSUB, false, crash::kArrayBoundsExceeded, "ARRAY_BOUNDS_EXCEEDED"},
        {SIGILL, ILL_ILLOPC, false, crash::kIllegalInstruction, "ILLEGAL_INSTRUCTION"},
        {SIGILL, ILL_PRVOPC, false, crash::kPrivilegedInstruction, "PRIVILEGED_INSTRUCTION"},
        {SIGBUS, BUS_ADRALN, false, crash::kDatatypeMisalignment, "DATATYPE_MISALIGNMENT"},
        {SIGBUS, BUS_ADRERR, false, crash::kInPageError, "IN_PAGE_ERROR"},
        {SIGBUS, BUS_OBJERR, false, crash::kInPageError, "IN_PAGE_ERROR"},
        {SIGTRAP, TRAP_BRKPT, false, crash::kBreakpoint, "BREAKPOINT"},
        {SIGTRAP, TRAP_TRACE, false, crash::kSingleStep, "SINGLE_STEP"},
        {SIGABRT, SI_USER, false, crash::kAbort, "ABORT"},
        {SIGTERM, SI_USER, false, 0, "WAIT_0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(crash::CodeForSignal(c.signal, c.code, c.overflow), c.expected) << c.name;
        EXPECT_STREQ(crash::ExceptionCodeName(c.expected), c.name);
    }
    EXPECT_STREQ(crash::ExceptionCodeName(0x0EEDFAE2u), "CXX_TERMINATE");
    EXPECT_STREQ(crash::ExceptionCodeName(0x12345678u), "<unknown>");
}

TEST(CrashCodes, PageFaultBitsGiveTheAccess)
{
    using crash::Access;
    EXPECT_EQ(crash::AccessFromPageFault(14, 0x4), Access::Read);  // user-mode read of a missing page
    EXPECT_EQ(crash::AccessFromPageFault(14, 0x7), Access::Write); // user-mode write of a present page
    EXPECT_EQ(crash::AccessFromPageFault(14, 0x15), Access::Execute);
    EXPECT_EQ(crash::AccessFromPageFault(13, 0x0), Access::None); // a protection fault has no target
}

} // namespace
