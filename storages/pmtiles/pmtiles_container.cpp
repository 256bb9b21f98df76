// The archive as a container: every directory is read and decoded, and its
// entries are checked against each other and against the file's sections,
// so that damage the listing would stop at (or a lookup would miss) is found
// whole, with every place it is at.
#include "pmtiles_storage.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

namespace pmtiles {

struct Storage::Audit {
    ContainerCallback callback = nullptr;
    void* cookie = nullptr;
    uint64_t leafBytesRead = 0;
    uint32_t totalKiB = 0;
    uint64_t addressed = 0; // tiles the directories address
    uint32_t findings = 0;
    bool stopped = false;

    // Reports a problem; false once the program asked to stop.
    bool Finding(const std::string& text) {
        ++findings;
        stopped = stopped || callback(cookie, Done(), totalKiB, text.c_str()) == 0;
        return !stopped;
    }
    bool Progress() {
        stopped = stopped || callback(cookie, Done(), totalKiB, nullptr) == 0;
        return !stopped;
    }
    uint32_t Done() const {
        const uint64_t kib = leafBytesRead / 1024;
        return kib < totalKiB ? static_cast<uint32_t>(kib) : totalKiB;
    }
};

// Findings in a directory do not end the audit: the other directories are
// still checked, so the report names all the damage there is.
bool Storage::AuditLevel(int depth, uint64_t low, uint64_t high, Audit& audit) {
    // Copied: loading a leaf reuses the buffers of the level below.
    const std::vector<Entry> entries = levels_[static_cast<size_t>(depth)].entries;
    const std::string what = depth == 0 ? "root directory" : "leaf directory at byte " +
                                                                 std::to_string(levels_[static_cast<size_t>(depth)].offset);
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        const std::string where = what + ", entry " + std::to_string(i + 1) + ": ";
        if (entry.tileId < low || entry.tileId >= high || (i > 0 && entry.tileId <= entries[i - 1].tileId)) {
            if (!audit.Finding(where + "tile ids are out of order"))
                return false;
            continue;
        }
        const uint64_t end = i + 1 < entries.size() ? entries[i + 1].tileId : high;
        if (entry.runLength == 0) {
            const std::string error = LoadLeaf(depth + 1, entry);
            if (!error.empty()) {
                if (!audit.Finding(error))
                    return false;
                continue;
            }
            audit.leafBytesRead += entry.length;
            if (!audit.Progress() || !AuditLevel(depth + 1, entry.tileId, end, audit))
                return false;
            continue;
        }
        if (entry.offset > header_.tileDataLength || entry.length > header_.tileDataLength - entry.offset) {
            if (!audit.Finding(where + "its tile lies outside the tile data section"))
                return false;
            continue;
        }
        if (const std::string damage = RunDamage(entry); !damage.empty() && !audit.Finding(where + damage))
            return false;
        audit.addressed += entry.runLength > end - entry.tileId ? end - entry.tileId : entry.runLength;
    }
    return true;
}

uint32_t Storage::CheckContainer(ContainerCallback callback, void* cookie) {
    if (newArchive_)
        return callback(cookie, 1, 1, nullptr) ? Done : Aborted; // written whole when it closes
    if (!source_)
        return Fail("The storage is not open");
    Audit audit;
    audit.callback = callback;
    audit.cookie = cookie;
    audit.totalKiB = static_cast<uint32_t>(std::min<uint64_t>(header_.leafLength / 1024, UINT32_MAX));
    if (!audit.Progress() || !AuditLevel(0, 0, std::numeric_limits<uint64_t>::max(), audit))
        return Aborted;
    if (audit.findings == 0 && header_.addressedTiles != 0 && audit.addressed != header_.addressedTiles &&
        !audit.Finding("the directories address " + std::to_string(audit.addressed) + " tiles, the header says " +
                       std::to_string(header_.addressedTiles)))
        return Aborted;
    // The levels now hold the audit's last leaves: a listing reloads them.
    return audit.Progress() ? Done : Aborted;
}

uint32_t Storage::MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes) {
    *fileBytes = fileSize_;
    *freeBytes = 0;
    return Done;
}

} // namespace pmtiles
