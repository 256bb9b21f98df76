#pragma once
// Binds a storage class's container functions to the "ulmora.container/1"
// table of the plugin contract, in the way metadata_glue.h binds metadata.
//
// The Storage provides
//   uint32_t CheckContainer(ContainerCallback callback, void* cookie);
//   uint32_t MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes);
// and, when its format keeps free space to give back (kReclaims = true),
//   uint32_t ReclaimSpace(ContainerCallback callback, void* cookie, uint64_t* before, uint64_t* after);
// All are called on an open storage only. No exception crosses the C
// boundary.

#include "plugin_glue.h"

#include <cstring>

namespace storage_glue {

template <class Storage, bool kReclaims>
class ContainerGlue {
public:
    static const ContainerExtension* Table() { return &kTable; }

    // Whether `id` names this extension; the plugin's QueryPluginExtension
    // answers Table() then.
    static bool Is(const char* id) { return id != nullptr && std::strcmp(id, ULMORA_CONTAINER_EXTENSION) == 0; }

private:
    static Storage* Of(ActionInterface* self) { return reinterpret_cast<ActionBox<Storage>*>(self)->storage; }

    static uint32_t ULMORA_CALL Check(ActionInterface* self, ContainerCallback callback, void* cookie) {
        Storage* storage = Of(self);
        if (!callback) {
            storage->SetErrorText("CheckContainer called without a callback");
            return Failed;
        }
        try {
            return storage->CheckContainer(callback, cookie);
        } catch (...) {
            SetCaughtText(storage);
            return Failed;
        }
    }

    static uint32_t ULMORA_CALL Measure(ActionInterface* self, uint64_t* fileBytes, uint64_t* freeBytes) {
        Storage* storage = Of(self);
        if (!fileBytes || !freeBytes) {
            storage->SetErrorText("MeasureSpace called without out-values");
            return Failed;
        }
        *fileBytes = *freeBytes = 0;
        try {
            return storage->MeasureSpace(fileBytes, freeBytes);
        } catch (...) {
            SetCaughtText(storage);
            return Failed;
        }
    }

    static uint32_t ULMORA_CALL Reclaim(ActionInterface* self, ContainerCallback callback, void* cookie,
                                        uint64_t* before, uint64_t* after) {
        Storage* storage = Of(self);
        if (!callback || !before || !after) {
            storage->SetErrorText("ReclaimSpace called without a callback or out-values");
            return Failed;
        }
        *before = *after = 0;
        try {
            if constexpr (kReclaims)
                return storage->ReclaimSpace(callback, cookie, before, after);
            else
                return Failed;
        } catch (...) {
            SetCaughtText(storage);
            return Failed;
        }
    }

    static constexpr ContainerExtension kTable = {ULMORA_PLUGIN_MAGIC, sizeof(ContainerExtension), &Check,
                                                  &Measure, kReclaims ? &Reclaim : nullptr};
};

} // namespace storage_glue
