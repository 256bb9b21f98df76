#pragma once
// Large blocks of memory for lists of millions of items.

#include <cstddef>

namespace platform {

// The size of the blocks AllocateLargeBlock is best at: one huge page.
inline constexpr std::size_t kLargeBlockSize = std::size_t{2} << 20;

// A block of `size` bytes (a multiple of kLargeBlockSize), uninitialised,
// that the system may back with huge pages: far fewer page faults when it is
// filled. Null when there is no memory.
void* AllocateLargeBlock(std::size_t size);
void FreeLargeBlock(void* block);

} // namespace platform
