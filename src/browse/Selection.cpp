#include "browse/Selection.h"

#include "base/Text.h"
#include "base/Translate.h"
#include "browse/PlateList.h"

#include <algorithm>
#include <bit>

void SelectZoomRange(ListSelection& selection, const PlateList& plates, int from, int to)
{
    selection.SelectWhere([&](int index) {
        PlateItem plate;
        return plates.At(index, &plate) && plate.nameLength >= from && plate.nameLength <= to;
    });
}

SelectionSummary SummarizeSelection(const PlateList& plates, const ListSelection& selection)
{
    SelectionSummary summary;
    summary.listed = plates.Count();
    const int count = plates.Count();
    selection.ForEachSelectedWord([&](int first, uint64_t bits) {
        if (first >= count)
            return;
        if (count - first < 64)
            bits &= (uint64_t(1) << (count - first)) - 1;
        summary.selected += std::popcount(bits);
        if (bits == ~uint64_t(0)) {
            // A full word: the sizes lie side by side, no bit tests needed.
            for (int i = first; i < first + 64; ++i)
                summary.bytes += plates.SizeAt(i);
            return;
        }
        while (bits != 0) {
            summary.bytes += plates.SizeAt(first + std::countr_zero(bits));
            bits &= bits - 1;
        }
    });
    return summary;
}

std::string SummaryText(const SelectionSummary& summary)
{
    return Format(Translate("Plates: %d, selected: %d (%s)"), summary.listed, summary.selected,
                  FormatTotalSize(summary.bytes).c_str());
}
