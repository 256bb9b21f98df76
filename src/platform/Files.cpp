#include "platform/Files.h"

#include "platform/LastError.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

namespace {

bool Fail()
{
    SetLastError(errno);
    return false;
}

class PosixFile final : public WritableFile {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool Append(const void* data, std::size_t size) override
    {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            ssize_t written = ::write(fd_, bytes, size);
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                return Fail();
            }
            if (written == 0) {
                SetLastError(ENOSPC);
                return false;
            }
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    }

    bool Sync() override { return ::fsync(fd_) == 0 || Fail(); }

    bool Close() override
    {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || Fail();
    }

private:
    int fd_;
};

std::string Folder(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

class RealFiles final : public FileSystem {
public:
    bool ReadFile(const std::string& path, std::string* content, std::size_t limit) override
    {
        // Non-blocking, so that a pipe without a writer cannot stall the open.
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return Fail();
        PosixFile guard(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0)
            return Fail();
        if (!S_ISREG(info.st_mode)) {
            SetLastError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
            return false;
        }
        if (static_cast<unsigned long long>(info.st_size) > limit) {
            SetLastError(EFBIG);
            return false;
        }
        content->clear();
        char buffer[65536];
        while (true) {
            ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return Fail();
            }
            if (got == 0)
                return true;
            // The file may have grown since fstat.
            if (content->size() + static_cast<std::size_t>(got) > limit) {
                SetLastError(EFBIG);
                return false;
            }
            content->append(buffer, static_cast<std::size_t>(got));
        }
    }

    std::unique_ptr<WritableFile> OpenForWriting(const std::string& path, WriteMode mode) override
    {
        int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == WriteMode::Append ? O_APPEND : O_TRUNC);
        int fd = ::open(path.c_str(), flags, 0666);
        if (fd < 0) {
            Fail();
            return nullptr;
        }
        return std::make_unique<PosixFile>(fd);
    }

    std::unique_ptr<WritableFile> CreateTemporary(const std::string& target, std::string* path) override
    {
        // A short hidden name in the same folder: the rename then stays on
        // one file system, and a name near the length limit still fits.
        std::string name = Folder(target) + ".ulmora-save-XXXXXX";
        int fd = ::mkstemp(name.data());
        if (fd < 0) {
            Fail();
            return nullptr;
        }
        auto file = std::make_unique<PosixFile>(fd);
        struct stat info {};
        if (::stat(target.c_str(), &info) == 0 && ::fchmod(fd, info.st_mode & 07777) != 0) {
            Fail();
            file.reset();
            ::unlink(name.c_str());
            return nullptr;
        }
        *path = name;
        return file;
    }

    bool IsReadOnly(const std::string& path) override
    {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            return false;
        if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0)
            return false;
        SetLastError(EACCES);
        return true;
    }

    bool Rename(const std::string& from, const std::string& to) override
    {
        return ::rename(from.c_str(), to.c_str()) == 0 || Fail();
    }

    bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 || Fail(); }

    bool SyncFolderOf(const std::string& path) override
    {
        int fd = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return Fail();
        PosixFile folder(fd);
        return folder.Sync();
    }

    std::string FullPath(const std::string& path) override
    {
        if (path.empty())
            return path;
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr)
            return resolved;
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(path, error);
        return error ? path : absolute.string();
    }
};

} // namespace

std::unique_ptr<WritableFile> FileSystem::CreateNew(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        Fail();
        return nullptr;
    }
    return std::make_unique<PosixFile>(fd);
}

bool FileSystem::MakeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || Fail(); }

bool FileSystem::RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return Fail();
    // A file system without the flag: the check and the move are two steps.
    struct stat info {};
    if (::lstat(to.c_str(), &info) == 0) {
        SetLastError(EEXIST);
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 || Fail();
}

bool FileSystem::SyncFileSystemOf(const std::string& path)
{
    int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Fail();
    const bool synced = ::syncfs(fd) == 0 || Fail();
    ::close(fd);
    return synced;
}

bool FileSystem::FreeRoom(const std::string& path, Room* room)
{
    std::string at = path;
    if (at.empty())
        at.assign(1, '.');
    struct statvfs info {};
    while (::statvfs(at.c_str(), &info) != 0) {
        if (errno != ENOENT || at == "." || at == "/")
            return Fail();
        while (at.size() > 1 && at.back() == '/')
            at.pop_back();
        const std::size_t slash = at.rfind('/');
        if (slash == std::string::npos)
            at.assign(1, '.');
        else
            at.resize(slash == 0 ? 1 : slash);
    }
    const unsigned long long unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    room->bytes = static_cast<unsigned long long>(info.f_bavail) * unit;
    room->files = info.f_files == 0 ? kNoFileLimit : static_cast<unsigned long long>(info.f_favail);
    room->block = unit != 0 ? unit : 4096;
    return true;
}

FileSystem& RealFileSystem()
{
    static RealFiles files;
    return files;
}

} // namespace platform
