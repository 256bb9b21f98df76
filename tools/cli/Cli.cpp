#include "Cli.h"

#include "Commands.h"
#include "Context.h"
#include "Help.h"
#include "Options.h"

#include "app/Session.h"
#include "base/BuildInfo.h"
#include "base/Command.h"
#include "log/Boxes.h"
#include "log/DiagnosticLog.h"
#include "log/Log.h"
#include "log/LogFile.h"
#include "plugins/Registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace cli {

namespace {

// Says once that log lines were lost since `before`; true when some were.
bool LogLost(const std::string& path, const LogWriteFailures& before)
{
    const LogWriteFailures now = LogFileWriteFailures();
    if (now.messages == before.messages)
        return false;
    std::fprintf(stderr, "ulmora-cli: cannot write the log file %s: %s\n", path.c_str(), std::strerror(now.error));
    return true;
}

int RunParsed(int argc, char** argv, Options& options)
{
    const CommandInfo* command = FindCommand(options.command);
    if (options.version) {
        std::printf("ulmora-cli %s\n", kProgramVersion);
        return kExitDone;
    }
    if (options.help) {
        if (command != nullptr)
            PrintCommandHelp(*command);
        else
            PrintToolHelp();
        return kExitDone;
    }

    FillHostInfo();
    InstallInterruptHandler();
    Context context(options);
    TerminalBoxes boxes(options.yes);
    SetBoxPresenter(&boxes);
    struct Unset {
        ~Unset() { SetBoxPresenter(nullptr); }
    } unset;
    // A command that ends before it starts still sums up with --json.
    const auto Unstarted = [&](int code) {
        SummaryIfMissing(context, command->name, code);
        return code;
    };
    int verbose = 0;
    if (options.verbose)
        verbose = SubscribeLog([](const std::string& line) { std::fprintf(stderr, "\r\033[K%s\n", line.c_str()); });
    std::unique_ptr<LogFile> logFile;
    std::string logPath;
    const LogWriteFailures logBefore = LogFileWriteFailures();
    if (!options.log.empty()) {
        std::error_code error;
        logPath = fs::absolute(options.log, error).string();
        if (error)
            return Unstarted(Fail(kExitNoStorage, "cannot write the log file " + options.log + ": " + error.message()));
        // The log is opened anew for every line: a pipe would keep a line
        // waiting for ever once its reader is gone.
        const int probe = OpenToWrite(logPath, true);
        if (probe < 0)
            return Unstarted(Fail(kExitNoStorage, "cannot write the log file " + logPath + ": " + std::strerror(errno)));
        struct stat info {};
        const bool pipe = ::fstat(probe, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
        ::close(probe);
        if (pipe)
            return Unstarted(Fail(kExitNoStorage, "cannot write the log file " + logPath + ": a pipe cannot hold a log"));
        logFile = std::make_unique<LogFile>(logPath);
        WriteLogHeader();
    }
    Log("Starting...");
    std::string line = "ulmora-cli";
    for (int i = 1; i < argc; ++i)
        line += std::string(" ") + argv[i];
    Log("%s", line.c_str());
    // A log that cannot be written stops the command before it changes anything.
    if (logFile && LogLost(logPath, logBefore)) {
        logFile.reset();
        return Unstarted(kExitNoStorage);
    }

    int code = kExitFault;
    if (!RunCommand([&] { code = command->run(context); }))
        code = kExitFault;
    SummaryIfMissing(context, command->name, code);
    Log("Exit code %d", code);
    Log("Shutting down...");
    logFile.reset();
    if (verbose)
        UnsubscribeLog(verbose);
    if (!logPath.empty() && LogLost(logPath, logBefore) && code == kExitDone)
        code = kExitNoStorage;
    return code;
}

} // namespace

int Run(int argc, char** argv)
{
    // A fault inside the program ends the command with its exit code, never
    // with a signal; the storages' own state is the plugins' to keep whole.
    try {
        Options options;
        if (int code = Parse(argc, argv, &options); code != kExitDone) {
            SummaryOfUnparsed(argc, argv, code);
            return code;
        }
        return RunParsed(argc, argv, options);
    } catch (const std::exception& fault) {
        std::fprintf(stderr, "ulmora-cli: a fault inside the program ended the command: %s\n",
                     OneLine(fault.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "ulmora-cli: a fault inside the program ended the command\n");
    }
    return kExitFault;
}

} // namespace cli

