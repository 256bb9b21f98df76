#include "plates/ContainerRun.h"

#include "base/Translate.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plugins/Plugin.h"

namespace {

// The progress handler the action calls: the text when the period elapsed,
// and Abort.
StorageAction::ContainerProgress ProgressOf(const char* format, StorageAction& action, Operation& operation,
                                            PRPeriod& period)
{
    return [format, &action, &operation, &period](uint32_t done, uint32_t total) {
        if (!period.Elapsed())
            return true;
        operation.SetText(Translate(format), action.StoragePath().c_str(), static_cast<int>(done),
                          static_cast<int>(total));
        return !operation.IsAborted();
    };
}

} // namespace

ContainerCheckResult CheckStorageContainer(StorageAction& action, Operation& operation, PRPeriod& period)
{
    ContainerCheckResult result;
    result.supported = action.HasContainer();
    if (!result.supported)
        return result;
    OperationEnd end(operation);
    operation.SetAbortable(true);
    const uint32_t answer = action.CheckContainer(
        &result.findings, ProgressOf("Checking the container...\nDatabase: %s\nProcessed: %d of %d", action, operation, period));
    result.checked = answer == Done;
    result.aborted = answer == Aborted;
    if (answer == Failed)
        result.errorText = ErrorText(kCurrentError);
    if (result.Damaged()) {
        Log(Translate("The container of %s is damaged: %s"), action.StoragePath().c_str(), result.findings.front().c_str());
    } else if (!result.checked && !result.aborted) {
        Log(Translate("The container of %s could not be checked: %s"), action.StoragePath().c_str(),
            result.errorText.c_str());
    }
    return result;
}

bool MeasureStorageSpace(StorageAction& action, uint64_t* fileBytes, uint64_t* freeBytes)
{
    return action.MeasureSpace(fileBytes, freeBytes) == Done;
}

CompactResult CompactStorage(StorageAction& action, Operation& operation, PRPeriod& period)
{
    CompactResult result;
    result.supported = action.CanReclaimSpace();
    if (!result.supported) {
        result.errorText = Translate("The storage's format keeps no free space to reclaim");
        return result;
    }
    OperationEnd end(operation);
    operation.SetAbortable(true);
    const uint32_t answer = action.ReclaimSpace(
        ProgressOf("Reclaiming free space...\nDatabase: %s\nProcessed: %d of %d", action, operation, period),
        &result.before, &result.after);
    result.done = answer == Done;
    result.aborted = answer == Aborted;
    if (answer == Failed)
        result.errorText = ErrorText(kCurrentError);
    if (result.done)
        Log(Translate("Compacted %s: %llu of %llu bytes reclaimed"), action.StoragePath().c_str(),
            static_cast<unsigned long long>(result.Reclaimed()), static_cast<unsigned long long>(result.before));
    else if (!result.aborted)
        Log(Translate("Cannot compact %s: %s"), action.StoragePath().c_str(), result.errorText.c_str());
    return result;
}
