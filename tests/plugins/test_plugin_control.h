/* Knobs and counters of the test plugins, shared by the plugin and the tests.
 * Every test plugin exports TestPluginState() beside QueryPluginInterface. */
#ifndef TEST_PLUGIN_CONTROL_H
#define TEST_PLUGIN_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TestPluginControl {
    /* Counters. */
    int queries, inits, shutdowns, creates, frees;
    /* What happened, in order: "create:1 open:1:<path> close:1 free:1 shutdown ...". */
    char events[4096];

    /* Action behaviour, read at each call. */
    int createReturnsNull;
    uint32_t actionMagic;   /* 0: the right magic */
    uint32_t actionSize;    /* 0: the right size */
    int openResult;         /* result of Open with a path */
    char errorText[256];    /* what GetErrorText writes (cut to the buffer) */
    int errorTextUnterminated; /* fill the whole buffer without a terminator */
    uint32_t plateDataResult;
    int plateDataBadPointer; /* Done with 1: a pointer into unmapped memory, 2: a good pointer and size 0 */
    uint32_t writeResult;
    char lastWriteName[64];
    uint32_t lastWriteMode;
    int writes;
    int plateCount;          /* plates reported by Enumerate */
    uint32_t enumerateResult; /* returned after all plates were reported */
    uint32_t lastEnumerateValue1, lastEnumerateValue2;
    int callbacks;           /* callback calls of the last Enumerate */
    /* The plate stream: offered when streamOffered (read when the plugin is
     * loaded), with streamFlags; it hands out Enumerate's plates with the
     * data GetPlateData gives and fails after streamFailsAfter of them
     * (0: never). streamed counts the plates it handed out. */
    int streamOffered;
    uint32_t streamFlags;
    int streamFailsAfter;
    int streamed;

    /* A real fault on demand (a read through a null pointer), once: in the
     * call named here, "Enumerate", "GetPlateData", "Write" (a write of
     * data), "Delete" (Write in mode 2), "Open", "Close" (Open without a
     * path), "FreeAction" or "Shutdown", at the call after faultAfter calls
     * of it (Enumerate: after faultAfter plates were reported). It is
     * cleared as it fires, so that the next calls work. */
    char faultIn[16];
    int faultAfter;
    int faultCalls;          /* calls of that function since faultIn was set */
    int faults;              /* faults fired */
} TestPluginControl;

typedef TestPluginControl *(*TestPluginStateFn)(void);

#ifdef __cplusplus
}
#endif

#endif
