#include "archive_writer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <barrier>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <system_error>
#include <thread>

namespace pmtiles {

namespace {

constexpr size_t kSpoolBuffer = size_t{1} << 20;
// A batch of stores for the writer's thread: large enough that handing it
// over costs nothing a plate, small enough to stay in the caches; a few of
// them in turn, so that the caller rarely waits for the thread.
constexpr size_t kBatchBytes = size_t{256} << 10;
constexpr size_t kBatchTiles = 8192;
constexpr int kMaxBatches = 4;
constexpr size_t kOutBuffer = size_t{4} << 20;
constexpr size_t kHotBudget = size_t{32} << 20;
constexpr uint64_t kMappedBytes = uint64_t{16} << 20;
constexpr uint64_t kNone64 = std::numeric_limits<uint64_t>::max();

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const uint8_t* bytes, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t put = pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        bytes += put;
        size -= static_cast<size_t>(put);
        offset += static_cast<uint64_t>(put);
    }
    return true;
}

bool ReadAll(int fd, uint8_t* out, size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (got == 0)
                errno = EIO;
            return false;
        }
        out += got;
        size -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

// An unnamed file in `folder`, gone with its last descriptor. Where the
// file system cannot make one, a file named `pattern` and a random suffix:
// unlinked at once without `name`, else its name goes there (the caller
// removes it on failure).
int UnnamedFile(const std::string& folder, const std::string& pattern, std::string* name = nullptr) {
    const int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string path = pattern + "XXXXXX";
    const int named = mkostemp(path.data(), O_CLOEXEC);
    if (named < 0)
        return named;
    fchmod(named, 0644);
    if (name)
        *name = path;
    else
        unlink(path.c_str());
    return named;
}

// Gives the unnamed file `fd` the name `target`, replacing what is there,
// through a temporary name beside it (rename is what replaces atomically).
std::string LinkOver(int fd, const std::string& target) {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.part", static_cast<unsigned>(random()));
        const std::string temporary = target + suffix;
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST)
                continue;
            return Errno("Cannot name the new archive");
        }
        if (rename(temporary.c_str(), target.c_str()) != 0) {
            const std::string error = Errno("Cannot put the new archive in place");
            unlink(temporary.c_str());
            return error;
        }
        return {};
    }
    return "Cannot name the new archive: no free temporary name";
}

// A fast hash of a plate's bytes; equal hashes are confirmed by comparing
// the bytes, so it needs to spread well, not to resist attacks. (zlib's
// crc32 took a fifth of a copy's time on small tiles.)
uint32_t Hash(const uint8_t* data, size_t size) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    uint64_t h = size * kMultiplier;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    // The last word read whole (it may overlap the loop's): copying a few
    // bytes into a word stalled the load that followed.
    uint64_t tail = 0;
    if (size >= 8)
        std::memcpy(&tail, data + size - 8, 8);
    else
        std::memcpy(&tail, data, size);
    h = (h ^ tail) * kMultiplier;
    h ^= h >> 32;
    return static_cast<uint32_t>(h);
}

int32_t E7(double degrees) { return static_cast<int32_t>(std::lround(degrees * 10000000.0)); }

double Latitude(double fy) {
    constexpr double kPi = 3.14159265358979323846;
    return std::atan(std::sinh(kPi * (1 - 2 * fy))) * 180 / kPi;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out += '"';
}

// A buffered sequential writer into the new archive.
class Output {
public:
    explicit Output(int fd, uint64_t at) : fd_(fd), at_(at) { buffer_.reserve(kOutBuffer); }
    bool Put(const uint8_t* bytes, size_t size) {
        if (buffer_.size() + size > kOutBuffer && !Flush())
            return false;
        if (size > kOutBuffer) {
            if (!WriteAll(fd_, bytes, size, at_))
                return false;
            at_ += size;
            return true;
        }
        buffer_.insert(buffer_.end(), bytes, bytes + size);
        return true;
    }
    // Room for `size` bytes at the end of the buffer, filled by the caller;
    // null when writing out the buffer failed.
    uint8_t* Reserve(size_t size) {
        if (buffer_.size() + size > kOutBuffer && !Flush())
            return nullptr;
        const size_t at = buffer_.size();
        buffer_.resize(at + size);
        return buffer_.data() + at;
    }
    bool Flush() {
        if (!WriteAll(fd_, buffer_.data(), buffer_.size(), at_))
            return false;
        at_ += buffer_.size();
        buffer_.clear();
        return true;
    }

private:
    int fd_;
    uint64_t at_;
    std::vector<uint8_t> buffer_;
};

} // namespace

std::string ArchiveWriter::Start(const std::string& target) {
    Discard();
    target_ = target;
    spool_ = UnnamedFile(FolderOf(target), target + ".spool.");
    if (spool_ < 0)
        return Errno("Cannot make the spool file beside the archive");
    spoolPending_.reserve(kSpoolBuffer);
    return {};
}

ArchiveWriter::Kind ArchiveWriter::Sniff(const uint8_t* d, uint32_t n) {
    if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0)
        return Kind::Png;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF)
        return Kind::Jpeg;
    if (n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0)
        return Kind::Webp;
    if (n >= 12 && std::memcmp(d + 4, "ftyp", 4) == 0 &&
        (std::memcmp(d + 8, "avif", 4) == 0 || std::memcmp(d + 8, "avis", 4) == 0))
        return Kind::Avif;
    // Vector tiles are kept gzip-compressed; images never are.
    if (n >= 2 && d[0] == 0x1F && d[1] == 0x8B)
        return Kind::Gzip;
    return Kind::Other;
}

ArchiveWriter::ArchiveWriter() : threaded_(std::thread::hardware_concurrency() > 1) {}

std::string ArchiveWriter::Store(uint32_t z, uint32_t x, uint32_t y, const uint8_t* data, uint32_t size) {
    if (spool_ < 0)
        return "The archive is not being written";
    if (size == 0)
        return "A PMTiles archive cannot hold a plate without data";
    if (!threaded_)
        return StoreNow(z, x, y, data, size);
    if (failed_.load(std::memory_order_relaxed))
        return ThreadError();
    if (size > kBatchBytes) {
        // Too large for a batch: stored here, after what was handed over.
        Drain();
        return failed_ ? ThreadError() : StoreNow(z, x, y, data, size);
    }
    if (!filling_ || filling_->bytes.size() + size > kBatchBytes || filling_->tiles.size() == kBatchTiles)
        HandOver();
    filling_->tiles.push_back(PendingTile{z, x, y, size});
    filling_->bytes.insert(filling_->bytes.end(), data, data + size);
    return {};
}

void ArchiveWriter::HandOver() {
    std::unique_lock lock(mutex_);
    if (filling_ && !filling_->tiles.empty()) {
        handed_.push_back(std::move(filling_));
        changed_.notify_all();
    }
    if (filling_)
        return; // still empty
    if (!thread_.joinable())
        thread_ = std::thread(&ArchiveWriter::RunThread, this);
    if (free_.empty() && batches_ < kMaxBatches) {
        ++batches_;
        lock.unlock();
        auto batch = std::make_unique<Batch>();
        batch->tiles.reserve(kBatchTiles);
        batch->bytes.reserve(kBatchBytes);
        filling_ = std::move(batch);
        return;
    }
    changed_.wait(lock, [&] { return !free_.empty(); });
    filling_ = std::move(free_.back());
    free_.pop_back();
}

void ArchiveWriter::Drain() {
    if (!thread_.joinable())
        return;
    std::unique_lock lock(mutex_);
    if (filling_ && !filling_->tiles.empty()) {
        handed_.push_back(std::move(filling_));
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return handed_.empty() && !storing_; });
}

void ArchiveWriter::StopThread() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        if (filling_ && !filling_->tiles.empty())
            handed_.push_back(std::move(filling_));
        stop_ = true;
        changed_.notify_all();
    }
    thread_.join();
    handed_.clear();
    free_.clear();
    filling_.reset();
    batches_ = 0;
    stop_ = false;
}

void ArchiveWriter::RunThread() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || !handed_.empty(); });
        if (handed_.empty())
            return; // stopped, and all handed over is stored
        std::unique_ptr<Batch> batch = std::move(handed_.front());
        handed_.pop_front();
        storing_ = true;
        lock.unlock();
        // After a failure the rest is not stored: the archive will not be
        // written.
        if (!failed_.load(std::memory_order_relaxed)) {
            // The hashes first, so that the lookups can ask for their part
            // of the table a few tiles ahead.
            const std::vector<PendingTile>& tiles = batch->tiles;
            hashes_.resize(tiles.size());
            const uint8_t* bytes = batch->bytes.data();
            for (size_t i = 0; i < tiles.size(); ++i) {
                hashes_[i] = Hash(bytes, tiles[i].size);
                bytes += tiles[i].size;
            }
            constexpr size_t kSlotsAhead = 16, kContentsAhead = 8;
            bytes = batch->bytes.data();
            for (size_t i = 0; i < tiles.size(); ++i) {
                const PendingTile& tile = tiles[i];
                if (i + kSlotsAhead < tiles.size())
                    FetchSlot(hashes_[i + kSlotsAhead], tiles[i + kSlotsAhead].size);
                if (i + kContentsAhead < tiles.size())
                    FetchContent(hashes_[i + kContentsAhead], tiles[i + kContentsAhead].size);
                std::string error = StoreNow(tile.z, tile.x, tile.y, bytes, tile.size, hashes_[i]);
                if (!error.empty()) {
                    std::lock_guard failed(mutex_);
                    threadError_ = std::move(error);
                    failed_ = true;
                    break;
                }
                bytes += tile.size;
            }
        }
        batch->tiles.clear();
        batch->bytes.clear();
        lock.lock();
        free_.push_back(std::move(batch));
        storing_ = false;
        changed_.notify_all();
    }
}

std::string ArchiveWriter::ThreadError() {
    std::lock_guard lock(mutex_);
    return threadError_;
}

std::string ArchiveWriter::StoreNow(uint32_t z, uint32_t x, uint32_t y, const uint8_t* data, uint32_t size) {
    return StoreNow(z, x, y, data, size, Hash(data, size));
}

std::string ArchiveWriter::StoreNow(uint32_t z, uint32_t x, uint32_t y, const uint8_t* data, uint32_t size,
                                    uint32_t hash) {
    const uint64_t id = ZxyToTileId(z, x, y);
    std::string error;
    const uint32_t content = FindOrAddContent(data, size, hash, &error);
    if (!error.empty())
        return error;
    if (!tiles_.empty() && id <= tiles_.back().id)
        sorted_ = false;
    if (!tiles_.push_back(TileRef{id, content}))
        return "Not enough memory for the archive's index";

    Span& span = spans_[z];
    span.minX = std::min(span.minX, x);
    span.maxX = std::max(span.maxX, x);
    span.minY = std::min(span.minY, y);
    span.maxY = std::max(span.maxY, y);
    return {};
}

void ArchiveWriter::FetchSlot(uint32_t hash, uint32_t size) const {
    if (!table_.empty())
        __builtin_prefetch(&table_[FirstSlot(hash, size, table_.size() - 1)]);
}

void ArchiveWriter::FetchContent(uint32_t hash, uint32_t size) const {
    if (table_.empty())
        return;
    const uint32_t entry = table_[FirstSlot(hash, size, table_.size() - 1)];
    if (entry != 0)
        __builtin_prefetch(&contents_[entry - 1]);
}

uint32_t ArchiveWriter::FindOrAddContent(const uint8_t* data, uint32_t size, uint32_t hash, std::string* error) {
    if (table_.empty() || (contents_.size() + 1) * 2 > table_.size())
        GrowTable();
    const size_t mask = table_.size() - 1;
    size_t slot = FirstSlot(hash, size, mask);
    for (; table_[slot] != 0; slot = (slot + 1) & mask) {
        const uint32_t candidate = table_[slot] - 1;
        const Content& c = contents_[candidate];
        if (c.hash != hash || c.length != size)
            continue;
        if (SameBytes(candidate, data, size, error))
            return candidate;
        if (!error->empty())
            return 0;
    }
    if (contents_.size() >= std::numeric_limits<uint32_t>::max() - 1) {
        *error = "Too many distinct plates for one archive";
        return 0;
    }
    const uint64_t offset = spoolFlushed_ + spoolPending_.size();
    if (spoolPending_.size() + size > kSpoolBuffer && !FlushSpool(error))
        return 0;
    if (size > kSpoolBuffer) {
        if (!WriteAll(spool_, data, size, spoolFlushed_)) {
            *error = Errno("Cannot write the spool file");
            return 0;
        }
        spoolFlushed_ += size;
    } else {
        spoolPending_.insert(spoolPending_.end(), data, data + size);
    }
    const uint32_t number = static_cast<uint32_t>(contents_.size());
    contents_.push_back(Content{offset, size, hash});
    table_[slot] = number + 1;
    // The kinds of the contents are those of the tiles: each is looked at
    // once.
    const Kind kind = Sniff(data, size);
    if (kind_ == Kind::None)
        kind_ = kind;
    else if (kind != kind_)
        mixed_ = true;
    return number;
}

bool ArchiveWriter::SameBytes(uint32_t content, const uint8_t* data, uint32_t size, std::string* error) {
    if (content < hotAt_.size() && hotAt_[content] != 0)
        return std::memcmp(hotBytes_.data() + (hotAt_[content] - 1), data, size) == 0;
    scratch_.resize(size);
    if (!ReadSpool(contents_[content].spoolOffset, size, scratch_.data(), error))
        return false;
    if (std::memcmp(scratch_.data(), data, size) != 0)
        return false;
    if (hotBytes_.size() + size <= kHotBudget) {
        if (hotAt_.size() <= content)
            hotAt_.resize(std::max<size_t>(contents_.size(), 1024), 0);
        hotAt_[content] = static_cast<uint32_t>(hotBytes_.size() + 1);
        hotBytes_.insert(hotBytes_.end(), data, data + size);
    }
    return true;
}

void ArchiveWriter::GrowTable() {
    std::vector<uint32_t> grown(table_.empty() ? 1024 : table_.size() * 2, 0);
    const size_t mask = grown.size() - 1;
    for (const uint32_t entry : table_) {
        if (entry == 0)
            continue;
        const Content& c = contents_[entry - 1];
        size_t slot = FirstSlot(c.hash, c.length, mask);
        while (grown[slot] != 0)
            slot = (slot + 1) & mask;
        grown[slot] = entry;
    }
    table_.swap(grown);
}

bool ArchiveWriter::FlushSpool(std::string* error) {
    if (spoolPending_.empty())
        return true;
    if (!WriteAll(spool_, spoolPending_.data(), spoolPending_.size(), spoolFlushed_)) {
        *error = Errno("Cannot write the spool file");
        return false;
    }
    spoolFlushed_ += spoolPending_.size();
    spoolPending_.clear();
    return true;
}

bool ArchiveWriter::ReadSpool(uint64_t offset, uint32_t length, uint8_t* out, std::string* error) {
    if (offset >= spoolFlushed_) {
        std::memcpy(out, spoolPending_.data() + (offset - spoolFlushed_), length);
        return true;
    }
    if (!ReadAll(spool_, out, length, offset)) {
        *error = Errno("Cannot read the spool file");
        return false;
    }
    return true;
}

void ArchiveWriter::Normalize() {
    if (sorted_)
        return;
    if (PlaceById()) {
        sorted_ = true;
        return;
    }
    RadixSortById();
    // Of several stores of one tile the last (last in a stable sort) counts.
    size_t kept = 0;
    for (size_t i = 0; i < tiles_.size(); ++i) {
        if (kept > 0 && tiles_[kept - 1].id == tiles_[i].id)
            tiles_[kept - 1] = tiles_[i];
        else
            tiles_[kept++] = tiles_[i];
    }
    tiles_.resize(kept);
    sorted_ = true;
}

bool ArchiveWriter::PlaceById() {
    // Copies mostly cover whole levels or regions of them, so the ids fill
    // much of their range: every tile then goes straight to its place in an
    // array over the range (a later store of a tile over the earlier one),
    // and one walk along it packs the index in id order. Scattering once is
    // cheaper than the radix sort's several passes; sparse ids would make
    // the array too large, and go to the sort.
    const size_t n = tiles_.size();
    uint64_t low = std::numeric_limits<uint64_t>::max(), high = 0;
    for (const TileRef& tile : tiles_) {
        low = std::min<uint64_t>(low, tile.id);
        high = std::max<uint64_t>(high, tile.id);
    }
    if (n == 0 || high - low >= uint64_t{kDenseRange} * n)
        return false;
    // Content number + 1 by id - low (0: no tile), and a spare slot for
    // each half that takes the tiles of the other half, a cache line apart.
    const size_t range = static_cast<size_t>(high - low) + 1;
    constexpr size_t kSpareApart = 16;
    MappedArray<uint32_t> slots;
    if (!slots.resize(range + 2 * kSpareApart))
        return false;
    // Each half of the range is placed and packed by a thread of its own
    // (the array is fresh memory, slow to touch the first time, and the
    // rest of the copy waits for this), the first half's tiles into the
    // start of the index and the second's right after them.
    const size_t middle = range / 2;
    const size_t begins[2] = {0, middle};
    const size_t ends[2] = {middle, range};
    size_t count[2] = {};
    const auto place = [&](int half) {
        const size_t begin = begins[half], end = ends[half];
        // No branch a tile: one of the other half goes to the spare slot.
        const size_t spare = range + kSpareApart * static_cast<size_t>(half);
        for (const TileRef& tile : tiles_) {
            const size_t at = static_cast<size_t>(tile.id - low);
            slots[at >= begin && at < end ? at : spare] = tile.content + 1;
        }
        size_t taken = 0;
        for (size_t i = begin; i < end; ++i)
            taken += slots[i] != 0;
        count[half] = taken;
    };
    // Once both halves are placed, the index is read no more.
    const auto pack = [&](int half) {
        // No branch a slot either (which slots are taken follows no pattern
        // the processor could predict): every slot is written at `kept`,
        // which moves on only for a taken one and stays within the half's
        // part of the index until its last record is placed.
        const size_t first = half == 0 ? 0 : count[0];
        const size_t last = first + count[half];
        size_t kept = first;
        for (size_t i = begins[half]; i < ends[half] && kept < last; ++i) {
            const uint32_t slot = slots[i];
            tiles_[kept] = TileRef{low + i, slot - 1};
            kept += slot != 0;
        }
    };
    if (threaded_) {
        std::barrier<> placed(2);
        std::thread second([&] {
            place(1);
            placed.arrive_and_wait();
            pack(1);
        });
        place(0);
        placed.arrive_and_wait();
        pack(0);
        second.join();
    } else {
        place(0);
        place(1);
        pack(0);
        pack(1);
    }
    tiles_.resize(count[0] + count[1]);
    return true;
}

void ArchiveWriter::RadixSortById() {
    // Stable, a byte of the id a pass, leaving out the bytes all ids share
    // (the high ones, mostly): a few passes over the index instead of a
    // merge sort's log n, which took a tenth of a large copy's time.
    const size_t n = tiles_.size();
    std::vector<std::array<size_t, 256>> counts(8);
    for (auto& count : counts)
        count.fill(0);
    for (const TileRef& tile : tiles_) {
        const uint64_t id = tile.id;
        for (int byte = 0; byte < 8; ++byte)
            ++counts[byte][(id >> (8 * byte)) & 255];
    }
    MappedArray<TileRef> other;
    for (int byte = 0; byte < 8; ++byte) {
        std::array<size_t, 256>& count = counts[byte];
        if (std::find(count.begin(), count.end(), n) != count.end())
            continue; // one value for all: nothing to order
        if (other.empty() && !other.resize(n)) {
            // No memory for a second index: a merge sort in place.
            std::stable_sort(tiles_.begin(), tiles_.end(),
                             [](const TileRef& a, const TileRef& b) { return a.id < b.id; });
            return;
        }
        size_t next = 0;
        for (size_t& c : count) {
            const size_t here = c;
            c = next;
            next += here;
        }
        for (const TileRef& tile : tiles_)
            other[count[(tile.id >> (8 * byte)) & 255]++] = tile;
        tiles_.swap(other);
    }
}

bool ArchiveWriter::Read(uint64_t id, std::vector<uint8_t>* out, std::string* error) {
    Drain();
    Normalize();
    const auto it = std::lower_bound(tiles_.begin(), tiles_.end(), id,
                                     [](const TileRef& tile, uint64_t value) { return tile.id < value; });
    if (it == tiles_.end() || it->id != id)
        return false;
    const Content& c = contents_[it->content];
    out->resize(c.length);
    return ReadSpool(c.spoolOffset, c.length, out->data(), error);
}

void ArchiveWriter::Discard() {
    StopThread();
    failed_ = false;
    threadError_.clear();
    if (spool_ >= 0)
        close(spool_);
    spool_ = -1;
    spoolFlushed_ = 0;
    // Swaps, not clear(): a finished copy gives its memory back.
    std::vector<uint8_t>().swap(spoolPending_);
    tiles_.Free();
    std::vector<Content>().swap(contents_);
    std::vector<uint32_t>().swap(table_);
    std::vector<uint64_t>().swap(outOffsets_);
    std::vector<uint8_t>().swap(scratch_);
    std::vector<uint32_t>().swap(hashes_);
    std::vector<uint32_t>().swap(hotAt_);
    std::vector<uint8_t>().swap(hotBytes_);
    sorted_ = true;
    kind_ = Kind::None;
    mixed_ = false;
    for (Span& span : spans_)
        span = Span{};
    minFx_ = minFy_ = 1;
    maxFx_ = maxFy_ = 0;
}

std::string ArchiveWriter::Finish() {
    StopThread();
    if (failed_) {
        // A store that was answered is not in the spool.
        std::string error = threadError_;
        Discard();
        return error;
    }
    // Without tiles an archive is written only to hold a description.
    const bool described = !description_.members.empty() || description_.hasBounds || description_.hasCenter;
    if (spool_ < 0 || (tiles_.empty() && !described)) {
        Discard();
        return {};
    }
    std::string error;
    if (!FlushSpool(&error)) {
        Discard();
        return error;
    }
    // What only the stores needed goes before the archive's own buffers.
    std::vector<uint32_t>().swap(table_);
    std::vector<uint32_t>().swap(hotAt_);
    std::vector<uint8_t>().swap(hotBytes_);
    Normalize();
    // The covered area as fractions of the world, over every zoom.
    for (uint32_t zoom = 0; zoom <= kMaxZoom; ++zoom) {
        const Span& span = spans_[zoom];
        if (span.minX > span.maxX)
            continue;
        const double side = std::ldexp(1.0, static_cast<int>(zoom));
        minFx_ = std::min(minFx_, span.minX / side);
        maxFx_ = std::max(maxFx_, (span.maxX + 1.0) / side);
        minFy_ = std::min(minFy_, span.minY / side);
        maxFy_ = std::max(maxFy_, (span.maxY + 1.0) / side);
    }

    // Refuse to replace an archive someone put there meanwhile: the target
    // was an empty file (or none) when the writing began.
    struct stat info {};
    if (stat(target_.c_str(), &info) == 0 && (!S_ISREG(info.st_mode) || info.st_size != 0)) {
        Discard();
        return "The target changed while the archive was being written: nothing written";
    }
    std::string named;
    const int fd = UnnamedFile(FolderOf(target_), target_ + ".part.", &named);
    if (fd < 0) {
        error = Errno("Cannot make the new archive");
        Discard();
        return error;
    }
    error = WriteArchive(fd);
    if (error.empty() && fsync(fd) != 0)
        error = Errno("Cannot write the new archive");
    if (error.empty() && named.empty())
        error = LinkOver(fd, target_);
    else if (error.empty() && rename(named.c_str(), target_.c_str()) != 0)
        error = Errno("Cannot put the new archive in place");
    if (!error.empty() && !named.empty())
        unlink(named.c_str());
    close(fd);
    if (error.empty()) {
        // The rename is durable once the folder is.
        const int folder = open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            fsync(folder);
            close(folder);
        }
    }
    Discard();
    return error;
}

template <class Emit>
bool ArchiveWriter::EntriesOf(size_t begin, size_t end, Emit&& emit) const {
    Entry current{};
    size_t first = begin;
    bool have = false;
    for (size_t i = begin; i < end; ++i) {
        const TileRef& tile = tiles_[i];
        const uint64_t offset = outOffsets_[tile.content];
        if (have && tile.id == current.tileId + current.runLength && offset == current.offset &&
            current.runLength < std::numeric_limits<uint32_t>::max()) {
            ++current.runLength;
            continue;
        }
        if (have && !emit(current, first))
            return false;
        current = Entry{tile.id, offset, contents_[tile.content].length, 1};
        first = i;
        have = true;
    }
    return !have || emit(current, first);
}

std::string ArchiveWriter::BuildDirectories(std::vector<uint8_t>* root, uint64_t* leafBase, uint64_t* leafLength,
                                            uint64_t* entryCount) {
    // A content gets its place in the tile data where it is first used, so
    // the data follows the ids.
    outOffsets_.assign(contents_.size(), kNone64);
    uint64_t next = 0;
    for (const TileRef& tile : tiles_) {
        uint64_t& offset = outOffsets_[tile.content];
        if (offset == kNone64) {
            offset = next;
            next += contents_[tile.content].length;
        }
    }
    // The entries: consecutive ids sharing a content make one. A leaf holds
    // a multiple of kLeafEntries of them, so it begins at one of `starts`
    // (the first tile of every kLeafEntries-th entry).
    constexpr uint64_t kLeafEntries = 4096;
    uint64_t count = 0;
    std::vector<size_t> starts;
    EntriesOf(0, tiles_.size(), [&](const Entry&, size_t first) {
        if (count++ % kLeafEntries == 0)
            starts.push_back(first);
        return true;
    });
    *entryCount = count;

    std::vector<uint8_t> raw;
    std::vector<Entry> chunk;
    const auto collect = [&chunk](const Entry& e, size_t) {
        chunk.push_back(e);
        return true;
    };
    // Everything in the root when it fits.
    if (count <= 16384) {
        chunk.reserve(count);
        EntriesOf(0, tiles_.size(), collect);
        EncodeDirectory(chunk.data(), chunk.size(), &raw);
        if (std::string error = Gzip(raw.data(), raw.size(), root); !error.empty())
            return error;
        if (root->size() <= kMaxRootBytes) {
            *leafBase = 0;
            *leafLength = 0;
            return {};
        }
    }
    // Leaf directories go after the spooled data and are copied into the
    // archive from there; they grow until the root fits. Compressing them
    // is most of an archive's closing time, and nothing else runs then: the
    // second half of them is made on a thread of its own.
    *leafBase = spoolFlushed_;
    std::vector<Entry> rootEntries;
    for (size_t step = 1;; step *= 2) {
        const size_t leaves = (starts.size() + step - 1) / step;
        std::vector<std::vector<uint8_t>> packed(leaves);
        const auto makeLeaves = [&](size_t from, size_t to, std::string* error) {
            Gzipper gzip;
            std::vector<Entry> entries;
            std::vector<uint8_t> encoded, compressed;
            for (size_t k = from; k < to && error->empty(); ++k) {
                const size_t end = (k + 1) * step < starts.size() ? starts[(k + 1) * step] : tiles_.size();
                entries.clear();
                EntriesOf(starts[k * step], end, [&entries](const Entry& e, size_t) {
                    entries.push_back(e);
                    return true;
                });
                encoded.clear();
                EncodeDirectory(entries.data(), entries.size(), &encoded);
                // Into room kept from leaf to leaf, then only its bytes kept:
                // a leaf's room for the worst case is ten times its size.
                *error = gzip.Compress(encoded.data(), encoded.size(), &compressed);
                packed[k].assign(compressed.begin(), compressed.end());
            }
        };
        std::string error, otherError;
        std::thread other;
        const size_t half = leaves / 2;
        try {
            if (half > 0)
                other = std::thread(makeLeaves, half, leaves, &otherError);
        } catch (const std::system_error&) {
            // No thread: this one makes them all.
        }
        makeLeaves(0, other.joinable() ? half : leaves, &error);
        if (other.joinable())
            other.join();
        if (error.empty())
            error = std::move(otherError);
        if (!error.empty())
            return error;
        uint64_t length = 0;
        rootEntries.clear();
        for (size_t k = 0; k < leaves; ++k) {
            if (!WriteAll(spool_, packed[k].data(), packed[k].size(), *leafBase + length))
                return Errno("Cannot write the spool file");
            rootEntries.push_back(Entry{tiles_[starts[k * step]].id, length, packed[k].size(), 0});
            length += packed[k].size();
            std::vector<uint8_t>().swap(packed[k]);
        }
        raw.clear();
        EncodeDirectory(rootEntries.data(), rootEntries.size(), &raw);
        if (error = Gzip(raw.data(), raw.size(), root); !error.empty())
            return error;
        if (root->size() <= kMaxRootBytes) {
            *leafLength = length;
            return {};
        }
    }
}

std::string ArchiveWriter::Metadata() const {
    std::string name = target_.substr(target_.rfind('/') + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.resize(dot);
    const auto given = [this](const char* key) {
        for (const auto& member : description_.members)
            if (member.first == key)
                return true;
        return false;
    };
    std::string json = "{";
    if (!given("name"))
        json += "\"name\":" + JsonString(name);
    const char* format = nullptr;
    if (!mixed_) {
        switch (kind_) {
        case Kind::Png: format = "png"; break;
        case Kind::Jpeg: format = "jpg"; break;
        case Kind::Webp: format = "webp"; break;
        case Kind::Avif: format = "avif"; break;
        case Kind::Gzip: format = "pbf"; break;
        default: break;
        }
    }
    // Appended piece by piece: GCC 12 warns (-Wrestrict, wrongly) about a
    // temporary built with operator+ from a literal.
    const auto add = [&json](const std::string& key, const std::string& value) {
        if (json.size() > 1)
            json += ',';
        json += JsonString(key);
        json += ':';
        json += value;
    };
    if (format && !given("format")) {
        std::string quoted = "\"";
        quoted += format;
        quoted += '"';
        add("format", quoted);
    }
    if (!mixed_ && kind_ == Kind::Gzip && !given("vector_layers"))
        add("vector_layers", "[]");
    for (const auto& [key, value] : description_.members)
        add(key, value);
    return json + "}";
}

std::string ArchiveWriter::WriteArchive(int fd) {
    std::vector<uint8_t> root;
    uint64_t leafBase = 0, leafLength = 0, entryCount = 0;
    if (std::string error = BuildDirectories(&root, &leafBase, &leafLength, &entryCount); !error.empty())
        return error;
    const std::string json = Metadata();
    std::vector<uint8_t> metadata;
    if (std::string error = Gzip(reinterpret_cast<const uint8_t*>(json.data()), json.size(), &metadata);
        !error.empty())
        return error;

    Header h;
    h.rootOffset = kHeaderSize;
    h.rootLength = root.size();
    h.metadataOffset = h.rootOffset + h.rootLength;
    h.metadataLength = metadata.size();
    h.leafOffset = h.metadataOffset + h.metadataLength;
    h.leafLength = leafLength;
    h.tileDataOffset = h.leafOffset + h.leafLength;
    h.addressedTiles = tiles_.size();
    h.tileEntries = entryCount;
    h.clustered = true;
    h.internalCompression = kGzip;
    h.tileCompression = !mixed_ && kind_ == Kind::Gzip ? kGzip : mixed_ ? kUnknown : kNone;
    if (!mixed_) {
        switch (kind_) {
        case Kind::Png: h.tileType = 2; break;
        case Kind::Jpeg: h.tileType = 3; break;
        case Kind::Webp: h.tileType = 4; break;
        case Kind::Avif: h.tileType = 5; break;
        case Kind::Gzip: h.tileType = 1; break;
        default: h.tileType = 0; break;
        }
    }
    uint32_t z = 0, x = 0, y = 0;
    if (tiles_.empty()) {
        // No tiles: zoom 0 and the whole world, unless the description
        // says otherwise.
        minFx_ = minFy_ = 0;
        maxFx_ = maxFy_ = 1;
    } else {
        TileIdToZxy(tiles_.front().id, &z, &x, &y);
        h.minZoom = static_cast<uint8_t>(z);
        TileIdToZxy(tiles_.back().id, &z, &x, &y);
        h.maxZoom = static_cast<uint8_t>(z);
    }
    h.minLonE7 = E7(minFx_ * 360 - 180);
    h.maxLonE7 = E7(maxFx_ * 360 - 180);
    h.minLatE7 = E7(Latitude(maxFy_));
    h.maxLatE7 = E7(Latitude(minFy_));
    h.centerZoom = h.minZoom;
    h.centerLonE7 = E7((minFx_ + maxFx_) * 180 - 180);
    h.centerLatE7 = E7(Latitude((minFy_ + maxFy_) / 2));
    // The source's own extent is finer than the tiles' edges.
    if (description_.hasBounds) {
        h.minLonE7 = E7(description_.bounds[0]);
        h.minLatE7 = E7(description_.bounds[1]);
        h.maxLonE7 = E7(description_.bounds[2]);
        h.maxLatE7 = E7(description_.bounds[3]);
        h.centerLonE7 = (h.minLonE7 / 2) + (h.maxLonE7 / 2);
        h.centerLatE7 = (h.minLatE7 / 2) + (h.maxLatE7 / 2);
    }
    if (description_.hasCenter) {
        h.centerLonE7 = E7(description_.center[0]);
        h.centerLatE7 = E7(description_.center[1]);
        h.centerZoom = static_cast<uint8_t>(std::clamp(description_.center[2], 0.0, double{kMaxZoom}));
    }

    Output out(fd, kHeaderSize);
    if (!out.Put(root.data(), root.size()) || !out.Put(metadata.data(), metadata.size()))
        return Errno("Cannot write the new archive");
    std::string error;
    // The leaf directories, from the spool.
    for (uint64_t done = 0; done < leafLength;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(leafLength - done, kOutBuffer));
        uint8_t* room = out.Reserve(piece);
        if (!room)
            return Errno("Cannot write the new archive");
        if (!ReadAll(spool_, room, piece, leafBase + done))
            return Errno("Cannot read the spool file");
        done += piece;
    }
    // The tile data in id order: a content is written where it is first
    // used, which is where BuildDirectories placed it.
    // The spool is mapped, so that a content costs a copy, not a read call;
    // the pages copied are let go after every 16 MiB copied (they stay in
    // the page cache), so the process does not grow by the spool's size. (Let
    // go every megabyte, the pages that tiles near on the curve share were
    // mapped again and again: the close of ten million distinct tiles took
    // a third longer.)
    const size_t mapped = static_cast<size_t>(spoolFlushed_);
    void* map = mmap(nullptr, mapped, PROT_READ, MAP_SHARED, spool_, 0);
    const auto* spool = map == MAP_FAILED ? nullptr : static_cast<const uint8_t*>(map);
    if (spool)
        madvise(map, mapped, MADV_RANDOM); // no pages around the one read
    uint64_t written = 0;
    uint64_t contentsWritten = 0;
    uint64_t sinceRelease = 0;
    for (const TileRef& tile : tiles_) {
        if (outOffsets_[tile.content] != written)
            continue;
        const Content& c = contents_[tile.content];
        uint8_t* room = out.Reserve(c.length);
        if (!room)
            error = Errno("Cannot write the new archive");
        else if (spool)
            std::memcpy(room, spool + c.spoolOffset, c.length);
        else
            ReadSpool(c.spoolOffset, c.length, room, &error);
        if (!error.empty())
            break;
        written += c.length;
        ++contentsWritten;
        if (spool && (sinceRelease += c.length) >= kMappedBytes) {
            madvise(map, mapped, MADV_DONTNEED);
            sinceRelease = 0;
        }
    }
    if (spool)
        munmap(map, mapped);
    if (!error.empty())
        return error;
    if (!out.Flush())
        return Errno("Cannot write the new archive");
    h.tileDataLength = written;
    h.tileContents = contentsWritten;
    uint8_t head[kHeaderSize];
    SerializeHeader(h, head);
    if (!WriteAll(fd, head, sizeof head, 0))
        return Errno("Cannot write the new archive");
    return {};
}

} // namespace pmtiles
