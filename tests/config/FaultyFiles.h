#pragma once
// The machine's file system with one step made to fail on demand: a disk
// that is full after N bytes, a flush, close, rename or create that fails.

#include "platform/Files.h"
#include "platform/LastError.h"

#include <cerrno>
#include <cstddef>
#include <memory>
#include <string>

class FaultyFiles final : public platform::FileSystem {
public:
    enum class Fault { None, CreateTemporary, Append, Sync, Close, Rename };
    int createError = ENOSPC; // what a failing CreateTemporary says

    Fault fault = Fault::None;
    std::size_t bytesBeforeFull = 0; // for Fault::Append: written before the disk is full

    bool ReadFile(const std::string& path, std::string* content, std::size_t limit) override
    {
        return real().ReadFile(path, content, limit);
    }
    std::unique_ptr<platform::WritableFile> OpenForWriting(const std::string& path,
                                                           platform::WriteMode mode) override
    {
        return Wrap(real().OpenForWriting(path, mode));
    }
    std::unique_ptr<platform::WritableFile> CreateTemporary(const std::string& target,
                                                            std::string* path) override
    {
        if (fault == Fault::CreateTemporary)
            return Fail<std::unique_ptr<platform::WritableFile>>(createError);
        return Wrap(real().CreateTemporary(target, path));
    }
    bool IsReadOnly(const std::string& path) override { return real().IsReadOnly(path); }
    bool Rename(const std::string& from, const std::string& to) override
    {
        return fault == Fault::Rename ? Fail<bool>(EXDEV) : real().Rename(from, to);
    }
    bool Remove(const std::string& path) override { return real().Remove(path); }
    bool SyncFolderOf(const std::string& path) override { return real().SyncFolderOf(path); }
    std::string FullPath(const std::string& path) override { return real().FullPath(path); }

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
    std::unique_ptr<platform::WritableFile> Wrap(std::unique_ptr<platform::WritableFile> inner)
    {
        if (!inner)
            return nullptr;
        return std::make_unique<File>(*this, std::move(inner));
    }
};
