#pragma once
// A tile tree in an S3-compatible bucket: "s3://BUCKET/PREFIX", with the
// folder plugin's layouts and options for the keys below the prefix
// ("s3://tiles/osm?layout=tms"); z/x/y when none is given. A PMTiles archive
// in a bucket ("s3://BUCKET/KEY.pmtiles") or on a web server
// ("https://HOST/PATH.pmtiles", read without credentials) is read, not
// written, by range requests through the PMTiles plugin's reader.
//
// Stores are collected and their PUTs sent together, many at a time over
// kept-alive connections: the store that fills a batch, and Close, send it,
// and a PUT that fails fails that call. At Close the last store goes out
// only after every other succeeded, so that a check of the last plate
// stored tells whether all are. Deletions are collected and sent as
// DeleteObjects of up to 1000 keys in the same way. Reads and listings send
// what is pending first, so they see every change answered Done. A read of
// a listed plate also fetches the plates listed after it, together.

#include "folder_layout.h"
#include "pmtiles_storage.h"
#include "plugin_glue.h"
#include "s3_client.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace s3 {

// "s3://BUCKET/PREFIX": false for another form. The prefix keeps no
// trailing '/'.
bool SplitUrl(const std::string& url, std::string* bucket, std::string* prefix);

class Storage : public storage_glue::StorageBase {
public:
    // A plugin that uses folders names the URL schemes it serves here.
    static constexpr const char* kExtension = "s3,https,http";

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);
    // The tree's metadata.json object, or a remote archive's header and
    // JSON metadata (s3_metadata.cpp).
    uint32_t ReadMetadata(MetadataCallback callback, void* cookie);
    uint32_t WriteMetadata(const char* key, const char* value);

private:
    // The key of a plate without its extension ("PREFIX/z/x/y"); false for
    // a name that is no plate.
    bool KeyStem(const char* name, std::string* stem) const;
    // The plate name of a key below the prefix; false for another object.
    bool NameOfKey(const std::string& key, char* name) const;
    // The key the plate has in the bucket: from the keys known, else asked
    // of the store. Empty when there is none.
    bool FindKey(const std::string& stem, std::string* key);
    bool FlushDeletes();
    // Sends the stores collected; `closing`: the last one after the others.
    bool FlushStores(bool closing);
    // Fetches `key` and the keys listed after it into ahead_.
    bool ReadAhead(const std::string& stem, const std::string& key);
    bool OpenArchive(const std::string& path);
    // The archive's answer, with its error text as ours.
    uint32_t FromArchive(uint32_t result);

    std::unique_ptr<Client> client_;
    std::string bucket_;
    std::string prefix_; // with its trailing '/', or empty
    folder::Layout layout_;
    // Plate stems to keys, complete when `complete_` (an empty tree at Open,
    // or after a listing), kept as stores and deletes change the tree; with
    // the key's place in the last listing (kUnlisted for others).
    static constexpr size_t kUnlisted = SIZE_MAX;
    struct Known {
        std::string key;
        size_t position = kUnlisted;
    };
    std::unordered_map<std::string, Known> keys_;
    std::vector<std::string> order_; // the stems in listing order
    bool complete_ = false;
    std::vector<std::string> pendingDeletes_;
    static constexpr size_t kStoreBatch = 256;
    static constexpr size_t kStoreBatchBytes = size_t{32} << 20;
    struct PendingStore {
        std::string stem;
        std::string key;
        std::string old; // the key it had before; empty for none
    };
    std::vector<PendingStore> pendingStores_;
    std::vector<Request> storeRequests_; // their PUTs, in the same order
    std::unordered_set<std::string> pendingStems_;
    size_t pendingBytes_ = 0;
    static constexpr size_t kReadAhead = 64;
    std::unordered_map<std::string, std::string> ahead_; // keys to data fetched ahead
    std::string data_; // the block GetPlateData handed out
    std::unique_ptr<pmtiles::Storage> archive_; // a remote PMTiles archive, when that is open
};

} // namespace s3
