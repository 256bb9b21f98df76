#pragma once
// A folder tree of plate images in one of the layouts of folder_layout.h.
// Open recognises the layout from the files (and a TMS tree from the
// tilemapresource.xml its writers put beside it), or takes it from the path:
// "FOLDER?layout=tms". An empty folder is an empty storage of the given
// layout, z/x/y when none is given, into which plates can be stored.

#include "folder_layout.h"
#include "plate_key.h"
#include "plugin_glue.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace folder {

// The storage's own folder, known by its identity, so that a folder reached
// through a link can be told to lie inside it or not.
struct Root {
    dev_t device = 0;
    ino_t inode = 0;
    // True when the open folder `fd` is the root or lies below it (its ".."
    // chain reaches the root before the file system's top).
    bool Holds(int fd) const;
};

class Storage : public storage_glue::StorageBase {
public:
    // Folders get no extension; the contract still wants a valid text.
    static constexpr const char* kExtension = "";

    ~Storage() { Close(); }

    bool Open(const char* path);
    void Close();
    uint32_t GetPlateData(const char* name, const void** data, uint32_t* size);
    uint32_t Write(const char* name, const void* data, uint32_t size, uint32_t mode);
    uint32_t Enumerate(PlateCallback callback, void* cookie);
    // The metadata extension (folder_metadata.cpp): metadata.json and
    // tilemapresource.xml read; metadata.json of a z/x/y or TMS tree written.
    uint32_t ReadMetadata(MetadataCallback callback, void* cookie);
    uint32_t WriteMetadata(const char* key, const char* value);

    const Layout& CurrentLayout() const { return layout_; }
    // "layout: tms, rows from the bottom (tilemapresource.xml)": how the tree
    // is read and what told it, or "assumed: ..." when nothing did. Handed to
    // the host as the text after a listing that succeeded.
    std::string Notice() const;
    bool Assumed() const { return assumed_; }

private:
    struct Walk;

    // Recognises the layout of the open folder; false with a text when the
    // folder holds none.
    bool Recognise();
    bool HoldsBundles() const;
    bool WalkPlateTree(int dirFd, size_t depth, Walk& walk);
    bool WalkNumbered(Walk& walk);
    bool WalkNumberedLevel(int dirFd, size_t level, uint64_t x, uint64_t y, Walk& walk);
    bool WalkQuadkey(Walk& walk);
    // The folder (relative to the base, "." for the base itself) and the
    // file stem of a plate; false for a name that is no plate.
    bool PlatePlace(const char* name, std::string* parent, std::string* stem) const;
    // The folder of plate `name` opened in *folderFd (the caller closes it),
    // the file's name in it in *leaf and its path from the base in *path, and
    // Done; or the failure reported.
    uint32_t Locate(const char* name, int* folderFd, std::string* leaf, std::string* path);
    // Opens `parent` (relative to the base, "." for the base itself), making
    // the missing folders when `make`, never through a link that leads out of
    // the storage (EXDEV then): the files there are another tree's. -1 with
    // errno on failure.
    // *made (when given) tells whether this call made the folder itself.
    int OpenPlateFolder(const std::string& parent, bool make, bool* made = nullptr) const;
    // The extensions, as spelt, that image files in the plate folder
    // `parent` (open as `folderFd`) may have: what a store there must remove
    // beside the file it writes. A folder this storage made, or any folder
    // of a storage that was empty when opened, holds only what was stored
    // since; another folder is read once.
    std::vector<std::string>& FolderExtensions(const std::string& parent, int folderFd, bool made);
    uint32_t Store(const char* name, const void* data, uint32_t size);
    // The folder `parent` for a store, made when missing (kept open for the
    // next store; not the caller's to close); -1 and errno when it failed.
    int StoreFolder(const std::string& parent, bool* made);
    void ForgetStoreFolder();
    uint32_t Delete(const char* name);

    int baseFd_ = -1;
    Root root_;
    std::string folderName_; // for messages: the last path component
    Layout layout_;
    std::string how_;     // what told the layout and origin, for Notice
    bool assumed_ = false; // nothing did
    bool stored_ = false;        // a store since Open: sync the file system at Close
    bool needsTmsMarker_ = false; // a TMS tree without its tilemapresource.xml
    unsigned temporaryNumber_ = 0;
    std::string temporaryPrefix_; // ".ulmora-PID-", made once per Open
    // The plate folder of the last store, kept open: a copy stores the
    // plates of one folder in a row, and opening the folder for each took
    // two of a store's seven system calls.
    std::string storeParent_;
    int storeFolderFd_ = -1;
    bool startedEmpty_ = false;  // the folder held nothing at Open
    bool forgotFolders_ = false; // folderExtensions_ was emptied since Open
    // Bounded: a plate tree has a folder for every few plates.
    static constexpr size_t kRememberedFolders = 65536;
    std::unordered_map<std::string, std::vector<std::string>> folderExtensions_;
    std::vector<unsigned char> data_; // the block GetPlateData handed out
};

} // namespace folder
