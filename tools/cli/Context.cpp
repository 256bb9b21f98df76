#include "Context.h"

#include "Cli.h"
#include "Json.h"

#include "app/Session.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "plates/CopyRun.h"
#include "plates/PlateRun.h"
#include "plugins/PluginChoice.h"
#include "plugins/Registry.h"
#include "plates/ImageDecoderModule.h"
#include "plates/SamePlates.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace cli {

void Say(const Context& context, const char* format, ...)
{
    if (context.options.quiet)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int Fail(int code, const std::string& text)
{
    std::fprintf(stderr, "ulmora-cli: %s\n", OneLine(text).c_str());
    Log("%s", OneLine(text).c_str());
    return code;
}

// The plugin for a storage argument; null after printing why. A name with a
// '/' is a library path, loaded as it is.
const PluginEntry* PluginFor(Context& context, const std::string& storage, const std::string& named)
{
    std::string error;
    const PluginEntry* plugin = nullptr;
    if (named.find('/') != std::string::npos) {
        // A deque: the entries handed out stay where they are as more come.
        static std::deque<PluginEntry> own;
        own.push_back(ReadPlugin(named));
        if (!own.back().Usable())
            error = "cannot use the plugin library " + named + ": " + own.back().error;
        else
            plugin = ChoosePlugin({own.back()}, storage, own.back().name, &error);
        if (plugin != nullptr)
            plugin = &own.back();
    } else {
        plugin = ChoosePlugin(context.Plugins(), storage, named, &error);
    }
    if (plugin == nullptr)
        Fail(kExitNoStorage, error);
    return plugin;
}

namespace {

int RequireStorage(const std::string& storage)
{
    if (!UrlScheme(storage).empty())
        return kExitDone; // its plugin tells whether it is there when it opens it
    std::error_code error;
    const fs::file_status status = fs::status(PathPart(storage), error);
    if (fs::exists(status))
        return kExitDone;
    if (!error)
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    return Fail(kExitNoStorage, Format("Error initialize storage data \"%s\": %s", storage.c_str(), error.message().c_str()));
}

} // namespace

int SourcePlugin(Context& context, const std::string& storage, const PluginEntry** plugin)
{
    *plugin = PluginFor(context, storage, context.options.plugin);
    if (*plugin == nullptr)
        return kExitNoStorage;
    return RequireStorage(storage);
}


int LoadEntry(const PluginEntry& entry, OpenStorage* open)
{
    open->entry = &entry;
    open->plugin = LoadPlugin(entry.path.c_str(), &HostInfo(), PluginTypeStorage);
    if (open->plugin == nullptr)
        return Fail(kExitNoStorage, Format("Error loading storage plugin: %s", ErrorText(kCurrentError).c_str()));
    return kExitDone;
}

int OpenAction(const std::string& storage, OpenStorage* open)
{
    open->action = open->plugin->CreateAction();
    if (open->action == nullptr)
        return Fail(kExitNoStorage, Format("Error creating storage action: %s", ErrorText(kCurrentError).c_str()));
    if (!open->action->Open(storage.c_str()))
        return Fail(kExitNoStorage, Format("Error initialize storage data \"%s\": %s", storage.c_str(),
                                           ErrorText(kCurrentError).c_str()));
    return kExitDone;
}

int Open(const PluginEntry& entry, const std::string& storage, OpenStorage* open)
{
    if (int code = LoadEntry(entry, open); code != kExitDone)
        return code;
    return OpenAction(storage, open);
}

// Opens `storage` with the plugin the options or its name choose.
int OpenChosen(Context& context, const std::string& storage, OpenStorage* open)
{
    const PluginEntry* plugin = nullptr;
    if (int code = SourcePlugin(context, storage, &plugin); code != kExitDone)
        return code;
    return Open(*plugin, storage, open);
}


const char* ExitReason(int code)
{
    switch (code) {
    case kExitDone: return "done";
    case kExitPlatesFailed: return "failed";
    case kExitUsage: return "usage";
    case kExitNoStorage: return "error";
    case kExitCancelled: return "cancelled";
    case kExitInterrupted: return "interrupted";
    default: return "fault";
    }
}

namespace {

void PrintRunSummary(const char* command, const PlateRunResult& result, double seconds, int code)
{
    std::printf("{\"command\":\"%s\",\"selected\":%d,\"done\":%d,\"bytes\":%" PRIu64
                ",\"skipped\":%d,\"failed\":%d,\"seconds\":%.3f,\"exit\":\"%s\",\"code\":%d}\n",
                command, result.selected, result.done, result.bytes, result.skipped, result.errors, seconds,
                ExitReason(code), code);
    std::fflush(stdout);
}

void PrintCompactSummary(const std::string* storage, uint64_t before, uint64_t after, double seconds, int code)
{
    std::printf("{\"storage\":%s,\"before\":%" PRIu64 ",\"after\":%" PRIu64 ",\"reclaimed\":%" PRIu64
                ",\"seconds\":%.3f,\"exit\":\"%s\",\"code\":%d}\n",
                storage ? JsonString(*storage).c_str() : "null", before, after, before > after ? before - after : 0,
                seconds, ExitReason(code), code);
    std::fflush(stdout);
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool SumsUpARun(std::string_view command)
{
    return command == "copy" || command == "export" || command == "delete" || command == "compact";
}

} // namespace

int RunSummary(const Context& context, const char* command, const PlateRunResult& result, int code)
{
    if (!context.options.json)
        return code;
    PrintRunSummary(command, result, SecondsSince(context.started), code);
    context.summaryGiven = true;
    return code;
}

int CompactSummary(const Context& context, const std::string& storage, uint64_t before, uint64_t after, int code)
{
    if (!context.options.json)
        return code;
    PrintCompactSummary(&storage, before, after, SecondsSince(context.started), code);
    context.summaryGiven = true;
    return code;
}

void SummaryIfMissing(const Context& context, const char* command, int code)
{
    if (!context.options.json || context.summaryGiven || !SumsUpARun(command))
        return;
    if (std::string_view(command) == "compact") {
        const std::vector<std::string>& arguments = context.options.arguments;
        CompactSummary(context, arguments.empty() ? std::string() : arguments[0], 0, 0, code);
    } else {
        RunSummary(context, command, PlateRunResult{}, code);
    }
}

void SummaryOfUnparsed(int argc, char** argv, int code)
{
    if (argc < 2 || !SumsUpARun(argv[1]))
        return;
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "--")
            break;
        if (arg == "--json")
            json = true;
    }
    if (!json)
        return;
    if (std::string_view(argv[1]) == "compact")
        PrintCompactSummary(nullptr, 0, 0, 0.0, code);
    else
        PrintRunSummary(argv[1], PlateRunResult{}, 0.0, code);
}

void SayPlan(const Context& context, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(context.options.json ? stderr : stdout, format, args);
    va_end(args);
}

// Turns a listing's result into an exit code (kExitDone when it went on).
int ListingResult(uint32_t result)
{
    if (result == Aborted)
        return kExitInterrupted;
    if (result != Done && result != Empty)
        return Fail(kExitNoStorage, Format("Error enumerating storage\nError: %s", ErrorText(kCurrentError).c_str()));
    return kExitDone;
}

namespace {

// Narrows the session's selection to the plates the content options name.
int SelectByContent(Context& context, Session& session)
{
    const PlateFilter& filter = context.options.filter;
    StorageAction* action = session.Connection().Action();
    if (!filter.ByContent() || action == nullptr)
        return kExitDone;
    ListSelection& selection = session.Selection();
    auto narrow = [&](const SameResult& result) {
        selection.ClearAll();
        for (int index : result.found)
            selection.SetSelected(index, true);
    };
    if (filter.Duplicates()) {
        const SameResult result =
            FindDuplicatePlates({*action, session.Plates(), selection, context.progress, session.Period()});
        if (result.aborted)
            return kExitInterrupted;
        Say(context, "%zu duplicates (in %d sets of equal plates, whose first plates are not counted) among %d plates\n",
            result.found.size(), result.sets, result.selected);
        narrow(result);
    }
    if (filter.Blank()) {
        if (!LoadImageDecoderModule())
            return Fail(kExitNoStorage, ErrorText(kCurrentError));
        const SameResult result =
            FindBlankPlates({*action, session.Plates(), selection, context.progress, session.Period()}, ImageFunctions());
        if (result.aborted)
            return kExitInterrupted;
        Say(context, "%zu blank plates among %d\n", result.found.size(), result.selected);
        narrow(result);
    }
    return kExitDone;
}

} // namespace

namespace {

// Says what a load did; kExitDone when the command goes on.
int LoadOutcome(Context& context, const LoadResult& result)
{
    switch (result.outcome) {
    case LoadResult::Outcome::Loaded:
        // How the plugin read the storage, so that a copy or an export of a
        // tree read upside down does not pass unnoticed.
        if (!result.notice.empty())
            Say(context, "%s\n", OneLine(result.notice).c_str());
        return kExitDone;
    case LoadResult::Outcome::Empty:
        return kExitDone;
    case LoadResult::Outcome::Aborted:
        return kExitInterrupted;
    default:
        std::fprintf(stderr, "ulmora-cli: %s\n", OneLine(result.error).c_str());
        return kExitNoStorage;
    }
}

// Selects the plates the options name in a list just loaded: all of them
// when the load kept only those.
int SelectLoaded(Context& context, Session& session, bool keptSelected)
{
    const PlateFilter& filter = context.options.filter;
    const PlateList& plates = session.Plates();
    ListSelection& selection = session.Selection();
    selection.Resize(plates.Count());
    if (filter.Empty() || keptSelected) {
        // Nothing to choose, or the load kept only what the options select.
        selection.SelectAll();
    } else {
        selection.SelectWhere([&](int index) {
            PlateItem item;
            return plates.At(index, &item) && filter.Matches({item.name, static_cast<std::size_t>(item.nameLength)});
        });
    }
    return SelectByContent(context, session);
}

} // namespace

// Loads the storage into the session's plate list, the way the window does,
// and selects the plates the options name.
int LoadSelected(Context& context, Session& session, const std::string& storage, bool onlySelected)
{
    const PluginEntry* plugin = nullptr;
    if (int code = SourcePlugin(context, storage, &plugin); code != kExitDone)
        return code;
    const PlateFilter& filter = context.options.filter;
    const bool keepSelected = onlySelected && !filter.Empty();
    PlateKeep keep;
    // The levels and areas named hold every plate selected by name: a plugin
    // that can list a part lists those alone.
    PlatePart part;
    if (keepSelected) {
        keep = [&filter](std::string_view name) { return filter.Matches(name); };
        if (filter.Levels()) {
            part.minLevel = static_cast<uint32_t>(filter.Levels()->first);
            part.maxLevel = static_cast<uint32_t>(filter.Levels()->second);
        }
        part.areas = filter.Prefixes();
    }
    const LoadResult result = session.Connection().LoadStorage(plugin->path, storage, std::move(keep),
                                                               keepSelected ? &part : nullptr);
    if (int code = LoadOutcome(context, result); code != kExitDone)
        return code;
    return SelectLoaded(context, session, keepSelected);
}

int CopyWhileLoading(Context& context, Session& session, const std::string& storage,
                     const std::function<StorageAction*()>& openTarget, CopyOptions& options,
                     PlateRunResult* copied)
{
    const PlateFilter& filter = context.options.filter;
    if (filter.ByContent())
        return LoadSelected(context, session, storage);
    const PluginEntry* plugin = nullptr;
    if (int code = SourcePlugin(context, storage, &plugin); code != kExitDone)
        return code;
    PlateKeep keep;
    if (!filter.Empty())
        keep = [&filter](std::string_view name) { return filter.Matches(name); };
    QuietRunHost host;
    LoadResult load;
    *copied = RunCopyWhileListing({session.Connection(), plugin->path, storage, std::move(keep), openTarget,
                                   context.progress, session.Period(), host, nullptr},
                                  options, &load);
    const int code = LoadOutcome(context, load);
    if (copied->started)
        // The plates listed were copied; a listing that failed after the
        // stream (the rest of the storage unknown) fails the copy.
        return code == kExitNoStorage ? kExitPlatesFailed : kExitDone;
    if (code != kExitDone)
        return code;
    options.notListed = load.passed;
    return SelectLoaded(context, session, true);
}

int ForEachSelected(Context& context, const std::string& storage, const PlateSink::Each& each)
{
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, storage); code != kExitDone)
        return code;
    session.Selection().ForEachSelected([&](int index) {
        PlateItem item;
        if (session.Plates().At(index, &item))
            each(item.number, item.name, item.size);
    });
    return kExitDone;
}

int OpenToWrite(const std::string& path, bool append)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : O_TRUNC), 0666);
    if (fd < 0)
        return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace cli
