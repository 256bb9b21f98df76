#include "folder_storage.h"

#include "dir_closer.h"
#include "seed_config.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace folder {

using namespace seed_config;

namespace {

constexpr const char* kTmsMarker = "tilemapresource.xml";
constexpr const char* kMapml = "mapml.mapml";
constexpr uint64_t kSide(uint32_t zoom) { return uint64_t{1} << zoom; }

bool IsPlateLetter(char c) { return c >= 'q' && c <= 't'; }
bool IsHidden(const char* name) { return name[0] == '.'; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// d_type spares a stat for folders on most file systems; the others and
// symbolic links need one. A link to a folder counts only when that folder
// lies inside the storage: the plates of a folder outside are not this
// storage's, and deleting them would reach beyond it.
bool IsDirectory(const Root& root, int dirFd, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return false;
    struct stat info {};
    if (fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISLNK(info.st_mode))
        return S_ISDIR(info.st_mode);
    const int fd = openat(dirFd, entry->d_name, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool inside = root.Holds(fd);
    close(fd);
    return inside;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() {
        if (fd_ >= 0)
            close(fd_);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    // Hands the descriptor over to the caller.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// A regular file's size, following links; false for anything else (FIFOs,
// devices and sockets are never plates).
bool RegularFileSize(int dirFd, const dirent* entry, uint32_t* size) {
    if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK)
        return false;
    struct stat info {};
    if (fstatat(dirFd, entry->d_name, &info, 0) != 0 || !S_ISREG(info.st_mode))
        return false;
    *size = info.st_size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(info.st_size);
    return true;
}

int OpenDirFd(int parentFd, const char* name) {
    return openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A directory stream of the open folder `fd`, which it takes over; null
// with fdopendir's errno on failure.
DIR* StreamOf(int fd) {
    DIR* dir = fdopendir(fd);
    if (!dir) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return dir;
}

// Opens a sub-folder as a directory stream; null with errno on failure.
DIR* OpenDir(int parentFd, const char* name) {
    const int fd = OpenDirFd(parentFd, name);
    return fd < 0 ? nullptr : StreamOf(fd);
}

std::string LastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || path.size() == 1 ? path : path.substr(slash + 1);
}

bool IsRegularFile(int dirFd, const char* path) {
    struct stat info {};
    return fstatat(dirFd, path, &info, 0) == 0 && S_ISREG(info.st_mode);
}

// A MapML description of the tree, as tiling tools write beside a z/x/y
// tree: its tiles "{z}/{x}/{y}" on the OSMTILE tile matrix, whose rows
// count from the top as every WMTS matrix's do. A TMS tree is never
// described this way (its rows would not be the matrix's).
bool MapmlRowsFromTop(const std::string& text) {
    return text.find("units=\"OSMTILE\"") != std::string::npos &&
           text.find("tref=\"./{z}/{x}/{y}.") != std::string::npos && text.find("rel=\"tile\"") != std::string::npos;
}

// The value of `profile="..."` in a tilemapresource.xml; empty when none.
std::string TmsProfile(const std::string& xml) {
    const size_t at = xml.find("profile=\"");
    if (at == std::string::npos)
        return {};
    const size_t start = at + 9;
    const size_t end = xml.find('"', start);
    return end == std::string::npos ? std::string() : xml.substr(start, std::min<size_t>(end - start, 40));
}

// A tilemapresource.xml profile of tiles that are no plates: geodetic or
// raster trees have other tiles than Web Mercator's quadtree.
bool IsForeignProfile(const std::string& profile) {
    return profile.find("geodetic") != std::string::npos || profile == "raster";
}

// The "scheme" of a metadata.json (TileJSON: "xyz" unless it says "tms");
// empty when the file names none.
std::string JsonScheme(const std::string& json) {
    const size_t key = json.find("\"scheme\"");
    if (key == std::string::npos)
        return {};
    size_t at = json.find_first_not_of(" \t\r\n", key + 8);
    if (at == std::string::npos || json[at] != ':')
        return {};
    at = json.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos || json[at] != '"')
        return {};
    const size_t end = json.find('"', at + 1);
    return end == std::string::npos ? std::string() : json.substr(at + 1, std::min<size_t>(end - at - 1, 16));
}

// What a first look at a folder's entries found.
struct Survey {
    bool plateTree = false;
    bool quadkey = false;
    bool arcgis = false;
    bool numbered = false;
    bool tmsMarker = false;
    bool metadataJson = false;
    bool mapml = false;
    bool other = false; // visible entries of no layout
};

// Descends the first numbered folders below a zoom folder to the first image
// file; its depth below the base tells xyz (3), mp (5) and tc (7) apart.
// 0 when no file was found within `budget` folders.
size_t FirstFileDepth(const Root& root, int dirFd, size_t depth, int& budget, std::string* foreign) {
    if (depth > kMaxFields || --budget < 0)
        return 0;
    DIR* dir = OpenDir(dirFd, ".");
    if (!dir)
        return 0;
    DirCloser closer(dir);
    std::vector<std::string> folders;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (IsHidden(name) || name[0] < '0' || name[0] > '9')
            continue;
        std::string_view stem;
        uint32_t size;
        if (SplitImageFile(name, &stem) && RegularFileSize(dirfd(dir), entry, &size))
            return depth + 1;
        if (IsDirectory(root, dirfd(dir), entry)) {
            if (folders.size() < 4)
                folders.emplace_back(name);
        } else if (foreign->empty() && std::strchr(name, '.') && RegularFileSize(dirfd(dir), entry, &size)) {
            *foreign = name; // a numbered tile of another kind: "0.pbf"
        }
    }
    for (const std::string& folder : folders) {
        const int fd = OpenDirFd(dirfd(dir), folder.c_str());
        if (fd < 0)
            continue;
        const size_t found = FirstFileDepth(root, fd, depth + 1, budget, foreign);
        close(fd);
        if (found)
            return found;
    }
    return 0;
}

// "5" or "05": a zoom folder of any numbered layout.
bool IsZoomFolderName(std::string_view name) {
    if (name.empty() || name.size() > 2 || name.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    return std::stoi(std::string(name)) <= static_cast<int>(plate_key::kMaxZoom);
}

// Reports a Write or Enumerate failure with errno's text.
std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

} // namespace

bool Root::Holds(int fd) const {
    int at = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    // Bounded: a path has at most this many levels on Linux.
    for (int level = 0; at >= 0 && level < 2048; ++level) {
        struct stat here {};
        if (fstat(at, &here) != 0)
            break;
        if (here.st_dev == device && here.st_ino == inode) {
            close(at);
            return true;
        }
        const int up = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        struct stat parent {};
        const bool top = up < 0 || fstat(up, &parent) != 0 || SameFile(parent, here);
        close(at);
        at = up;
        if (top)
            break;
    }
    if (at >= 0)
        close(at);
    return false;
}

struct Storage::Walk {
    PlateCallback callback = nullptr;
    void* cookie = nullptr;
    int32_t number = 0;
    bool aborted = false;
    std::string error; // set when the walk stopped on a failure
    uint32_t zoom = 0;
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
    std::string folder = path;
    Location location;
    struct stat info {};
    // A folder whose own name holds a '?' is taken as it is.
    if (folder.find('?') != std::string::npos && stat(path, &info) != 0) {
        std::string error;
        if (!ParseLocation(path, &location, &error)) {
            folderName_ = LastComponent(location.folder);
            return FailOpen(error);
        }
        folder = location.folder;
    }
    folderName_ = LastComponent(folder);
    if (folder.empty())
        return FailOpen("No folder given");
    if (stat(folder.c_str(), &info) != 0)
        return FailOpen(ErrnoText(folderName_));
    if (!S_ISDIR(info.st_mode))
        return FailOpen(folderName_ + " is not a folder");
    baseFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd_ < 0)
        return FailOpen(ErrnoText(folderName_));
    if (fstat(baseFd_, &info) != 0) {
        const std::string text = ErrnoText(folderName_);
        Close();
        return FailOpen(text);
    }
    root_ = Root{info.st_dev, info.st_ino};
    startedEmpty_ = false;
    forgotFolders_ = false;
    folderExtensions_.clear();
    if (DIR* dir = OpenDir(baseFd_, ".")) {
        DirCloser closer(dir);
        startedEmpty_ = true;
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                startedEmpty_ = false;
                break;
            }
        }
    }

    if (location.layout) {
        layout_ = *location.layout;
        how_ = "named in the path";
        assumed_ = false;
        needsTmsMarker_ = std::string_view(layout_.name) == "tms" && !IsRegularFile(baseFd_, kTmsMarker);
    } else if (!Recognise()) {
        const std::string text = ErrorText();
        Close();
        return FailOpen(text);
    }
    if (location.origin != 0) {
        if (layout_.kind != LayoutKind::Numbered || std::string_view(layout_.name) == "arcgis") {
            const std::string text = std::string("The ") + layout_.name + " layout has no origin option";
            Close();
            return FailOpen(text);
        }
        layout_.rowsFromBottom = location.origin == 2;
        how_ = "named in the path";
        assumed_ = false;
    }
    return true;
}

// True when the first L folder holds compact cache bundles rather than
// folders of tiles.
bool Storage::HoldsBundles() const {
    DIR* dir = OpenDir(baseFd_, ".");
    if (!dir)
        return false;
    DirCloser closer(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() != 3 || name[0] != 'L')
            continue;
        DIR* level = OpenDir(baseFd_, entry->d_name);
        if (!level)
            continue;
        DirCloser levelCloser(level);
        while (const dirent* file = readdir(level)) {
            const std::string_view leaf(file->d_name);
            if (leaf.size() > 7 && leaf.substr(leaf.size() - 7) == ".bundle")
                return true;
        }
    }
    return false;
}

bool Storage::Recognise() {
    DIR* dir = OpenDir(baseFd_, ".");
    if (!dir)
        return FailOpen(ErrnoText(folderName_));
    DirCloser closer(dir);
    Survey survey;
    std::vector<std::string> zoomFolders; // to look into
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        std::string_view stem;
        const bool image = SplitImageFile(name, &stem);
        uint64_t zoom;
        if (name == kTmsMarker) {
            survey.tmsMarker = true;
        } else if (name == "metadata.json") {
            survey.metadataJson = true;
        } else if (name == kMapml) {
            survey.mapml = true;
        } else if (name == "t" ? IsDirectory(root_, baseFd_, entry) : image && stem == "t") {
            survey.plateTree = true;
        } else if (image && stem.find_first_not_of("0123") == std::string_view::npos) {
            // Also ".png", the world tile of a quadkey folder.
            survey.quadkey = true;
        } else if (name.size() == 3 && name[0] == 'L' &&
                   ParseField(FindLayout("arcgis")->fields[0], name, &zoom) && IsDirectory(root_, baseFd_, entry)) {
            survey.arcgis = true;
        } else if (IsZoomFolderName(name) && IsDirectory(root_, baseFd_, entry)) {
            survey.numbered = true;
            zoomFolders.emplace_back(name);
        } else if (!IsHidden(entry->d_name)) {
            survey.other = true;
        }
    }

    needsTmsMarker_ = false;
    assumed_ = false;
    SeedHint hint;
    std::string hintFile;
    const HintFound found =
        LookForSeedConfig(baseFd_, folderName_, root_.device, root_.inode, &hint, &hintFile);
    if (hint.grid == "GLOBAL_GEODETIC")
        return FailOpen(hintFile + " puts " + folderName_ + " on grid GLOBAL_GEODETIC: only Web Mercator tiles are plates");
    if (found == HintFound::Cache) {
        if (hint.layout == "compact")
            return FailOpen(folderName_ + " is a compact cache (" + hintFile + ", cache " + hint.cache +
                            "): open it with the tilebundle plugin");
        const Layout* named = FindLayout(hint.layout);
        if (!named || named->kind == LayoutKind::PlateTree)
            return FailOpen(hintFile + " stores " + folderName_ + " as \"" + hint.layout +
                            "\", which no folder layout reads; known layouts: " + LayoutNames());
        layout_ = *named;
        if (layout_.kind == LayoutKind::Numbered && std::string_view(layout_.name) != "arcgis" && hint.origin != 0)
            layout_.rowsFromBottom = hint.origin == 2;
        how_ = hintFile + ": cache " + hint.cache + ", grid " + hint.grid;
        return true;
    }
    // Without a configuration, the folder's own name may still name the grid.
    if (found == HintFound::Nothing) {
        hint.grid = GridInFolderName(folderName_);
        hint.origin = BuiltInGridOrigin(hint.grid);
        hintFile = "the folder's name";
    }
    const std::string gridSource = hint.origin != 0 ? "grid " + hint.grid + " in " + hintFile : std::string();

    if (survey.plateTree) {
        layout_ = *FindLayout("plates");
        how_ = "quadtree names";
    } else if (survey.arcgis) {
        if (HoldsBundles())
            return FailOpen(folderName_ + " is a compact cache (.bundle files): open it with the tilebundle plugin");
        layout_ = *FindLayout("arcgis");
        how_ = "the layout's own";
    } else if (survey.quadkey) {
        layout_ = *FindLayout("quadkey");
        how_ = "quadtree digits";
    } else if (survey.numbered || survey.tmsMarker) {
        std::string profile;
        if (survey.tmsMarker) {
            profile = TmsProfile(ReadSmallFile(baseFd_, kTmsMarker));
            if (IsForeignProfile(profile))
                return FailOpen(kTmsMarker + std::string(" describes a \"") + profile +
                                "\" tree: only Web Mercator tiles are plates");
        }
        size_t depth = 0;
        int budget = 64;
        bool padded = false;
        std::string foreign;
        for (const std::string& folder : zoomFolders) {
            // Zero-padded zoom folders ("05") are the seeding tool's trees.
            padded = padded || (folder.size() == 2 && folder[0] == '0');
            const int fd = OpenDirFd(baseFd_, folder.c_str());
            if (fd >= 0 && depth == 0)
                depth = FirstFileDepth(root_, fd, 1, budget, &foreign);
            if (fd >= 0)
                close(fd);
        }
        if (depth == 0 && !foreign.empty())
            return FailOpen(folderName_ + ": numbered folders of " + foreign.substr(foreign.rfind('.')) +
                            " files, which are no plate images (png, jpg, jpeg, webp, gif, bmp)");
        if (depth == 7 || (depth == 0 && padded))
            layout_ = *FindLayout("tc");
        else if (depth == 5)
            layout_ = *FindLayout("mp");
        else if (depth == 3 || depth == 0)
            layout_ = *FindLayout(survey.tmsMarker ? "tms" : "xyz");
        else
            return FailOpen(folderName_ + ": numbered folders, but plate files " + std::to_string(depth) +
                            " levels deep fit no layout");
        const std::string scheme = survey.metadataJson ? JsonScheme(ReadSmallFile(baseFd_, "metadata.json")) : "";
        if (survey.tmsMarker) {
            how_ = kTmsMarker;
        } else if (std::string_view(layout_.name) == "xyz" && survey.metadataJson) {
            // TileJSON counts rows from the top unless its scheme says "tms".
            if (scheme == "tms")
                layout_ = *FindLayout("tms");
            how_ = scheme.empty() ? "metadata.json names no scheme: xyz" : "metadata.json";
        } else if (!gridSource.empty()) {
            // MapProxy writes its grid's rows in every numbered layout; its
            // "tms" layout is z/x/y in that order.
            if (std::string_view(layout_.name) == "xyz" && hint.origin == 2)
                layout_ = *FindLayout("tms");
            layout_.rowsFromBottom = hint.origin == 2;
            how_ = gridSource;
        } else if (std::string_view(layout_.name) == "xyz" && survey.mapml &&
                   MapmlRowsFromTop(ReadSmallFile(baseFd_, kMapml))) {
            how_ = kMapml;
        } else {
            assumed_ = true;
            how_ = std::string_view(layout_.name) == "xyz" ? "assumed: nothing tells the rows' order"
                                                           : "assumed: MapProxy's default grid";
        }
    } else if (!survey.other) {
        // Nothing visible: a new storage, z/x/y unless the path says otherwise.
        layout_ = DefaultLayout();
        assumed_ = true;
        how_ = "assumed: an empty folder";
    } else {
        return FailOpen(folderName_ + " holds no tile tree; known layouts: " + LayoutNames());
    }
    return true;
}

std::string Storage::Notice() const {
    std::string text = std::string("layout: ") + layout_.name;
    if (layout_.kind == LayoutKind::Numbered)
        text += layout_.rowsFromBottom ? ", rows from the bottom" : ", rows from the top";
    text += " (" + how_ + ")";
    // The host reads at most 99 characters of a plugin's text.
    return text.size() > 99 ? text.substr(0, 96) + "..." : text;
}

void Storage::Close() {
    if (baseFd_ >= 0) {
        // Stores are written without a sync each: one for the whole file
        // system makes them durable at once when the storage is closed.
        if (stored_)
            syncfs(baseFd_);
        close(baseFd_);
    }
    baseFd_ = -1;
    stored_ = false;
    needsTmsMarker_ = false;
    ForgetStoreFolder();
    temporaryPrefix_.clear();
    folderExtensions_.clear();
    data_.clear();
    data_.shrink_to_fit();
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    // After Done the program logs any text as a notice: an earlier
    // failure's text is none.
    SetErrorText("");
    Walk walk;
    walk.callback = callback;
    walk.cookie = cookie;
    switch (layout_.kind) {
    case LayoutKind::PlateTree: {
        const int rootFd = OpenDirFd(baseFd_, ".");
        if (rootFd < 0)
            return Fail(ErrnoText(folderName_));
        WalkPlateTree(rootFd, 0, walk);
        break;
    }
    case LayoutKind::Numbered:
        WalkNumbered(walk);
        break;
    case LayoutKind::Quadkey:
        WalkQuadkey(walk);
        break;
    }
    if (walk.aborted)
        return Aborted;
    if (!walk.error.empty())
        return Fail(walk.error);
    if (walk.number == 0)
        return Empty;
    // Which way the tree was read, for the host's notice after the listing.
    SetErrorText(Notice());
    return Done;
}

// Walks one folder of the plate tree; the first `depth` letters of
// walk.name are the folder's own name. Takes over `dirFd`.
bool Storage::WalkPlateTree(int dirFd, size_t depth, Walk& walk) {
    DIR* dir = StreamOf(dirFd);
    if (!dir) {
        walk.error = ErrnoText("Cannot read a folder");
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
            if (!IsDirectory(root_, dirfd(dir), entry))
                continue;
            const int subFd = OpenDirFd(dirfd(dir), name);
            if (subFd < 0) {
                walk.error = ErrnoText("Cannot read a folder");
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

bool Storage::WalkNumbered(Walk& walk) {
    DIR* base = OpenDir(baseFd_, ".");
    if (!base) {
        walk.error = ErrnoText(folderName_);
        return false;
    }
    struct Zoom {
        uint32_t zoom;
        std::string folder;
    };
    std::vector<Zoom> zooms;
    {
        DirCloser closer(base);
        while (const dirent* entry = readdir(base)) {
            uint64_t zoom;
            if (ParseField(layout_.fields[0], entry->d_name, &zoom) && zoom <= plate_key::kMaxZoom &&
                IsDirectory(root_, baseFd_, entry))
                zooms.push_back({static_cast<uint32_t>(zoom), entry->d_name});
        }
    }
    // Zoom folders are few: sorting them lists the plates in zoom order.
    std::sort(zooms.begin(), zooms.end(), [](const Zoom& a, const Zoom& b) { return a.zoom < b.zoom; });
    for (const Zoom& zoom : zooms) {
        const int fd = OpenDirFd(baseFd_, zoom.folder.c_str());
        if (fd < 0) {
            walk.error = ErrnoText("Cannot read folder " + zoom.folder);
            return false;
        }
        walk.zoom = zoom.zoom;
        if (!WalkNumberedLevel(fd, 1, 0, 0, walk))
            return false;
    }
    return true;
}

// Walks the folder of path component `level` (1 is below the zoom folder),
// whose folders so far gave the parts `x` and `y`. Takes over `dirFd`.
bool Storage::WalkNumberedLevel(int dirFd, size_t level, uint64_t x, uint64_t y, Walk& walk) {
    DIR* dir = StreamOf(dirFd);
    if (!dir) {
        walk.error = ErrnoText("Cannot read a folder");
        return false;
    }
    DirCloser closer(dir);
    const Field& field = layout_.fields[level];
    const bool fileLevel = level + 1 == layout_.depth;
    const uint64_t side = kSide(walk.zoom);
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (IsHidden(name))
            continue;
        std::string_view component(name);
        if (fileLevel && !SplitImageFile(component, &component))
            continue;
        uint64_t part;
        if (!ParseField(field, component, &part))
            continue;
        uint64_t nx = x, ny = y;
        (field.coord == Coord::X ? nx : ny) += part * field.divisor;
        if (nx >= side || ny >= side)
            continue;
        if (fileLevel) {
            uint32_t size;
            if (!RegularFileSize(dirfd(dir), entry, &size))
                continue;
            const uint32_t row = static_cast<uint32_t>(ny);
            plate_key::Write({walk.zoom, static_cast<uint32_t>(nx),
                              layout_.rowsFromBottom ? plate_key::FlipRow(walk.zoom, row) : row},
                             walk.name);
            if (!walk.Report(size))
                return false;
        } else {
            if (!IsDirectory(root_, dirfd(dir), entry))
                continue;
            const int subFd = OpenDirFd(dirfd(dir), name);
            if (subFd < 0) {
                walk.error = ErrnoText("Cannot read a folder");
                return false;
            }
            if (!WalkNumberedLevel(subFd, level + 1, nx, ny, walk))
                return false;
        }
    }
    return true;
}

bool Storage::WalkQuadkey(Walk& walk) {
    DIR* dir = OpenDir(baseFd_, ".");
    if (!dir) {
        walk.error = ErrnoText(folderName_);
        return false;
    }
    DirCloser closer(dir);
    while (const dirent* entry = readdir(dir)) {
        std::string_view stem;
        uint32_t size;
        if (!SplitImageFile(entry->d_name, &stem) || !QuadkeyToName(stem, walk.name) ||
            !RegularFileSize(dirfd(dir), entry, &size))
            continue;
        if (!walk.Report(size))
            return false;
    }
    return true;
}

bool Storage::PlatePlace(const char* name, std::string* parent, std::string* stem) const {
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return false;
    parent->clear();
    stem->clear();
    switch (layout_.kind) {
    case LayoutKind::PlateTree: {
        const size_t length = tile.z + 1;
        for (size_t i = 0; i + 1 < length; ++i) {
            if (i > 0)
                parent->push_back('/');
            parent->push_back(name[i]);
        }
        stem->assign(1, name[length - 1]);
        break;
    }
    case LayoutKind::Quadkey: {
        char digits[plate_key::kNameBufferSize];
        stem->assign(digits, NameToQuadkey(name, digits));
        break;
    }
    case LayoutKind::Numbered: {
        const uint64_t row = layout_.rowsFromBottom ? plate_key::FlipRow(tile.z, tile.y) : tile.y;
        char component[kMaxFieldLength];
        for (size_t i = 0; i < layout_.depth; ++i) {
            const Field& field = layout_.fields[i];
            const uint64_t value = field.coord == Coord::Z ? tile.z : field.coord == Coord::X ? tile.x : row;
            std::string& out = i + 1 < layout_.depth ? *parent : *stem;
            if (!out.empty())
                out.push_back('/');
            out.append(component, FormatField(field, value, component));
        }
        break;
    }
    }
    if (parent->empty())
        *parent = ".";
    return true;
}

int Storage::OpenPlateFolder(const std::string& parent, bool make, bool* made) const {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (made)
        *made = false;
#ifdef SYS_openat2
    // One call when the kernel can check the whole path for us; links that
    // stay inside are followed, any road out fails with EXDEV.
    open_how how {};
    how.flags = kFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    const int fd = static_cast<int>(syscall(SYS_openat2, baseFd_, parent.c_str(), &how, sizeof how));
    if (fd >= 0 || (errno == ENOENT && !make) || errno == ENOTDIR || errno == EACCES)
        return fd;
    // EXDEV may be an absolute link that leads inside; ENOSYS or EPERM a
    // kernel or sandbox without the call: the walk below decides.
#endif
    int at = fcntl(baseFd_, F_DUPFD_CLOEXEC, 0);
    for (size_t start = 0; at >= 0 && start < parent.size();) {
        size_t end = parent.find('/', start);
        if (end == std::string::npos)
            end = parent.size();
        const std::string part = parent.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (make) {
            const bool madeHere = mkdirat(at, part.c_str(), 0777) == 0;
            if (!madeHere && errno != EEXIST) {
                const int error = errno;
                close(at);
                errno = error;
                return -1;
            }
            // Only the last one counts: the plate folder itself.
            if (made)
                *made = madeHere;
        }
        int next = openat(at, part.c_str(), kFlags | O_NOFOLLOW);
        if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
            struct stat info {};
            if (fstatat(at, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode)) {
                next = openat(at, part.c_str(), kFlags);
                if (next >= 0 && !root_.Holds(next)) {
                    close(next);
                    next = -1;
                    errno = EXDEV;
                }
            } else {
                errno = ENOTDIR;
            }
        }
        const int error = errno;
        close(at);
        at = next;
        errno = error;
    }
    return at;
}

int Storage::StoreFolder(const std::string& parent, bool* made) {
    *made = false;
    if (storeFolderFd_ >= 0 && parent == storeParent_)
        return storeFolderFd_;
    ForgetStoreFolder();
    const int fd = OpenPlateFolder(parent, true, made);
    if (fd >= 0) {
        storeFolderFd_ = fd;
        storeParent_ = parent;
    }
    return fd;
}

void Storage::ForgetStoreFolder() {
    if (storeFolderFd_ >= 0)
        close(storeFolderFd_);
    storeFolderFd_ = -1;
    storeParent_.clear();
}

std::vector<std::string>& Storage::FolderExtensions(const std::string& parent, int folderFd, bool made) {
    if (const auto found = folderExtensions_.find(parent); found != folderExtensions_.end())
        return found->second;
    if (folderExtensions_.size() >= kRememberedFolders) {
        folderExtensions_.clear();
        forgotFolders_ = true;
    }
    std::vector<std::string> extensions;
    // A folder already listed here was made by this storage, or lies in a
    // storage that started empty: nothing but our own stores can be in it,
    // and those are remembered from here on.
    if (!made && !(startedEmpty_ && !forgotFolders_)) {
        if (DIR* dir = OpenDir(folderFd, ".")) {
            DirCloser closer(dir);
            while (const dirent* entry = readdir(dir)) {
                std::string_view stem;
                const std::string_view file(entry->d_name);
                if (!SplitImageFile(file, &stem))
                    continue;
                const std::string_view ext = file.substr(stem.size() + 1);
                if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end())
                    extensions.emplace_back(ext);
            }
        }
    }
    return folderExtensions_.emplace(parent, std::move(extensions)).first->second;
}

uint32_t Storage::Locate(const char* name, int* folderFd, std::string* leaf, std::string* path) {
    *folderFd = -1;
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    std::string parent, stem;
    if (!PlatePlace(name, &parent, &stem))
        return Fail("Invalid plate name \"" + std::string(name, strnlen(name, 40)) + "\"");
    const int folderFdOpen = OpenPlateFolder(parent, false);
    if (folderFdOpen < 0) {
        if (errno == EXDEV)
            return Fail("The folder " + parent + " is a link that leads out of " + folderName_);
        if (errno == ENOENT || errno == ENOTDIR)
            return Fail("No plate \"" + std::string(name) + "\" in " + folderName_);
        return Fail(ErrnoText(parent));
    }
    FdCloser closer(folderFdOpen);
    const std::string prefix = parent == "." ? std::string() : parent + "/";
    std::string odd; // a plate's name on something that is not a regular file
    const auto regular = [&](const std::string& candidate) {
        struct stat info {};
        if (fstatat(folderFdOpen, candidate.c_str(), &info, 0) != 0)
            return false;
        if (S_ISREG(info.st_mode))
            return true;
        if (odd.empty())
            odd = prefix + candidate;
        return false;
    };
    const auto found = [&](const std::string& candidate) {
        *leaf = candidate;
        *path = prefix + candidate;
        *folderFd = closer.Release();
        return static_cast<uint32_t>(Done);
    };
    for (const bool upper : {false, true}) {
        for (const char* ext : kImageExtensions) {
            std::string candidate = stem + ".";
            for (const char* c = ext; *c; ++c)
                candidate.push_back(upper ? static_cast<char>(*c - 'a' + 'A') : *c);
            if (regular(candidate))
                return found(candidate);
        }
    }
    // Mixed-case extensions such as "Jpg" are rare: look through the folder.
    if (DIR* dir = OpenDir(folderFdOpen, ".")) {
        DirCloser dirCloser(dir);
        while (const dirent* entry = readdir(dir)) {
            std::string_view fileStem;
            if (SplitImageFile(entry->d_name, &fileStem) && fileStem == stem && regular(entry->d_name))
                return found(entry->d_name);
        }
    }
    // Reading a FIFO or a device could block the program or never end.
    if (!odd.empty())
        return Fail(odd + " is not a regular file");
    return Fail("No plate \"" + std::string(name) + "\" in " + folderName_);
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size) {
    int folderFd;
    std::string leaf, path;
    if (const uint32_t failure = Locate(name, &folderFd, &leaf, &path); failure != Done)
        return failure;
    // Non-blocking, so that a FIFO or a device put in the file's place since
    // Locate looked cannot hold the program; refused below like any file
    // that is not regular.
    const int fd = openat(folderFd, leaf.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    close(folderFd);
    if (fd < 0)
        return Fail(ErrnoText(path));
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > INT32_MAX) {
        close(fd);
        return Fail(path + (S_ISREG(info.st_mode) ? ": cannot read its size" : " is not a regular file"));
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

uint32_t Storage::Write(const char* name, const void* data, uint32_t size, uint32_t mode) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    switch (mode) {
    case WriteModeStore:
        return Store(name, data, size);
    case WriteModeDelete:
        return Delete(name);
    default:
        return Fail("Unknown write mode " + std::to_string(mode));
    }
}

uint32_t Storage::Delete(const char* name) {
    int folderFd;
    std::string leaf, path;
    if (const uint32_t failure = Locate(name, &folderFd, &leaf, &path); failure != Done)
        return failure;
    FdCloser closer(folderFd);
    // Folders are left in place, even when empty: removing the last one
    // would turn the storage into a folder of no known layout. A plate that
    // is a link loses the link, never what it points to.
    if (unlinkat(folderFd, leaf.c_str(), 0) != 0)
        return Fail(ErrnoText("Cannot delete " + path));
    return Done;
}

uint32_t Storage::Store(const char* name, const void* data, uint32_t size) {
    if (size > 0 && !data)
        return Fail("Write called without data");
    std::string parent, stem;
    if (!PlatePlace(name, &parent, &stem))
        return Fail("Invalid plate name \"" + std::string(name, strnlen(name, 40)) + "\"");
    const char* ext = ExtensionFor(data, size);
    const std::string leaf = stem + "." + ext;
    const std::string path = parent + "/" + leaf;
    // Hidden and without an image extension: never listed, even if left
    // behind by a crash.
    if (temporaryPrefix_.empty())
        temporaryPrefix_ = ".ulmora-" + std::to_string(getpid()) + "-";
    const std::string temporary = temporaryPrefix_ + std::to_string(++temporaryNumber_) + ".tmp";

    // Every step below is relative to the plate's own folder, reached without
    // leaving the storage, so that a link planted in the tree cannot carry the
    // data elsewhere.
    bool made = false;
    int folderFd = StoreFolder(parent, &made);
    int fd = -1;
    if (folderFd >= 0) {
        fd = openat(folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        // The folder kept open since the last store may have been removed
        // or moved meanwhile: look it up again.
        if (fd < 0 && errno == ENOENT && !made) {
            ForgetStoreFolder();
            folderFd = StoreFolder(parent, &made);
            if (folderFd >= 0)
                fd = openat(folderFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            0666);
        }
    }
    if (folderFd < 0) {
        if (errno == EXDEV)
            return Fail("Cannot write " + path + ": the folder " + parent + " is a link that leads out of " +
                        folderName_);
        return Fail(ErrnoText("Cannot write " + path));
    }
    if (fd < 0)
        return Fail(ErrnoText("Cannot write " + path));
    std::vector<std::string>& extensions = FolderExtensions(parent, folderFd, made);
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const std::string text = ErrnoText("Cannot write " + path);
            close(fd);
            unlinkat(folderFd, temporary.c_str(), 0);
            return Fail(text);
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || renameat(folderFd, temporary.c_str(), folderFd, leaf.c_str()) != 0) {
        const std::string text = ErrnoText("Cannot write " + path);
        unlinkat(folderFd, temporary.c_str(), 0);
        return Fail(text);
    }
    stored_ = true;
    // The plate may have been stored before in another format: one file per
    // plate, or it would be listed twice. Only extensions the folder can
    // hold are tried, so a copy into a new tree removes nothing. Any case of
    // the written one is kept: on a file system that ignores case, that name
    // is the file just written.
    bool known = false;
    for (const std::string& other : extensions) {
        if (EqualIgnoringCase(other, ext)) {
            known = known || other == ext;
            continue;
        }
        unlinkat(folderFd, (stem + "." + other).c_str(), 0);
    }
    if (!known)
        extensions.emplace_back(ext);
    if (needsTmsMarker_) {
        // Without it the tree would be taken for a z/x/y one at the next Open.
        static constexpr char kMarker[] =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<TileMap version=\"1.0.0\" tilemapservice=\"http://tms.osgeo.org/1.0.0\">\n"
            "  <SRS>EPSG:3857</SRS>\n"
            "  <TileSets profile=\"mercator\"></TileSets>\n"
            "</TileMap>\n";
        const int marker = openat(baseFd_, kTmsMarker, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (marker >= 0) {
            const bool written = ::write(marker, kMarker, sizeof kMarker - 1) == sizeof kMarker - 1;
            close(marker);
            if (!written)
                unlinkat(baseFd_, kTmsMarker, 0);
        }
        needsTmsMarker_ = false;
    }
    return Done;
}

} // namespace folder
