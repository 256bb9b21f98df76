// A bucket tree's description through the metadata extension: the
// metadata.json object beside its z/x/y or TMS keys, in the form the folder
// plugin keeps beside such a tree on disk (metadata_json.h), so that either
// reads what the other wrote. A PMTiles archive in a bucket or on a web
// server answers with its header and JSON metadata, which are not changed
// here.
#include "s3_storage.h"

#include "metadata_json.h"

#include <string_view>

namespace s3 {

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie)
{
    if (archive_)
        return FromArchive(archive_->ReadMetadata(callback, cookie));
    if (!client_)
        return Fail("The storage is not open");
    std::string text, error;
    bool found = false;
    const std::string key = prefix_ + metadata_json::kFileName;
    if (!client_->Get(bucket_, key, &text, &found, &error))
        return Fail(error);
    if (!found)
        return Empty;
    metadata_json::Keys keys;
    if (text.size() > metadata_json::kMaxBytes || !metadata_json::Read(text, &keys))
        return Fail(key + " is no JSON object");
    for (const auto& [name, value] : keys)
        if (!callback(cookie, name.c_str(), value.c_str()))
            return Aborted;
    return keys.empty() ? Empty : Done;
}

uint32_t Storage::WriteMetadata(const char* key, const char* value)
{
    if (archive_)
        return Fail("A PMTiles archive is read here, not written: its metadata cannot be changed");
    if (!client_)
        return Fail("The storage is not open");
    const std::string_view layout(layout_.name);
    if (layout != "xyz" && layout != "tms")
        return Fail("A " + std::string(layout) + " tree keeps no metadata: only z/x/y and TMS trees have a " +
                    metadata_json::kFileName);
    std::string text, error;
    bool found = false;
    const std::string object = prefix_ + metadata_json::kFileName;
    if (!client_->Get(bucket_, object, &text, &found, &error))
        return Fail(error);
    std::string out;
    switch (metadata_json::Apply(found ? &text : nullptr, key, value, layout_.rowsFromBottom ? "tms" : "xyz", &out)) {
    case metadata_json::Change::NotAnObject:
        return Fail(object + " is no JSON object: it is left as it is");
    case metadata_json::Change::Absent:
        return Empty;
    case metadata_json::Change::Changed:
        break;
    }
    // One PUT replaces the object whole: a reader sees the old or the new.
    if (!client_->Put(bucket_, object, out, &error, {"Content-Type: application/json"}))
        return Fail(error);
    return Done;
}

} // namespace s3
