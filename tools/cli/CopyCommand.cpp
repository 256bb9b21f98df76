#include "Commands.h"

#include "Cli.h"
#include "Context.h"

#include "base/SizeText.h"
#include "app/Session.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "plates/CopyRun.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace cli {

namespace {
int CopyEnded(Context& context, const PlateRunResult& result, int code);
}

int Copy(Context& context)
{
    const Options& options = context.options;
    const std::string& source = options.arguments[0];
    std::string target = options.arguments[1];
    // Before anything is loaded or made: a target inside the source would be
    // made among its plates.
    if (!CopyTargetApart(source, target))
        return Fail(kExitUsage, ErrorText(kCurrentError));

    // A path without an extension names a folder, which takes a layout.
    std::error_code ignored;
    const std::string targetPath = PathPart(target);
    const bool exists = fs::exists(targetPath, ignored);
    const bool folderTarget = fs::is_directory(targetPath, ignored) ||
                              (!exists && std::string(LastComponent(targetPath)).find('.') == std::string::npos);
    if (!options.layout.empty() && folderTarget && target.find('?') == std::string::npos)
        target += "?layout=" + options.layout;
    const PluginEntry* plugin = PluginFor(context, target, options.targetPlugin);
    if (plugin == nullptr)
        return kExitNoStorage;
    if ((plugin->flags & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "the plugin " + plugin->name + " cannot write: copy into a storage of another kind");

    CopyOptions copy;
    copy.AskOnError = false; // failures are logged and counted; the summary tells them
    int shown = 0;
    copy.onFailure = [&shown](const char* name, const std::string& why) {
        if (++shown <= 10)
            std::fprintf(stderr, "\r\033[Kulmora-cli: plate %s %s\n", name, OneLine(why).c_str());
    };
    // Made and opened at the first plate to copy: a copy of nothing leaves
    // no empty file that the next command would take for a storage.
    OpenStorage into;
    int openCode = kExitDone;
    const auto openTarget = [&]() -> StorageAction* {
        bool made = false;
        if (!MakeCopyTarget(target, &made)) {
            openCode = Fail(kExitNoStorage, ErrorText(kCurrentError));
            return nullptr;
        }
        if (openCode = Open(*plugin, target, &into); openCode != kExitDone) {
            if (made)
                fs::remove(PathPart(target), ignored);
            return nullptr;
        }
        return into.action;
    };

    Session session(context.view, context.progress);
    PlateRunResult result;
    if (options.dryRun) {
        if (int code = LoadSelected(context, session, source); code != kExitDone)
            return code;
    } else {
        // Where the source's plugin can, the plates are copied as the source
        // is listed, reading it once.
        const int code = CopyWhileLoading(context, session, source, openTarget, copy, &result);
        if (openCode != kExitDone)
            return openCode;
        if (code != kExitDone && !result.started)
            return code;
        if (result.started)
            return CopyEnded(context, result, code);
    }
    const PlateList& plates = session.Plates();
    const ListSelection& selection = session.Selection();
    const int selected = selection.SelectedCount();
    if (options.dryRun) {
        uint64_t bytes = 0;
        selection.ForEachSelected([&](int index) {
            PlateItem item;
            if (plates.At(index, &item))
                bytes += item.size;
        });
        SayPlan(context, "would copy %d plates, %s (%" PRIu64 " bytes), from %s into %s (plugin %s%s)\n", selected,
                FormatByteSize(bytes).c_str(), bytes, source.c_str(), target.c_str(), plugin->name.c_str(),
                exists ? "" : ", a new storage");
        PlateRunResult planned; // nothing done
        planned.selected = selected;
        return RunSummary(context, "copy", planned, kExitDone);
    }
    if (selected == 0) {
        // Making the target for nothing would leave an empty file that no reader takes for a storage.
        Say(context, "no plates selected: nothing copied, %s left as it was\n", target.c_str());
        return RunSummary(context, "copy", PlateRunResult{}, kExitDone);
    }
    StorageAction* action = openTarget();
    if (action == nullptr)
        return openCode;
    QuietRunHost host;
    result = RunCopy({*session.Connection().Action(), plates, selection, context.progress, session.Period(), host,
                      nullptr},
                     *action, copy);
    return CopyEnded(context, result, kExitDone);
}

namespace {

// What a copy did, on standard error and in --json; the exit code. `code`:
// what ended the listing, when it failed after the copy began.
int CopyEnded(Context& context, const PlateRunResult& result, int code)
{
    if (result.refused) // the core's error box said why
        return RunSummary(context, "copy", result, kExitUsage);
    if (result.unchecked > 0)
        std::fprintf(stderr,
                     "\r\033[Kulmora-cli: %d plates answered stored could not be checked in the target (%s): not "
                     "counted as copied\n",
                     result.unchecked, OneLine(result.errorText).c_str());
    else if (result.undone > 0)
        std::fprintf(stderr, "\r\033[Kulmora-cli: %d plates answered stored are not in the target: their batch failed\n",
                     result.undone);
    if (result.errors > 10)
        std::fprintf(stderr, "ulmora-cli: %d more plates failed (see --log)\n", result.errors - 10);
    Say(context, "%s%d of %d plates copied (%s), %d failed\n", result.aborted ? "stopped: " : "", result.done,
        result.selected, FormatByteSize(result.bytes).c_str(), result.errors);
    return RunSummary(context, "copy", result,
                      result.aborted ? kExitInterrupted
                      : result.errors || code != kExitDone ? kExitPlatesFailed
                                                            : kExitDone);
}

} // namespace

} // namespace cli
