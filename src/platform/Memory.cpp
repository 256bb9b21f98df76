#include "platform/Memory.h"

#include <sys/mman.h>

#include <cstdlib>

namespace platform {

void* AllocateLargeBlock(std::size_t size)
{
    void* block = std::aligned_alloc(kLargeBlockSize, size);
    if (block != nullptr)
        ::madvise(block, size, MADV_HUGEPAGE); // only advice: without huge pages it still works
    return block;
}

void FreeLargeBlock(void* block) { std::free(block); }

} // namespace platform
