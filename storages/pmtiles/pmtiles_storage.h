#pragma once
// One open PMTiles version 3 archive, read through a byte source (a file of
// this machine, or ranges of an object over HTTP): the root directory is
// kept from Open on, leaf directories are read as a listing or a lookup
// reaches them, and a remote source's directories stay in memory while the
// archive is open.

#include "archive_writer.h"
#include "plugin_glue.h"
#include "pmtiles_format.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace pmtiles {

// Where an archive's bytes come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The archive's size in bytes.
    virtual uint64_t Size() const = 0;
    // Exactly `length` bytes from `offset`; false with *error set otherwise
    // (for a remote source also when the archive changed since it was opened).
    virtual bool ReadAt(uint64_t offset, size_t length, uint8_t* out, std::string* error) = 0;
    // Whether each read costs a round trip: directories read once are kept.
    virtual bool Remote() const { return false; }
};

class Storage : public storage_glue::StorageBase {
public:
    static constexpr const char* kExtension = "pmtiles";
    // Writers use one level of leaf directories; a few more are read, but
    // a bound keeps a damaged archive whose leaves point back from looping.
    static constexpr int kMaxLeafDepth = 4;
    // A bigger directory (compressed or not) is taken as damage.
    static constexpr size_t kMaxDirectoryBytes = size_t{64} << 20;

    ~Storage() { Close(); }

    bool Open(const char* path);
    // Opens the archive `source` holds, read-only; `name` names it in messages.
    bool OpenSource(std::unique_ptr<ByteSource> source, const std::string& name);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);
    // Every tile with its data in one walk of the directories, in tile id
    // order (the plate stream extension).
    uint32_t StreamPlates(PlateStreamCallback callback, void* cookie);
    static constexpr uint32_t kStreamFlags = 0;
    // The metadata extension (pmtiles_metadata.cpp): the header's fields as
    // "header.*" keys and the JSON metadata's members; a new archive keeps
    // what is written for the archive it writes at close.
    uint32_t ReadMetadata(MetadataCallback callback, void* cookie);
    uint32_t WriteMetadata(const char* key, const char* value);

    const Header& ArchiveHeader() const { return header_; }

    // The archive's directories checked for consistency, and its size
    // (pmtiles_container.cpp). An archive is written whole: it keeps no
    // free space to reclaim.
    uint32_t CheckContainer(ContainerCallback callback, void* cookie);
    uint32_t MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes);

private:
    // One directory as read: level 0 is the root, level d a leaf reached
    // through d leaf entries. Its buffers are reused by the next directory
    // of the same level.
    struct Level {
        uint64_t offset = UINT64_MAX; // in the file; UINT64_MAX: none loaded
        uint64_t length = 0;
        std::vector<uint8_t> raw;
        std::vector<uint8_t> inflated;
        std::vector<Entry> entries;
    };
    struct Walk;
    struct Audit;

    // Reads and decodes the directory at `offset` of the file into `level`;
    // an empty text or what is wrong (*unread set when the bytes could not
    // be read, rather than being damaged).
    std::string ReadDirectory(uint64_t offset, uint64_t length, Level* level, bool* unread);
    // Loads the leaf directory of `entry` into level `depth`; an empty text
    // or the failure's text.
    std::string LoadLeaf(int depth, const Entry& entry);
    uint32_t WalkLevel(int depth, uint64_t low, uint64_t high, Walk& walk);
    bool ReadAt(uint64_t offset, size_t length, uint8_t* out, std::string* error);
    // Reads the header and the root directory from source_.
    bool OpenArchive();
    std::string RunDamage(const Entry& entry) const;
    bool AuditLevel(int depth, uint64_t low, uint64_t high, Audit& audit);

    uint32_t Store(const char* name, const void* data, uint32_t size);
    // `length` bytes of the tile data at `offset` (within it), for the
    // stream; null with *error set when they could not be read.
    const uint8_t* StreamData(uint64_t offset, size_t length, std::string* error);

    std::unique_ptr<ByteSource> source_;
    // An empty file is a new archive: stores are spooled and the archive is
    // written when the storage closes.
    bool newArchive_ = false;
    std::string path_;
    ArchiveWriter writer_;
    ArchiveWriter::Description description_; // a new archive's, as written so far
    uint64_t fileSize_ = 0;
    Header header_;
    std::array<Level, kMaxLeafDepth + 1> levels_;
    // A remote source's directories as read (raw bytes by offset), up to
    // kMaxCachedBytes in all.
    static constexpr size_t kMaxCachedBytes = size_t{256} << 20;
    std::unordered_map<uint64_t, std::vector<uint8_t>> cached_;
    size_t cachedBytes_ = 0;
    std::vector<uint8_t> data_; // the block GetPlateData handed out
    std::vector<uint8_t> window_; // the stream's piece of the tile data, from windowAt_
    uint64_t windowAt_ = 0;
};

} // namespace pmtiles
