#pragma once
// The bytes of all text and binary values of one tree, kept as blocks. An
// item gets a block the first time it stores such a value and keeps reusing
// it: the block grows for a longer value and never shrinks.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CfgBlobStore {
public:
    using Handle = std::uint32_t; // 0: no block

    // The largest value a block holds: its length is written as 32 bits.
    static constexpr std::size_t kMaxLength = 0xFFFFFFFFu;

    // Copies `size` bytes into the block of *handle, making a block when
    // *handle is 0. `data` may point into the block itself. False (with the
    // last error set) when the value is longer than kMaxLength.
    bool Store(Handle* handle, const void* data, std::size_t size);

    // Frees the block; 0 is ignored.
    void Release(Handle handle);

    // The block's bytes; empty for 0. Valid until the block changes.
    std::span<const std::uint8_t> Bytes(Handle handle) const;

    std::size_t LiveBlocks() const { return blocks_.size() - free_.size(); }

private:
    struct Block {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t length = 0;
        std::size_t capacity = 0;
    };
    std::vector<Block> blocks_; // handle h is blocks_[h - 1]
    std::vector<Handle> free_;
};
