#pragma once
// A tile tree in an S3-compatible bucket: "s3://BUCKET/PREFIX", with the
// folder plugin's layouts and options for the keys below the prefix
// ("s3://tiles/osm?layout=tms"); z/x/y when none is given. A PMTiles archive
// in a bucket ("s3://BUCKET/KEY.pmtiles") or on a web server
// ("https://HOST/PATH.pmtiles", read without credentials) is read, not
// written, by range requests through the PMTiles plugin's reader.
//
// Stores are one PUT each and answered when it succeeded. Deletions are
// collected and sent as DeleteObjects of up to 1000 keys; the deletion that
// fills a batch, and Close, send it, and a batch that fails fails that
// call. Reads and listings send what is pending first, so they see every
// change answered Done.

#include "folder_layout.h"
#include "pmtiles_storage.h"
#include "plugin_glue.h"
#include "s3_client.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
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
    bool OpenArchive(const std::string& path);
    // The archive's answer, with its error text as ours.
    uint32_t FromArchive(uint32_t result);

    std::unique_ptr<Client> client_;
    std::string bucket_;
    std::string prefix_; // with its trailing '/', or empty
    folder::Layout layout_;
    // Plate stems to keys, complete when `complete_` (an empty tree at Open,
    // or after a listing), kept as stores and deletes change the tree.
    std::unordered_map<std::string, std::string> keys_;
    bool complete_ = false;
    std::vector<std::string> pendingDeletes_;
    std::string data_; // the block GetPlateData handed out
    std::unique_ptr<pmtiles::Storage> archive_; // a remote PMTiles archive, when that is open
};

} // namespace s3
