#pragma once
// What the storage fuzzers share: a promise that aborts with its line, and a
// listing that checks every listed name, keeps the first few for lookups and
// stops at a bound, as a user would press Abort on a listing of billions.

#include "plate_key.h"

#include <ulmora_plugin.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Aborts with the line of the broken promise, for the crash report.
#define Require(condition) \
    ((condition) ? (void)0 : (std::fprintf(stderr, "broken: %s at line %d\n", #condition, __LINE__), std::abort()))

template <size_t kMaxLookups, size_t kMaxListed = 20000>
struct Listing {
    size_t count = 0;
    std::vector<std::string> names; // the first kMaxLookups

    static uint32_t ULMORA_CALL Collect(void* cookie, int32_t, const char* name, uint32_t, uint32_t) {
        auto* listing = static_cast<Listing*>(cookie);
        plate_key::Tile tile;
        Require(plate_key::Parse(name, &tile));
        if (listing->names.size() < kMaxLookups)
            listing->names.emplace_back(name);
        return ++listing->count < kMaxListed ? 1 : 0;
    }
};
