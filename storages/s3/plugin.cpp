// The S3 storage plugin: a tile tree in an S3-compatible bucket.
#include "metadata_glue.h"
#include "s3_storage.h"

#include <curl/curl.h>

extern "C" ULMORA_PLUGIN_EXPORT const char* ULMORA_CALL QueryPluginInterface(const PluginHostInfo* host,
                                                                             PluginInfo* info)
{
    // libcurl without HTTP or without SigV4 (older than 7.75) cannot reach a bucket.
    const curl_version_info_data* curl = curl_version_info(CURLVERSION_NOW);
    if (curl == nullptr || curl->version_num < 0x074b00)
        return "The S3 plugin needs libcurl 7.75 or later (AWS SigV4 signing)";
    return storage_glue::FillPluginInfo<s3::Storage>(
        host, info, "S3 bucket: z/x/y (or another folder layout) tile tree at s3://BUCKET/PREFIX; "
        "PMTiles archive read at s3://BUCKET/KEY.pmtiles or https://HOST/PATH.pmtiles",
        UsesDirectory | SupportsWrite | SupportsList);
}

// metadata.json beside the tree's keys; a remote archive's header and JSON.
extern "C" ULMORA_PLUGIN_EXPORT const void* ULMORA_CALL QueryPluginExtension(const char* id)
{
    return storage_glue::MetadataGlue<s3::Storage, true>::Query(id);
}
