// The MBTiles storage plugin: plates are the tiles of an MBTiles file.
#include "mbtiles_storage.h"
#include "container_glue.h"
#include "metadata_glue.h"
#include "platestream_glue.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<mbtiles::Storage>(
        host, info, "MBTiles: map tiles in an SQLite file (plain or deduplicated tiles)",
        SupportsWrite | SupportsList);
}

// The metadata table's rows, read and written; the SQLite file checked and
// compacted; every plate with its data in one walk.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    if (storage_glue::ContainerGlue<mbtiles::Storage, true>::Is(id))
        return storage_glue::ContainerGlue<mbtiles::Storage, true>::Table();
    if (storage_glue::PlateStreamGlue<mbtiles::Storage>::Is(id))
        return storage_glue::PlateStreamGlue<mbtiles::Storage>::Table();
    return storage_glue::MetadataGlue<mbtiles::Storage, true>::Query(id);
}
