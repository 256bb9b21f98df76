#include "browse/PlateSort.h"

#include "base/ListSelection.h"
#include "browse/PlateList.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string_view>

namespace {

using Histograms = std::array<std::array<std::size_t, 256>, 8>;

// The counts of every byte value of every key, in one sequential pass.
template <typename Keys>
Histograms CountBytes(const Keys& keys, int firstByte)
{
    Histograms counts{};
    for (const uint64_t key : keys)
        for (int byte = firstByte; byte < 8; ++byte)
            ++counts[static_cast<std::size_t>(byte)][(key >> (8 * byte)) & 0xFF];
    return counts;
}

// Turns counts into start positions; false when one value has them all (the
// pass would move nothing).
bool Starts(std::array<std::size_t, 256>& counts, std::size_t total)
{
    std::size_t sum = 0;
    for (std::size_t& count : counts) {
        if (count == total)
            return false;
        const std::size_t here = count;
        count = sum;
        sum += here;
    }
    return true;
}

// Stable least-significant-digit radix sort, a byte a pass from `firstByte`
// up, over sequential arrays; passes whose byte is the same for every key
// are left out, so small sizes and shallow names cost few passes. `order`
// moves with `keys` when given.
void RadixSort(std::vector<uint64_t>& keys, std::vector<int32_t>* order, int firstByte)
{
    Histograms counts = CountBytes(keys, firstByte);
    std::vector<uint64_t> otherKeys(keys.size());
    std::vector<int32_t> otherOrder(order != nullptr ? order->size() : 0);
    for (int byte = firstByte; byte < 8; ++byte) {
        std::array<std::size_t, 256>& start = counts[static_cast<std::size_t>(byte)];
        if (!Starts(start, keys.size()))
            continue;
        const int shift = 8 * byte;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const std::size_t to = start[(keys[i] >> shift) & 0xFF]++;
            otherKeys[to] = keys[i];
            if (order != nullptr)
                otherOrder[to] = (*order)[i];
        }
        keys.swap(otherKeys);
        if (order != nullptr)
            order->swap(otherOrder);
    }
}

// Sorts by a 32-bit key: key and plate share one 64-bit word, the plate
// below, so that ties keep the list's order.
template <typename KeyOf>
std::vector<int32_t> SortBy32(const PlateList& plates, bool descending, KeyOf keyOf)
{
    const uint32_t flip = descending ? ~uint32_t{0} : 0;
    std::vector<uint64_t> items(static_cast<std::size_t>(plates.Count()));
    for (int i = 0; i < plates.Count(); ++i)
        items[static_cast<std::size_t>(i)] = uint64_t{keyOf(i) ^ flip} << 32 | static_cast<uint32_t>(i);
    RadixSort(items, nullptr, 4);
    std::vector<int32_t> order(items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        order[i] = static_cast<int32_t>(items[i] & 0xFFFFFFFFu);
    return order;
}

// A packed quadtree name as a number that sorts as the letters do: the first
// letter highest, the length lowest, so that a prefix comes before its
// longer names. The 2-bit letters are reversed in place, then moved down
// to leave the length's 5 bits free.
uint64_t NameKey(uint64_t letters, int length)
{
    uint64_t x = letters;
    x = ((x >> 2) & 0x3333333333333333u) | ((x & 0x3333333333333333u) << 2);
    x = ((x >> 4) & 0x0F0F0F0F0F0F0F0Fu) | ((x & 0x0F0F0F0F0F0F0F0Fu) << 4);
    x = __builtin_bswap64(x); // letter i now at bits 62 - 2i
    static_assert(2 * PlateItem::kPackedLetters + 5 + 3 <= 64, "the letters and the length fit");
    return x >> 3 | static_cast<uint64_t>(length);
}

} // namespace

std::vector<int32_t> PlateSortOrder(const PlateList& plates, PlateSortKey key, bool descending)
{
    switch (key) {
    case PlateSortKey::Number:
        return SortBy32(plates, descending,
                        [&](int index) { return static_cast<uint32_t>(plates.NumberAt(index)) ^ 0x80000000u; });
    case PlateSortKey::Level:
        return SortBy32(plates, descending, [&](int index) { return static_cast<uint32_t>(plates.LevelAt(index)); });
    case PlateSortKey::Size:
        return SortBy32(plates, descending, [&](int index) { return plates.SizeAt(index); });
    case PlateSortKey::Name:
        break;
    }
    std::vector<int32_t> order(static_cast<std::size_t>(plates.Count()));
    std::iota(order.begin(), order.end(), 0);
    std::vector<uint64_t> keys(order.size());
    const uint64_t flip = descending ? ~uint64_t{0} : 0;
    bool allPacked = true;
    for (int i = 0; i < plates.Count() && allPacked; ++i) {
        uint64_t letters = 0;
        int length = 0;
        allPacked = plates.PackedLettersAt(i, &letters, &length);
        keys[static_cast<std::size_t>(i)] = NameKey(letters, length) ^ flip;
    }
    if (allPacked) {
        RadixSort(keys, &order, 0);
        return order;
    }
    keys = {};
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
    return order;
}

PreparedSort PrepareSort(const PlateList& plates, PlateSortKey key, bool descending)
{
    PreparedSort sort;
    sort.order = PlateSortOrder(plates, key, descending);
    sort.arrangement = plates.Arrange(sort.order);
    return sort;
}

void ApplySort(PlateList& plates, ListSelection& selection, PreparedSort&& sort)
{
    const std::vector<int32_t>& order = sort.order;
    if (static_cast<int>(order.size()) != plates.Count())
        return;
    plates.Adopt(std::move(sort.arrangement));
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

void SortPlates(PlateList& plates, ListSelection& selection, PlateSortKey key, bool descending)
{
    ApplySort(plates, selection, PrepareSort(plates, key, descending));
}
