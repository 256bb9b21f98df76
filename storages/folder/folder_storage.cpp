#include "folder_storage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace folder {

namespace {

// Lower case, most common first: lookups try them in this order.
constexpr const char* kImageExtensions[] = {"jpg", "png", "jpeg", "webp", "gif", "bmp"};

bool IsImageExtension(std::string_view ext) {
    for (const char* known : kImageExtensions) {
        const std::string_view k(known);
        if (ext.size() == k.size() &&
            std::equal(ext.begin(), ext.end(), k.begin(), [](char a, char b) {
                return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
            }))
            return true;
    }
    return false;
}

// Splits "stem.ext" at its last dot; false unless ext is an image extension.
bool SplitImageFile(std::string_view file, std::string_view* stem) {
    const size_t dot = file.rfind('.');
    if (dot == std::string_view::npos || !IsImageExtension(file.substr(dot + 1)))
        return false;
    *stem = file.substr(0, dot);
    return true;
}

// A decimal number without sign or leading zeros, at most `max`.
bool ParseNumber(std::string_view text, uint64_t max, uint32_t* value) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + static_cast<uint64_t>(c - '0');
    }
    if (result > max)
        return false;
    *value = static_cast<uint32_t>(result);
    return true;
}

bool IsPlateLetter(char c) { return c >= 'q' && c <= 't'; }

// d_type spares a stat for folders on most file systems; the others and
// symbolic links need one.
bool IsDirectory(int dirFd, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return false;
    struct stat info {};
    return fstatat(dirFd, entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
}

// A regular file's size, following links; false for anything else.
bool RegularFileSize(int dirFd, const dirent* entry, uint32_t* size) {
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return false;
    struct stat info {};
    if (fstatat(dirFd, entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
        return false;
    *size = info.st_size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(info.st_size);
    return true;
}

// Opens a sub-folder as a directory stream; null with errno on failure.
DIR* OpenDir(int parentFd, const char* name) {
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir)
        close(fd);
    return dir;
}

class DirCloser {
public:
    explicit DirCloser(DIR* dir) : dir_(dir) {}
    ~DirCloser() {
        if (dir_)
            closedir(dir_);
    }
    DirCloser(const DirCloser&) = delete;
    DirCloser& operator=(const DirCloser&) = delete;

private:
    DIR* dir_;
};

bool IsHidden(const char* name) { return name[0] == '.'; }

std::string LastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

} // namespace

struct Storage::Walk {
    PlateCallback callback = nullptr;
    void* cookie = nullptr;
    int32_t number = 0;
    bool aborted = false;
    std::string error; // set when the walk stopped on a failure
    char name[plate_key::kNameBufferSize] = {};

    // Reports the plate in `name`; false when the callback says stop.
    bool Report(uint32_t size) {
        if (callback(cookie, ++number, name, 0, size) != 0)
            return true;
        aborted = true;
        return false;
    }
};

bool Storage::Open(const char* path) {
    folderName_ = LastComponent(path);
    if (*path == '\0')
        return FailOpen("No folder given");
    struct stat info {};
    if (stat(path, &info) != 0)
        return FailOpen(folderName_ + ": " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
        return FailOpen(folderName_ + " is not a folder");
    baseFd_ = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd_ < 0)
        return FailOpen(folderName_ + ": " + std::strerror(errno));

    DIR* dir = OpenDir(baseFd_, ".");
    if (!dir) {
        const std::string text = folderName_ + ": " + std::strerror(errno);
        Close();
        return FailOpen(text);
    }
    DirCloser closer(dir);
    bool plateTree = false;
    bool slippyTree = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        std::string_view stem;
        uint32_t zoom;
        if (name == "t" ? IsDirectory(baseFd_, entry) : SplitImageFile(name, &stem) && stem == "t")
            plateTree = true;
        else if (ParseNumber(name, plate_key::kMaxZoom, &zoom) && IsDirectory(baseFd_, entry))
            slippyTree = true;
    }
    if (!plateTree && !slippyTree) {
        Close();
        return FailOpen(folderName_ + " holds neither a plate tree (t/...) nor a z/x/y tile tree");
    }
    layout_ = plateTree ? Layout::PlateTree : Layout::SlippyTree;
    return true;
}

void Storage::Close() {
    if (baseFd_ >= 0)
        close(baseFd_);
    baseFd_ = -1;
    data_.clear();
    data_.shrink_to_fit();
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    Walk walk;
    walk.callback = callback;
    walk.cookie = cookie;
    const int rootFd = openat(baseFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0)
        return Fail(folderName_ + ": " + std::strerror(errno));
    if (layout_ == Layout::PlateTree)
        WalkPlateTree(rootFd, 0, walk);
    else {
        close(rootFd);
        WalkSlippyTree(walk);
    }
    if (walk.aborted)
        return Aborted;
    if (!walk.error.empty())
        return Fail(walk.error);
    return walk.number > 0 ? Done : Empty;
}

// Walks one folder of the plate tree; the first `depth` letters of
// walk.name are the folder's own name. Takes over `dirFd`.
bool Storage::WalkPlateTree(int dirFd, size_t depth, Walk& walk) {
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        walk.error = std::string("Cannot read a folder: ") + std::strerror(errno);
        return false;
    }
    DirCloser closer(dir);
    const bool atBase = depth == 0;
    const bool deepest = depth > plate_key::kMaxZoom;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        // Only "t" names the world plate; below it any quadrant letter.
        if (deepest || !IsPlateLetter(name[0]) || (atBase && name[0] != 't'))
            continue;
        walk.name[depth] = name[0];
        if (name[1] == '\0') {
            if (!IsDirectory(dirfd(dir), entry))
                continue;
            const int subFd = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (subFd < 0) {
                walk.error = std::string("Cannot read a folder: ") + std::strerror(errno);
                return false;
            }
            if (!WalkPlateTree(subFd, depth + 1, walk))
                return false;
        } else if (name[1] == '.' && IsImageExtension(name + 2)) {
            uint32_t size;
            if (!RegularFileSize(dirfd(dir), entry, &size))
                continue;
            walk.name[depth + 1] = '\0';
            if (!walk.Report(size))
                return false;
        }
    }
    return true;
}

bool Storage::WalkSlippyTree(Walk& walk) {
    DIR* base = OpenDir(baseFd_, ".");
    if (!base) {
        walk.error = folderName_ + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint32_t> zooms;
    {
        DirCloser closer(base);
        while (const dirent* entry = readdir(base)) {
            uint32_t zoom;
            if (ParseNumber(entry->d_name, plate_key::kMaxZoom, &zoom) && IsDirectory(baseFd_, entry))
                zooms.push_back(zoom);
        }
    }
    // Zoom folders are few: sorting them lists the plates in zoom order.
    std::sort(zooms.begin(), zooms.end());
    for (const uint32_t zoom : zooms) {
        const std::string zoomName = std::to_string(zoom);
        DIR* zoomDir = OpenDir(baseFd_, zoomName.c_str());
        if (!zoomDir) {
            walk.error = "Cannot read folder " + zoomName + ": " + std::strerror(errno);
            return false;
        }
        DirCloser closer(zoomDir);
        const uint64_t side = uint64_t{1} << zoom;
        while (const dirent* entry = readdir(zoomDir)) {
            uint32_t x;
            if (!ParseNumber(entry->d_name, side - 1, &x) || !IsDirectory(dirfd(zoomDir), entry))
                continue;
            const int columnFd = openat(dirfd(zoomDir), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (columnFd < 0) {
                walk.error = "Cannot read folder " + zoomName + "/" + entry->d_name + ": " +
                             std::strerror(errno);
                return false;
            }
            if (!WalkSlippyColumn(columnFd, {zoom, x, 0}, walk))
                return false;
        }
    }
    return true;
}

// Reports the tiles of one {z}/{x} folder. Takes over `columnFd`.
bool Storage::WalkSlippyColumn(int columnFd, const plate_key::Tile& column, Walk& walk) {
    DIR* dir = fdopendir(columnFd);
    if (!dir) {
        close(columnFd);
        walk.error = std::string("Cannot read a folder: ") + std::strerror(errno);
        return false;
    }
    DirCloser closer(dir);
    const uint64_t side = uint64_t{1} << column.z;
    while (const dirent* entry = readdir(dir)) {
        std::string_view stem;
        uint32_t y;
        uint32_t size;
        if (IsHidden(entry->d_name) || !SplitImageFile(entry->d_name, &stem) ||
            !ParseNumber(stem, side - 1, &y) || !RegularFileSize(dirfd(dir), entry, &size))
            continue;
        plate_key::Write({column.z, column.x, y}, walk.name);
        if (!walk.Report(size))
            return false;
    }
    return true;
}

std::string Storage::FindFile(const char* name, std::string* parent) {
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return {};
    std::string stem;
    if (layout_ == Layout::PlateTree) {
        const size_t length = tile.z + 1;
        parent->clear();
        for (size_t i = 0; i + 1 < length; ++i) {
            if (i > 0)
                parent->push_back('/');
            parent->push_back(name[i]);
        }
        if (parent->empty())
            *parent = ".";
        stem.assign(1, name[length - 1]);
    } else {
        *parent = std::to_string(tile.z) + "/" + std::to_string(tile.x);
        stem = std::to_string(tile.y);
    }

    struct stat info {};
    for (const bool upper : {false, true}) {
        for (const char* ext : kImageExtensions) {
            std::string path = *parent + "/" + stem + ".";
            for (const char* c = ext; *c; ++c)
                path.push_back(upper ? static_cast<char>(*c - 'a' + 'A') : *c);
            if (fstatat(baseFd_, path.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode))
                return path;
        }
    }
    // Mixed-case extensions such as "Jpg" are rare: look through the folder.
    DIR* dir = OpenDir(baseFd_, parent->c_str());
    if (!dir)
        return {};
    DirCloser closer(dir);
    while (const dirent* entry = readdir(dir)) {
        std::string_view fileStem;
        if (SplitImageFile(entry->d_name, &fileStem) && fileStem == stem)
            return *parent + "/" + entry->d_name;
    }
    return {};
}

uint32_t Storage::Locate(const char* name, std::string* path) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name \"" + std::string(name, strnlen(name, 40)) + "\"");
    std::string parent;
    *path = FindFile(name, &parent);
    if (path->empty())
        return Fail("No plate \"" + std::string(name) + "\" in " + folderName_);
    return Done;
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size) {
    std::string path;
    if (const uint32_t failure = Locate(name, &path); failure != Done)
        return failure;
    const int fd = openat(baseFd_, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail(path + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size > INT32_MAX) {
        close(fd);
        return Fail(path + ": cannot read its size");
    }
    data_.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < data_.size()) {
        const ssize_t n = read(fd, data_.data() + done, data_.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            close(fd);
            return Fail(path + ": " + (error ? std::strerror(error) : "file shrank while reading"));
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    *data = data_.data();
    *size = static_cast<uint32_t>(data_.size());
    return data_.empty() ? Empty : Done;
}

uint32_t Storage::Write(const char* name, const void*, uint32_t, uint32_t mode) {
    if (mode != WriteModeDelete)
        return Fail("Only deleting plates (write mode 2) is supported");
    std::string path;
    if (const uint32_t failure = Locate(name, &path); failure != Done)
        return failure;
    // Folders are left in place, even when empty: removing the last one
    // would turn the storage into a folder of no known layout.
    if (unlinkat(baseFd_, path.c_str(), 0) != 0)
        return Fail("Cannot delete " + path + ": " + std::strerror(errno));
    return Done;
}

} // namespace folder
