#include "plates/ExportRun.h"

#include "base/ImageFormat.h"
#include "base/ListSelection.h"
#include "base/PlateKey.h"
#include "base/SizeText.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/ChangeCheck.h"
#include "plates/PlateLoop.h"
#include "platform/FileInfo.h"
#include "platform/LastError.h"
#include "platform/Process.h"
#include "plugins/Plugin.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <functional>
#include <vector>

// ---- folders ---------------------------------------------------------------

bool FolderMaker::MakeDirs(const std::string& path)
{
    if (path.empty() || known_.count(path) != 0)
        return true;
    // Each folder of the path from the left, skipping the root's own slash.
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string folder = slash == std::string::npos ? path : path.substr(0, slash + 1);
        if (known_.count(folder) == 0) {
            if (!files_.MakeFolder(folder)) {
                if (platform::GetLastError() != EEXIST) {
                    const int code = platform::GetLastError();
                    Log("le: %d", code);
                    platform::SetLastError(code);
                    return false;
                }
                // Found, not made: below the base it may be a planted link.
                // Without its final '/', which would make lstat follow the link.
                const bool below = folder.size() > base_.size() && folder.starts_with(base_);
                const std::string entry = folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
                if (below && platform::IsSymbolicLink(entry) && !platform::ResolvesWithin(entry, base_)) {
                    SetErrorText(Translate("The folder %s is a link that leads out of the export target"),
                                 folder.c_str());
                    return false;
                }
            }
            known_.insert(folder);
        }
        if (slash == std::string::npos || slash + 1 >= path.size())
            break;
    }
    return true;
}

std::string PrintableName(std::string_view name)
{
    std::string text;
    for (unsigned char c : name) {
        if (c >= ' ' && c <= '~')
            text.push_back(static_cast<char>(c));
        else
            text += Format("\\x%02X", c);
    }
    return text;
}

namespace {

class Exporter {
public:
    Exporter(const PlateRun& run, ExportOptions& options, platform::FileSystem& files)
        : run_(run), options_(options), files_(files), folders_(files, options.BasePath),
          askSticks_(options.AskOnError ? 1 : 0)
    {
    }

    // False, after an error box, when the target is the storage, lies inside
    // it or holds it.
    bool TargetApart();
    // The room the selection needs against what the target file system has;
    // false when it does not fit and the user chose not to go on.
    bool RoomFits();
    // Exports the plate at `index` of the list; false stops the run.
    bool ExportPlate(const PlateItem& plate, int index);
    // Syncs the files of the pending moves, then deletes their plates; false
    // stops the run.
    bool FlushMoves();
    // With Move: counts the moved plates again once their deletions are
    // durable, as a batch the plugin could not commit takes deletions back.
    void CheckMoves();
    // Plates written so far: with Move also those whose deletion waits for
    // the next batch.
    int Written() const { return result.done + static_cast<int>(pendingMoves_.size()); }

    PlateRunResult result;

private:
    // Logs `line` (already formatted), then asks `question` (formatted with
    // the current error's text) when errors are asked about. True: go on.
    bool Failure(const std::string& line, const std::string& question);
    // Keeps the error code while the temporary file is removed.
    void DropTemporary(const std::string& temporary)
    {
        LastErrorKeeper keep;
        files_.Remove(temporary);
    }
    enum class Decision { Replace, Keep, Stop };
    Decision Existing(const std::string& temporary, const std::string& final);

    const PlateRun& run_;
    ExportOptions& options_;
    platform::FileSystem& files_;
    FolderMaker folders_;
    int askSticks_; // 0: errors are only logged
    std::vector<std::string> pendingMoves_; // the names of plates written, to delete
    std::vector<int> pendingIndices_;       // their places in the list
    std::vector<int> moved_;                // deletions answered Done
};

bool Exporter::Failure(const std::string& line, const std::string& question)
{
    result.errorText = ErrorText(kCurrentError);
    ++result.errors;
    {
        LastErrorKeeper keep;
        Log("%s", line.c_str());
    }
    return AskYesNo(run_.owner, &askSticks_, "%s", question.c_str());
}

// The place a storage path names: a folder storage's path may carry options
// after its last '?' ("FOLDER?layout=tms") when nothing has the whole name.
std::string StoragePlace(const std::string& path)
{
    const std::size_t mark = path.rfind('?');
    if (mark == std::string::npos || platform::PathExists(path))
        return path;
    return path.substr(0, mark);
}

} // namespace

bool ExportTargetApart(const StorageAction& action, const std::string& basePath)
{
    const std::string storage = StoragePlace(action.StoragePath());
    const std::string target = basePath.empty() ? std::string(".") : basePath;
    if (storage.empty() || !platform::PlacesOverlap(target, storage))
        return true;
    SetErrorText(Translate("The export folder %s overlaps the storage %s.\nExport into a folder outside the storage."),
                 target.c_str(), storage.c_str());
    return false;
}

namespace {

bool Exporter::TargetApart()
{
    if (ExportTargetApart(run_.action, options_.BasePath))
        return true;
    result.errorText = ErrorText(kCurrentError);
    result.refused = true;
    ErrorBox(run_.owner, "%s", result.errorText.c_str());
    return false;
}

bool Exporter::RoomFits()
{
    platform::FileSystem::Room room;
    if (!files_.FreeRoom(options_.BasePath, &room))
        return true; // cannot tell: the plates' own errors will say it
    // One block-rounded file per plate plus one folder per distinct name
    // prefix; prefixes are counted by hash so that the count stays cheap.
    unsigned long long bytes = 0;
    unsigned long long count = 0;
    std::unordered_set<std::size_t> folders;
    const std::hash<std::string_view> hash;
    PlateItem plate;
    run_.selection.ForEachSelected([&](int index) {
        if (!run_.plates.At(index, &plate))
            return;
        bytes += (plate.size + room.block - 1) / room.block * room.block;
        ++count;
        for (int length = plate.nameLength - 1; length > 0; --length)
            if (!folders.insert(hash(std::string_view(plate.name, static_cast<std::size_t>(length)))).second)
                break; // its shorter prefixes are counted already
    });
    count += folders.size();
    bytes += folders.size() * room.block;
    const bool fitsFiles = room.files == platform::FileSystem::kNoFileLimit || count <= room.files;
    if (bytes <= room.bytes && fitsFiles)
        return true;
    const std::string freeFiles =
        room.files == platform::FileSystem::kNoFileLimit ? std::string("-") : std::to_string(room.files);
    return AskYesNo(run_.owner, nullptr,
                    Translate("Not enough free room for the export in %s.\nNeeded: %s, %llu files and folders.\n"
                              "Free: %s, %s files and folders.\n\nContinue export plates?"),
                    options_.BasePath.c_str(), FormatByteSize(bytes).c_str(), count, FormatByteSize(room.bytes).c_str(),
                    freeFiles.c_str());
}

bool Exporter::ExportPlate(const PlateItem& plate, int index)
{
    const std::string_view name(plate.name, static_cast<std::size_t>(plate.nameLength));
    const PlateKey key(name);

    // A name is written only where it belongs: every character must stand
    // alone as a folder or file name (or, in a z/x/y tree, the name must be a
    // quadtree key), and the whole path must fit.
    const bool zxy = options_.Layout != LayoutPlates;
    PlateKey::Tile tile;
    bool hasTile = false;
    if (zxy) {
        if (const std::optional<PlateKey::Tile> found = key.ToTile()) {
            tile = *found;
            hasTile = true;
        }
    }
    const bool placed = zxy ? hasTile : key.IsPathSafe();
    std::string folder = options_.BasePath;
    if (hasTile) {
        folder += Format("%d/%u/", tile.z, tile.x);
    } else if (placed) {
        for (std::size_t i = 0; i + 1 < name.size(); ++i) {
            folder.push_back(name[i]);
            folder.push_back('/');
        }
    }
    // In a z/x/y tree the file's name is known only with its data.
    std::string temporary = folder + (name.empty() ? std::string() : std::string(1, name.back())) + ".jp";
    std::string final = temporary + "g";
    if (hasTile)
        final = folder + std::to_string(options_.Layout == LayoutTms ? (1u << tile.z) - 1 - tile.y : tile.y) + ".webp";
    if (!placed || final.size() > platform::kMaxPathLength) {
        if (!placed && zxy)
            SetErrorText(Translate("The plate name \"%s\" is no quadtree key: it has no z/x/y place"),
                         PrintableName(name).c_str());
        else if (!placed)
            SetErrorText(Translate("The plate name \"%s\" cannot be a file name"), PrintableName(name).c_str());
        else
            SetErrorText(Translate("The file path of the plate is longer than %d characters"),
                         static_cast<int>(platform::kMaxPathLength));
        const std::string why = ErrorText(kCurrentError);
        return Failure(Format(Translate("Plate \"%s\" is not exported: %s"), PrintableName(name).c_str(), why.c_str()),
                       Format(Translate("Error export plate data from database.\nError: %s\n\nContinue delete plates?"),
                              why.c_str()));
    }

    if (!folders_.MakeDirs(folder))
        return Failure(Format("Error creating %s directory", folder.c_str()),
                       Format(Translate("Error export plate data from database.\nError: %s\n\nContinue delete plates?"),
                              ErrorText(kCurrentError).c_str()));

    const void* data = nullptr;
    uint32_t size = 0;
    const uint32_t got = run_.action.GetPlateData(plate.name, &data, &size);
    if (got == Failed)
        return Failure(Format(Translate("Error get storage data for plate %s"), plate.name),
                       Format(Translate("Error get storage data for plate %s.\nError: %s\n\nContinue export plates?"),
                              plate.name, ErrorText(kCurrentError).c_str()));
    if (got == Done) {
        // The probe's own answer goes into the line, as the preview's does:
        // 1 for a block that cannot be read, 0 for a readable one that is empty.
        const bool probe = platform::IsReadable(data, size);
        if (data == nullptr || size == 0 || !probe) {
            const std::string text = Format(Translate("Plugin returns bad data pointer: %p[%d] (%d) for plate \"%s\""),
                                            data, static_cast<int>(size), probe ? 0 : 1, plate.name);
            return Failure(text, text);
        }
    } else {
        size = 0; // Empty: an empty file
    }
    if (hasTile) {
        // The longest extension was checked against the room above.
        final = final.substr(0, final.rfind('.') + 1) + ImageFormatExtension(SniffImageFormat(data, size));
        temporary = final.substr(0, final.size() - 1);
    }

    // A new file, never one found under that name: a link planted there
    // would carry the data elsewhere. A file left by an earlier run (or a
    // link) is removed, which removes a link itself, not what it points to.
    std::unique_ptr<platform::WritableFile> file = files_.CreateNew(temporary);
    if (!file && platform::GetLastError() == EEXIST && files_.Remove(temporary))
        file = files_.CreateNew(temporary);
    if (!file)
        return Failure(Format(Translate("Error create local file %s"), temporary.c_str()),
                       Format(Translate("Error create local file.\nFile: %s\nError: %s\n\nContinue export plates?"),
                              temporary.c_str(), ErrorText(kCurrentError).c_str()));
    // A failed close may mean lost data too, so it counts as a failed write.
    if ((size != 0 && !file->Append(data, size)) || !file->Close()) {
        {
            LastErrorKeeper keep;
            file.reset();
        }
        DropTemporary(temporary);
        return Failure(Format(Translate("Error write data to local file %s"), temporary.c_str()),
                       Format(Translate("Error save plate data to disk.\nFile: %s\nError: %s\n\nContinue export plates?"),
                              temporary.c_str(), ErrorText(kCurrentError).c_str()));
    }
    file.reset();

    bool moved = files_.RenameNoReplace(temporary, final);
    if (!moved && platform::GetLastError() == EEXIST) {
        switch (Existing(temporary, final)) {
        case Decision::Keep: return true;
        case Decision::Stop: return false;
        case Decision::Replace: break;
        }
        // Replaced in one step: the old file stays until the new one takes its name.
        moved = files_.Rename(temporary, final);
    }
    if (!moved) {
        DropTemporary(temporary);
        return Failure(Format(Translate("Error rename local file %s"), final.c_str()),
                       Format(Translate("Error rename saved plate data on disk.\nFile: %s\nError: %s\n\nContinue export plates?"),
                              final.c_str(), ErrorText(kCurrentError).c_str()));
    }

    if (options_.Move) {
        pendingMoves_.push_back(plate.name);
        pendingIndices_.push_back(index);
        return static_cast<int>(pendingMoves_.size()) < kMoveBatch || FlushMoves();
    }
    ++result.done;
    result.bytes += plate.size;
    return true;
}

// The file `final` is there already: by Over, keep it (counted as skipped),
// replace it, or stop. The temporary file goes whenever it is not used.
Exporter::Decision Exporter::Existing(const std::string& temporary, const std::string& final)
{
    int over = options_.Over;
    if (over == OverAsk) {
        Log(Translate("File [%s] exist"), final.c_str());
        int remembered = BoxCancel; // asks every time; a ticked box changes Over instead
        const int answer =
            AskYesNoCancel(run_.owner, &remembered, Translate("Image [%s] already exist.\nOverwrite it?"), final.c_str());
        if (answer == BoxYes) {
            Log("%s", Translate("Overwrite existing file with new data"));
            if (remembered == BoxYes)
                options_.Over = OverWrite;
            over = OverWrite;
        } else if (answer == BoxNo) {
            Log("%s", Translate("Leave existing file intact"));
            if (remembered == BoxNo)
                options_.Over = OverStay;
            over = OverStay;
        } else {
            Log("%s", Translate("Cancel writing images"));
            over = OverCancel;
        }
    }
    if (over == OverStay) {
        DropTemporary(temporary);
        ++result.skipped;
        return Decision::Keep;
    }
    if (over == OverCancel) {
        DropTemporary(temporary);
        return Decision::Stop;
    }
    return Decision::Replace;
}

bool Exporter::FlushMoves()
{
    if (pendingMoves_.empty())
        return true;
    std::vector<std::string> batch;
    batch.swap(pendingMoves_);
    std::vector<int> indices;
    indices.swap(pendingIndices_);
    const std::string target = options_.BasePath.empty() ? std::string(".") : options_.BasePath;
    if (!files_.SyncFileSystemOf(target)) {
        // Not known to be on disk: the plates stay in the storage.
        result.errors += static_cast<int>(batch.size()) - 1; // Failure counts one
        return Failure(Format(Translate("Error write data to local file %s"), target.c_str()),
                       Format(Translate("Error save plate data to disk.\nFile: %s\nError: %s\n\nContinue export plates?"),
                              target.c_str(), ErrorText(kCurrentError).c_str()));
    }
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const char* name = batch[i].c_str();
        if (run_.action.Write(name, nullptr, 0, WriteModeDelete) == Done) {
            ++result.done;
            moved_.push_back(indices[i]);
            PlateItem item;
            if (run_.plates.At(indices[i], &item))
                result.bytes += item.size;
            continue;
        }
        if (!Failure(Format("Error delete %s plate", name),
                     Format(Translate("Error delete plate [%s] data from database.\nError: %s\n\nContinue export plates?"),
                            name, ErrorText(kCurrentError).c_str()))) {
            // Their files are on disk and the plates still in the storage.
            result.skipped += static_cast<int>(batch.size() - i - 1);
            return false;
        }
    }
    return true;
}

void Exporter::CheckMoves()
{
    if (!KeepDurableChanges(run_.action, run_.plates, &moved_, ChangeKind::Deleted, result.errors > 0)) {
        result.errorText = ErrorText(kCurrentError);
        Log(Translate("Cannot open the storage again to check the deletions: %s"), result.errorText.c_str());
        // The files are on disk; whether the plates left the storage is not
        // known, so none counts as moved.
        result.unchecked = static_cast<int>(moved_.size());
        result.undone = result.unchecked;
        result.errors += result.undone;
        result.done -= result.undone;
        result.bytes = 0;
        return;
    }
    // Their files are on disk and the plates still in the storage.
    const int undone = result.done - static_cast<int>(moved_.size());
    if (undone <= 0)
        return;
    Log(Translate("%d plates answered deleted are still in the storage: their batch failed"), undone);
    result.errors += undone;
    result.done -= undone;
    result.bytes = ListedBytes(run_.plates, moved_);
}

// The export's step in the shared loop over the selected plates.
class ExportStep final : public PlateStep {
public:
    ExportStep(const PlateRun& run, const ExportOptions& options, Exporter& exporter)
        : run_(run), options_(options), exporter_(exporter)
    {
    }
    bool Step(const PlateItem& plate, int index, PlateRunResult&) override { return exporter_.ExportPlate(plate, index); }
    void ShowProgress(Operation& operation, const PlateItem& plate, const PlateRunResult& result) override
    {
        // A move counts a plate once written, before its deletion's batch.
        const int written = exporter_.Written();
        operation.SetText(Translate("Export plate data from database...\nPath: %s\nDatabase: %s\nItem: "
                                    "%s\nProcessed: %d of %d (%3.3lf%%)"),
                          options_.BasePath.c_str(), run_.action.StoragePath().c_str(), plate.name, written,
                          result.selected, written * 100.0 / result.selected);
    }
    // The plates written so far are moved however the loop ended.
    void Finish(PlateRunResult& result) override
    {
        if (!exporter_.FlushMoves() && !result.stopped) {
            Log("%s", Translate("Export cancelled with errors"));
            result.stopped = true;
        }
        if (options_.Move)
            exporter_.CheckMoves();
    }

private:
    const PlateRun& run_;
    const ExportOptions& options_;
    Exporter& exporter_;
};

} // namespace

PlateRunResult RunExport(const PlateRun& run, ExportOptions options, platform::FileSystem& files)
{
    Exporter exporter(run, options, files);
    PlateRunResult& result = exporter.result;
    result.selected = run.selection.SelectedCount();
    if (result.selected <= 0 || !exporter.TargetApart() || !exporter.RoomFits())
        return result;
    ExportStep step(run, options, exporter);
    RunPlateLoop(run, step,
                 {Format(Translate("Export %d plates data from storage..."), result.selected), Translate("Export cancelled with errors"),
                  Translate("Export stopped by the user"), Translate("Plates successfully exported from storage: %d of %d")},
                 result);
    return result;
}
