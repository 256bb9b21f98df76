// The GeoPackage storage plugin: plates are the tiles of the first tile
// pyramid of a GeoPackage that is a Web-Mercator quadtree.
#include "geopackage_storage.h"
#include "container_glue.h"
#include "metadata_glue.h"
#include "platestream_glue.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<geopackage::Storage>(
        host, info, "GeoPackage: the tiles of its first Web-Mercator quadtree pyramid (world, 256- or 512-pixel tiles)",
        SupportsWrite | SupportsList);
}

// The pyramid's description: its name, text and bounds can be changed; the
// other columns are the format's own bookkeeping, which the plates' writes
// keep up to date. The SQLite file checked and compacted; every plate with
// its data in one walk.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    if (storage_glue::ContainerGlue<geopackage::Storage, true>::Is(id))
        return storage_glue::ContainerGlue<geopackage::Storage, true>::Table();
    if (storage_glue::PlateStreamGlue<geopackage::Storage>::Is(id))
        return storage_glue::PlateStreamGlue<geopackage::Storage>::Table();
    return storage_glue::MetadataGlue<geopackage::Storage, true>::Query(id);
}
