// Feeds arbitrary bytes as a PMTiles archive to the PMTiles storage. Beyond
// not crashing or hanging, it checks the storage's promises: a refusal and a
// failure come with a text, every listed name is a valid plate name, and
// after a complete listing every listed plate can be looked up.
#include "fuzz_listing.h"
#include "plate_key.h"
#include "pmtiles_storage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using FuzzListing = Listing<64>;

const std::string& ArchivePath() {
    static const std::string path = [] {
        std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/pmtiles-fuzz-XXXXXX" : "/tmp/pmtiles-fuzz-XXXXXX";
        const int fd = mkstemp(pattern.data());
        Require(fd >= 0);
        close(fd);
        return pattern;
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = ArchivePath();
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    Require(fd >= 0);
    Require(write(fd, data, size) == static_cast<ssize_t>(size));
    close(fd);

    pmtiles::Storage storage;
    if (!storage.Open(path.c_str())) {
        Require(!storage.ErrorText().empty());
        return 0;
    }
    FuzzListing listing;
    const uint32_t listed = storage.Enumerate(&FuzzListing::Collect, &listing);
    Require(listed == Done || listed == Empty || listed == Failed || listed == Aborted);
    Require(listed != Failed || !storage.ErrorText().empty());

    std::vector<std::string> names = listing.names;
    for (const char* name : {"t", "tq", "ts", "trrr", "tqqqqqqq"})
        names.emplace_back(name);
    for (size_t i = 0; i < names.size(); ++i) {
        const void* block = nullptr;
        uint32_t blockSize = 0;
        const uint32_t result = storage.GetPlateData(names[i].c_str(), &block, &blockSize);
        Require(result == Done || result == Empty || result == Failed);
        if (result == Failed) {
            Require(!storage.ErrorText().empty());
            // A plate a complete listing named is there to be looked up.
            if (listed == Done && i < listing.names.size())
                Require(storage.ErrorText().rfind("No plate", 0) != 0);
        }
        if (result == Done) {
            // Touch every byte, so that a block too short shows.
            unsigned sum = 0;
            for (uint32_t b = 0; b < blockSize; ++b)
                sum += static_cast<const uint8_t*>(block)[b];
            Require(sum <= 255u * blockSize);
        }
    }
    storage.Close();
    return 0;
}
