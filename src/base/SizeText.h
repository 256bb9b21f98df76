#pragma once
// Byte counts as people read them.

#include <cstdint>
#include <string>

// The short size text: below 1000 the count, else the count divided by 1000
// as often as it stays at least 1000, with three digits of the last division,
// cut, not rounded, and the unit letter: 65536 gives "65.536K".
std::string FormatSize(uint32_t bytes);
// The same for totals that pass 4 GB.
std::string FormatTotalSize(uint64_t bytes);

// Binary units with one decimal: "512 B", "1.5 KiB", "3.2 GiB".
std::string FormatByteSize(uint64_t bytes);
