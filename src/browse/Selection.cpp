#include "browse/Selection.h"

#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"

#include <algorithm>
#include <bit>

void SelectZoomRange(ListSelection& selection, const PlateList& plates, int from, int to)
{
    const int count = plates.Count();
    selection.SelectWhere([&](int index) {
        if (index < 0 || index >= count)
            return false;
        const int level = plates.LevelAt(index);
        return level >= from && level <= to;
    });
}

namespace {

// The sizes of the plates first + b for every set bit b, the plates below `count`.
uint64_t SizesOf(const PlateList& plates, int count, int first, uint64_t bits)
{
    if (first >= count)
        return 0;
    if (count - first < 64)
        bits &= (uint64_t(1) << (count - first)) - 1;
    uint64_t bytes = 0;
    if (bits == ~uint64_t(0)) {
        // A full word: the sizes lie side by side, no bit tests needed.
        for (int i = first; i < first + 64; ++i)
            bytes += plates.SizeAt(i);
        return bytes;
    }
    while (bits != 0) {
        bytes += plates.SizeAt(first + std::countr_zero(bits));
        bits &= bits - 1;
    }
    return bytes;
}

} // namespace

SelectionSummary SummarizeSelection(const PlateList& plates, const ListSelection& selection)
{
    SelectionSummary summary;
    const int count = plates.Count();
    summary.listed = count;
    if (selection.Count() == count && selection.SelectedCount() * 2LL > count) {
        // Mostly selected (All, an inverted small pick): add up the plates
        // that are not and take them from the list's total. All is then free.
        summary.selected = selection.SelectedCount();
        uint64_t unselected = 0;
        if (summary.selected < count)
            selection.ForEachWord(
                [&](int first, uint64_t bits) { unselected += SizesOf(plates, count, first, ~bits); });
        summary.bytes = plates.TotalSize() - unselected;
        return summary;
    }
    selection.ForEachSelectedWord([&](int first, uint64_t bits) {
        if (first < count)
            summary.selected += std::popcount(count - first < 64 ? bits & ((uint64_t(1) << (count - first)) - 1) : bits);
        summary.bytes += SizesOf(plates, count, first, bits);
    });
    return summary;
}

std::string SummaryText(const SelectionSummary& summary)
{
    return Format(Translate("Plates: %d, selected: %d (%s)"), summary.listed, summary.selected,
                  FormatTotalSize(summary.bytes).c_str());
}
