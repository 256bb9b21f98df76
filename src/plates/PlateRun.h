#pragma once
// What the export, delete and copy runs share: the parts of the program a run
// works on, what it needs of whoever starts it, and what it reports back.
// A run is plain C++: the window, a command-line tool or a test drives it.

#include "log/Boxes.h"

#include <cstdint>
#include <string>

class ListSelection;
class Operation;
class PlateList;
class PRPeriod;
class StorageAction;

// What a run needs of the program that starts it.
class PlateRunHost {
public:
    virtual ~PlateRunHost() = default;
    // Lets the program handle its pending events (repaint, the Abort button);
    // called after each progress text.
    virtual void PumpMessages() = 0;
    // Releases the storage and loads it again, so that the plate list shows
    // what the storage now holds; called once at the end of every run that
    // changes the storage.
    virtual void ReloadStorage() = 0;
    // The plate at `index` of the list is handled (exported, deleted, or
    // failed and passed over): a window deselects it, so that what stays
    // selected is what is left to do.
    virtual void PlateHandled(int index) { (void)index; }
};

// A host with nothing to show: a program without a window, a benchmark.
class QuietRunHost final : public PlateRunHost {
public:
    void PumpMessages() override {}
    void ReloadStorage() override {}
};

struct PlateRun {
    StorageAction& action;
    const PlateList& plates;
    const ListSelection& selection; // one bit per plate list item
    Operation& operation;
    PRPeriod& period;
    PlateRunHost& host;
    BoxOwner owner = nullptr;
};

struct PlateRunResult {
    bool started = false;  // false: nothing was done (nothing selected, refused or declined)
    bool refused = false;  // the run could not start as asked (a target that overlaps the storage)
    int selected = 0;
    int done = 0;          // plates exported (with Move: also deleted), deleted or copied
    int handled = 0;       // plates the run went through, done or not
    uint64_t bytes = 0;    // the data of the plates done (export and delete: their listed sizes)
    int undone = 0;        // answered done, then taken back by a batch that failed (counted in errors)
    int unchecked = 0;     // answered done, but they could not be checked (storage not opened again, run stopped)
                           // (counted in undone: a count is never higher than what is known)
    int errors = 0;        // plates that failed
    int skipped = 0;       // plates left alone on purpose (an existing file kept)
    bool aborted = false;  // the user pressed Abort
    bool stopped = false;  // an answer or a fault ended the run early
    std::string errorText; // the text of the last failure, if any
    std::string summary;   // the result line as logged ("Plates successfully exported from storage: 64 of 64")
};
