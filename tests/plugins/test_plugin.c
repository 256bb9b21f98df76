/* One source for the family of test plugins; each variant is compiled with
 * switches that break or change one thing:
 *   NO_QUERY_EXPORT   no QueryPluginInterface at all
 *   INIT_ERROR        QueryPluginInterface answers this text
 *   INFO_MAGIC        magic written into PluginInfo
 *   INFO_SIZE_DELTA   added to sizeof(PluginInfo) in the size field
 *   INFO_TYPE         plugin type
 *   INFO_FLAGS        capability flags
 *   NO_INIT           Init and Shutdown are null
 *   NO_CREATE         CreateAction is null
 *   NO_UNWIND_TABLES  (no change here: built without frame information)
 * Only the public contract header is used, as a plugin author would. */
#include "ulmora_plugin.h"
#include "test_plugin_control.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef INFO_MAGIC
#define INFO_MAGIC ULMORA_PLUGIN_MAGIC
#endif
#ifndef INFO_SIZE_DELTA
#define INFO_SIZE_DELTA 0
#endif
#ifndef INFO_TYPE
#define INFO_TYPE PluginTypeStorage
#endif
#ifndef INFO_FLAGS
#define INFO_FLAGS (SupportsWrite | SupportsList)
#endif

static TestPluginControl state = {.openResult = 1};

ULMORA_PLUGIN_EXPORT TestPluginControl *TestPluginState(void) { return &state; }

static void Event(const char *format, const char *text, int id)
{
    char line[600];
    size_t used = strlen(state.events);
    snprintf(line, sizeof line, format, id, text);
    if (used + strlen(line) + 2 < sizeof state.events) {
        if (used > 0)
            strcat(state.events, " ");
        strcat(state.events, line);
    }
}

/* The fault of faultIn, when `call` is the one named and its turn has come. */
static volatile int *volatile nowhere = NULL;
static volatile int sink;

static void FaultIf(const char *call, int turn)
{
    if (strcmp(state.faultIn, call) != 0 || turn < state.faultAfter)
        return;
    state.faultIn[0] = '\0';
    state.faults++;
    sink = *nowhere;
}

/* Counts a call of `call` towards its fault. */
static void CountCall(const char *call)
{
    if (strcmp(state.faultIn, call) == 0)
        FaultIf(call, state.faultCalls++);
}

/* Packed like the record it starts with, so that the plugin can turn the
 * ActionInterface pointer it gets back into its own record. */
typedef struct ULMORA_PACKED TestAction {
    ActionInterface base; /* first: the program sees only this part */
    int id;
    char block[64];
} TestAction;

static int32_t ULMORA_CALL Open(ActionInterface *self, const char *path)
{
    TestAction *action = (TestAction *)self;
    CountCall(path == NULL ? "Close" : "Open");
    if (path == NULL) {
        Event("close:%d", "", action->id);
        return 1;
    }
    Event("open:%d:%s", path, action->id);
    return state.openResult;
}

static void ULMORA_CALL GetErrorText(ActionInterface *self, char *buffer, uint32_t size)
{
    (void)self;
    if (state.errorTextUnterminated) {
        memset(buffer, 'x', size);
        return;
    }
    snprintf(buffer, size, "%s", state.errorText);
}

static uint32_t ULMORA_CALL GetPlateData(ActionInterface *self, const char *name, const void **data,
                                         uint32_t *size)
{
    TestAction *action = (TestAction *)self;
    CountCall("GetPlateData");
    snprintf(action->block, sizeof action->block, "data of %s", name);
    *data = state.plateDataBadPointer == 1 ? (const void *)(uintptr_t)16 : action->block;
    *size = state.plateDataBadPointer == 2 ? 0 : (uint32_t)strlen(action->block);
    return state.plateDataResult;
}

static uint32_t ULMORA_CALL Write(ActionInterface *self, const char *name, const void *data,
                                  uint32_t size, uint32_t mode)
{
    (void)self;
    (void)data;
    (void)size;
    CountCall(mode == 2 ? "Delete" : "Write");
    snprintf(state.lastWriteName, sizeof state.lastWriteName, "%s", name);
    state.lastWriteMode = mode;
    state.writes++;
    return state.writeResult;
}

/* Plate i is named by the quadrant letters of i in base 4 after a leading 't'. */
static void PlateName(int index, char *name)
{
    int length = 0;
    name[length++] = 't';
    for (int rest = index; rest > 0; rest /= 4)
        name[length++] = "qrst"[rest % 4];
    name[length] = '\0';
}

static uint32_t ULMORA_CALL Enumerate(ActionInterface *self, uint32_t value1, PlateCallback callback,
                                      uint32_t value2, void *cookie)
{
    (void)self;
    state.lastEnumerateValue1 = value1;
    state.lastEnumerateValue2 = value2;
    state.callbacks = 0;
    if (state.plateCount == 0 && state.enumerateResult == Done)
        return Empty;
    for (int i = 0; i < state.plateCount; ++i) {
        char name[40];
        PlateName(i, name);
        state.callbacks++;
        if (callback(cookie, i + 1, name, 0, (uint32_t)(100 + i)) == 0)
            return Aborted;
        FaultIf("Enumerate", i + 1);
    }
    return state.enumerateResult;
}

static const ActionFunctions functions = {Open, GetErrorText, NULL, GetPlateData, Write, Enumerate};

static uint32_t ULMORA_CALL StreamPlates(ActionInterface *self, PlateStreamCallback callback, void *cookie)
{
    TestAction *action = (TestAction *)self;
    state.streamed = 0;
    if (state.plateCount == 0)
        return Empty;
    for (int i = 0; i < state.plateCount; ++i) {
        char name[40];
        if (state.streamFailsAfter > 0 && i == state.streamFailsAfter) {
            snprintf(state.errorText, sizeof state.errorText, "%s", "the stream broke");
            return Failed;
        }
        PlateName(i, name);
        snprintf(action->block, sizeof action->block, "data of %s", name);
        state.streamed++;
        if (callback(cookie, i + 1, name, action->block, (uint32_t)strlen(action->block)) == 0)
            return Aborted;
    }
    return Done;
}

static PlateStreamExtension plateStream = {ULMORA_PLUGIN_MAGIC, sizeof(PlateStreamExtension), StreamPlates, 0};

ULMORA_PLUGIN_EXPORT const void *ULMORA_CALL QueryPluginExtension(const char *id)
{
    if (!state.streamOffered || strcmp(id, ULMORA_PLATESTREAM_EXTENSION) != 0)
        return NULL;
    plateStream.flags = state.streamFlags;
    return &plateStream;
}

#ifndef NO_CREATE
static ActionInterface *ULMORA_CALL CreateAction(void)
{
    if (state.createReturnsNull)
        return NULL;
    TestAction *action = calloc(1, sizeof *action);
    action->base.functions = &functions;
    action->base.magic = state.actionMagic != 0 ? state.actionMagic : ULMORA_PLUGIN_MAGIC;
    action->base.size = state.actionSize != 0 ? state.actionSize : (uint32_t)sizeof *action;
    action->base.extension = "db";
    action->id = ++state.creates;
    Event("create:%d", "", action->id);
    return &action->base;
}
#endif

static void ULMORA_CALL FreeAction(ActionInterface *object)
{
    TestAction *action = (TestAction *)object;
    CountCall("FreeAction");
    state.frees++;
    Event("free:%d", "", action->id);
    free(action);
}

#ifndef NO_INIT
static void ULMORA_CALL Init(void)
{
    state.inits++;
    Event("init", "", 0);
}

static void ULMORA_CALL Shutdown(void)
{
    CountCall("Shutdown");
    state.shutdowns++;
    Event("shutdown", "", 0);
}
#endif

#ifndef NO_QUERY_EXPORT
ULMORA_PLUGIN_EXPORT const char *ULMORA_CALL QueryPluginInterface(const PluginHostInfo *host,
                                                                  PluginInfo *info)
{
    state.queries++;
    if (host == NULL || host->magic != ULMORA_PLUGIN_MAGIC)
        return "bad host record";
#ifdef INIT_ERROR
    (void)info;
    return INIT_ERROR;
#else
    info->magic = INFO_MAGIC;
    info->size = (uint32_t)((int)sizeof(PluginInfo) + INFO_SIZE_DELTA);
    info->type = INFO_TYPE;
    info->description = "Test storage";
    info->flags = INFO_FLAGS;
#ifdef NO_INIT
    info->Init = NULL;
    info->Shutdown = NULL;
#else
    info->Init = Init;
    info->Shutdown = Shutdown;
#endif
#ifdef NO_CREATE
    info->CreateAction = NULL;
#else
    info->CreateAction = CreateAction;
#endif
    info->FreeAction = FreeAction;
    return NULL;
#endif
}
#endif
