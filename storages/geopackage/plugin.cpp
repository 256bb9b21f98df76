// The GeoPackage storage plugin: plates are the tiles of the first tile
// pyramid of a GeoPackage that is a Web-Mercator quadtree.
#include "geopackage_storage.h"
#include "metadata_glue.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<geopackage::Storage>(
        host, info, "GeoPackage: the tiles of its first Web-Mercator quadtree pyramid (world, 256- or 512-pixel tiles)",
        SupportsWrite | SupportsList);
}

// The pyramid's description: its name, text and bounds can be changed; the
// other columns are the format's own bookkeeping, which the plates' writes
// keep up to date.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    return storage_glue::MetadataGlue<geopackage::Storage, true>::Query(id);
}
