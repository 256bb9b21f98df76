// The MBTiles storage plugin: plates are the tiles of an MBTiles file.
#include "mbtiles_storage.h"
#include "container_glue.h"
#include "metadata_glue.h"
#include "platestream_glue.h"

#include <cstring>

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<mbtiles::Storage>(
        host, info, "MBTiles: map tiles in an SQLite file (plain or deduplicated tiles)",
        SupportsWrite | SupportsList);
}

namespace {

uint32_t ULMORA_CALL EnumeratePart(ActionInterface* self, const char* area, uint32_t minLevel, uint32_t maxLevel,
                                   PlateCallback callback, void* cookie) {
    mbtiles::Storage* storage = reinterpret_cast<storage_glue::ActionBox<mbtiles::Storage>*>(self)->storage;
    if (!callback) {
        storage->SetErrorText("EnumeratePart called without a callback");
        return Failed;
    }
    try {
        return storage->EnumeratePart(area, minLevel, maxLevel, callback, cookie);
    } catch (...) {
        storage_glue::SetCaughtText(storage);
        return Failed;
    }
}

constexpr PartExtension kPart = {ULMORA_PLUGIN_MAGIC, sizeof(PartExtension), &EnumeratePart};

} // namespace

// The metadata table's rows, read and written; the SQLite file checked and
// compacted; every plate with its data in one walk; a level or an area listed
// alone.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    if (id != nullptr && std::strcmp(id, ULMORA_PART_EXTENSION) == 0)
        return &kPart;
    if (storage_glue::ContainerGlue<mbtiles::Storage, true>::Is(id))
        return storage_glue::ContainerGlue<mbtiles::Storage, true>::Table();
    if (storage_glue::PlateStreamGlue<mbtiles::Storage>::Is(id))
        return storage_glue::PlateStreamGlue<mbtiles::Storage>::Table();
    return storage_glue::MetadataGlue<mbtiles::Storage, true>::Query(id);
}
