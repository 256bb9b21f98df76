// The PMTiles storage plugin: plates are the tiles of a PMTiles version 3
// archive. An existing archive is read; an empty file becomes a new archive,
// written whole when the storage closes.
#include "container_glue.h"
#include "metadata_glue.h"
#include "platestream_glue.h"
#include "pmtiles_storage.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<pmtiles::Storage>(
        host, info, "PMTiles: map tiles in a PMTiles version 3 archive (new archives written whole)",
        SupportsList | SupportsWrite);
}

// The archive's directories checked; no free space to reclaim, as an archive
// is written whole. Its header and JSON metadata read; a new archive's written.
// Every tile with its data in one walk.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    using Container = storage_glue::ContainerGlue<pmtiles::Storage, false>;
    if (Container::Is(id))
        return Container::Table();
    if (storage_glue::PlateStreamGlue<pmtiles::Storage>::Is(id))
        return storage_glue::PlateStreamGlue<pmtiles::Storage>::Table();
    return storage_glue::MetadataGlue<pmtiles::Storage, true>::Query(id);
}
