#include "plates/CopyRun.h"

#include "base/ListSelection.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/ChangeCheck.h"
#include "plates/PlateLoop.h"
#include "plates/StorageMetadata.h"
#include "platform/FileInfo.h"
#include "plugins/PluginChoice.h"
#include "plugins/Plugin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

bool CopyTargetApart(const std::string& source, const std::string& target)
{
    // A URL names no local place: it overlaps only the same URL's path.
    const bool urlSource = !UrlScheme(source).empty();
    const bool urlTarget = !UrlScheme(target).empty();
    const bool apart = urlSource || urlTarget
                           ? !(urlSource && urlTarget && StoragePathPart(source) == StoragePathPart(target))
                           : !platform::PlacesOverlap(StoragePathPart(source), StoragePathPart(target));
    if (apart)
        return true;
    SetErrorText("%s", Translate("the source and the target are the same storage or overlap: copy into another one"));
    return false;
}

bool MakeCopyTarget(const std::string& target, bool* made)
{
    const std::string path = StoragePathPart(target);
    std::error_code error;
    *made = false;
    // A storage behind a URL is the plugin's to reach, never a local file.
    if (!UrlScheme(target).empty() || fs::exists(path, error))
        return true;
    const std::string last(LastComponent(path));
    if (last.find('.') != std::string::npos && last.back() != '/') {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            SetErrorText(Translate("cannot create %s: %s"), path.c_str(), std::strerror(errno));
            return false;
        }
        ::close(fd);
    } else if (!fs::create_directories(path, error)) {
        SetErrorText(Translate("cannot create the folder %s: %s"), path.c_str(), error.message().c_str());
        return false;
    }
    *made = true;
    return true;
}

namespace {

class CopyStep final : public PlateStep {
public:
    // `listing`: the plates come as the source is listed, their number
    // unknown until the end.
    CopyStep(const PlateRun& run, StorageAction& target, const CopyOptions& options, bool listing = false)
        : run_(run), target_(target), options_(options), askSticks_(options.AskOnError ? 1 : 0), listing_(listing),
          notListed_(options.notListed)
    {
        // Grown by doubling, ten million plates would be copied over and
        // faulted in again several times.
        const auto selected = static_cast<std::size_t>(run.selection.SelectedCount());
        stored_.reserve(selected);
        sizes_.reserve(selected);
    }

    bool Step(const PlateItem& plate, int index, PlateRunResult& result) override
    {
        const void* data = nullptr;
        uint32_t size = 0;
        const uint32_t got = run_.action.GetPlateData(plate.name, &data, &size);
        if (got == Failed)
            return Failure(plate, index, Format(Translate("cannot read: %s"), ErrorText(kCurrentError).c_str()),
                           result);
        if (got != Done || data == nullptr)
            size = 0; // a plate without data is stored as one
        return StepData(plate, index, data, size, result);
    }

    // The data as the source handed it out, from a lookup or its stream.
    bool TakesData() const override { return true; }
    bool StepData(const PlateItem& plate, int index, const void* data, uint32_t size, PlateRunResult& result) override
    {
        if (data == nullptr)
            size = 0;
        if (target_.Write(plate.name, size != 0 ? data : "", size, WriteModeStore) == Done) {
            ++result.done;
            result.bytes += size;
            if (listing_) {
                end_ = index + 1;
            } else {
                stored_.push_back(index);
                sizes_.push_back(size);
            }
            uint64_t letters = 0;
            int length = 0;
            if (run_.plates.PackedLettersAt(index, &letters, &length))
                extent_.AddPacked(letters, length, data, size);
            else
                extent_.Add(plate.name, data, size);
            return true;
        }
        return Failure(plate, index, Format(Translate("cannot store: %s"), ErrorText(kCurrentError).c_str()), result);
    }

    // Counts, logs and tells a failed plate; false when the user stops.
    bool Failure(const PlateItem& plate, int index, const std::string& why, PlateRunResult& result)
    {
        ++result.errors;
        if (listing_) {
            end_ = index + 1;
            failed_.push_back(index);
        }
        result.errorText = why;
        {
            LastErrorKeeper keep;
            Log("Error copy plate %s: %s", plate.name, why.c_str());
        }
        if (options_.onFailure)
            options_.onFailure(plate.name, why);
        return AskYesNo(run_.owner, &askSticks_, Translate("Error copy plate %s.\nError: %s\n\nContinue copy plates?"),
                        plate.name, why.c_str());
    }

    // Set once the listing that the copy ran with has ended.
    void NotListed(int count) { notListed_ = count; }

    void ShowProgress(Operation& operation, const PlateItem& plate, const PlateRunResult& result) override
    {
        if (listing_) {
            // Their number is known only once the source is read.
            operation.SetText(Translate("Copy plates...\nInto: %s\nItem: %s\nProcessed: %d"),
                              target_.StoragePath().c_str(), plate.name, result.handled);
            return;
        }
        operation.SetText(Translate("Copy plates...\nInto: %s\nItem: %s\nProcessed: %d of %d"),
                          target_.StoragePath().c_str(), plate.name, result.handled, result.selected);
    }

    // A plate counts as copied once it is durably in the target: a batch the
    // plugin could not commit took back stores it had answered Done.
    void Finish(PlateRunResult& result) override
    {
        const std::string path = target_.StoragePath();
        // The source's description in the target's terms, with the extent,
        // zooms and format of what was stored; before the target closes (a
        // new PMTiles archive is written then, with it).
        CopyStorageMetadata(run_.action, target_, extent_,
                            result.done == run_.plates.Count() && result.errors == 0 && notListed_ == 0);
        if (result.errors == 0 && (listing_ ? end_ > 0 : !stored_.empty())) {
            // No plate failed: the last one stored, there in the target,
            // answers for all (the check below makes, without a list or a
            // copy of them all); only when it is not are they looked at one
            // by one.
            std::vector<int> last{listing_ ? end_ - 1 : stored_.back()};
            if (KeepDurableChanges(target_, run_.plates, &last, ChangeKind::Stored, false) && !last.empty()) {
                target_.Close();
                return;
            }
        }
        if (listing_) {
            // The plates came in list order: those up to the last one handed
            // were stored but for the failed ones.
            stored_.reserve(static_cast<std::size_t>(end_) - failed_.size());
            std::size_t next = 0;
            for (int index = 0; index < end_; ++index) {
                if (next < failed_.size() && failed_[next] == index)
                    ++next;
                else
                    stored_.push_back(index);
            }
        }
        // While listing the stored ones are needed no more: moved, not
        // copied (four bytes a plate of a copy of millions).
        const std::size_t storedCount = stored_.size();
        std::vector<int> durable = listing_ ? std::move(stored_) : stored_;
        if (!KeepDurableChanges(target_, run_.plates, &durable, ChangeKind::Stored, result.errors > 0)) {
            result.errorText = ErrorText(kCurrentError);
            Log(Translate("Cannot open %s again to check the copied plates: %s"), path.c_str(),
                result.errorText.c_str());
            // A target gone at the end (an object store that stopped answering)
            // may have lost its last batches: a plate counts as copied only
            // when it is known to be there, so that nobody deletes a source
            // on a count that was never true.
            result.unchecked = static_cast<int>(storedCount);
            result.undone = result.unchecked;
            result.errors += result.undone;
            result.done -= result.undone;
            result.bytes = 0;
        } else if (durable.size() < storedCount) {
            result.undone = static_cast<int>(storedCount - durable.size());
            Log(Translate("%d plates answered stored are not in %s: their batch failed"), result.undone, path.c_str());
            result.errors += result.undone;
            result.done -= result.undone;
            result.bytes = 0;
            if (listing_) {
                // Listed as they were read, the plates' sizes are their data's.
                for (const int index : durable)
                    result.bytes += run_.plates.SizeAt(index);
            } else {
                // Both in list order: the durable ones are a part of the stored.
                std::size_t next = 0;
                for (std::size_t i = 0; i < stored_.size() && next < durable.size(); ++i)
                    if (stored_[i] == durable[next]) {
                        result.bytes += sizes_[i];
                        ++next;
                    }
            }
        }
        // Closing makes every stored plate durable.
        target_.Close();
    }

private:
    const PlateRun& run_;
    StorageAction& target_;
    const CopyOptions& options_;
    int askSticks_; // 0: failures are only logged
    bool listing_;
    int notListed_; // plates of the source not in the list
    std::vector<int> stored_;      // answered Done, counted again at the end
    std::vector<uint32_t> sizes_;  // their data's sizes
    // While listing (plates handed in list order): the end of those handed
    // and the failed ones among them, instead of stored_ and sizes_ growing
    // with millions of plates.
    int end_ = 0;
    std::vector<int> failed_;
    CopiedExtent extent_;          // where the stored plates lie, their zooms and format
};

} // namespace

PlateRunResult RunCopy(const PlateRun& run, StorageAction& target, const CopyOptions& options)
{
    PlateRunResult result;
    result.selected = run.selection.SelectedCount();
    if (result.selected <= 0) {
        target.Close();
        return result;
    }
    if (!CopyTargetApart(run.action.StoragePath(), target.StoragePath())) {
        result.errorText = ErrorText(kCurrentError);
        result.refused = true;
        target.Close();
        ErrorBox(run.owner, "%s", result.errorText.c_str());
        return result;
    }
    CopyStep step(run, target, options);
    PlateLoopTexts texts{Format(Translate("Copy %d plates data from storage %s into %s..."), result.selected,
                                run.action.StoragePath().c_str(), target.StoragePath().c_str()),
                         Translate("Copy cancelled with errors"), Translate("Copy stopped by the user"),
                         Translate("Plates successfully copied: %d of %d")};
    texts.reload = false;
    RunPlateLoop(run, step, texts, result);
    return result;
}

PlateRunResult RunCopyWhileListing(const CopyWhileListing& copy, const CopyOptions& options, LoadResult* load)
{
    PlateRunResult result;
    const PlateList& plates = copy.connection.Plates();
    ListSelection rest; // the plates to read by name: those the stream did not hand out
    StorageAction* target = nullptr;
    std::optional<PlateRun> run;
    std::optional<CopyStep> step;
    std::optional<PlateLoop> loop;
    PlateLoopTexts texts{"", Translate("Copy cancelled with errors"), Translate("Copy stopped by the user"),
                         Translate("Plates successfully copied: %d of %d")};
    texts.reload = false;
    const ListedData withData = [&](int index, const PlateItem& plate, const void* data, uint32_t size) {
        if (!loop) {
            target = copy.openTarget();
            if (target == nullptr)
                return false;
            texts.start = Format(Translate("Copy the plates of storage %s into %s as they are listed..."),
                                 copy.source.c_str(), target->StoragePath().c_str());
            run.emplace(PlateRun{*copy.connection.Action(), plates, rest, copy.operation, copy.period, copy.host,
                                 copy.owner});
            step.emplace(*run, *target, options, true);
            loop.emplace(*run, *step, texts, result);
        }
        result.selected = index + 1;
        return loop->Handled(plate, index, step->StepData(plate, index, data, size, result));
    };
    int handed = 0;
    try {
        *load = copy.connection.LoadStorageWithData(copy.libraryPath, copy.source, copy.keep, withData, &handed);
        if (!loop)
            return result; // nothing handed out: not started
        result.selected = plates.Count();
        if (load->outcome == LoadResult::Outcome::Aborted && !loop->Ended()) {
            // Stopped while the listing passed over plates not kept.
            Log("%s", texts.aborted);
            result.aborted = true;
        } else if (!loop->Ended()) {
            // After a stream that failed: the plates listed after it.
            rest.Resize(plates.Count());
            for (int index = handed; index < plates.Count(); ++index)
                rest.SetSelected(index, true);
            loop->ReadByName(rest);
        }
        step->NotListed(load->passed);
        step->Finish(result);
    } catch (...) {
        if (loop)
            loop->End();
        throw;
    }
    loop->End();
    return result;
}
