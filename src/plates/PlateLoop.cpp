#include "plates/PlateLoop.h"

#include "base/ListSelection.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Log.h"
#include "log/Operation.h"

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
    try {
        for (int index = run.selection.NextSelected(0); index >= 0; index = run.selection.NextSelected(index + 1)) {
            PlateItem plate;
            if (!run.plates.At(index, &plate)) {
                Log("Strange diff indexes: list %d == NULL", index);
                break;
            }
            if (!step.Step(plate, index, result)) {
                Log("%s", texts.cancelled);
                result.stopped = true;
                break;
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
                break;
            }
        }
        step.Finish(result);
    } catch (...) {
        finish();
        throw;
    }
    finish();
}
