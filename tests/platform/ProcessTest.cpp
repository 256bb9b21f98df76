// The readability probe must answer, never fault.
#include "platform/Process.h"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ProcessTest, IsReadableProbesWithoutFaulting)
{
    const long page = sysconf(_SC_PAGESIZE);
    // Three pages: readable, unreadable, readable.
    void* mapped = mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mapped, MAP_FAILED);
    char* base = static_cast<char*>(mapped);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);

    EXPECT_TRUE(platform::IsReadable(base, page));
    EXPECT_TRUE(platform::IsReadable(base + 2 * page, page));
    EXPECT_FALSE(platform::IsReadable(base, page + 1)) << "the block reaches into the guard page";
    EXPECT_FALSE(platform::IsReadable(base + page - 10, 20));
    EXPECT_FALSE(platform::IsReadable(base + 2 * page - 1, 1));
    EXPECT_FALSE(platform::IsReadable(nullptr, 10));
    EXPECT_FALSE(platform::IsReadable(reinterpret_cast<void*>(16), 4));
    EXPECT_TRUE(platform::IsReadable(base, 0));
    munmap(mapped, 3 * page);
    EXPECT_FALSE(platform::IsReadable(base, 1)) << "unmapped";

    // A block of more pages than one batch of the probe holds.
    std::vector<char> large(4096 * 1200, 'x');
    EXPECT_TRUE(platform::IsReadable(large.data(), large.size()));
}

TEST(ProcessTest, ProgramFolderHoldsTheProgram)
{
    const std::string path = platform::ExecutablePath();
    const std::string folder = platform::ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(path.rfind(folder, 0), 0u);
    EXPECT_EQ(path.substr(folder.size()), "platform_test");
}

} // namespace
