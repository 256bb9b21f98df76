// The PMTiles storage plugin: plates are the tiles of a PMTiles version 3
// archive, read-only.
#include "pmtiles_storage.h"

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info) {
    return storage_glue::FillPluginInfo<pmtiles::Storage>(
        host, info, "PMTiles: map tiles in a PMTiles version 3 archive (read-only)", SupportsList);
}
