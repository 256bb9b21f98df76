#include "crash/RemoteMemory.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace crash {

RemoteMemory::RemoteMemory(pid_t pid) : pid_(pid), pageSize_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {}

const std::vector<unsigned char>* RemoteMemory::Page(uint64_t page)
{
    auto found = pages_.find(page);
    if (found == pages_.end()) {
        std::vector<unsigned char> bytes(pageSize_);
        iovec local{bytes.data(), bytes.size()};
        iovec remote{reinterpret_cast<void*>(static_cast<uintptr_t>(page)), bytes.size()};
        if (process_vm_readv(pid_, &local, 1, &remote, 1, 0) != static_cast<ssize_t>(bytes.size()))
            bytes.clear();
        found = pages_.emplace(page, std::move(bytes)).first;
    }
    return found->second.empty() ? nullptr : &found->second;
}

bool RemoteMemory::Read(uint64_t address, void* out, std::size_t size)
{
    auto* target = static_cast<unsigned char*>(out);
    while (size > 0) {
        uint64_t page = address - address % pageSize_;
        const std::vector<unsigned char>* bytes = Page(page);
        if (bytes == nullptr)
            return false;
        std::size_t offset = static_cast<std::size_t>(address - page);
        std::size_t part = std::min(size, pageSize_ - offset);
        std::memcpy(target, bytes->data() + offset, part);
        target += part;
        address += part;
        size -= part;
    }
    return true;
}

bool RemoteMemory::ReadWord(uint64_t address, uint64_t* value)
{
    uintptr_t word = 0;
    if (!Read(address, &word, sizeof word))
        return false;
    *value = word;
    return true;
}

} // namespace crash
