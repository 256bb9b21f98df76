#pragma once
// Deletion of the selected plates from the storage, after one confirmation.

#include "plates/PlateRun.h"

// Runs a whole deletion: the write-support check, the confirmation, the plate
// loop with its error question and progress, the summary lines and the reload.
PlateRunResult RunDelete(const PlateRun& run);
