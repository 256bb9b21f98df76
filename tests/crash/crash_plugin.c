/* A storage plugin that faults in GetPlateData: it reads through a null
 * pointer, as a plugin with a bug would. Everything else works. */
#include "ulmora_plugin.h"

#include <stdlib.h>

typedef struct ULMORA_PACKED CrashAction {
    ActionInterface base;
    const char *block; /* never set */
} CrashAction;

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

static uint32_t ULMORA_CALL GetPlateData(ActionInterface *self, const char *name, const void **data,
                                         uint32_t *size)
{
    CrashAction *action = (CrashAction *)self;
    (void)name;
    /* The bug: the block was never made. */
    *size = (uint32_t)(unsigned char)*(volatile const char *)action->block;
    *data = action->block;
    return Done;
}

static uint32_t ULMORA_CALL Write(ActionInterface *self, const char *name, const void *data, uint32_t size,
                                  uint32_t mode)
{
    (void)self, (void)name, (void)data, (void)size, (void)mode;
    return Failed;
}

static uint32_t ULMORA_CALL Enumerate(ActionInterface *self, uint32_t value1, PlateCallback callback,
                                      uint32_t value2, void *cookie)
{
    (void)self, (void)value1, (void)value2;
    return callback(cookie, 1, "tq", 0, 10) != 0 ? Done : Aborted;
}

static const ActionFunctions functions = {Open, GetErrorText, NULL, GetPlateData, Write, Enumerate};

static ActionInterface *ULMORA_CALL CreateAction(void)
{
    CrashAction *action = calloc(1, sizeof *action);
    action->base.functions = &functions;
    action->base.magic = ULMORA_PLUGIN_MAGIC;
    action->base.size = (uint32_t)sizeof *action;
    action->base.extension = "db";
    return &action->base;
}

static void ULMORA_CALL FreeAction(ActionInterface *action) { free(action); }

ULMORA_PLUGIN_EXPORT const char *ULMORA_CALL QueryPluginInterface(const PluginHostInfo *host, PluginInfo *info)
{
    if (host == NULL || host->magic != ULMORA_PLUGIN_MAGIC)
        return "bad host record";
    info->magic = ULMORA_PLUGIN_MAGIC;
    info->size = (uint32_t)sizeof(PluginInfo);
    info->type = PluginTypeStorage;
    info->description = "Crashing test storage";
    info->flags = SupportsList;
    info->Init = NULL;
    info->Shutdown = NULL;
    info->CreateAction = CreateAction;
    info->FreeAction = FreeAction;
    return NULL;
}
