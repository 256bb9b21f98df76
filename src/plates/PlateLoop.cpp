#include "plates/PlateLoop.h"

#include "base/ListSelection.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/PlateStream.h"
#include "plugins/Plugin.h"

#include <optional>

void RunPlateLoop(const PlateRun& run, PlateStep& step, const PlateLoopTexts& texts, PlateRunResult& result)
{
    result.started = true;
    run.operation.SetAbortable(true);
    Log("%s", texts.start.c_str());

    auto finish = [&] {
        run.operation.SetText(nullptr);
        result.summary = Format(texts.summary, result.done, result.selected);
        Log("%s", result.summary.c_str());
        if (texts.reload) {
            Log("%s", Translate("Reload items from storage..."));
            run.host.ReloadStorage();
        }
    };
    // After each plate, however it was read: false ends the run.
    auto handled = [&](const PlateItem& plate, int index, bool stepped) {
        if (!stepped) {
            Log("%s", texts.cancelled);
            result.stopped = true;
            return false;
        }
        ++result.handled;
        run.host.PlateHandled(index);
        if (run.period.Elapsed()) {
            step.ShowProgress(run.operation, plate, result);
            run.host.PumpMessages();
        }
        if (run.operation.IsAborted()) {
            Log("%s", texts.aborted);
            result.aborted = true;
            return false;
        }
        return true;
    };
    try {
        // The plates the plugin's stream did not hand out are read by name.
        std::optional<ListSelection> rest;
        bool ended = false;
        if (step.TakesData() && run.action.HasPlateStream()) {
            rest.emplace(run.selection);
            ended = !StreamSelectedPlates(run.action, run.plates, *rest,
                                          [&](int index, const PlateItem& plate, const void* data, uint32_t size) {
                                              return handled(plate, index,
                                                             step.StepData(plate, index, data, size, result));
                                          });
        }
        const ListSelection& left = rest ? *rest : run.selection;
        for (int index = left.NextSelected(0); !ended && index >= 0; index = left.NextSelected(index + 1)) {
            PlateItem plate;
            if (!run.plates.At(index, &plate)) {
                Log("Strange diff indexes: list %d == NULL", index);
                break;
            }
            if (!handled(plate, index, step.Step(plate, index, result)))
                break;
        }
        step.Finish(result);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}
