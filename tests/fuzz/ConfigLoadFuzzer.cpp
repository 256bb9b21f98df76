// Feeds arbitrary bytes to the configuration file loader. Beyond not
// crashing, it checks the loader's promises: a refused file leaves the tree
// alone, damage empties it, and whatever loads saves to an image that loads
// back to the same tree.
#include "config/TreeConfig.h"
#include "log/Errors.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads every item of the first two levels in every family, so that the
// conversions see whatever values the file held.
void ReadAll(ConfigItem& item, int depth)
{
    for (int i = 0; i < item.Count() && i < 64; ++i) {
        ConfigItem& child = *item.Child(i);
        (void)child.ReadInt("", 1);
        (void)child.ReadChar("", 1);
        (void)child.ReadLong("", 1u);
        (void)child.ReadDouble("", 1);
        (void)child.ReadFloat("", 1);
        if (depth < 2)
            ReadAll(child, depth + 1);
        (void)child.ReadString("", "x");
        (void)child.ReadInt64("", 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TreeConfig tree;
    tree.Root()->WriteString("Before/Load", "kept");
    const std::string before = tree.SaveBytes();

    SetLastError(0);
    const bool loaded = tree.LoadBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!loaded) {
        if (CurrentError() == ErrBadMagic)
            Require(tree.SaveBytes() == before);
        else
            Require(CurrentError() == ErrUnexpectedData && tree.Root()->Count() == 0);
        return 0;
    }

    const std::string image = tree.SaveBytes();
    TreeConfig copy;
    Require(copy.LoadBytes(image));
    Require(copy.SaveBytes() == image);

    ReadAll(*tree.Root(), 0);
    return 0;
}
