#include "browse/PlateSort.h"

#include "base/ListSelection.h"
#include "browse/PlateList.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string_view>

namespace {

// Stable least-significant-digit radix sort of `order` by key(plate), a byte
// a pass; a pass whose byte is the same for every plate is left out, so
// small sizes and short names cost few passes. Ten million plates take a
// few passes over a second buffer of the same size.
template <typename KeyOf>
void RadixSort(std::vector<int32_t>& order, int keyBytes, KeyOf keyOf)
{
    std::vector<int32_t> other(order.size());
    for (int pass = 0; pass < keyBytes; ++pass) {
        const int shift = 8 * pass;
        std::array<std::size_t, 257> start{};
        for (const int32_t plate : order)
            ++start[((keyOf(plate) >> shift) & 0xFF) + 1];
        if (std::find(start.begin() + 1, start.end(), order.size()) != start.end())
            continue; // every plate has the same byte here
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (const int32_t plate : order)
            other[start[(keyOf(plate) >> shift) & 0xFF]++] = plate;
        order.swap(other);
    }
}

// A packed quadtree name as a number that sorts as the letters do: the first
// letter highest, then the length, so that a prefix comes before its longer names.
uint64_t NameKey(uint64_t letters, int length)
{
    uint64_t key = 0;
    for (int i = 0; i < length; ++i)
        key |= ((letters >> (2 * i)) & 3u) << (2 * (PlateItem::kPackedLetters - 1 - i) + 5);
    return key | static_cast<uint64_t>(length);
}

} // namespace

std::vector<int32_t> PlateSortOrder(const PlateList& plates, PlateSortKey key, bool descending)
{
    std::vector<int32_t> order(static_cast<std::size_t>(plates.Count()));
    std::iota(order.begin(), order.end(), 0);
    const uint64_t flip = descending ? ~uint64_t{0} : 0;
    switch (key) {
    case PlateSortKey::Number: {
        PlateItem plate;
        RadixSort(order, 4, [&](int32_t index) {
            plates.At(index, &plate);
            return (static_cast<uint64_t>(static_cast<uint32_t>(plate.number) ^ 0x80000000u)) ^ flip;
        });
        break;
    }
    case PlateSortKey::Level:
        RadixSort(order, 2, [&](int32_t index) { return static_cast<uint64_t>(plates.LevelAt(index)) ^ flip; });
        break;
    case PlateSortKey::Size:
        RadixSort(order, 4, [&](int32_t index) { return static_cast<uint64_t>(plates.SizeAt(index)) ^ flip; });
        break;
    case PlateSortKey::Name: {
        bool allPacked = true;
        for (int i = 0; i < plates.Count() && allPacked; ++i) {
            uint64_t letters = 0;
            int length = 0;
            allPacked = plates.PackedLettersAt(i, &letters, &length);
        }
        if (allPacked) {
            RadixSort(order, 8, [&](int32_t index) {
                uint64_t letters = 0;
                int length = 0;
                plates.PackedLettersAt(index, &letters, &length);
                return NameKey(letters, length) ^ flip;
            });
            break;
        }
        // Other names: compared as texts, which is slower, but such lists are
        // not the huge quadtree caches.
        auto nameOf = [&](int32_t index, PlateItem& plate) {
            plates.At(index, &plate);
            return std::string_view(plate.name, static_cast<std::size_t>(plate.nameLength));
        };
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            PlateItem first;
            PlateItem second;
            const std::string_view x = nameOf(a, first);
            const std::string_view y = nameOf(b, second);
            return descending ? y < x : x < y;
        });
        break;
    }
    }
    return order;
}

void SortPlates(PlateList& plates, ListSelection& selection, PlateSortKey key, bool descending)
{
    const std::vector<int32_t> order = PlateSortOrder(plates, key, descending);
    plates.Reorder(order);
    const ListSelection before = selection;
    selection.SelectWhere([&](int index) { return before.IsSelected(order[static_cast<std::size_t>(index)]); });
    selection.SetFocus(-1);
    selection.SetAnchor(-1);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == before.Focus())
            selection.SetFocus(static_cast<int>(i));
        if (order[i] == before.Anchor())
            selection.SetAnchor(static_cast<int>(i));
    }
}
