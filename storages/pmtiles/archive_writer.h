#pragma once
// Writes a new PMTiles version 3 archive from plates stored in any order.
//
// A store appends the plate's bytes to a spool, an unnamed temporary file
// beside the target, unless the same bytes were stored before (a hash, then
// the bytes compared): then the plate only points at them. Where there is a
// second core, stores are copied into batches that a thread of the writer's
// own takes in order, so that the caller goes on reading its source
// meanwhile; a failure there fails every later store and the archive. What stays in
// memory is an index of a few bytes a plate (tile id and content number) and
// of each distinct content (spool offset, length, hash). Finish sorts the
// index by tile id and writes the archive into a temporary file beside the
// target: header, root directory, metadata, leaf directories, then the tile
// data in tile id order, each content once, runs of consecutive ids with the
// same content as one entry. Only the complete archive is renamed over the
// target; a process that dies before that leaves no file behind.

#include "pmtiles_format.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pmtiles {

// An array of plain records in a mapping of its own, for the index of a
// large copy: it grows by moving the mapping (no copy of what it holds, no
// second copy in memory meanwhile) and asks for huge pages (a page fault a
// 2 MiB instead of a 4 KiB). Growing answers false when memory runs out.
template <class T>
class MappedArray {
public:
    MappedArray() = default;
    ~MappedArray() { Free(); }
    MappedArray(const MappedArray&) = delete;
    MappedArray& operator=(const MappedArray&) = delete;

    bool push_back(const T& value) {
        if (size_ == capacity_ && !Reserve(size_ + 1))
            return false;
        data_[size_++] = value;
        return true;
    }
    // Up to `count` records; new ones are zero.
    bool resize(size_t count) {
        if (count > capacity_ && !Reserve(count))
            return false;
        size_ = count;
        return true;
    }
    void Free();
    void swap(MappedArray& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }
    const T* begin() const { return data_; }
    const T* end() const { return data_ + size_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    const T& front() const { return data_[0]; }
    const T& back() const { return data_[size_ - 1]; }

private:
    bool Reserve(size_t count);

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

template <class T>
inline bool MappedArray<T>::Reserve(size_t count) {
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t wanted = std::max(count, capacity_ * 2) * sizeof(T);
    const size_t bytes = (wanted + kHugePage - 1) / kHugePage * kHugePage;
    const size_t had = (capacity_ * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
    void* at = data_ ? mremap(data_, had, bytes, MREMAP_MAYMOVE)
                     : mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED)
        return false;
    // Anonymous memory gets huge pages only when asked for where the
    // system's setting is "madvise"; a refusal costs only the speed.
    madvise(at, bytes, MADV_HUGEPAGE);
    data_ = static_cast<T*>(at);
    capacity_ = bytes / sizeof(T);
    return true;
}

template <class T>
inline void MappedArray<T>::Free() {
    if (data_) {
        constexpr size_t kHugePage = size_t{2} << 20;
        munmap(data_, (capacity_ * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage);
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
}

class ArchiveWriter {
public:
    ArchiveWriter();
    ~ArchiveWriter() { Discard(); }
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Makes the spool beside `target`; an empty text or what failed.
    std::string Start(const std::string& target);
    bool Started() const { return spool_ >= 0; }

    // Spools the tile z/x/y (z up to kMaxZoom); a later store of the same
    // tile replaces it. An empty text or what failed: with the writer's
    // thread, what failed in an earlier store's batch, which also fails the
    // archive (that store had been answered).
    std::string Store(uint32_t z, uint32_t x, uint32_t y, const uint8_t* data, uint32_t size);

    // The stored bytes of tile `id` into `out`; false when it was not stored.
    // Throws nothing; a read failure is reported in `error`.
    bool Read(uint64_t id, std::vector<uint8_t>* out, std::string* error);

    // Calls visit(id, size) for every stored tile in id order until it
    // answers false; returns false then.
    template <class Visit>
    bool ForEach(Visit&& visit) {
        Drain();
        Normalize();
        for (const TileRef& tile : tiles_)
            if (!visit(uint64_t{tile.id}, contents_[tile.content].length))
                return false;
        return true;
    }

    // What describes the archive beyond what its tiles tell: JSON metadata
    // members (key, the value as JSON text) that replace the writer's own
    // "name" and "format", and the header's bounds (west, south, east,
    // north) and center (longitude, latitude, zoom) when they were given.
    struct Description {
        std::vector<std::pair<std::string, std::string>> members;
        bool hasBounds = false;
        double bounds[4] = {};
        bool hasCenter = false;
        double center[3] = {};
    };
    void Describe(Description description) { description_ = std::move(description); }

    // Writes the archive and renames it over the target; with nothing stored
    // the target is left as it is. Frees the spool either way. An empty text
    // or what failed (then no archive and no temporary file are left).
    std::string Finish();
    // Drops the spool without writing anything.
    void Discard();

    // Root directory plus header must fit the first 16 KiB.
    static constexpr size_t kMaxRootBytes = 16384 - kHeaderSize;

private:
    // Packed: the index is most of the memory a large copy needs.
    struct __attribute__((packed)) TileRef {
        uint64_t id;
        uint32_t content;
    };
    struct Content {
        uint64_t spoolOffset;
        uint32_t length;
        uint32_t hash;
    };
    enum class Kind : uint8_t { None, Png, Jpeg, Webp, Avif, Gzip, Other };

    // Store's work on the stored data, in the writer's thread when it has one.
    // `hash`: Hash(data, size), when the caller has it.
    std::string StoreNow(uint32_t z, uint32_t x, uint32_t y, const uint8_t* data, uint32_t size);
    std::string StoreNow(uint32_t z, uint32_t x, uint32_t y, const uint8_t* data, uint32_t size, uint32_t hash);
    // Stores waiting in a batch: their bytes follow one another in the
    // batch's bytes, in the order of the stores.
    struct PendingTile {
        uint32_t z, x, y, size;
    };
    struct Batch {
        std::vector<PendingTile> tiles;
        std::vector<uint8_t> bytes;
    };
    // Hands the batch being filled to the writer's thread and takes another,
    // one it gave back when there are as many as it may hold.
    void HandOver();
    // Returns once the writer's thread has stored every batch handed over.
    void Drain();
    // Ends the writer's thread once it has stored what it was handed.
    void StopThread();
    void RunThread();
    std::string ThreadError();

    uint32_t FindOrAddContent(const uint8_t* data, uint32_t size, uint32_t hash, std::string* error);
    // Where the lookup of a content starts in a table of `mask` + 1 slots,
    // and asking for that slot and the content it holds ahead of the lookup
    // (a table of millions of contents is read at random: most lookups
    // would wait for memory).
    static size_t FirstSlot(uint32_t hash, uint32_t size, size_t mask) { return (hash ^ size * 0x9E3779B1u) & mask; }
    void FetchSlot(uint32_t hash, uint32_t size) const;
    void FetchContent(uint32_t hash, uint32_t size) const;
    bool SameBytes(uint32_t content, const uint8_t* data, uint32_t size, std::string* error);
    bool ReadSpool(uint64_t offset, uint32_t length, uint8_t* out, std::string* error);
    bool FlushSpool(std::string* error);
    void GrowTable();
    // Sorts the index by tile id, keeping the last store of each tile.
    void Normalize();
    // Normalize for ids that fill at least 1 / kDenseRange of their range;
    // false (the index as it was) for sparser ones or without memory.
    bool PlaceById();
    static constexpr uint64_t kDenseRange = 4;
    void RadixSortById();
    std::string WriteArchive(int fd);
    std::string BuildDirectories(std::vector<uint8_t>* root, uint64_t* leafBase, uint64_t* leafLength,
                                 uint64_t* entries);
    // Calls emit(entry, its first tile's index) for the entries of the
    // sorted tiles [begin, end), which must begin an entry, until it answers
    // false; returns false then. Reads only (BuildDirectories places the
    // contents first), so that two threads may call it.
    template <class Emit>
    bool EntriesOf(size_t begin, size_t end, Emit&& emit) const;
    std::string Metadata() const;
    static Kind Sniff(const uint8_t* data, uint32_t size);

    std::string target_;
    int spool_ = -1;
    uint64_t spoolFlushed_ = 0;          // bytes in the file
    std::vector<uint8_t> spoolPending_;  // bytes after them, not yet written
    MappedArray<TileRef> tiles_;
    bool sorted_ = true;
    std::vector<Content> contents_;
    std::vector<uint32_t> table_;        // content number + 1 by hash; 0: free
    // Bytes of contents that were stored again, so that comparing the next
    // copy needs no read from the spool (sea and land tiles repeat a lot):
    // hotAt_[content] is their place in hotBytes_ + 1 (0: not kept), made
    // with the first content kept, so a copy without repeats has neither.
    std::vector<uint32_t> hotAt_;
    std::vector<uint8_t> hotBytes_;
    std::vector<uint8_t> scratch_;
    std::vector<uint32_t> hashes_;       // of a batch's tiles, in the writer's thread
    std::vector<uint64_t> outOffsets_;   // per content, while finishing

    // The writer's thread (with a second core), the batches it has to store
    // in order, those it gave back, and what failed there first.
    const bool threaded_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Batch>> handed_;
    std::vector<std::unique_ptr<Batch>> free_;
    std::unique_ptr<Batch> filling_;
    int batches_ = 0; // made so far: in use, handed or free
    bool storing_ = false;
    bool stop_ = false;
    std::atomic<bool> failed_{false};
    std::string threadError_;

    Description description_;
    Kind kind_ = Kind::None;
    bool mixed_ = false;
    // The covered area, per zoom in plates (integers: cheaper a store than
    // fractions of the world, which Finish makes of them).
    struct Span {
        uint32_t minX = UINT32_MAX, maxX = 0, minY = UINT32_MAX, maxY = 0;
    };
    Span spans_[kMaxZoom + 1];
    double minFx_ = 1, maxFx_ = 0, minFy_ = 1, maxFy_ = 0; // covered area, fractions of the world (Finish)
};

} // namespace pmtiles
