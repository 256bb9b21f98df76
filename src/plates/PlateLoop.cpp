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

PlateLoop::PlateLoop(const PlateRun& run, PlateStep& step, const PlateLoopTexts& texts, PlateRunResult& result)
    : run_(run), step_(step), texts_(texts), result_(result)
{
    result.started = true;
    run.operation.SetAbortable(true);
    Log("%s", texts.start.c_str());
}

bool PlateLoop::Handled(const PlateItem& plate, int index, bool stepped)
{
    if (!stepped) {
        Log("%s", texts_.cancelled);
        result_.stopped = true;
        ended_ = true;
        return false;
    }
    ++result_.handled;
    run_.host.PlateHandled(index);
    if (run_.period.Elapsed()) {
        step_.ShowProgress(run_.operation, plate, result_);
        run_.host.PumpMessages();
    }
    if (run_.operation.IsAborted()) {
        Log("%s", texts_.aborted);
        result_.aborted = true;
        ended_ = true;
        return false;
    }
    return true;
}

void PlateLoop::ReadByName(const ListSelection& selection)
{
    for (int index = selection.NextSelected(0); !ended_ && index >= 0; index = selection.NextSelected(index + 1)) {
        PlateItem plate;
        if (!run_.plates.At(index, &plate)) {
            Log("Strange diff indexes: list %d == NULL", index);
            ended_ = true;
            break;
        }
        Handled(plate, index, step_.Step(plate, index, result_));
    }
}

void PlateLoop::End()
{
    run_.operation.SetText(nullptr);
    result_.summary = Format(texts_.summary, result_.done, result_.selected);
    Log("%s", result_.summary.c_str());
    if (texts_.reload) {
        Log("%s", Translate("Reload items from storage..."));
        run_.host.ReloadStorage();
    }
}

void RunPlateLoop(const PlateRun& run, PlateStep& step, const PlateLoopTexts& texts, PlateRunResult& result)
{
    PlateLoop loop(run, step, texts, result);
    try {
        // The plates the plugin's stream did not hand out are read by name.
        std::optional<ListSelection> rest;
        if (step.TakesData() && run.action.HasPlateStream()) {
            rest.emplace(run.selection);
            StreamSelectedPlates(run.action, run.plates, *rest,
                                 [&](int index, const PlateItem& plate, const void* data, uint32_t size) {
                                     return loop.Handled(plate, index, step.StepData(plate, index, data, size, result));
                                 });
        }
        loop.ReadByName(rest ? *rest : run.selection);
        step.Finish(result);
    } catch (...) {
        loop.End();
        throw;
    }
    loop.End();
}
