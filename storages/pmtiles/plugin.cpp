// The PMTiles storage plugin: plates are the tiles of a PMTiles version 3
// archive. An existing archive is read; an empty file becomes a new archive,
// written whole when the storage closes.
#include "metadata_glue.h"
#include "pmtiles_storage.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<pmtiles::Storage>(
        host, info, "PMTiles: map tiles in a PMTiles version 3 archive (new archives written whole)",
        SupportsList | SupportsWrite);
}

extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    return storage_glue::MetadataGlue<pmtiles::Storage, true>::Query(id);
}
