#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "Json.h"

#include "app/Session.h"
#include "log/Errors.h"
#include "plates/BrokenPlates.h"
#include "plates/ImageDecoderModule.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
    // The container first: a damaged page can hide plates from the listing,
    // and every plate that is listed may still decode.
    bool damaged = false;
    if (int code = CheckContainerOf(context, options.arguments[0], &damaged); code != kExitDone)
        return code;
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, options.arguments[0]); code != kExitDone)
        return damaged ? kExitPlatesFailed : code;
    if (!LoadImageDecoderModule())
        return Fail(kExitNoStorage, ErrorText(kCurrentError));
    std::unique_ptr<FILE, int (*)(FILE*)> names(nullptr, &std::fclose);
    if (!options.namesOut.empty()) {
        const int fd = OpenToWrite(options.namesOut, false);
        if (fd >= 0)
            names.reset(::fdopen(fd, "w"));
        if (names == nullptr) {
            const std::string why = std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            return Fail(kExitNoStorage, "cannot write the names file " + options.namesOut + ": " + why);
        }
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
            std::fprintf(names.get(), "%s\n", item.name);
    }
    std::fflush(stdout);
    if (names && (std::fflush(names.get()) != 0 || std::ferror(names.get()) || std::fclose(names.release()) != 0))
        return Fail(kExitNoStorage, "cannot write the names file " + options.namesOut + ": " + std::strerror(errno));
    Say(context, "%s%d of %d plates checked, %zu broken\n", result.aborted ? "stopped: " : "", result.checked,
        result.selected, result.broken.size());
    if (result.aborted)
        return kExitInterrupted;
    return result.broken.empty() && !damaged ? kExitDone : kExitPlatesFailed;
}

} // namespace cli
