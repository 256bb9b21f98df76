#pragma once
// Reads another process's memory from outside (process_vm_readv), a page at
// a time with a cache: the stack walk reads the same stack words many times.

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace crash {

class RemoteMemory {
public:
    explicit RemoteMemory(pid_t pid);

    // False when any byte of the range cannot be read.
    bool Read(uint64_t address, void* out, std::size_t size);
    bool ReadWord(uint64_t address, uint64_t* value);

private:
    const std::vector<unsigned char>* Page(uint64_t page);

    pid_t pid_;
    std::size_t pageSize_;
    std::unordered_map<uint64_t, std::vector<unsigned char>> pages_; // empty vector: unreadable
};

} // namespace crash
