#pragma once
// What every command works with: the options, the terminal's view and
// progress, the plugins; and the steps the commands share: choosing a plugin,
// opening or loading a storage, listing its plates, failing with an exit code.

#include "Options.h"
#include "Plugins.h"
#include "Terminal.h"

#include "app/Session.h"   // kProgressPeriodMs
#include "log/Operation.h" // PRPeriod
#include "plugins/Plugin.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CopyOptions;
struct PlateRunResult;

namespace cli {

struct Context {
    Options& options;
    QuietView view; // a load's failures are printed by LoadSelected from its result
    TerminalProgress progress;
    std::vector<PluginEntry> plugins;
    bool pluginsScanned = false;
    // For the time a --json summary gives.
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    // A --json summary was printed: a command that ends without one (it
    // failed before its run) gets one after it.
    mutable bool summaryGiven = false;

    explicit Context(Options& o) : options(o), progress(!o.quiet) {}

    const std::vector<PluginEntry>& Plugins()
    {
        if (!pluginsScanned) {
            plugins = ScanPlugins(PluginsFolder());
            pluginsScanned = true;
        }
        return plugins;
    }
};

// A progress line on standard error, unless --quiet.
void Say(const Context& context, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The word a --json summary gives for an exit code: "done", "failed"
// (plates failed), "usage", "error", "cancelled", "fault" or "interrupted".
const char* ExitReason(int code);

// With --json, one JSON object on standard output that sums up a run of
// copy, export or delete (counts, bytes, seconds since the command began,
// the exit reason), so that scripts need not read the text; answers `code`.
int RunSummary(const Context& context, const char* command, const PlateRunResult& result, int code);
// Compact's --json object: the file's bytes before and after, what was
// given back; answers `code`.
int CompactSummary(const Context& context, const std::string& storage, uint64_t before, uint64_t after, int code);
// With --json, the summary of a command that gave none, as it ended before
// its run (a storage that cannot be opened, a selection that cannot be
// made): the same object, nothing done. Only for the commands that sum up a
// run (copy, export, delete, compact).
void SummaryIfMissing(const Context& context, const char* command, int code);
// The same for a command line that could not be parsed, when it names such
// a command and asks for --json.
void SummaryOfUnparsed(int argc, char** argv, int code);
// What a --dry-run says, on standard output; on standard error under
// --json, whose object is standard output's only line.
void SayPlan(const Context& context, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Prints `text` as one line on standard error and logs it; answers `code`.
int Fail(int code, const std::string& text);

// The plugin for a storage argument; null after printing why. A name with a
// '/' is a library path, loaded as it is.
const PluginEntry* PluginFor(Context& context, const std::string& storage, const std::string& named);

// The plugin for a storage to read from (PluginFor with the options'
// plugin), which must be there: a plugin may make a missing one when it
// opens it, and a command that reads leaves the disk as it found it.
// kExitDone, or the exit code after printing why.
int SourcePlugin(Context& context, const std::string& storage, const PluginEntry** plugin);

// A storage opened through a plugin instance of its own, for the commands
// that read the plates as the plugin lists them (info, list) and for the
// target of copy.
struct OpenStorage {
    const PluginEntry* entry = nullptr; // the registered plugin it was opened with
    std::unique_ptr<StoragePlugin> plugin;
    StorageAction* action = nullptr;
};

// Loads `entry`'s library anew and opens `storage` through it.
int Open(const PluginEntry& entry, const std::string& storage, OpenStorage* open);
// Open's two steps, for a caller that checks the plugin before a storage is
// opened through it: load the entry's library, then open `storage` with it.
int LoadEntry(const PluginEntry& entry, OpenStorage* open);
int OpenAction(const std::string& storage, OpenStorage* open);

// Opens `storage` with the plugin the options or its name choose.
int OpenChosen(Context& context, const std::string& storage, OpenStorage* open);

// Calls `each` for every plate the plugin lists, with the listing's
// progress text and Ctrl-C; answers the plugin's result.
class PlateSink {
public:
    using Each = std::function<void(int32_t number, const char* name, uint32_t size)>;
    PlateSink(Context& context, StorageAction& action, Each each) : context_(context), action_(action), each_(each) {}

    uint32_t Run()
    {
        context_.progress.SetAbortable(true);
        const uint32_t result =
            action_.Enumerate(0, StorageAction::PlateHandler::Bind<&PlateSink::OnPlate>(this), 2);
        context_.progress.SetText(nullptr);
        return result;
    }
    int found = 0;

private:
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        ++found;
        each_(number, name != nullptr ? name : "", size);
        // The clock and Ctrl-C are looked at every 1024 plates: a listing
        // runs through millions of them.
        if ((found & 1023) != 0)
            return true;
        if (period_.Elapsed())
            context_.progress.SetText("Scaning storage %s...\nItems found: %d", action_.StoragePath().c_str(), found);
        return !context_.progress.IsAborted();
    }

    Context& context_;
    StorageAction& action_;
    Each each_;
    PRPeriod period_{kProgressPeriodMs};
};

// Turns a listing's result into an exit code (kExitDone when it went on).
int ListingResult(uint32_t result);

// Loads the storage into the session's plate list, the way the window does,
// and selects the plates the options name: by name first, then by content
// (--duplicates, --blank) among those. With `onlySelected` the list keeps
// only the plates the name options select (all of them selected), for a
// command that never looks at the others: a level of a storage of millions
// then costs the memory of that level alone.
int LoadSelected(Context& context, Session& session, const std::string& storage, bool onlySelected = false);

// LoadSelected (keeping only the plates selected) for a copy, which reads
// the storage once where its plugin can list it from its plate stream: the
// plates selected by name are copied as they are listed
// (RunCopyWhileListing) into the storage `openTarget` opens at the first
// one, and `copied->started` is true. Otherwise the storage is loaded and
// selected as LoadSelected does (`options` then tells the plates it did not
// keep), and nothing is copied.
int CopyWhileLoading(Context& context, Session& session, const std::string& storage,
                     const std::function<StorageAction*()>& openTarget, CopyOptions& options,
                     PlateRunResult* copied);

// For the commands that read the listing as it comes (info, list), when the
// options select by content: loads the storage as LoadSelected does and
// calls `each` for every selected plate, in list order.
int ForEachSelected(Context& context, const std::string& storage, const PlateSink::Each& each);

// Opens `path` for writing, made when missing and emptied unless `append`,
// without waiting for a reader when it is a pipe (which then fails with
// ENXIO). The descriptor blocks again once open; -1 with errno set on failure.
int OpenToWrite(const std::string& path, bool append);

} // namespace cli
