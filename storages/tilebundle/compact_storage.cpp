#include "compact_storage.h"

#include "dir_closer.h"
#include "seed_config.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace compact {

namespace {

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string LastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

bool EndsWith(const std::string& text, const char* end) {
    const size_t length = std::strlen(end);
    return text.size() >= length && text.compare(text.size() - length, length, end) == 0;
}

uint32_t U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint64_t U64(const unsigned char* p) { return U32(p) | static_cast<uint64_t>(U32(p + 4)) << 32; }

// Reads exactly `size` bytes at `offset`; false on a short file or an error.
bool ReadAt(int fd, void* buffer, size_t size, uint64_t offset) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// "L05": the folder of level (zoom) 5.
bool ParseLevelName(const char* name, uint32_t* zoom) {
    if (name[0] != 'L' || name[1] < '0' || name[1] > '9' || name[2] < '0' || name[2] > '9' || name[3] != '\0')
        return false;
    *zoom = static_cast<uint32_t>((name[1] - '0') * 10 + (name[2] - '0'));
    return *zoom <= plate_key::kMaxZoom;
}

bool ParseHex(const std::string& text, uint32_t* value) {
    if (text.size() < 4 || text.size() > 8)
        return false;
    uint64_t result = 0;
    for (const char c : text) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            return false;
        result = result * 16 + static_cast<uint64_t>(digit);
    }
    *value = static_cast<uint32_t>(result);
    return true;
}

DIR* OpenDirAt(int parentFd, const char* name) {
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir)
        close(fd);
    return dir;
}

struct Bundle {
    uint32_t row;
    uint32_t column;
    std::string file;
};

// The bundles of a level folder, by row then column; `legacy` tells whether
// version 1 index files (.bundlx) lie there.
std::vector<Bundle> BundlesOf(int baseFd, const std::string& folder, bool* legacy) {
    std::vector<Bundle> bundles;
    DIR* dir = OpenDirAt(baseFd, folder.c_str());
    if (!dir)
        return bundles;
    DirCloser closer(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        Bundle bundle;
        if (ParseBundleName(name, &bundle.row, &bundle.column)) {
            bundle.file = folder + "/" + name;
            bundles.push_back(std::move(bundle));
        } else if (EndsWith(name, ".bundlx")) {
            *legacy = true;
        }
    }
    std::sort(bundles.begin(), bundles.end(), [](const Bundle& a, const Bundle& b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    return bundles;
}

} // namespace

std::string BundleName(uint32_t x, uint32_t y) {
    char name[40];
    std::snprintf(name, sizeof name, "R%04xC%04x.bundle", y / kBundleSide * kBundleSide, x / kBundleSide * kBundleSide);
    return name;
}

bool ParseBundleName(const std::string& file, uint32_t* row, uint32_t* column) {
    if (file.size() < 1 + 4 + 1 + 4 + 7 || file[0] != 'R' || !EndsWith(file, ".bundle"))
        return false;
    const size_t c = file.find('C', 1);
    if (c == std::string::npos)
        return false;
    return ParseHex(file.substr(1, c - 1), row) && ParseHex(file.substr(c + 1, file.size() - 7 - c - 1), column) &&
           *row % kBundleSide == 0 && *column % kBundleSide == 0;
}

bool ParseLocation(const std::string& path, std::string* folder, int* origin, std::string* error) {
    const size_t question = path.find('?');
    *folder = path.substr(0, question);
    *origin = 0;
    if (question == std::string::npos)
        return true;
    size_t at = question + 1;
    while (at <= path.size()) {
        const size_t end = std::min(path.find('&', at), path.size());
        const std::string option = path.substr(at, end - at);
        if (option == "origin=nw" || option == "origin=sw") {
            *origin = option == "origin=nw" ? 1 : 2;
        } else if (option.rfind("origin=", 0) == 0) {
            *error = "Unknown origin \"" + option.substr(7) + "\"; known: nw (rows from the top), sw (from the bottom)";
            return false;
        } else {
            *error = "Unknown option \"" + option + "\"; a compact cache takes origin=nw or origin=sw";
            return false;
        }
        at = end + 1;
    }
    return true;
}

bool Storage::RecogniseOrigin(int folderFd, bool arcgisServer) {
    using namespace seed_config;
    assumed_ = false;
    rowsFromBottom_ = false;
    // An ArcGIS server's tiling schemes all start at the top left.
    if (arcgisServer) {
        how_ = "an ArcGIS server's Layers/_alllayers";
        return true;
    }
    struct stat info {};
    SeedHint hint;
    std::string file;
    HintFound found = HintFound::Nothing;
    if (fstat(folderFd, &info) == 0)
        found = LookForSeedConfig(folderFd, folderName_, info.st_dev, info.st_ino, &hint, &file);
    // A configuration that keeps another kind of cache in this folder is
    // out of date: the bundles were written otherwise.
    if (found == HintFound::Cache && hint.layout != "compact") {
        found = HintFound::Nothing;
        hint = SeedHint{};
    }
    if (found == HintFound::Nothing) {
        // MapProxy's own folder for a compact cache without a directory:
        // cache_data/CACHE/GRID.
        hint.grid = GridInFolderName(folderName_);
        hint.origin = BuiltInGridOrigin(hint.grid);
        file = "the folder's name";
    }
    if (hint.grid == "GLOBAL_GEODETIC")
        return FailOpen(file + " puts " + folderName_ + " on grid GLOBAL_GEODETIC: only Web Mercator tiles are plates");
    if (hint.origin == 0) {
        assumed_ = true;
        how_ = "assumed: nothing tells the rows' order";
        return true;
    }
    rowsFromBottom_ = hint.origin == 2;
    how_ = found == HintFound::Cache ? file + ": cache " + hint.cache + ", grid " + hint.grid
                                     : "grid " + hint.grid + " in " + file;
    return true;
}

std::string Storage::Notice() const {
    std::string text = std::string("layout: compact v2, rows from the ") + (rowsFromBottom_ ? "bottom" : "top") +
                       " (" + how_ + ")";
    // The host reads at most 99 characters of a plugin's text.
    return text.size() > 99 ? text.substr(0, 96) + "..." : text;
}

bool Storage::Open(const char* path) {
    std::string folder;
    int origin = 0;
    std::string error;
    if (!ParseLocation(path, &folder, &origin, &error)) {
        folderName_ = LastComponent(folder);
        return FailOpen(error);
    }
    folderName_ = LastComponent(folder);
    if (folder.empty())
        return FailOpen("No folder given");
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0)
        return FailOpen(ErrnoText(folderName_));
    if (!S_ISDIR(info.st_mode))
        return FailOpen(folderName_ + " is not a folder");
    baseFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd_ < 0)
        return FailOpen(ErrnoText(folderName_));
    // An ArcGIS server keeps the level folders in Layers/_alllayers.
    bool arcgisServer = false;
    for (const char* inner : {"_alllayers", "Layers/_alllayers"}) {
        const int fd = openat(baseFd_, inner, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            if (!RecogniseOrigin(baseFd_, true)) {
                close(fd);
                const std::string text = ErrorText();
                Close();
                return FailOpen(text);
            }
            close(baseFd_);
            baseFd_ = fd;
            arcgisServer = true;
            break;
        }
    }
    if (!arcgisServer && !RecogniseOrigin(baseFd_, false)) {
        const std::string text = ErrorText();
        Close();
        return FailOpen(text);
    }
    if (origin != 0) {
        rowsFromBottom_ = origin == 2;
        assumed_ = false;
        how_ = "named in the path";
    }
    DIR* dir = OpenDirAt(baseFd_, ".");
    if (!dir) {
        const std::string text = ErrnoText(folderName_);
        Close();
        return FailOpen(text);
    }
    bool legacy = false;
    size_t bundles = 0;
    {
        DirCloser closer(dir);
        while (const dirent* entry = readdir(dir)) {
            uint32_t zoom;
            if (!ParseLevelName(entry->d_name, &zoom))
                continue;
            bundles += BundlesOf(baseFd_, entry->d_name, &legacy).size();
            levels_.push_back({zoom, entry->d_name});
        }
    }
    std::sort(levels_.begin(), levels_.end(), [](const Level& a, const Level& b) { return a.zoom < b.zoom; });
    if (bundles == 0) {
        Close();
        return FailOpen(legacy ? folderName_ + " is a compact cache of version 1 (.bundlx index files): only version 2 is read"
                               : folderName_ + " holds no compact cache: no L00 to L30 folders of .bundle files");
    }
    return true;
}

void Storage::Close() {
    if (baseFd_ >= 0)
        close(baseFd_);
    baseFd_ = -1;
    levels_.clear();
    data_.clear();
    data_.shrink_to_fit();
}

int Storage::OpenBundle(const std::string& path, std::string* error) const {
    const int fd = openat(baseFd_, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = ErrnoText(path);
        return -1;
    }
    struct stat info {};
    unsigned char header[kHeaderSize];
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = path + " is not a regular file";
    } else if (!ReadAt(fd, header, sizeof header, 0)) {
        *error = path + ": too short for a bundle";
    } else if (U32(header) != kVersion || U32(header + 4) != kIndexEntries || U32(header + 12) != 5) {
        *error = path + ": not a version 2 bundle (version " + std::to_string(U32(header)) + ", " +
                 std::to_string(U32(header + 4)) + " records)";
    } else if (static_cast<uint64_t>(info.st_size) < kHeaderSize + uint64_t{kIndexEntries} * 8) {
        *error = path + ": its index is cut short";
    } else {
        return fd;
    }
    close(fd);
    errno = EINVAL; // not ENOENT: the bundle is there, but no use
    return -1;
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    int32_t number = 0;
    std::vector<unsigned char> index(size_t{kIndexEntries} * 8);
    char name[plate_key::kNameBufferSize];
    bool legacy = false;
    for (const Level& level : levels_) {
        const uint64_t side = uint64_t{1} << level.zoom;
        for (const Bundle& bundle : BundlesOf(baseFd_, level.folder, &legacy)) {
            std::string error;
            const int fd = OpenBundle(bundle.file, &error);
            if (fd < 0)
                return Fail(error);
            const bool read = ReadAt(fd, index.data(), index.size(), kHeaderSize);
            close(fd);
            if (!read)
                return Fail(ErrnoText(bundle.file));
            for (uint32_t i = 0; i < kIndexEntries; ++i) {
                const uint64_t entry = U64(&index[size_t{i} * 8]);
                const uint32_t size = static_cast<uint32_t>(entry >> 40);
                const uint64_t x = bundle.column + i % kBundleSide, row = bundle.row + i / kBundleSide;
                if (size == 0 || x >= side || row >= side)
                    continue;
                const uint64_t y = GridRow(level.zoom, row);
                plate_key::Write({level.zoom, static_cast<uint32_t>(x), static_cast<uint32_t>(y)}, name);
                if (callback(cookie, ++number, name, 0, size) == 0)
                    return Aborted;
            }
        }
    }
    if (number == 0)
        return Empty;
    SetErrorText(Notice());
    return Done;
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name \"" + std::string(name, strnlen(name, 40)) + "\"");
    const auto level = std::find_if(levels_.begin(), levels_.end(), [&](const Level& l) { return l.zoom == tile.z; });
    if (level == levels_.end())
        return Fail("No plate \"" + std::string(name) + "\" in " + folderName_);
    const uint64_t row = GridRow(tile.z, tile.y);
    const std::string path = level->folder + "/" + BundleName(tile.x, static_cast<uint32_t>(row));
    std::string error;
    const int fd = OpenBundle(path, &error);
    if (fd < 0)
        return Fail(errno == ENOENT ? "No plate \"" + std::string(name) + "\" in " + folderName_ : error);
    const uint64_t slot = (row % kBundleSide) * kBundleSide + tile.x % kBundleSide;
    unsigned char entry[8];
    struct stat info {};
    const bool read = ReadAt(fd, entry, sizeof entry, kHeaderSize + slot * 8) && fstat(fd, &info) == 0;
    const uint64_t offset = read ? U64(entry) & 0xFFFFFFFFFFull : 0;
    const uint32_t length = read ? static_cast<uint32_t>(U64(entry) >> 40) : 0;
    if (!read || length == 0) {
        close(fd);
        return read ? Fail("No plate \"" + std::string(name) + "\" in " + folderName_) : Fail(ErrnoText(path));
    }
    if (offset + length > static_cast<uint64_t>(info.st_size)) {
        close(fd);
        return Fail(path + ": the index points past the end of the bundle");
    }
    data_.resize(length);
    const bool got = ReadAt(fd, data_.data(), length, offset);
    close(fd);
    if (!got)
        return Fail(ErrnoText(path));
    *data = data_.data();
    *size = length;
    return Done;
}

uint32_t Storage::Write(const char*, const void*, uint32_t, uint32_t) {
    return Fail("A compact cache is read only: its plates cannot be stored or deleted");
}

} // namespace compact
