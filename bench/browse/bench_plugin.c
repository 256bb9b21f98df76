/* A storage that holds nothing but a count: it reports ULMORA_BENCH_PLATES
 * plates (default 10 million) with 20-letter names, as fast as it can, so
 * that a scan measures the program's side of the enumeration. */
#include "ulmora_plugin.h"

#include <stdlib.h>
#include <string.h>

typedef struct ULMORA_PACKED BenchAction {
    ActionInterface base;
} BenchAction;

static int32_t ULMORA_CALL Open(ActionInterface *self, const char *path)
{
    (void)self;
    (void)path;
    return 1;
}

static void ULMORA_CALL GetErrorText(ActionInterface *self, char *buffer, uint32_t size)
{
    (void)self;
    if (size > 0)
        buffer[0] = '\0';
}

static uint32_t ULMORA_CALL GetPlateData(ActionInterface *self, const char *name, const void **data, uint32_t *size)
{
    (void)self;
    (void)name;
    (void)data;
    (void)size;
    return Empty;
}

static uint32_t ULMORA_CALL Write(ActionInterface *self, const char *name, const void *data, uint32_t size,
                                  uint32_t mode)
{
    (void)self;
    (void)name;
    (void)data;
    (void)size;
    (void)mode;
    return Failed;
}

static uint32_t ULMORA_CALL Enumerate(ActionInterface *self, uint32_t value1, PlateCallback callback, uint32_t value2,
                                      void *cookie)
{
    (void)self;
    (void)value1;
    (void)value2;
    const char *text = getenv("ULMORA_BENCH_PLATES");
    const long count = text != NULL ? atol(text) : 10000000L;
    char name[21] = "tqqqqqqqqqqqqqqqqqqq";
    for (long i = 0; i < count; ++i) {
        /* The last letters count up in base 4, so every name differs. */
        long rest = i;
        for (int position = 19; position > 7 && rest > 0; --position, rest /= 4)
            name[position] = "qrst"[rest % 4];
        if (callback(cookie, (int32_t)i, name, 0, (uint32_t)(1000 + i % 20000)) == 0)
            return Aborted;
    }
    return count == 0 ? Empty : Done;
}

static const ActionFunctions functions = {Open, GetErrorText, NULL, GetPlateData, Write, Enumerate};

static ActionInterface *ULMORA_CALL CreateAction(void)
{
    BenchAction *action = calloc(1, sizeof *action);
    action->base.functions = &functions;
    action->base.magic = ULMORA_PLUGIN_MAGIC;
    action->base.size = sizeof *action;
    action->base.extension = "bench";
    return &action->base;
}

static void ULMORA_CALL FreeAction(ActionInterface *action) { free(action); }

ULMORA_PLUGIN_EXPORT const char *ULMORA_CALL QueryPluginInterface(const PluginHostInfo *host, PluginInfo *info)
{
    (void)host;
    memset(info, 0, sizeof *info);
    info->magic = ULMORA_PLUGIN_MAGIC;
    info->size = sizeof *info;
    info->type = PluginTypeStorage;
    info->description = "Benchmark storage";
    info->flags = SupportsList;
    info->CreateAction = CreateAction;
    info->FreeAction = FreeAction;
    return NULL;
}
