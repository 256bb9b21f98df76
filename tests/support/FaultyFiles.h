#pragma once
// The machine's file system with one step made to fail on demand, for every
// test that writes files: a disk that is full after N bytes, a failing
// create, sync, close or rename, a file system that cannot be synced, too
// little free room. It also counts the folders made and the file-system
// syncs, and never syncs a whole file system for real (on a shared disk that
// could take long; the real call is the benchmarks' to measure).

#include "platform/Files.h"
#include "platform/LastError.h"

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>

class FaultyFiles final : public platform::FileSystem {
public:
    enum class Fault {
        None,
        CreateTemporary, // CreateTemporary fails with createError
        Append,          // each file takes bytesBeforeFull bytes, then the disk is full (ENOSPC)
        Sync,            // a file's Sync fails (EIO)
        Close,           // a file's Close fails (EIO) after closing
        Rename,          // Rename fails (EXDEV)
        SyncFileSystem,  // SyncFileSystemOf fails (EIO)
    };
    Fault fault = Fault::None;
    int createError = ENOSPC;
    std::size_t bytesBeforeFull = 0;
    // When set, the faults of a file (Append, Sync, Close) hit only files
    // whose path ends so.
    std::string onlyFilesEndingIn;
    bool roomIsTiny = false; // FreeRoom: 1000 bytes and 2 files and folders

    int syncs = 0;       // SyncFileSystemOf calls
    int folderCalls = 0; // MakeFolder calls

    bool ReadFile(const std::string& path, std::string* content, std::size_t limit) override
    {
        return real().ReadFile(path, content, limit);
    }
    std::unique_ptr<platform::WritableFile> OpenForWriting(const std::string& path,
                                                           platform::WriteMode mode) override
    {
        return Wrap(path, real().OpenForWriting(path, mode));
    }
    std::unique_ptr<platform::WritableFile> CreateTemporary(const std::string& target,
                                                            std::string* path) override
    {
        if (fault == Fault::CreateTemporary)
            return Fail<std::unique_ptr<platform::WritableFile>>(createError);
        std::unique_ptr<platform::WritableFile> file = real().CreateTemporary(target, path);
        return Wrap(file ? *path : std::string(), std::move(file));
    }
    std::unique_ptr<platform::WritableFile> CreateNew(const std::string& path) override
    {
        return Wrap(path, FileSystem::CreateNew(path));
    }
    bool IsReadOnly(const std::string& path) override { return real().IsReadOnly(path); }
    bool Rename(const std::string& from, const std::string& to) override
    {
        return fault == Fault::Rename ? Fail<bool>(EXDEV) : real().Rename(from, to);
    }
    bool Remove(const std::string& path) override { return real().Remove(path); }
    bool SyncFolderOf(const std::string& path) override { return real().SyncFolderOf(path); }
    std::string FullPath(const std::string& path) override { return real().FullPath(path); }
    bool MakeFolder(const std::string& path) override
    {
        ++folderCalls;
        return FileSystem::MakeFolder(path);
    }
    bool SyncFileSystemOf(const std::string& path) override
    {
        ++syncs;
        if (fault == Fault::SyncFileSystem)
            return Fail<bool>(EIO);
        return !path.empty();
    }
    bool FreeRoom(const std::string& path, Room* room) override
    {
        if (!FileSystem::FreeRoom(path, room))
            return false;
        if (roomIsTiny) {
            room->bytes = 1000;
            room->files = 2;
        }
        return true;
    }

private:
    class File final : public platform::WritableFile {
    public:
        File(FaultyFiles& owner, std::unique_ptr<platform::WritableFile> inner)
            : owner_(owner), inner_(std::move(inner))
        {
        }
        bool Append(const void* data, std::size_t size) override
        {
            if (owner_.fault != Fault::Append)
                return inner_->Append(data, size);
            std::size_t room = owner_.bytesBeforeFull - written_;
            std::size_t part = size < room ? size : room;
            written_ += part;
            if (part > 0 && !inner_->Append(data, part))
                return false;
            return part == size || Fail<bool>(ENOSPC);
        }
        bool Sync() override { return owner_.fault == Fault::Sync ? Fail<bool>(EIO) : inner_->Sync(); }
        bool Close() override
        {
            bool closed = inner_->Close();
            return owner_.fault == Fault::Close ? Fail<bool>(EIO) : closed;
        }

    private:
        FaultyFiles& owner_;
        std::unique_ptr<platform::WritableFile> inner_;
        std::size_t written_ = 0;
    };

    template <typename T>
    static T Fail(int code)
    {
        platform::SetLastError(code);
        return T{};
    }
    static platform::FileSystem& real() { return platform::RealFileSystem(); }
    std::unique_ptr<platform::WritableFile> Wrap(const std::string& path, std::unique_ptr<platform::WritableFile> inner)
    {
        if (!inner || (!onlyFilesEndingIn.empty() && !path.ends_with(onlyFilesEndingIn)))
            return inner;
        return std::make_unique<File>(*this, std::move(inner));
    }
};
