#pragma once
// A PMTiles archive read by HTTP range requests: an object in a bucket
// (signed like every request of the bucket) or a file on any web server.
// The first read brings the archive's first 16 KiB (its header and, as
// writers lay them out, its root directory) and its ETag; every later read
// asks for that same ETag, so an archive replaced while it is read fails the
// read instead of mixing two archives' bytes.

#include "pmtiles_storage.h"
#include "s3_client.h"

#include <memory>
#include <string>

namespace s3 {

class RangeSource : public pmtiles::ByteSource {
public:
    static constexpr size_t kFirstRead = 16384;

    // `client` outlives the source.
    RangeSource(Client* client, std::string url, std::string name);
    // Reads the first block; false with *error set when the archive cannot be read.
    bool Start(std::string* error);

    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, size_t length, uint8_t* out, std::string* error) override;
    bool Remote() const override { return true; }

private:
    Client* client_;
    std::string url_;
    std::string name_; // the archive's path as the user gave it
    uint64_t size_ = 0;
    std::string etag_;
    std::string first_; // the archive's first bytes
};

// "https://HOST/PATH", "http://..." or "s3://BUCKET/KEY.pmtiles": a remote
// PMTiles archive.
bool IsRemoteArchive(const std::string& path);

} // namespace s3
