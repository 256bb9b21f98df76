/*
 * ulmora_plugin.h - the storage plugin contract of Ulmora.
 *
 * This header is all a plugin author needs. It compiles as C99 and as C++.
 * A storage plugin is a shared library (.so on Linux, .dll on Windows) that
 * exports the function QueryPluginInterface and, optionally, the function
 * QueryPluginExtension (see "Extensions" at the end), and nothing else.
 *
 * Conventions:
 *  1. Records are packed. Integer fields are 32-bit little-endian; pointer
 *     fields are pointer-sized. On 32-bit x86 the records are byte for byte
 *     those of the original 32-bit contract (PluginInfo 36 bytes,
 *     ActionInterface at least 20, PluginHostInfo 16); on x86-64 they are
 *     56, 28 and 16 bytes.
 *  2. Every function on either side uses ULMORA_CALL: __stdcall on 32-bit
 *     x86, the platform's only convention elsewhere. On Windows the export
 *     must be reachable by the plain name "QueryPluginInterface" (link with
 *     -Wl,--kill-at or a .def file).
 *  3. Texts are zero-terminated 8-bit strings (UTF-8 on Linux). Texts the
 *     program passes in (paths, plate names) are its own buffers and are
 *     valid only during the call.
 *  4. The plugin owns everything it hands out: the description, the
 *     ActionInterface objects, the default extension, the data blocks of
 *     GetPlateData. The program never frees any of them.
 *  5. The program calls every function from one thread, one call at a time.
 *     PlateCallback must be called synchronously from inside Enumerate, on
 *     the thread that called Enumerate.
 *  6. Records start with the magic 'Z','T','Q',0x01 (ULMORA_PLUGIN_MAGIC) and
 *     carry their own size; the program refuses a smaller size than this
 *     header declares.
 */
#ifndef ULMORA_PLUGIN_H
#define ULMORA_PLUGIN_H

#include <stdint.h>

#if defined(_M_IX86) || defined(__i386__)
#  define ULMORA_CALL __stdcall
#else
#  define ULMORA_CALL
#endif

#if defined(_WIN32)
#  define ULMORA_PLUGIN_EXPORT __declspec(dllexport)
#else
#  define ULMORA_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The 4 bytes 'Z','T','Q',0x01 read as a little-endian 32-bit value. */
#define ULMORA_PLUGIN_MAGIC 0x0151545Au

/* The release of Ulmora this header belongs to; a "Since Ulmora X.Y" note
 * below names the release that brought a field, at most this one. The build
 * takes the program's version from these three lines, so keep each on a
 * line of its own. */
#define ULMORA_VERSION_MAJOR 0
#define ULMORA_VERSION_MINOR 2
#define ULMORA_VERSION_REVISION 0

/* PluginHostInfo.hostValue: fixed by the contract, not by the release. */
#define ULMORA_PLUGIN_HOST_VALUE 0x00010000u

/* The only plugin type the program knows: a storage of plates. */
enum { PluginTypeStorage = 65537 };

/* Capability bits of PluginInfo.flags; other bits are ignored. */
enum PluginFlags {
    /* The storage is a folder: the program never appends a file extension to
     * its path and browses for a folder, not a file. */
    UsesDirectory = 1,
    /* Plates may be deleted (Write with mode 2). Without it the program never
     * calls Write. */
    SupportsWrite = 2,
    /* The storage path field of the program is enabled for this plugin. */
    SupportsList = 4
};

/* Results of GetPlateData, Write and Enumerate. Only the low 16 bits of a
 * result are read. Any other value is a failure, like Failed. */
enum ActionResult {
    Done = 0,    /* success */
    Empty = 1,   /* nothing there: no plates (Enumerate), no data (GetPlateData) */
    Failed = 2,  /* failure; the program asks GetErrorText at once */
    Aborted = 3  /* Enumerate only: the callback answered 0 */
};

/* Modes of Write.
 *  WriteModeStore  - store the `size` bytes at `data` as the plate `name`,
 *                    replacing a plate of that name (a new plate otherwise).
 *                    The block is the program's, valid only during the call:
 *                    copy what you keep. A plugin may collect stores and
 *                    write them in batches, but every store it answered Done
 *                    must be durable once the action is closed (Open with a
 *                    null path) and must be seen by a later GetPlateData or
 *                    Enumerate on the same action. A plugin that cannot
 *                    store answers Failed with a text. Since Ulmora 0.2; a
 *                    plugin written before it answers Failed or ignores it,
 *                    so the program checks the result of every store.
 *  WriteModeDelete - delete the plate `name`; `data` is null and `size` 0.
 * The program calls Write only for plugins with SupportsWrite. */
enum { WriteModeStore = 1, WriteModeDelete = 2 };

#if defined(_MSC_VER)
#  pragma pack(push, 1)
#  define ULMORA_PACKED
#else
#  define ULMORA_PACKED __attribute__((packed))
#endif

/* Filled once by the program and kept at a fixed place for the whole run;
 * the same record is passed to every QueryPluginInterface call, so a plugin
 * may keep the pointer. */
typedef struct ULMORA_PACKED PluginHostInfo {
    uint32_t magic;      /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;       /* 16 */
    uint32_t hostValue;  /* ULMORA_PLUGIN_HOST_VALUE */
    uint32_t hostValue2; /* 0 */
} PluginHostInfo;

typedef struct ActionInterface ActionInterface;

/* Called by the plugin once per plate during Enumerate.
 *   cookie   - the cookie Enumerate received, passed back unchanged;
 *   number   - the plugin's number for the plate (shown in column "N");
 *   name     - the plate's name, valid only during the call; its length is
 *              the plate's zoom level and it is the key of later
 *              GetPlateData and Write calls;
 *   reserved - not used by the program;
 *   size     - size of the plate's data in bytes.
 * Returns 1 to go on, 0 to stop: the plugin then stops at once and returns
 * Aborted from Enumerate. */
typedef uint32_t(ULMORA_CALL *PlateCallback)(void *cookie, int32_t number, const char *name,
                                             uint32_t reserved, uint32_t size);

/* The six functions of an action. Each receives the action as `self`. */
typedef struct ULMORA_PACKED ActionFunctions {
    /* Opens the storage at `path`; a null path closes the action (its result
     * is then ignored). Returns non-zero when the storage is open. A plugin
     * that returns 0 must have a text for GetErrorText. */
    int32_t(ULMORA_CALL *Open)(ActionInterface *self, const char *path);
    /* Writes the text of the action's last failure into `buffer` (always
     * zero-terminated, at most size - 1 characters, possibly empty). The
     * program passes a 100-byte buffer with undefined contents. After an
     * Enumerate that returned Done the program asks too and logs a
     * non-empty text as a notice (for example entries it could not list);
     * leave it empty when there is nothing to say. */
    void(ULMORA_CALL *GetErrorText)(ActionInterface *self, char *buffer, uint32_t size);
    /* Never called by the program. */
    void *reserved;
    /* Looks up the plate `name`. On Done, *data receives the address of the
     * plate's stored block (the encoded image) and *size its length. The
     * block stays owned by the plugin and must stay valid at least until the
     * plugin's next call on this action. Empty: the plate has no data. */
    uint32_t(ULMORA_CALL *GetPlateData)(ActionInterface *self, const char *name,
                                        const void **data, uint32_t *size);
    /* Changes the plate `name` as `mode` says (WriteModeStore or
     * WriteModeDelete, above). Returns Done, or Failed with a text; a mode
     * the plugin does not know is a failure. */
    uint32_t(ULMORA_CALL *Write)(ActionInterface *self, const char *name, const void *data,
                                 uint32_t size, uint32_t mode);
    /* Calls `callback` once for every plate of the open storage, passing
     * `cookie` back unchanged, and stops as soon as it answers 0 (then
     * returns Aborted). Returns Empty for a storage without plates. The
     * program passes 0 as `value1` and 2 as `value2`. */
    uint32_t(ULMORA_CALL *Enumerate)(ActionInterface *self, uint32_t value1, PlateCallback callback,
                                     uint32_t value2, void *cookie);
} ActionFunctions;

/* One connection to one storage, made and owned by the plugin. The plugin
 * may put its own fields after these; `size` covers them. A plugin that keeps
 * its state in a record of its own starting with an ActionInterface declares
 * that record ULMORA_PACKED too, so that the pointer it gets back converts
 * to its record without an alignment warning. */
struct ULMORA_PACKED ActionInterface {
    const ActionFunctions *functions;
    uint32_t magic;        /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;         /* at least sizeof(ActionInterface) */
    uint32_t reserved;     /* never read by the program */
    const char *extension; /* default file extension without the dot; valid
                              while the action exists */
};

/* Filled by the plugin inside QueryPluginInterface. The program hands a
 * block of exactly sizeof(PluginInfo) bytes: write no more than that. */
typedef struct ULMORA_PACKED PluginInfo {
    uint32_t magic; /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;  /* at least sizeof(PluginInfo) */
    uint32_t type;  /* PluginTypeStorage */
    /* Shown whenever the plugin is shown: valid while the library is loaded. */
    const char *description;
    uint32_t flags; /* PluginFlags */
    /* Called once after the program accepted this record; may be null. */
    void(ULMORA_CALL *Init)(void);
    /* Called once just before the program frees the library; may be null. */
    void(ULMORA_CALL *Shutdown)(void);
    /* Returns a new action, or null. Must not be null itself. */
    ActionInterface *(ULMORA_CALL *CreateAction)(void);
    /* Destroys an action made by CreateAction. The program closes an open
     * action (Open with a null path) before it frees it. */
    void(ULMORA_CALL *FreeAction)(ActionInterface *action);
} PluginInfo;

#if defined(_MSC_VER)
#  pragma pack(pop)
#endif

/* The plugin's one export. `host` stays valid for the whole run; `info` is
 * the block to fill. Returns null when `info` is filled, otherwise a text
 * (owned by the plugin, valid while the library is loaded) that says why the
 * plugin cannot work. May be called several times per loaded library: each
 * call is followed by one Init and, at unload, one Shutdown. Keep it fast:
 * registering a plugin loads it and calls this. */
ULMORA_PLUGIN_EXPORT const char *ULMORA_CALL QueryPluginInterface(const PluginHostInfo *host,
                                                                  PluginInfo *info);
typedef const char *(ULMORA_CALL *QueryPluginInterfaceFn)(const PluginHostInfo *host,
                                                           PluginInfo *info);

/*
 * Extensions (since Ulmora 0.2)
 *
 * What a plugin can do beyond the records above comes as extensions: tables
 * of functions, each named by an id of the form "vendor.name/version". The
 * records above never change; a new ability is a new id, and an incompatible
 * change of one is a new version of its id, so that a plugin and a program of
 * different releases agree on every table they both know.
 *
 * A plugin with extensions exports a second function, QueryPluginExtension
 * (on Windows by that plain name, like QueryPluginInterface). The program
 * looks it up once, when it loads the library, after QueryPluginInterface
 * was accepted, and asks for each id it knows. A plugin without the export
 * has no extension and loads as before; so does a plugin whose answer is
 * refused (a wrong magic or a smaller size than this header declares): the
 * program then acts as if it had answered null.
 *
 * Every table starts with ULMORA_PLUGIN_MAGIC and its own size, is packed
 * like the records above, is owned by the plugin and stays valid and
 * unchanged while the library is loaded. Its functions follow conventions
 * 2, 3 and 5 above and receive an action of this plugin as `self`, made by
 * CreateAction and open (its Open answered non-zero). A function that
 * returns Failed leaves a text for GetErrorText, as the action's own
 * functions do. A later version of a table may append fields; the program
 * reads no field beyond the size the table declares.
 */

/* Returns the table of the extension `id` (a zero-terminated text, the
 * program's buffer, valid only during the call), or null when the plugin
 * does not know it. May be called several times, and with ids that are
 * not listed in this header: answer null to those. */
ULMORA_PLUGIN_EXPORT const void *ULMORA_CALL QueryPluginExtension(const char *id);
typedef const void *(ULMORA_CALL *QueryPluginExtensionFn)(const char *id);

/* ---- "ulmora.metadata/1": what describes a storage -----------------------
 *
 * The storage's own description as key/value texts, in the format's own
 * terms: an MBTiles file's metadata rows (name, format, bounds, minzoom, ...)
 * as they are, a GeoPackage's table columns, the fields of a file header.
 * Keys and values are zero-terminated UTF-8 texts; a key is never empty and
 * neither contains a zero byte. The program shows and copies them and lets
 * the user change them; it does not interpret a key it does not know. */
#define ULMORA_METADATA_EXTENSION "ulmora.metadata/1"

/* Called by the plugin once per key during ReadMetadata, synchronously, on
 * the calling thread. `key` and `value` are the plugin's buffers, valid only
 * during the call. Returns 1 to go on, 0 to stop: the plugin then stops at
 * once and returns Aborted from ReadMetadata. */
typedef uint32_t(ULMORA_CALL *MetadataCallback)(void *cookie, const char *key, const char *value);

#if defined(_MSC_VER)
#  pragma pack(push, 1)
#endif

typedef struct ULMORA_PACKED MetadataExtension {
    uint32_t magic; /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;  /* at least sizeof(MetadataExtension) */
    /* Calls `callback` once for every key of the open storage, in the
     * format's order, passing `cookie` back unchanged. A key the format may
     * hold twice is reported as often as it is there. Returns Done, Empty
     * for a storage without any metadata, Aborted when the callback answered
     * 0, or Failed with a text. */
    uint32_t(ULMORA_CALL *ReadMetadata)(ActionInterface *self, MetadataCallback callback, void *cookie);
    /* Sets `key` to `value`, replacing every value the key had, or deletes
     * the key when `value` is null. The change is durable when the call
     * returns. Returns Done; Empty when a deleted key was not there (nothing
     * changed); Failed with a text when the format or the storage cannot
     * hold it (read-only file, a key the format fixes). Null in a table of
     * a format whose metadata cannot be changed: the program then never
     * offers to. */
    uint32_t(ULMORA_CALL *WriteMetadata)(ActionInterface *self, const char *key, const char *value);
} MetadataExtension;

#if defined(_MSC_VER)
#  pragma pack(pop)
#endif

/* ---- "ulmora.container/1": the file that holds the plates ----------------
 *
 * What the storage's container itself needs, apart from its plates: a check
 * that the file is sound (a damaged SQLite page can hide plates from every
 * listing, so decoding the plates that are listed cannot find it) and giving
 * back the space that deleted plates left free. A format without a container
 * of its own (a folder of files) has no table. */
#define ULMORA_CONTAINER_EXTENSION "ulmora.container/1"

/* Called by the plugin during CheckContainer and ReclaimSpace, synchronously,
 * on the calling thread, with the work done so far and the whole work, in
 * units of the plugin's choice (total 0: not known), and, when `finding` is
 * not null, one problem the check found (the plugin's buffer, valid only
 * during the call; a progress report passes null). Called at least now and
 * then while the work goes on, so that the program can show progress and
 * offer to stop. Returns 1 to go on, 0 to stop: the plugin then stops as
 * soon as it can, leaves the storage as it was before the call, and returns
 * Aborted. */
typedef uint32_t(ULMORA_CALL *ContainerCallback)(void *cookie, uint32_t done, uint32_t total,
                                                 const char *finding);

#if defined(_MSC_VER)
#  pragma pack(push, 1)
#endif

typedef struct ULMORA_PACKED ContainerExtension {
    uint32_t magic; /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;  /* at least sizeof(ContainerExtension) */
    /* Checks the open storage's container: its structure, not the plates'
     * contents. Reports every problem through `callback` (with a finding)
     * and returns Done when the check ran to its end, whether it found
     * problems or not: the program counts the findings. Returns Aborted when
     * the callback answered 0, Failed with a text when the check could not
     * run (the file cannot be read at all). Changes nothing; plates stored
     * before the call are part of what is checked. */
    uint32_t(ULMORA_CALL *CheckContainer)(ActionInterface *self, ContainerCallback callback, void *cookie);
    /* Measures the container: *fileBytes receives its size, *freeBytes the
     * part of it that ReclaimSpace would give back (0 when the format keeps
     * none, or when ReclaimSpace is null). Returns Done, or Failed with a
     * text. Quick: it reads no plates. */
    uint32_t(ULMORA_CALL *MeasureSpace)(ActionInterface *self, uint64_t *fileBytes, uint64_t *freeBytes);
    /* Gives the container's free space back to the file system. The plates
     * stay byte for byte as they were, and the storage stays open. The new
     * container is written beside the old one and replaces it in one step
     * once whole, so that an interruption leaves the old one intact; a
     * plugin refuses (Failed with a text saying so) when the file system has
     * no room for it, or when the storage is read-only. *before and *after
     * receive the container's size before and after. Returns Done, Aborted
     * (the old container untouched), or Failed with a text. Null in a table
     * of a format that keeps no free space: the program then never offers
     * to. */
    uint32_t(ULMORA_CALL *ReclaimSpace)(ActionInterface *self, ContainerCallback callback, void *cookie,
                                        uint64_t *before, uint64_t *after);
} ContainerExtension;

#if defined(_MSC_VER)
#  pragma pack(pop)
#endif

/* ---- "ulmora.platestream/1": every plate with its data, in one pass -------
 *
 * A run over many plates (a copy, looking for duplicates) reads each one's
 * data. Through GetPlateData that is a lookup by name per plate, while most
 * formats can hand out all their plates in one walk of their own order (an
 * SQLite table in rowid order, an archive in the order of its data) for a
 * fraction of that. A plugin that can do so has this table; the program uses
 * it for runs over many plates and GetPlateData for the rest, so a plugin
 * without it works as before. */
#define ULMORA_PLATESTREAM_EXTENSION "ulmora.platestream/1"

/* Called by the plugin once per plate during StreamPlates, synchronously, on
 * the calling thread.
 *   cookie - the cookie StreamPlates received, passed back unchanged;
 *   number - the plugin's number for the plate, as Enumerate reports it;
 *   name   - the plate's name, as Enumerate reports it (the plugin's buffer,
 *            valid only during the call);
 *   data   - the plate's data as GetPlateData would hand it out: the
 *            plugin's block (it may lie in the format's own buffers), valid
 *            only during the call; null when the plate has no data;
 *   size   - the data's length in bytes; 0 when the plate has no data.
 * While the callback runs the program calls no function of this action, but
 * may call those of other actions, of this plugin too (a copy between two
 * storages of one format writes the other one). Returns 1 to go on, 0 to
 * stop: the plugin then stops at once and returns Aborted from
 * StreamPlates. The program counts the calls: the callback is its progress
 * and its moment to offer Abort. */
typedef uint32_t(ULMORA_CALL *PlateStreamCallback)(void *cookie, int32_t number, const char *name,
                                                   const void *data, uint32_t size);

#if defined(_MSC_VER)
#  pragma pack(push, 1)
#endif

typedef struct ULMORA_PACKED PlateStreamExtension {
    uint32_t magic; /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;  /* at least sizeof(PlateStreamExtension) */
    /* Calls `callback` once for every plate that Enumerate would list now,
     * with its data, in the order that is cheapest for the format (not
     * necessarily Enumerate's), passing `cookie` back unchanged. Sees what
     * GetPlateData would see: stores answered Done before the call included.
     * A plate whose data cannot be read is left out, and the stream goes on:
     * the program reads every plate it did not receive through GetPlateData,
     * which reports the failure for that plate. Returns Done, Empty for a
     * storage without plates, Aborted when the callback answered 0, or
     * Failed with a text when the walk could not go on (the plates received
     * until then stay valid; the program reads the rest by name). */
    uint32_t(ULMORA_CALL *StreamPlates)(ActionInterface *self, PlateStreamCallback callback, void *cookie);
    /* ULMORA_STREAM_* bits. Appended after the first tables shipped: a
     * table whose size ends before this field has none of them. */
    uint32_t flags;
} PlateStreamExtension;

/* The stream leaves no plate out: it hands out every plate Enumerate would
 * list, or fails. The program may then list the storage from the stream
 * alone and read it once, not twice, for a run over every plate (a copy). */
#define ULMORA_STREAM_WHOLE 1u

#if defined(_MSC_VER)
#  pragma pack(pop)
#endif

/* ---- "ulmora.part/1": listing a part of the storage ----------------------
 *
 * The plates of some levels, or of one quadtree area, without walking the
 * rest of the storage: a command that works on one level of a storage of
 * millions of plates (deleting it) lists that level alone, as a storage with
 * an index on its levels can. A plugin whose storage has no such index
 * answers null for this id: the program then lists everything and picks. */
#define ULMORA_PART_EXTENSION "ulmora.part/1"

#if defined(_MSC_VER)
#  pragma pack(push, 1)
#endif

typedef struct ULMORA_PACKED PartExtension {
    uint32_t magic; /* ULMORA_PLUGIN_MAGIC */
    uint32_t size;  /* at least sizeof(PartExtension) */
    /* Calls `callback` as Enumerate does (the same numbers, names and sizes,
     * in an order of the plugin's choice) for every plate of the open
     * storage whose level (its name's length) lies between `minLevel` and
     * `maxLevel`, both included, and whose name starts with `area`: a
     * quadtree key ("t", then q, r, s or t; the program's buffer, valid only
     * during the call), or "" for every name. Reports no other plate and no
     * plate twice. Returns Done, Empty when that part holds no plate,
     * Aborted when the callback answered 0, or Failed with a text (an area
     * the plugin cannot read as a quadtree key). */
    uint32_t(ULMORA_CALL *EnumeratePart)(ActionInterface *self, const char *area, uint32_t minLevel,
                                         uint32_t maxLevel, PlateCallback callback, void *cookie);
} PartExtension;

#if defined(_MSC_VER)
#  pragma pack(pop)
#endif

#ifdef __cplusplus
}
#endif

#endif /* ULMORA_PLUGIN_H */
