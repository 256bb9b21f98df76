#pragma once
// The storage's container, apart from its plates: checking the file and
// giving its free space back, through the plugin's container extension,
// with progress and Abort. Shared by the window and ulmora-cli.

#include <cstdint>
#include <string>
#include <vector>

class Operation;
class PRPeriod;
class StorageAction;

struct ContainerCheckResult {
    bool supported = false; // the plugin has the container extension
    bool checked = false;   // the check ran to its end
    bool aborted = false;
    std::vector<std::string> findings; // none when checked: the container is sound
    std::string errorText;             // why the check could not run

    bool Damaged() const { return !findings.empty(); }
};

struct CompactResult {
    bool supported = false; // the plugin can reclaim this format's free space
    bool done = false;
    bool aborted = false;
    uint64_t before = 0; // bytes of the container
    uint64_t after = 0;
    std::string errorText;

    uint64_t Reclaimed() const { return before > after ? before - after : 0; }
};

// Checks the open storage's container. A plugin without the extension (a
// folder) leaves `supported` false and is no failure.
ContainerCheckResult CheckStorageContainer(StorageAction& action, Operation& operation, PRPeriod& period);

// The container's size and its free part; false with the last error set.
bool MeasureStorageSpace(StorageAction& action, uint64_t* fileBytes, uint64_t* freeBytes);

// Gives the container's free space back; the storage stays open.
CompactResult CompactStorage(StorageAction& action, Operation& operation, PRPeriod& period);
