#include "config/ReplaceFile.h"

#include "log/LastErrorKeeper.h"
#include "platform/Files.h"
#include "platform/LastError.h"

#include <cerrno>

namespace {

// A file that may be written in a folder that may not: without a temporary
// file beside it, the file is rewritten where it is and flushed. A failure
// part way leaves it damaged, which the loader refuses, rather than the
// settings unsaved for good.
bool RewriteInPlace(platform::FileSystem& files, const std::string& path, std::string_view content, int folderError)
{
    std::unique_ptr<platform::WritableFile> file = files.OpenForWriting(path, platform::WriteMode::Truncate);
    if (!file) {
        platform::SetLastError(folderError);
        return false;
    }
    return file->Append(content.data(), content.size()) && file->Sync() && file->Close();
}

} // namespace

bool ReplaceFile(platform::FileSystem& files, const std::string& path, std::string_view content)
{
    // Rename would replace a read-only file without asking; the user made it
    // read-only to keep it.
    if (files.IsReadOnly(path))
        return false;
    std::string temporary;
    std::unique_ptr<platform::WritableFile> file = files.CreateTemporary(path, &temporary);
    if (!file) {
        const int why = platform::GetLastError();
        if (why == EACCES || why == EPERM)
            return RewriteInPlace(files, path, content, why);
        return false;
    }
    bool written = file->Append(content.data(), content.size()) && file->Sync() && file->Close() &&
                   files.Rename(temporary, path);
    if (!written) {
        LastErrorKeeper keep; // the cleanup must not hide why the save failed
        file.reset();
        files.Remove(temporary);
        return false;
    }
    // The new content is complete and in place; a folder that cannot be
    // synced only makes the rename less durable after a power cut.
    files.SyncFolderOf(path);
    return true;
}
