#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "Json.h"

#include "base/SizeText.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "plates/ContainerRun.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>

namespace cli {

int CheckContainerOf(Context& context, const std::string& storage, bool* damaged)
{
    *damaged = false;
    const PluginEntry* plugin = nullptr;
    if (int code = SourcePlugin(context, storage, &plugin); code != kExitDone)
        return code;
    OpenStorage open;
    if (int code = LoadEntry(*plugin, &open); code != kExitDone)
        return code;
    // A storage without a container of its own (a folder) is not opened
    // twice: the plates' check opens it.
    if (open.plugin->Container() == nullptr)
        return kExitDone;
    if (int code = OpenAction(storage, &open); code != kExitDone)
        return code;
    PRPeriod period(kProgressPeriodMs);
    const ContainerCheckResult result = CheckStorageContainer(*open.action, context.progress, period);
    for (const std::string& finding : result.findings) {
        if (context.options.json)
            std::printf("{\"container\":%s,\"finding\":%s}\n", JsonString(storage).c_str(), JsonString(finding).c_str());
        else
            std::printf("container\t%s\n", OneLine(finding).c_str());
    }
    std::fflush(stdout);
    if (result.aborted) {
        Say(context, "stopped: the container check was interrupted\n");
        return kExitInterrupted;
    }
    if (!result.checked) {
        // A file that cannot even be checked is no sound container.
        *damaged = true;
        std::fprintf(stderr, "\r\033[Kulmora-cli: the container cannot be checked: %s\n",
                     OneLine(result.errorText).c_str());
        return kExitDone;
    }
    *damaged = result.Damaged();
    Say(context, "container: %s\n",
        result.Damaged() ? Format("damaged, %zu problems found", result.findings.size()).c_str() : "sound");
    return kExitDone;
}

int Compact(Context& context)
{
    const Options& options = context.options;
    const std::string& storage = options.arguments[0];
    OpenStorage open;
    if (int code = OpenChosen(context, storage, &open); code != kExitDone)
        return code;
    StorageAction& action = *open.action;
    auto summary = [&](const CompactResult& result, int code) {
        return CompactSummary(context, storage, result.before, result.after, code);
    };
    if (!action.CanReclaimSpace())
        return Fail(kExitNoStorage, "the plugin " + std::string(open.entry->name) +
                                        " keeps no free space to reclaim in this kind of storage");
    if (options.dryRun) {
        uint64_t fileBytes = 0, freeBytes = 0;
        if (!MeasureStorageSpace(action, &fileBytes, &freeBytes))
            return Fail(kExitNoStorage, "cannot measure " + storage + ": " + ErrorText(kCurrentError));
        SayPlan(context, "would reclaim %s (%" PRIu64 " bytes) of %s (%" PRIu64 " bytes) in %s\n",
                FormatByteSize(freeBytes).c_str(), freeBytes, FormatByteSize(fileBytes).c_str(), fileBytes,
                storage.c_str());
        return CompactSummary(context, storage, fileBytes, fileBytes, kExitDone); // nothing given back
    }
    PRPeriod period(kProgressPeriodMs);
    const CompactResult result = CompactStorage(action, context.progress, period);
    if (result.aborted) {
        Say(context, "stopped: nothing changed\n");
        return summary(result, kExitInterrupted);
    }
    if (!result.done)
        return summary(result, Fail(kExitNoStorage, "cannot compact " + storage + ": " + OneLine(result.errorText)));
    Say(context, "%" PRIu64 " bytes reclaimed (%s): %s is now %s\n", result.Reclaimed(),
        FormatByteSize(result.Reclaimed()).c_str(), storage.c_str(), FormatByteSize(result.after).c_str());
    return summary(result, kExitDone);
}

} // namespace cli
