#include "Commands.h"

#include "Cli.h"
#include "Context.h"

#include "base/SizeText.h"
#include "app/Session.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "plates/ChangeCheck.h"
#include "platform/FileInfo.h"
#include "plugins/PluginChoice.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace cli {

namespace {

// The same place, or one inside the other (a copy into a folder inside the
// source, or a folder that holds it, would write among the plates it reads).
bool SamePlace(const std::string& a, const std::string& b)
{
    const bool urlA = !UrlScheme(a).empty();
    const bool urlB = !UrlScheme(b).empty();
    if (urlA || urlB)
        return urlA && urlB && PathPart(a) == PathPart(b);
    return platform::PlacesOverlap(PathPart(a), PathPart(b));
}

// Makes a target that does not exist yet: a file with an extension becomes an
// empty file (an empty MBTiles storage to SQLite), anything else a folder.
int MakeTarget(const std::string& target, bool* made)
{
    const std::string path = PathPart(target);
    std::error_code error;
    *made = false;
    if (!UrlScheme(target).empty() || fs::exists(path, error))
        return kExitDone;
    const std::string last(LastComponent(path));
    if (last.find('.') != std::string::npos && last.back() != '/') {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return Fail(kExitNoStorage, "cannot create " + path + ": " + std::strerror(errno));
        ::close(fd);
    } else if (!fs::create_directories(path, error)) {
        return Fail(kExitNoStorage, "cannot create the folder " + path + ": " + error.message());
    }
    *made = true;
    return kExitDone;
}


} // namespace

int Copy(Context& context)
{
    const Options& options = context.options;
    const std::string& source = options.arguments[0];
    std::string target = options.arguments[1];
    if (SamePlace(source, target))
        return Fail(kExitUsage, "the source and the target are the same storage or overlap: copy into another one");

    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, source); code != kExitDone)
        return code;
    const PlateList& plates = session.Plates();
    const ListSelection& selection = session.Selection();
    const int selected = selection.SelectedCount();
    uint64_t bytes = 0;
    selection.ForEachSelected([&](int index) {
        PlateItem item;
        if (plates.At(index, &item))
            bytes += item.size;
    });

    // A path without an extension names a folder, which takes a layout.
    std::error_code ignored;
    const std::string targetPath = PathPart(target);
    const bool exists = fs::exists(targetPath, ignored);
    const bool folderTarget = fs::is_directory(targetPath, ignored) ||
                              (!exists && std::string(LastComponent(targetPath)).find('.') == std::string::npos);
    if (!options.layout.empty() && folderTarget && target.find('?') == std::string::npos)
        target += "?layout=" + options.layout;
    const PluginEntry* plugin = PluginFor(context, target, options.targetPlugin);
    if (plugin == nullptr)
        return kExitNoStorage;
    if ((plugin->flags & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "the plugin " + plugin->name + " cannot write: copy into a storage of another kind");
    if (options.dryRun) {
        std::printf("would copy %d plates, %s (%" PRIu64 " bytes), from %s into %s (plugin %s%s)\n", selected,
                    FormatByteSize(bytes).c_str(), bytes, source.c_str(), target.c_str(), plugin->name.c_str(),
                    exists ? "" : ", a new storage");
        return kExitDone;
    }
    bool made = false;
    if (int code = MakeTarget(target, &made); code != kExitDone)
        return code;
    OpenStorage into;
    if (int code = Open(*plugin, target, &into); code != kExitDone) {
        if (made)
            fs::remove(PathPart(target), ignored);
        return code;
    }

    Log("Copy %d plates data from storage %s into %s...", selected, source.c_str(), target.c_str());
    StorageAction& from = *session.Connection().Action();
    // Before the plates, so that the target's description is the source's.
    CopyMetadata(context, from, *into.action);
    context.progress.SetAbortable(true);
    int copied = 0;
    int failed = 0;
    int handled = 0;
    uint64_t copiedBytes = 0;
    bool aborted = false;
    std::vector<int> stored; // answered Done, counted again at the end
    for (int index = selection.NextSelected(0); index >= 0; index = selection.NextSelected(index + 1)) {
        PlateItem item;
        if (!plates.At(index, &item))
            break;
        const void* data = nullptr;
        uint32_t size = 0;
        const uint32_t got = from.GetPlateData(item.name, &data, &size);
        ++handled;
        std::string error;
        if (got == Failed) {
            error = "cannot read: " + ErrorText(kCurrentError);
        } else {
            if (got != Done || data == nullptr)
                size = 0; // a plate without data is stored as one
            if (into.action->Write(item.name, size ? data : "", size, WriteModeStore) == Done) {
                ++copied;
                copiedBytes += size;
                stored.push_back(index);
            } else {
                error = "cannot store: " + ErrorText(kCurrentError);
            }
        }
        if (!error.empty()) {
            ++failed;
            Log("Error copy plate %s: %s", item.name, error.c_str());
            if (failed <= 10)
                std::fprintf(stderr, "\r\033[Kulmora-cli: plate %s %s\n", item.name, OneLine(error).c_str());
        }
        if (session.Period().Elapsed())
            context.progress.SetText("Copy plates...\nInto: %s\nItem: %s\nProcessed: %d of %d", target.c_str(), item.name,
                                     handled, selected);
        if (context.progress.IsAborted()) {
            aborted = true;
            break;
        }
    }
    // A plate counts as copied once it is durably in the target: a batch the
    // plugin could not commit took back stores it had answered Done.
    if (!KeepDurableChanges(*into.action, plates, &stored, ChangeKind::Stored, failed > 0)) {
        Log("Cannot open %s again to check the copied plates: %s", target.c_str(), ErrorText(kCurrentError).c_str());
    } else if (static_cast<int>(stored.size()) < copied) {
        const int undone = copied - static_cast<int>(stored.size());
        Log("%d plates answered stored are not in %s: their batch failed", undone, target.c_str());
        std::fprintf(stderr, "\r\033[Kulmora-cli: %d plates answered stored are not in the target: their batch failed\n",
                     undone);
        failed += undone;
        copied -= undone;
        copiedBytes = 0;
        for (const int index : stored) {
            PlateItem item;
            if (plates.At(index, &item))
                copiedBytes += item.size;
        }
    }
    // Closing makes every stored plate durable.
    into.action->Close();
    context.progress.SetText(nullptr);
    Log("Plates successfully copied: %d of %d", copied, selected);
    if (failed > 10)
        std::fprintf(stderr, "ulmora-cli: %d more plates failed (see --log)\n", failed - 10);
    Say(context, "%s%d of %d plates copied (%s), %d failed\n", aborted ? "stopped: " : "", copied, selected,
        FormatByteSize(copiedBytes).c_str(), failed);
    if (aborted)
        return kExitInterrupted;
    return failed ? kExitPlatesFailed : kExitDone;
}

} // namespace cli
