#include "config/CfgBlobStore.h"

#include "log/Errors.h"

#include <cstring>

bool CfgBlobStore::Store(Handle* handle, const void* data, std::size_t size)
{
    if (size > kMaxLength) {
        SetLastError(ErrOutOfRange);
        return false;
    }
    if (*handle == 0) {
        if (!free_.empty()) {
            *handle = free_.back();
            free_.pop_back();
        } else {
            blocks_.emplace_back();
            *handle = static_cast<Handle>(blocks_.size());
        }
    }
    Block& block = blocks_[*handle - 1];
    if (size > block.capacity) {
        // The new block is filled before the old one goes, as `data` may
        // point into it.
        auto bigger = std::make_unique<std::uint8_t[]>(size);
        if (size > 0)
            std::memcpy(bigger.get(), data, size);
        block.data = std::move(bigger);
        block.capacity = size;
    } else if (size > 0) {
        std::memmove(block.data.get(), data, size);
    }
    block.length = size;
    return true;
}

void CfgBlobStore::Release(Handle handle)
{
    if (handle == 0 || handle > blocks_.size())
        return;
    blocks_[handle - 1] = Block{};
    free_.push_back(handle);
}

std::span<const std::uint8_t> CfgBlobStore::Bytes(Handle handle) const
{
    if (handle == 0 || handle > blocks_.size())
        return {};
    const Block& block = blocks_[handle - 1];
    return {block.data.get(), block.length};
}
