#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "Json.h"

#include "app/Session.h"
#include "log/Errors.h"
#include "plates/BrokenPlates.h"
#include "plates/ImageDecoderModule.h"

#include <cstdio>
#include <fstream>
#include <memory>

namespace cli {

namespace {

const char* FaultKey(PlateFault fault)
{
    switch (fault) {
    case PlateFault::Empty: return "empty";
    case PlateFault::Unreadable: return "unreadable";
    case PlateFault::Undecodable: return "undecodable";
    case PlateFault::WrongSize: return "size";
    }
    return "";
}


} // namespace

int Verify(Context& context)
{
    const Options& options = context.options;
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, options.arguments[0]); code != kExitDone)
        return code;
    if (!LoadImageDecoderModule())
        return Fail(kExitNoStorage, ErrorText(kCurrentError));
    std::unique_ptr<std::ofstream> names;
    if (!options.namesOut.empty()) {
        names = std::make_unique<std::ofstream>(options.namesOut, std::ios::trunc);
        if (!*names)
            return Fail(kExitNoStorage, "cannot write the names file " + options.namesOut);
    }
    const BrokenCheckResult result =
        FindBrokenPlates({*session.Connection().Action(), session.Plates(), session.Selection(), context.progress,
                          session.Period(), ImageFunctions(), options.threads});
    for (const BrokenPlate& broken : result.broken) {
        PlateItem item;
        session.Plates().At(broken.index, &item);
        if (options.json)
            std::printf("{\"name\":%s,\"fault\":\"%s\",\"detail\":%s}\n", JsonString(item.name).c_str(),
                        FaultKey(broken.fault), JsonString(DescribeFault(broken)).c_str());
        else
            std::printf("%s\t%s\n", item.name, DescribeFault(broken).c_str());
        if (names)
            *names << item.name << '\n';
    }
    std::fflush(stdout);
    if (names && !names->flush())
        return Fail(kExitNoStorage, "cannot write the names file " + options.namesOut);
    Say(context, "%s%d of %d plates checked, %zu broken\n", result.aborted ? "stopped: " : "", result.checked,
        result.selected, result.broken.size());
    if (result.aborted)
        return kExitInterrupted;
    return result.broken.empty() ? kExitDone : kExitPlatesFailed;
}

} // namespace cli
