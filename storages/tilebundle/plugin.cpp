// The compact cache plugin: tiles packed into bundle files, read only.
#include "compact_storage.h"
#include "metadata_glue.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    // No SupportsWrite: bundles are rewritten whole by the servers that own
    // them, so plates are listed and read here, never stored or deleted.
    return storage_glue::FillPluginInfo<compact::Storage>(
        host, info, "Compact cache, version 2: Lzz/RrrrrCcccc.bundle files of 128 x 128 tiles (read only)",
        UsesDirectory | SupportsList);
}

// The format, tile size and zooms its files show; nothing is written.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id) {
    return storage_glue::MetadataGlue<compact::Storage, false>::Query(id);
}
