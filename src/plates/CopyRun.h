#pragma once
// A copy of the selected plates into another storage, opened through a
// plugin of its own: each plate's data as the source plugin hands it out,
// stored unchanged. A plate counts as copied once it is durably in the
// target, whatever the target plugin answered before its batch failed.

#include "browse/StorageConnection.h"
#include "plates/PlateRun.h"

#include <functional>
#include <string>

struct CopyOptions {
    // Ask after each failed plate whether to go on (the box's tick makes
    // later failures only logged); false: failures are logged and counted.
    bool AskOnError = true;
    // Told of each failed plate (its name and why), for a caller that shows
    // them as they come; may be empty.
    std::function<void(const char* name, const std::string& why)> onFailure;
    // Plates of the source that its list does not hold (a load that kept
    // only some): then no copy of the list is a copy of the whole source,
    // whose description (bounds, center) would not fit what was copied.
    int notListed = 0;
};

// False with the error text set when `source` and `target` are one storage,
// or one lies inside the other: the copy would write among the plates it
// reads.
bool CopyTargetApart(const std::string& source, const std::string& target);

// Makes a target that does not exist yet: a name with an extension becomes
// an empty file (an empty MBTiles storage to SQLite), anything else a
// folder. `made` tells whether it was made (and may be removed again when it
// cannot be opened). False with the error text set.
bool MakeCopyTarget(const std::string& target, bool* made);

// Copies the selected plates of `run` into `target`, an open storage of a
// plugin that can write: the overlap check, the plate loop with its error
// questions and progress, the durability check, the summary lines. The
// source is not changed, so it is not loaded again; `target` is closed when
// it returns. A target that overlaps the source is refused before anything is
// written (an error box; the result says refused).
PlateRunResult RunCopy(const PlateRun& run, StorageAction& target, const CopyOptions& options = {});

// A copy of the plates of the storage `source` (opened through the plugin
// at `libraryPath`) that `keep` keeps, all when it is empty, that reads the
// storage once: where the plugin's stream leaves no plate out, the plates
// are listed into `connection` from it and each copied as it comes, instead
// of a listing first and a read of every plate after it. `openTarget` opens
// the target at the first plate kept, so that a copy of nothing makes none
// (null: it could not, and the run stops; the callee says why). `load` gets
// what the listing did. Where the plugin has no such stream, the storage is
// just loaded (every plate `keep` keeps) and nothing is copied: the result
// says not started, and the caller copies with RunCopy.
struct CopyWhileListing {
    StorageConnection& connection;
    std::string libraryPath;
    std::string source;
    PlateKeep keep;
    std::function<StorageAction*()> openTarget;
    Operation& operation;
    PRPeriod& period;
    PlateRunHost& host;
    BoxOwner owner = nullptr;
};
PlateRunResult RunCopyWhileListing(const CopyWhileListing& copy, const CopyOptions& options, LoadResult* load);
