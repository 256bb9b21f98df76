#include "plates/DeleteRun.h"

#include "base/ListSelection.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/ChangeCheck.h"
#include "plates/PlateLoop.h"
#include "plugins/Plugin.h"

#include <vector>

namespace {

class DeleteStep final : public PlateStep {
public:
    explicit DeleteStep(const PlateRun& run) : run_(run) {}

    bool Step(const PlateItem& plate, int index, PlateRunResult& result) override
    {
        if (run_.action.Write(plate.name, nullptr, 0, WriteModeDelete) == Done) {
            ++result.done;
            deleted_.push_back(index);
            return true;
        }
        ++result.errors;
        result.errorText = ErrorText(kCurrentError);
        return AskYesNo(run_.owner, &askSticks_,
                        Translate("Error delete plate data from database.\nError: %s\n\nContinue delete plates?"),
                        result.errorText.c_str());
    }

    void ShowProgress(Operation& operation, const PlateItem& plate, const PlateRunResult& result) override
    {
        operation.SetText(
            Translate("Delete plate data from database...\nDatabase: %s\nItem: %s\nProcessed: %d of %d (%3.3lf%%)"),
            run_.action.StoragePath().c_str(), plate.name, result.done, result.selected,
            result.done * 100.0 / result.selected);
    }

    // A plate counts as deleted once its deletion is durable: a batch the
    // plugin could not commit took back deletions it had answered Done.
    void Finish(PlateRunResult& result) override
    {
        if (!KeepDurableChanges(run_.action, run_.plates, &deleted_, ChangeKind::Deleted, result.errors > 0)) {
            result.errorText = ErrorText(kCurrentError);
            Log(Translate("Cannot open the storage again to check the deletions: %s"), result.errorText.c_str());
            // Deletions of a batch the storage lost on closing would be counted
            // as done: count only what is known.
            result.unchecked = static_cast<int>(deleted_.size());
            result.undone = result.unchecked;
            result.errors += result.undone;
            result.done -= result.undone;
            deleted_.clear();
        } else if (static_cast<int>(deleted_.size()) < result.done) {
            const int undone = result.done - static_cast<int>(deleted_.size());
            Log(Translate("%d plates answered deleted are still in the storage: their batch failed"), undone);
            result.errors += undone;
            result.done -= undone;
        }
        result.bytes = ListedBytes(run_.plates, deleted_);
    }

private:
    const PlateRun& run_;
    int askSticks_ = 1;         // 0 once the user ticked the box: later failures are counted out silently
    std::vector<int> deleted_;  // answered Done, counted again at the end
};

} // namespace

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
    // One plate is asked about in the singular.
    if (!AskYesNo(run.owner, nullptr,
                  result.selected == 1 ? Translate("Delete %d selected plate?") : Translate("Delete %d selected plates?"),
                  result.selected))
        return result;

    DeleteStep step(run);
    RunPlateLoop(run, step,
                 {Format(Translate("Delete %d plates data from storage..."), result.selected), Translate("Delete cancelled with errors"),
                  Translate("Delete stopped by the user"), Translate("Plates successfully deleted from storage: %d of %d")},
                 result);
    return result;
}
