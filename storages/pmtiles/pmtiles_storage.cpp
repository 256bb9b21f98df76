#include "pmtiles_storage.h"

#include "message_text.h"
#include "plate_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace pmtiles {

using message_text::FileName;
using message_text::Quoted;

struct Storage::Walk {
    PlateCallback callback = nullptr;
    void* cookie = nullptr;
    int32_t number = 0;
    uint64_t count = 0; // tiles listed
    bool listed = false;
    TileNamer namer;
};

namespace {

// A file of this machine, read with pread.
class FileSource : public ByteSource {
public:
    FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
    ~FileSource() override { close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, size_t length, uint8_t* out, std::string* error) override {
        size_t done = 0;
        while (done < length) {
            const ssize_t got = pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                *error = std::string("Reading the archive failed: ") + std::strerror(errno);
                return false;
            }
            if (got == 0) {
                *error = "The archive is shorter than its header says: truncated?";
                return false;
            }
            done += static_cast<size_t>(got);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_;
};

} // namespace

bool Storage::Open(const char* path) {
    if (*path == '\0')
        return FailOpen("No PMTiles file given");
    const std::string fileName = FileName(path);
    // Non-blocking, so that a FIFO given as the path cannot hang the open.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return FailOpen(fileName + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int error = errno;
        close(fd);
        return FailOpen(fileName + ": " + std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return FailOpen(fileName + (S_ISDIR(info.st_mode) ? " is a folder, not a PMTiles archive"
                                                           : " is not a regular file"));
    }
    if (info.st_size == 0) {
        // Made empty to be written: a new archive, as an empty file is a new
        // database to the SQLite plugins.
        close(fd);
        newArchive_ = true;
        path_ = path;
        return true;
    }
    source_ = std::make_unique<FileSource>(fd, static_cast<uint64_t>(info.st_size));
    return OpenArchive();
}

bool Storage::OpenSource(std::unique_ptr<ByteSource> source, const std::string& name) {
    if (!source)
        return FailOpen("No PMTiles archive given");
    if (source->Size() == 0)
        return FailOpen(name + " is empty, not a PMTiles archive");
    source_ = std::move(source);
    return OpenArchive();
}

bool Storage::OpenArchive() {
    fileSize_ = source_->Size();
    uint8_t head[kHeaderSize];
    const size_t headSize = static_cast<size_t>(std::min<uint64_t>(fileSize_, kHeaderSize));
    std::string error;
    if (!ReadAt(0, headSize, head, &error) || !(error = ParseHeader(head, headSize, fileSize_, &header_)).empty()) {
        Close();
        return FailOpen(std::move(error));
    }
    bool unread = false;
    error = ReadDirectory(header_.rootOffset, header_.rootLength, &levels_[0], &unread);
    if (!error.empty()) {
        Close();
        return FailOpen(unread ? error : "Bad PMTiles root directory: " + error);
    }
    return true;
}

void Storage::Close() {
    if (newArchive_) {
        newArchive_ = false;
        // Metadata answered Done without a tile still makes an archive: one
        // without tiles, its description in the header and JSON.
        const bool described =
            !description_.members.empty() || description_.hasBounds || description_.hasCenter;
        if (described && !writer_.Started())
            if (std::string error = writer_.Start(path_); !error.empty())
                SetErrorText(FileName(path_.c_str()) + ": " + error);
        writer_.Describe(std::move(description_));
        description_ = {};
        // The program ignores what closing answers: a failure is left as the
        // error text, and the target stays the empty file it was.
        if (std::string error = writer_.Finish(); !error.empty())
            SetErrorText(FileName(path_.c_str()) + ": " + error);
        path_.clear();
    }
    source_.reset();
    cached_.clear();
    cachedBytes_ = 0;
    header_ = Header{};
    for (Level& level : levels_)
        level = Level{};
    data_.clear();
    data_.shrink_to_fit();
}

bool Storage::ReadAt(uint64_t offset, size_t length, uint8_t* out, std::string* error) {
    if (!source_) {
        *error = "The storage is not open";
        return false;
    }
    return source_->ReadAt(offset, length, out, error);
}

std::string Storage::ReadDirectory(uint64_t offset, uint64_t length, Level* level, bool* unread) {
    if (level->offset == offset && level->length == length)
        return {};
    level->offset = UINT64_MAX;
    if (length > kMaxDirectoryBytes)
        return "it is larger than " + std::to_string(kMaxDirectoryBytes >> 20) + " MiB";
    std::string error;
    if (const auto kept = cached_.find(offset); kept != cached_.end() && kept->second.size() == length) {
        level->raw = kept->second;
    } else {
        level->raw.resize(static_cast<size_t>(length));
        if (!ReadAt(offset, level->raw.size(), level->raw.data(), &error)) {
            *unread = true;
            return error;
        }
        if (source_->Remote() && cachedBytes_ + length <= kMaxCachedBytes) {
            cachedBytes_ += static_cast<size_t>(length);
            cached_[offset] = level->raw;
        }
    }
    const std::vector<uint8_t>* decoded = &level->raw;
    if (header_.internalCompression == kGzip) {
        error = Inflate(level->raw.data(), level->raw.size(), kMaxDirectoryBytes, &level->inflated);
        if (!error.empty())
            return error;
        decoded = &level->inflated;
    }
    error = DecodeDirectory(decoded->data(), decoded->size(), &level->entries);
    if (!error.empty())
        return error;
    level->offset = offset;
    level->length = length;
    return {};
}

std::string Storage::LoadLeaf(int depth, const Entry& entry) {
    const std::string where = "Bad PMTiles leaf directory at byte " + std::to_string(entry.offset);
    if (depth > kMaxLeafDepth)
        return where + ": leaf directories nest too deeply";
    if (entry.length == 0 || entry.offset > header_.leafLength || entry.length > header_.leafLength - entry.offset)
        return where + ": it lies outside the leaf section";
    // A read that failed says so alone: the directory may be sound.
    bool unread = false;
    const std::string error = ReadDirectory(header_.leafOffset + entry.offset, entry.length, &levels_[depth], &unread);
    return error.empty() || unread ? error : where + ": " + error;
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie) {
    if (newArchive_) {
        TileNamer namer;
        int32_t number = 0;
        const bool whole = writer_.ForEach([&](uint64_t id, uint32_t size) {
            return callback(cookie, ++number, namer.Name(id), 0, size) != 0;
        });
        return !whole ? Aborted : number > 0 ? Done : Empty;
    }
    if (!source_)
        return Fail("The storage is not open");
    // After Done the program logs any text as a notice: an earlier
    // failure's text is none.
    SetErrorText("");
    Walk walk;
    walk.callback = callback;
    walk.cookie = cookie;
    const uint32_t result = WalkLevel(0, 0, std::numeric_limits<uint64_t>::max(), walk);
    if (result != Done)
        return result;
    return walk.listed ? Done : Empty;
}

// Lists the tiles of level `depth`, whose tile ids must rise and lie in
// [low, high): writers sort them so, and the bounds keep leaves that point
// back at their parents from listing tiles twice or looping. What is listed
// is what GetPlateData's lookup finds.
uint32_t Storage::WalkLevel(int depth, uint64_t low, uint64_t high, Walk& walk) {
    const std::vector<Entry>& entries = levels_[static_cast<size_t>(depth)].entries;
    const char* const what = depth == 0 ? "Bad PMTiles root directory" : "Bad PMTiles leaf directory";
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (entry.tileId < low || entry.tileId >= high || (i > 0 && entry.tileId <= entries[i - 1].tileId))
            return Fail(std::string(what) + ": its tile ids are out of order");
        if (entry.runLength == 0) {
            const uint64_t end = i + 1 < entries.size() ? entries[i + 1].tileId : high;
            const std::string error = LoadLeaf(depth + 1, entry);
            if (!error.empty())
                return Fail(error);
            const uint32_t result = WalkLevel(depth + 1, entry.tileId, end, walk);
            if (result != Done)
                return result;
            continue;
        }
        if (entry.length > std::numeric_limits<uint32_t>::max())
            return Fail(std::string(what) + ": a tile has more than 4 GiB");
        if (const std::string damage = RunDamage(entry); !damage.empty())
            return Fail(damage);
        // A run reaching past the next entry (or its directory's end) is cut
        // there: a lookup of those ids finds the next entry, so they are not
        // the run's.
        const uint64_t bound = i + 1 < entries.size() ? entries[i + 1].tileId : high;
        const uint64_t runEnd = entry.runLength > bound - entry.tileId ? bound : entry.tileId + entry.runLength;
        // Tiles deeper than the deepest plate zoom have no name: skipped.
        const uint64_t last = std::min(runEnd, kEndOfIds);
        // The header's count of addressed tiles (0: not given) bounds the
        // listing: a damaged archive cannot make it run for ever.
        const uint64_t tiles = last > entry.tileId ? last - entry.tileId : 0;
        if (header_.addressedTiles != 0 && tiles > header_.addressedTiles - walk.count)
            return Fail("Damaged PMTiles archive: its directories address more than the " +
                        std::to_string(header_.addressedTiles) + " tiles its header says");
        walk.count += tiles;
        for (uint64_t id = entry.tileId; id < last; ++id) {
            walk.listed = true;
            if (walk.callback(walk.cookie, ++walk.number, walk.namer.Name(id), 0,
                              static_cast<uint32_t>(entry.length)) == 0)
                return Aborted;
        }
    }
    return Done;
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size) {
    if (!source_ && !newArchive_)
        return Fail("The storage is not open");
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return Fail("Invalid plate name " + Quoted(name));
    const uint64_t id = ZxyToTileId(tile.z, tile.x, tile.y);
    if (newArchive_) {
        std::string error;
        if (!writer_.Read(id, &data_, &error))
            return Fail(error.empty() ? "No plate " + Quoted(name) + " in the archive" : error);
        *data = data_.data();
        *size = static_cast<uint32_t>(data_.size());
        return Done;
    }

    const Entry* found = nullptr;
    for (int depth = 0; !found; ++depth) {
        const std::vector<Entry>& entries = levels_[static_cast<size_t>(depth)].entries;
        // The last entry starting at or before the id covers it, if any does.
        auto next = std::upper_bound(entries.begin(), entries.end(), id,
                                     [](uint64_t value, const Entry& entry) { return value < entry.tileId; });
        if (next == entries.begin())
            break;
        const Entry& entry = *(next - 1);
        if (entry.runLength > 0) {
            if (id - entry.tileId < entry.runLength)
                found = &entry;
            break;
        }
        const std::string error = LoadLeaf(depth + 1, entry);
        if (!error.empty())
            return Fail(error);
    }
    if (!found)
        return Fail("No plate " + Quoted(name) + " in the archive");
    if (const std::string damage = RunDamage(*found); !damage.empty())
        return Fail(damage);
    if (found->length > std::numeric_limits<uint32_t>::max() || found->offset > header_.tileDataLength ||
        found->length > header_.tileDataLength - found->offset)
        return Fail("Plate " + Quoted(name) + " lies outside the tile data of the archive");
    data_.resize(static_cast<size_t>(found->length));
    std::string error;
    if (!ReadAt(header_.tileDataOffset + found->offset, data_.size(), data_.data(), &error))
        return Fail(std::move(error));
    *data = data_.data();
    *size = static_cast<uint32_t>(data_.size());
    return data_.empty() ? Empty : Done;
}

// What is wrong with a tile entry whose run reaches past the archive's
// deepest zoom, as its header gives it; empty for a sound entry.
std::string Storage::RunDamage(const Entry& entry) const {
    const uint64_t end = FirstIdOfZoom(std::min<uint32_t>(header_.maxZoom, kMaxZoom) + 1);
    if (header_.maxZoom > kMaxZoom || (entry.tileId < end && entry.runLength <= end - entry.tileId))
        return {};
    return "Damaged PMTiles archive: a run of " + std::to_string(entry.runLength) +
           " tiles reaches past its deepest zoom " + std::to_string(header_.maxZoom);
}

uint32_t Storage::Write(const char* name, const void* data, uint32_t size, uint32_t mode) {
    if (!source_ && !newArchive_)
        return Fail("The storage is not open");
    if (mode == WriteModeStore && newArchive_)
        return Store(name, data, size);
    if (mode == WriteModeStore)
        return Fail("A PMTiles archive is written whole: store only into a new, empty .pmtiles file");
    if (mode == WriteModeDelete)
        return Fail("A PMTiles archive is written whole: plates cannot be deleted from it");
    return Fail("Unknown write mode " + std::to_string(mode));
}

uint32_t Storage::Store(const char* name, const void* data, uint32_t size) {
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile)) {
        const std::string_view text(name);
        if (text.size() > plate_key::kMaxZoom + 1 && text[0] == 't' &&
            text.find_first_not_of("qrst") == std::string_view::npos)
            return Fail("Plate " + Quoted(name, 12) + " is deeper than zoom 30: PMTiles cannot hold it");
        return Fail("Invalid plate name " + Quoted(name));
    }
    if (size > 0 && !data)
        return Fail("Write called without data");
    if (!writer_.Started())
        if (std::string error = writer_.Start(path_); !error.empty())
            return Fail(std::move(error));
    std::string error = writer_.Store(tile.z, tile.x, tile.y, static_cast<const uint8_t*>(data), size);
    if (!error.empty())
        return Fail(std::move(error));
    return Done;
}

} // namespace pmtiles
