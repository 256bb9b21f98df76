#pragma once
// Export of the selected plates into a folder tree: one folder per name
// character but the last, the last character + ".jpg" as the file, written
// as ".jp" first and renamed when complete. With Move every plate whose file
// is durably on disk is then deleted from the storage.

#include "plates/ExportOptions.h"
#include "plates/PlateRun.h"
#include "platform/Files.h"

#include <string>
#include <string_view>
#include <unordered_set>

// Creates the missing folders of a path that ends with '/', remembering what
// it made or found in this run so that later plates of the same folders cost
// one lookup instead of a walk. Below the base folder (the export target) a
// folder that is a link is gone through only when it leads to a place inside
// the base: a link planted in the target must not carry plates elsewhere.
class FolderMaker {
public:
    explicit FolderMaker(platform::FileSystem& files, std::string base = {})
        : files_(files), base_(std::move(base))
    {
    }
    // False with the last error set when a folder cannot be made; logs
    // "le: %d" with the code then.
    bool MakeDirs(const std::string& path);

private:
    platform::FileSystem& files_;
    std::string base_; // ends with '/' when not empty
    std::unordered_set<std::string> known_;
};

// Plates moved per durability step: the files of a batch are synced in one
// step before any of its plates is deleted from the storage.
inline constexpr int kMoveBatch = 1000;

// Runs a whole export with options already chosen: the room check, the plate
// loop with its questions and progress, the summary lines and the reload.
// A target that is the storage, lies inside it or holds it is refused before
// anything is written (an error box; the result says refused): with Move,
// each plate's file would be the plate itself, deleted right after.
PlateRunResult RunExport(const PlateRun& run, ExportOptions options,
                         platform::FileSystem& files = platform::RealFileSystem());

// The check RunExport makes first, for callers that only plan a run: false
// with the error text set when `basePath` is the storage of `action`, lies
// inside it or holds it.
bool ExportTargetApart(const StorageAction& action, const std::string& basePath);

// The name as a log line can show it: bytes outside printable ASCII as \xHH.
std::string PrintableName(std::string_view name);
