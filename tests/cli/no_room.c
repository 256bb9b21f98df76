/* Loaded into ulmora-cli ahead of the C library by the tests: every folder
 * whose path starts with $ULMORA_TEST_NO_ROOM reports a full disk, so that
 * the free-room question of an export comes up on any machine. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>

__attribute__((visibility("default"))) int statvfs(const char *path, struct statvfs *info)
{
    typedef int (*StatvfsFn)(const char *, struct statvfs *);
    static StatvfsFn real;
    if (real == NULL) {
        /* dlsym hands out functions as object pointers; copy the bits. */
        void *symbol = dlsym(RTLD_NEXT, "statvfs");
        memcpy(&real, &symbol, sizeof real);
    }
    const int result = real(path, info);
    const char *full = getenv("ULMORA_TEST_NO_ROOM");
    if (result == 0 && full != NULL && *full != '\0' && strncmp(path, full, strlen(full)) == 0) {
        info->f_bavail = 0;
        info->f_bfree = 0;
    }
    return result;
}
