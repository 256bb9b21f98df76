#pragma once
// Binds a storage class's plate stream to the "ulmora.platestream/1" table
// of the plugin contract, in the way metadata_glue.h binds metadata.
//
// The Storage provides
//   uint32_t StreamPlates(PlateStreamCallback callback, void* cookie);
// called on an open storage only, and
//   static constexpr uint32_t kStreamFlags;   // ULMORA_STREAM_* bits
// (ULMORA_STREAM_WHOLE only when the stream never leaves a plate out). No exception crosses the C boundary.

#include "plugin_glue.h"

#include <cstring>

namespace storage_glue {

template <class Storage>
class PlateStreamGlue {
public:
    static const PlateStreamExtension* Table() { return &kTable; }

    // Whether `id` names this extension; the plugin's QueryPluginExtension
    // answers Table() then.
    static bool Is(const char* id) { return id != nullptr && std::strcmp(id, ULMORA_PLATESTREAM_EXTENSION) == 0; }

private:
    static Storage* Of(ActionInterface* self) { return reinterpret_cast<ActionBox<Storage>*>(self)->storage; }

    static uint32_t ULMORA_CALL Stream(ActionInterface* self, PlateStreamCallback callback, void* cookie) {
        Storage* storage = Of(self);
        if (!callback) {
            storage->SetErrorText("StreamPlates called without a callback");
            return Failed;
        }
        try {
            return storage->StreamPlates(callback, cookie);
        } catch (...) {
            SetCaughtText(storage);
            return Failed;
        }
    }

    static constexpr PlateStreamExtension kTable = {ULMORA_PLUGIN_MAGIC, sizeof(PlateStreamExtension), &Stream,
                                                    Storage::kStreamFlags};
};

} // namespace storage_glue
