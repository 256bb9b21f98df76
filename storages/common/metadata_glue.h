#pragma once
// Binds a storage class's metadata functions to the "ulmora.metadata/1"
// table of the plugin contract, in the way plugin_glue.h binds the action.
//
// The Storage provides
//   uint32_t ReadMetadata(MetadataCallback callback, void* cookie);
// and, when its format can change its metadata (kWritable = true),
//   uint32_t WriteMetadata(const char* key, const char* value);  // null value: delete
// Both are called on an open storage only. No exception crosses the C
// boundary.

#include "plugin_glue.h"

#include <cstring>

namespace storage_glue {

template <class Storage, bool kWritable>
class MetadataGlue {
public:
    static const MetadataExtension* Table() { return &kTable; }

    // The answer of QueryPluginExtension for a plugin whose only extension
    // is this one.
    static const void* Query(const char* id) {
        return id != nullptr && std::strcmp(id, ULMORA_METADATA_EXTENSION) == 0 ? &kTable : nullptr;
    }

private:
    static Storage* Of(ActionInterface* self) { return reinterpret_cast<ActionBox<Storage>*>(self)->storage; }

    static void Caught(Storage* storage) { SetCaughtText(storage); }

    static uint32_t ULMORA_CALL Read(ActionInterface* self, MetadataCallback callback, void* cookie) {
        Storage* storage = Of(self);
        if (!callback) {
            storage->SetErrorText("ReadMetadata called without a callback");
            return Failed;
        }
        try {
            return storage->ReadMetadata(callback, cookie);
        } catch (...) {
            Caught(storage);
            return Failed;
        }
    }

    static uint32_t ULMORA_CALL Write(ActionInterface* self, const char* key, const char* value) {
        Storage* storage = Of(self);
        if (!key || !*key) {
            storage->SetErrorText("WriteMetadata called without a key");
            return Failed;
        }
        try {
            if constexpr (kWritable)
                return storage->WriteMetadata(key, value);
            else
                return Failed;
        } catch (...) {
            Caught(storage);
            return Failed;
        }
    }

    static constexpr MetadataExtension kTable = {ULMORA_PLUGIN_MAGIC, sizeof(MetadataExtension), &Read,
                                                 kWritable ? &Write : nullptr};
};

} // namespace storage_glue
