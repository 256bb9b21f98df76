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

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
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
    // `listAgain` (for a copy while listing): the plates come as the
    // source's stream hands them out, their number unknown until the end, and
    // no list keeps them; it lists the source's plates again, should they
    // have to be checked in the target one by one.
    CopyStep(const PlateRun& run, StorageAction& target, const CopyOptions& options,
             std::function<bool(PlateList*)> listAgain = {})
        : run_(run), target_(target), options_(options), askSticks_(options.AskOnError ? 1 : 0),
          listing_(static_cast<bool>(listAgain)), notListed_(options.notListed), listAgain_(std::move(listAgain))
    {
        if (!listing_)
            stored_.Resize(run.plates.Count());
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
                lastName_.assign(plate.name, static_cast<std::size_t>(plate.nameLength));
                lastNumber_ = plate.number;
                lastSize_ = size;
                extent_.Add({plate.name, static_cast<std::size_t>(plate.nameLength)}, data, size);
            } else {
                stored_.SetSelected(index, true);
                last_ = index;
                uint64_t letters = 0;
                int length = 0;
                if (run_.plates.PackedLettersAt(index, &letters, &length))
                    extent_.AddPacked(letters, length, data, size);
                else
                    extent_.Add(plate.name, data, size);
            }
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
            if (uint64_t key = 0; PlateList::PackedKeyOf(plate.name, &key))
                failedKeys_.push_back(key);
            else
                failedNames_.emplace_back(plate.name);
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
        const int handed = listing_ ? end_ : run_.plates.Count();
        CopyStorageMetadata(run_.action, target_, extent_,
                            result.done == handed && result.errors == 0 && notListed_ == 0);
        if (result.errors == 0 && (listing_ ? end_ > 0 : last_ >= 0)) {
            // No plate failed: the last one stored, there in the target,
            // answers for all (the check below makes, without a list or a
            // copy of them all); only when it is not are they looked at one
            // by one.
            PlateList lastOnly;
            if (listing_)
                lastOnly.Append(lastName_.c_str(), lastNumber_, lastSize_);
            std::vector<int> last{listing_ ? 0 : last_};
            if (KeepDurableChanges(target_, listing_ ? lastOnly : run_.plates, &last, ChangeKind::Stored, false) &&
                !last.empty()) {
                target_.Close();
                return;
            }
        }
        // The plates stored, in list order. While listing they are known
        // again only by listing the source again, and only when its stream
        // handed out every plate.
        PlateList again;
        std::vector<int> stored;
        bool known = true;
        if (listing_) {
            known = !result.aborted && !result.stopped && listAgain_(&again);
            if (known)
                stored = StoredAmong(again);
            else
                Log("The plates copied into %s cannot be checked one by one: the source was not read to its end",
                    path.c_str());
        } else {
            stored.reserve(static_cast<std::size_t>(stored_.SelectedCount()));
            stored_.ForEachSelected([&](int index) { stored.push_back(index); });
        }
        const PlateList& plates = listing_ ? again : run_.plates;
        const auto storedCount = static_cast<std::size_t>(result.done); // answered Done, one by one
        std::vector<int> durable = stored;
        // One by one: the last-plate shortcut failed above, or some failed
        // (and, listed again, the plates are in another order than stored).
        bool checked = known;
        if (known && !KeepDurableChanges(target_, plates, &durable, ChangeKind::Stored, true)) {
            checked = false;
            result.errorText = ErrorText(kCurrentError);
            Log(Translate("Cannot open %s again to check the copied plates: %s"), path.c_str(),
                result.errorText.c_str());
        } else if (!known) {
            result.errorText = "the copy stopped before the source was read to its end";
        }
        if (!checked) {
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
            // The data of those not there taken back, their sizes read from
            // the source again (a listing's sizes need not be them). Both in
            // list order: the durable ones are a part of the stored.
            std::size_t next = 0;
            for (const int index : stored) {
                if (next < durable.size() && durable[next] == index)
                    ++next;
                else
                    result.bytes -= std::min<uint64_t>(result.bytes, DataSize(plates, index));
            }
        }
        // Closing makes every stored plate durable.
        target_.Close();
    }

private:
    // The size of a plate's data in the source; its listed size when it
    // cannot be read.
    uint64_t DataSize(const PlateList& plates, int index)
    {
        PlateItem plate;
        const void* data = nullptr;
        uint32_t size = 0;
        if (plates.At(index, &plate) && run_.action.GetPlateData(plate.name, &data, &size) == Done)
            return size;
        return plates.SizeAt(index);
    }

    // The plates of `listed` (the source listed again) but those that failed.
    std::vector<int> StoredAmong(const PlateList& listed)
    {
        std::sort(failedKeys_.begin(), failedKeys_.end());
        std::sort(failedNames_.begin(), failedNames_.end());
        std::vector<int> stored;
        for (int index = 0; index < listed.Count(); ++index) {
            uint64_t key = 0;
            PlateItem plate;
            const bool failed =
                listed.PackedKeyAt(index, &key)
                    ? std::binary_search(failedKeys_.begin(), failedKeys_.end(), key)
                    : listed.At(index, &plate) &&
                          std::binary_search(failedNames_.begin(), failedNames_.end(), std::string(plate.name));
            if (!failed)
                stored.push_back(index);
        }
        return stored;
    }

    const PlateRun& run_;
    StorageAction& target_;
    const CopyOptions& options_;
    int askSticks_; // 0: failures are only logged
    bool listing_;
    int notListed_; // plates of the source not in the list
    // The plates answered Done, one bit each (what is stored is counted
    // again at the end), and the last of them.
    ListSelection stored_;
    int last_ = -1;
    // While listing, which keeps no list: the plates handed so far, the last
    // of them and the failed ones among them (packed, else spelt out).
    int end_ = 0;
    std::string lastName_;
    int32_t lastNumber_ = 0;
    uint32_t lastSize_ = 0;
    std::vector<uint64_t> failedKeys_;
    std::vector<std::string> failedNames_;
    std::function<bool(PlateList*)> listAgain_;
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

namespace {

// Lists the plates of `action` that `keep` keeps into `plates`.
class Relister {
public:
    explicit Relister(const PlateKeep& keep, PlateList& plates) : keep_(keep), plates_(plates) {}
    bool List(StorageAction& action)
    {
        const uint32_t found = action.Enumerate(0, StorageAction::PlateHandler::Bind<&Relister::OnPlate>(this), 2);
        return found == Done || found == Empty;
    }

private:
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        if (!keep_ || keep_(name))
            plates_.Append(name, number, size);
        return true;
    }
    const PlateKeep& keep_;
    PlateList& plates_;
};

} // namespace

PlateRunResult RunCopyWhileListing(const CopyWhileListing& copy, const CopyOptions& options, LoadResult* load)
{
    PlateRunResult result;
    const PlateList& plates = copy.connection.Plates();
    ListSelection all; // after a stream that failed: every plate, read by name
    StorageAction* target = nullptr;
    std::optional<PlateRun> run;
    std::optional<CopyStep> step;
    std::optional<PlateLoop> loop;
    PlateLoopTexts texts{"", Translate("Copy cancelled with errors"), Translate("Copy stopped by the user"),
                         Translate("Plates successfully copied: %d of %d")};
    texts.reload = false;
    const auto listAgain = [&](PlateList* again) {
        Relister relister(copy.keep, *again);
        return relister.List(*copy.connection.Action());
    };
    const ListedData withData = [&](int index, const PlateItem& plate, const void* data, uint32_t size) {
        if (!loop) {
            target = copy.openTarget();
            if (target == nullptr)
                return false;
            texts.start = Format(Translate("Copy the plates of storage %s into %s as they are listed..."),
                                 copy.source.c_str(), target->StoragePath().c_str());
            run.emplace(PlateRun{*copy.connection.Action(), plates, all, copy.operation, copy.period, copy.host,
                                 copy.owner});
            step.emplace(*run, *target, options, listAgain);
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
        if (load->outcome == LoadResult::Outcome::Aborted && !loop->Ended()) {
            // Stopped while the listing passed over plates not kept.
            Log("%s", texts.aborted);
            result.aborted = true;
        } else if (!loop->Ended() && plates.Count() > 0) {
            // After a stream that failed, the source was listed: every plate
            // is copied again, by name (the target takes a plate stored
            // twice as stored once), and counted from there.
            result.done = result.errors = result.handled = 0;
            result.bytes = 0;
            result.errorText.clear();
            all.Resize(plates.Count());
            all.SelectAll();
            // The loop's step, made anew for plates by name.
            step.emplace(*run, *target, options);
            loop->ReadByName(all);
        }
        result.selected = plates.Count() > 0 ? plates.Count() : handed;
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
