#include "plates/DeleteRun.h"

#include "base/ListSelection.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/ChangeCheck.h"
#include "plugins/Plugin.h"

#include <vector>

PlateRunResult RunDelete(const PlateRun& run)
{
    PlateRunResult result;
    result.selected = run.selection.SelectedCount();
    if (result.selected <= 0)
        return result;
    if (run.action.Plugin() == nullptr || !run.action.Plugin()->HasFlag(SupportsWrite)) {
        ErrorBox(run.owner, "%s", Translate("Plugin does not support modify operations!"));
        return result;
    }
    int askSticks = 1; // 0 once the user ticked the box: later failures are counted out silently
    // One plate is asked about in the singular.
    if (!AskYesNo(run.owner, nullptr,
                  result.selected == 1 ? Translate("Delete %d selected plate?") : Translate("Delete %d selected plates?"),
                  result.selected))
        return result;
    result.started = true;

    run.operation.SetAbortable(true);
    Log(Translate("Delete %d plates data from storage..."), result.selected);

    auto finish = [&] {
        run.operation.SetText(nullptr);
        Log(Translate("Plates successfully deleted from storage: %d of %d"), result.done, result.selected);
        Log("%s", Translate("Reload items from storage..."));
        run.host.ReloadStorage();
    };
    std::vector<int> deleted; // answered Done, counted again at the end
    try {
        for (int index = run.selection.NextSelected(0); index >= 0; index = run.selection.NextSelected(index + 1)) {
            PlateItem plate;
            if (!run.plates.At(index, &plate)) {
                Log("Strange diff indexes: list %d == NULL", index);
                break;
            }
            if (run.action.Write(plate.name, nullptr, 0, WriteModeDelete) == Done) {
                ++result.done;
                deleted.push_back(index);
            } else {
                ++result.errors;
                result.errorText = ErrorText(kCurrentError);
                if (!AskYesNo(run.owner, &askSticks,
                              Translate("Error delete plate data from database.\nError: %s\n\nContinue delete plates?"),
                              result.errorText.c_str())) {
                    Log("%s", Translate("Delete cancelled with errors"));
                    result.stopped = true;
                    break;
                }
            }
            run.host.PlateHandled(index);
            if (run.period.Elapsed()) {
                run.operation.SetText(
                    Translate("Delete plate data from database...\nDatabase: %s\nItem: %s\nProcessed: %d of %d (%3.3lf%%)"),
                    run.action.StoragePath().c_str(), plate.name, result.done, result.selected,
                    result.done * 100.0 / result.selected);
                run.host.PumpMessages();
            }
            if (run.operation.IsAborted()) {
                Log("%s", Translate("Delete stopped by the user"));
                result.aborted = true;
                break;
            }
        }
        // A plate counts as deleted once its deletion is durable: a batch the
        // plugin could not commit took back deletions it had answered Done.
        if (!KeepDurableChanges(run.action, run.plates, &deleted, ChangeKind::Deleted, result.errors > 0)) {
            result.errorText = ErrorText(kCurrentError);
            Log(Translate("Cannot open the storage again to check the deletions: %s"), result.errorText.c_str());
        } else if (static_cast<int>(deleted.size()) < result.done) {
            const int undone = result.done - static_cast<int>(deleted.size());
            Log(Translate("%d plates answered deleted are still in the storage: their batch failed"), undone);
            result.errors += undone;
            result.done -= undone;
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return result;
}
