// The folder storage plugin: plates are image files in a folder tree.
#include "folder_storage.h"
#include "metadata_glue.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<folder::Storage>(
        host, info, "Folder tree: plate images as t/q/r/s.jpg, z/x/y.png (xyz or tms), tc, mp, quadkey or arcgis tiles",
        UsesDirectory | SupportsWrite | SupportsList);
}

// metadata.json and tilemapresource.xml beside the tree.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    return storage_glue::MetadataGlue<folder::Storage, true>::Query(id);
}
