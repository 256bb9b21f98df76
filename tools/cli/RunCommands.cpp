#include "Commands.h"

#include "Cli.h"
#include "Context.h"

#include "base/SizeText.h"
#include "app/Session.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "plates/DeleteRun.h"
#include "plates/ExportOptions.h"
#include "plates/ExportRun.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace cli {

namespace {

uint64_t SelectedBytes(Session& session)
{
    uint64_t bytes = 0;
    session.Selection().ForEachSelected([&](int index) {
        PlateItem item;
        if (session.Plates().At(index, &item))
            bytes += item.size;
    });
    return bytes;
}

int RunOutcome(const Context& context, const PlateRunResult& result, const char* done)
{
    Say(context, "%s%d of %d plates %s, %d skipped, %d failed\n", result.aborted ? "stopped: " : result.stopped ? "cancelled: " : "",
        result.done, result.selected, done, result.skipped, result.errors);
    if (result.errors > 0 && !result.errorText.empty())
        Say(context, "last error: %s\n", OneLine(result.errorText).c_str());
    if (result.aborted)
        return kExitInterrupted;
    if (result.stopped)
        return kExitCancelled;
    return result.errors > 0 ? kExitPlatesFailed : kExitDone;
}

// The text summary on standard error, and with --json the JSON one.
int RunResult(const Context& context, const PlateRunResult& result, const char* done, const char* command)
{
    return RunSummary(context, command, result, RunOutcome(context, result, done));
}

} // namespace

int Export(Context& context)
{
    const Options& options = context.options;
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, options.arguments[0]); code != kExitDone)
        return code;
    StorageAction& action = *session.Connection().Action();
    if (options.move && (action.Plugin()->Flags() & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "the plugin cannot delete plates: export without --move");
    std::error_code error;
    const fs::path base = fs::absolute(options.arguments[1], error);
    if (error)
        return Fail(kExitNoStorage, "cannot use the folder " + options.arguments[1] + ": " + error.message());
    ExportOptions export_;
    export_.BasePath = BasePathOf(base.string());
    export_.Over = options.existing == "overwrite" ? OverWrite : options.existing == "keep" ? OverStay
                 : options.existing == "cancel"  ? OverCancel : OverAsk;
    export_.Move = options.move;
    export_.AskOnError = false; // errors are logged and counted; the summary tells them
    export_.Layout = options.layout == "xyz" ? LayoutXyz : options.layout == "tms" ? LayoutTms : LayoutPlates;
    const int selected = session.Selection().SelectedCount();
    if (!ExportTargetApart(action, export_.BasePath))
        return Fail(kExitUsage, ErrorText(kCurrentError));
    if (options.dryRun) {
        SayPlan(context, "would export %d plates, %s (%" PRIu64 " bytes), into %s%s\n", selected,
                FormatByteSize(SelectedBytes(session)).c_str(), SelectedBytes(session), export_.BasePath.c_str(),
                options.move ? " and delete them from the storage" : "");
        PlateRunResult planned; // nothing done
        planned.selected = selected;
        return RunSummary(context, "export", planned, kExitDone);
    }
    // The tool ends after the run: nothing is shown again.
    QuietRunHost host;
    const PlateRunResult result = RunExport(
        {action, session.Plates(), session.Selection(), context.progress, session.Period(), host, nullptr}, export_);
    if (result.refused) // the core's error box said why
        return RunSummary(context, "export", result, kExitUsage);
    // Plates selected but the run never began: the free-room question was
    // answered No.
    if (!result.started && result.selected > 0)
        return RunSummary(context, "export", result,
                          Fail(kExitCancelled, "nothing exported: the export was not confirmed (give --yes to confirm it)"));
    return RunResult(context, result, options.move ? "moved" : "exported", "export");
}

int Delete(Context& context)
{
    const Options& options = context.options;
    Session session(context.view, context.progress);
    // Only the plates to delete are listed: the run never looks at the rest.
    if (int code = LoadSelected(context, session, options.arguments[0], true); code != kExitDone)
        return code;
    StorageAction& action = *session.Connection().Action();
    if ((action.Plugin()->Flags() & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "Plugin does not support modify operations!");
    const int selected = session.Selection().SelectedCount();
    if (options.dryRun) {
        SayPlan(context, "would delete %d plates, %s (%" PRIu64 " bytes), from %s\n", selected,
                FormatByteSize(SelectedBytes(session)).c_str(), SelectedBytes(session), options.arguments[0].c_str());
        PlateRunResult planned; // nothing done
        planned.selected = selected;
        return RunSummary(context, "delete", planned, kExitDone);
    }
    if (selected == 0) {
        Say(context, "no plates selected: nothing deleted\n");
        return RunSummary(context, "delete", PlateRunResult{}, kExitDone);
    }
    // The tool ends after the run: nothing is shown again.
    QuietRunHost host;
    const PlateRunResult result =
        RunDelete({action, session.Plates(), session.Selection(), context.progress, session.Period(), host, nullptr});
    if (!result.started)
        return RunSummary(context, "delete", result,
                          Fail(kExitCancelled, "nothing deleted: the deletion was not confirmed (give --yes to confirm it)"));
    return RunResult(context, result, "deleted", "delete");
}

} // namespace cli
