/* The contract's records, checked field by field on the target it is compiled
 * for, and a minimal plugin built from the header alone: as a plugin written
 * before extensions were (no QueryPluginExtension), and with
 * ABI_WITH_EXTENSION as one that has the extensions. */
#include "ulmora_plugin.h"

#include <stddef.h>

/* C99 has no _Static_assert: an array of negative size fails the build. */
#define CHECK_AT(condition, line) typedef char layout_check_##line[(condition) ? 1 : -1]
#define CHECK_LINE(condition, line) CHECK_AT(condition, line)
#define CHECK(condition) CHECK_LINE(condition, __LINE__)

#if defined(__i386__) || defined(_M_IX86)
/* The original 32-bit layout, byte for byte. */
CHECK(sizeof(PluginHostInfo) == 16);
CHECK(offsetof(PluginHostInfo, size) == 4);
CHECK(offsetof(PluginHostInfo, hostValue) == 8);
CHECK(offsetof(PluginHostInfo, hostValue2) == 12);
CHECK(sizeof(PluginInfo) == 36);
CHECK(offsetof(PluginInfo, size) == 4);
CHECK(offsetof(PluginInfo, type) == 8);
CHECK(offsetof(PluginInfo, description) == 12);
CHECK(offsetof(PluginInfo, flags) == 16);
CHECK(offsetof(PluginInfo, Init) == 20);
CHECK(offsetof(PluginInfo, Shutdown) == 24);
CHECK(offsetof(PluginInfo, CreateAction) == 28);
CHECK(offsetof(PluginInfo, FreeAction) == 32);
CHECK(sizeof(ActionInterface) == 20);
CHECK(offsetof(ActionInterface, magic) == 4);
CHECK(offsetof(ActionInterface, size) == 8);
CHECK(offsetof(ActionInterface, reserved) == 12);
CHECK(offsetof(ActionInterface, extension) == 16);
CHECK(sizeof(ActionFunctions) == 24);
CHECK(offsetof(ActionFunctions, GetPlateData) == 12);
CHECK(offsetof(ActionFunctions, Enumerate) == 20);
CHECK(sizeof(MetadataExtension) == 16);
CHECK(offsetof(MetadataExtension, size) == 4);
CHECK(offsetof(MetadataExtension, ReadMetadata) == 8);
CHECK(offsetof(MetadataExtension, WriteMetadata) == 12);
CHECK(sizeof(ContainerExtension) == 20);
CHECK(offsetof(ContainerExtension, size) == 4);
CHECK(offsetof(ContainerExtension, CheckContainer) == 8);
CHECK(offsetof(ContainerExtension, MeasureSpace) == 12);
CHECK(offsetof(ContainerExtension, ReclaimSpace) == 16);
CHECK(sizeof(PlateStreamExtension) == 16);
CHECK(offsetof(PlateStreamExtension, size) == 4);
CHECK(offsetof(PlateStreamExtension, StreamPlates) == 8);
CHECK(offsetof(PlateStreamExtension, flags) == 12);
CHECK(sizeof(PartExtension) == 12);
CHECK(offsetof(PartExtension, size) == 4);
CHECK(offsetof(PartExtension, EnumeratePart) == 8);
#elif defined(__x86_64__) || defined(_M_X64)
/* Same order, packed, pointers of 8 bytes. */
CHECK(sizeof(PluginHostInfo) == 16);
CHECK(sizeof(PluginInfo) == 56);
CHECK(offsetof(PluginInfo, description) == 12);
CHECK(offsetof(PluginInfo, flags) == 20);
CHECK(offsetof(PluginInfo, Init) == 24);
CHECK(offsetof(PluginInfo, FreeAction) == 48);
CHECK(sizeof(ActionInterface) == 28);
CHECK(offsetof(ActionInterface, magic) == 8);
CHECK(offsetof(ActionInterface, reserved) == 16);
CHECK(offsetof(ActionInterface, extension) == 20);
CHECK(sizeof(ActionFunctions) == 48);
CHECK(sizeof(MetadataExtension) == 24);
CHECK(offsetof(MetadataExtension, ReadMetadata) == 8);
CHECK(offsetof(MetadataExtension, WriteMetadata) == 16);
CHECK(sizeof(ContainerExtension) == 32);
CHECK(offsetof(ContainerExtension, CheckContainer) == 8);
CHECK(offsetof(ContainerExtension, MeasureSpace) == 16);
CHECK(offsetof(ContainerExtension, ReclaimSpace) == 24);
CHECK(sizeof(PlateStreamExtension) == 20);
CHECK(offsetof(PlateStreamExtension, StreamPlates) == 8);
CHECK(offsetof(PlateStreamExtension, flags) == 16);
CHECK(sizeof(PartExtension) == 16);
CHECK(offsetof(PartExtension, EnumeratePart) == 8);
#endif
CHECK(ULMORA_PLUGIN_MAGIC == ('Z' | 'T' << 8 | 'Q' << 16 | 0x01u << 24));
/* Plugins of every release were written against this host value. */
CHECK(ULMORA_PLUGIN_HOST_VALUE == 0x00010000u);

static ActionInterface *ULMORA_CALL CreateAction(void) { return NULL; }
static void ULMORA_CALL FreeAction(ActionInterface *action) { (void)action; }

ULMORA_PLUGIN_EXPORT const char *ULMORA_CALL QueryPluginInterface(const PluginHostInfo *host,
                                                                  PluginInfo *info)
{
    (void)host;
    info->magic = ULMORA_PLUGIN_MAGIC;
    info->size = sizeof(PluginInfo);
    info->type = PluginTypeStorage;
#ifdef ABI_WITH_EXTENSION
    info->description = "Layout check with metadata";
#else
    info->description = "Layout check";
#endif
    info->flags = 0;
    info->Init = NULL;
    info->Shutdown = NULL;
    info->CreateAction = CreateAction;
    info->FreeAction = FreeAction;
    return NULL;
}

#ifdef ABI_WITH_EXTENSION
/* A fixed key list, enough for the host to find and call the table. */
static uint32_t ULMORA_CALL ReadMetadata(ActionInterface *self, MetadataCallback callback, void *cookie)
{
    (void)self;
    if (!callback(cookie, "name", "Layout check"))
        return Aborted;
    return callback(cookie, "format", "png") ? Done : Aborted;
}

static const MetadataExtension kMetadata = {ULMORA_PLUGIN_MAGIC, sizeof(MetadataExtension), ReadMetadata,
                                            NULL};

/* One finding and a measured size, enough for the host to find and call the
 * container's table. */
static uint32_t ULMORA_CALL CheckContainer(ActionInterface *self, ContainerCallback callback, void *cookie)
{
    (void)self;
    return callback(cookie, 1, 1, "page 2: damaged") ? Done : Aborted;
}

static uint32_t ULMORA_CALL MeasureSpace(ActionInterface *self, uint64_t *fileBytes, uint64_t *freeBytes)
{
    (void)self;
    *fileBytes = 8192;
    *freeBytes = 4096;
    return Done;
}

static const ContainerExtension kContainer = {ULMORA_PLUGIN_MAGIC, sizeof(ContainerExtension), CheckContainer,
                                              MeasureSpace, NULL};

/* Two plates, the second without data, enough for the host to find and call
 * the stream's table. */
static uint32_t ULMORA_CALL StreamPlates(ActionInterface *self, PlateStreamCallback callback, void *cookie)
{
    (void)self;
    if (!callback(cookie, 7, "tq", "ab", 2))
        return Aborted;
    return callback(cookie, 3, "t", NULL, 0) ? Done : Aborted;
}

/* Sized as the first tables shipped, which end before `flags`: such a table
 * must still be taken. */
static const PlateStreamExtension kPlateStream = {ULMORA_PLUGIN_MAGIC, offsetof(PlateStreamExtension, flags),
                                                  StreamPlates, 0};

static int SameId(const char *id, const char *known)
{
    size_t i = 0;
    while (id[i] != '\0' && id[i] == known[i])
        ++i;
    return id[i] == known[i];
}

ULMORA_PLUGIN_EXPORT const void *ULMORA_CALL QueryPluginExtension(const char *id)
{
    if (SameId(id, ULMORA_METADATA_EXTENSION))
        return &kMetadata;
    if (SameId(id, ULMORA_CONTAINER_EXTENSION))
        return &kContainer;
    if (SameId(id, ULMORA_PLATESTREAM_EXTENSION))
        return &kPlateStream;
    return NULL;
}
#endif
