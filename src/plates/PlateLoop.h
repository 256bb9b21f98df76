#pragma once
// The one pass over the selected plates that the export, delete and copy
// runs share: the start and summary lines, the progress text and the
// message pump, Abort, a stop asked for by a plate, the handled plates
// deselected one by one, and the end (progress closed, storage reloaded) on every way
// out. Each run brings its own step for one plate.

#include "plates/PlateRun.h"

#include <cstdint>
#include <string>

class ListSelection;
struct PlateItem;

// The lines of one kind of run, already translated; the summary takes the
// counts named.
struct PlateLoopTexts {
    std::string start;     // the first line, formatted
    const char* cancelled; // a plate stopped the run
    const char* aborted;   // the user pressed Abort
    const char* summary;   // (done, selected)
    bool reload = true;    // the run changed the storage: load it again at the end
};

class PlateStep {
public:
    virtual ~PlateStep() = default;
    // Handles one plate; false stops the run. Counts into `result`.
    virtual bool Step(const PlateItem& plate, int index, PlateRunResult& result) = 0;
    // A step that only needs each plate's data as the plugin hands it out
    // (a copy) answers true: the loop then takes the plates from the
    // plugin's plate stream where it has one, in the storage's own order,
    // and hands each to StepData; the plates the stream did not hand out go
    // to Step afterwards.
    virtual bool TakesData() const { return false; }
    // Handles one plate with its data (null and 0: the plate has none), as
    // Step does.
    virtual bool StepData(const PlateItem& plate, int index, const void* data, uint32_t size, PlateRunResult& result)
    {
        (void)data;
        (void)size;
        return Step(plate, index, result);
    }
    // Shows the progress after `plate` (the loop throttles it).
    virtual void ShowProgress(Operation& operation, const PlateItem& plate, const PlateRunResult& result) = 0;
    // After the last plate, however the loop ended but by an exception:
    // pending batches, the durability check.
    virtual void Finish(PlateRunResult&) {}
};

// The loop's parts, for a run whose plates come otherwise than from a list
// made before it (a copy that reads the storage as it lists it). Making it
// logs the start; Handled follows each plate; ReadByName steps through
// plates by name; End logs the summary and reloads (on every way out).
class PlateLoop {
public:
    // Sets `result.started`.
    PlateLoop(const PlateRun& run, PlateStep& step, const PlateLoopTexts& texts, PlateRunResult& result);
    // After each plate, however it was read, with what the step answered:
    // false ends the run (a plate stopped it, or Abort).
    bool Handled(const PlateItem& plate, int index, bool stepped);
    // Steps through the plates selected in `selection` by name, until one
    // ends the run.
    void ReadByName(const ListSelection& selection);
    // Whether a plate or Abort ended the run.
    bool Ended() const { return ended_; }
    void End();

private:
    const PlateRun& run_;
    PlateStep& step_;
    const PlateLoopTexts& texts_;
    PlateRunResult& result_;
    bool ended_ = false;
};

// Runs `step` over the selected plates of `run`; `result.selected` must be
// set. Sets `result.started`.
void RunPlateLoop(const PlateRun& run, PlateStep& step, const PlateLoopTexts& texts, PlateRunResult& result);
