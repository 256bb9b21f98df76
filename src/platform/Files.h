#pragma once
// Files, behind an interface so that tests can make any step fail (a full
// disk, a failed rename) without a real disk.
//
// Every call that fails returns false (or null) and leaves the system's code
// in the thread's last-error slot.

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>

namespace platform {

inline constexpr int kErrorFileNotFound = ENOENT;
inline constexpr int kErrorPathTooLong = ENAMETOOLONG;

// The longest path the system opens: longer ones fail with ENAMETOOLONG.
// Paths are carried whole up to this length and never cut.
inline constexpr std::size_t kMaxPathLength = 4095;

class WritableFile {
public:
    virtual ~WritableFile() = default; // closes the file if Close was not called

    // Writes all `size` bytes; a short write is a failure.
    virtual bool Append(const void* data, std::size_t size) = 0;
    // Pushes what was written to the disk.
    virtual bool Sync() = 0;
    virtual bool Close() = 0;
};

enum class WriteMode { Truncate, Append };

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // The whole content of a regular file of at most `limit` bytes. Anything
    // else (missing, a folder, a device, a pipe, larger) fails; EFBIG for a
    // file over the limit.
    virtual bool ReadFile(const std::string& path, std::string* content, std::size_t limit) = 0;

    // Opens `path` for writing, creating it when missing.
    virtual std::unique_ptr<WritableFile> OpenForWriting(const std::string& path, WriteMode mode) = 0;

    // Creates a new file with a unique name in the folder of `target`, with
    // the permissions of `target` when that exists. Its name goes to *path.
    virtual std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                          std::string* path) = 0;

    // True when `path` exists and must not be written: a file without any
    // write permission bit (also for a privileged user) or one this process
    // may not write. Sets EACCES then.
    virtual bool IsReadOnly(const std::string& path) = 0;

    // Replaces `to` by `from` in one step.
    virtual bool Rename(const std::string& from, const std::string& to) = 0;
    virtual bool Remove(const std::string& path) = 0;

    // Makes a rename in the folder of `path` durable.
    virtual bool SyncFolderOf(const std::string& path) = 0;

    // `path` made absolute, with symbolic links resolved when it exists, so
    // that replacing the file replaces the link's target, not the link.
    virtual std::string FullPath(const std::string& path) = 0;

    // The calls below act on the machine's file system unless a fake
    // overrides them, so that fakes only spell out the steps they break.

    // Creates a new file for writing; EEXIST when anything has that name, a
    // symbolic link included, so that a planted link is never written through.
    virtual std::unique_ptr<WritableFile> CreateNew(const std::string& path);
    // Creates one folder; EEXIST when something of that name is there.
    virtual bool MakeFolder(const std::string& path);
    // Moves `from` to `to` unless `to` exists (EEXIST then), in one step
    // where the file system can, so that nothing can slip in between.
    virtual bool RenameNoReplace(const std::string& from, const std::string& to);
    // Makes everything written to the file system that holds `path` durable:
    // file contents and folder entries alike.
    virtual bool SyncFileSystemOf(const std::string& path);

    struct Room {
        unsigned long long bytes = 0;  // free for this user
        unsigned long long files = 0;  // free inodes; kNoFileLimit when unlimited
        unsigned long long block = 0;  // allocation unit in bytes
    };
    static constexpr unsigned long long kNoFileLimit = ~0ull;
    // The room left on the file system that holds `path`, or would hold it:
    // a missing path is measured at its nearest existing folder.
    virtual bool FreeRoom(const std::string& path, Room* room);
};

// The file system of the machine.
FileSystem& RealFileSystem();

} // namespace platform
