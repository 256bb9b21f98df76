#pragma once
// The selection of a list that may hold tens of millions of items: one bit per
// item, the number of selected items, the focused item and the anchor of range
// selections. No per-item objects; bulk operations work a 64-bit word at a time.
//
// Indexes are ints like the list's count. Out-of-range indexes are ignored by
// the setters and read as unselected. Focus and anchor are -1 or a valid index.

#include <bit>
#include <cstdint>
#include <vector>

class ListSelection {
public:
    ListSelection() = default;
    explicit ListSelection(int count) { Resize(count); }

    int Count() const { return count_; }
    int SelectedCount() const { return selected_; }

    // Changes the number of items. Items that still exist keep their state;
    // focus and anchor beyond the new end become -1.
    void Resize(int count);

    bool IsSelected(int index) const
    {
        return static_cast<unsigned>(index) < static_cast<unsigned>(count_) &&
               (words_[index >> 6] >> (index & 63) & 1u) != 0;
    }
    // Returns false (and changes nothing) for an index outside the items.
    bool SetSelected(int index, bool selected);

    void SelectAll();
    void ClearAll();
    void Invert();
    // Sets the state of the items first..last, both included, cut to the items.
    void SetRange(int first, int last, bool selected);
    // Each item i becomes selected exactly when pred(i) holds: the predicate
    // replaces the whole selection.
    template <typename Pred>
    void SelectWhere(Pred pred);

    // The first selected item at or after `from`, or -1.
    int NextSelected(int from) const;
    template <typename F>
    void ForEachSelected(F f) const
    {
        for (int i = NextSelected(0); i >= 0; i = NextSelected(i + 1))
            f(i);
    }

    // Calls f(first, bits) for every 64-item word that holds a selected item:
    // item first + b is selected exactly when bit b of `bits` is set. The way
    // to walk a large selection fast.
    template <typename F>
    void ForEachSelectedWord(F f) const
    {
        for (std::size_t w = 0; w < words_.size(); ++w)
            if (words_[w] != 0)
                f(static_cast<int>(w << 6), words_[w]);
    }

    // Calls f(first, bits) for every 64-item word, the empty ones too; bits
    // beyond the last item are clear.
    template <typename F>
    void ForEachWord(F f) const
    {
        for (std::size_t w = 0; w < words_.size(); ++w)
            f(static_cast<int>(w << 6), words_[w]);
    }

    int Focus() const { return focus_; }
    int Anchor() const { return anchor_; }
    // Out-of-range values become -1.
    void SetFocus(int index) { focus_ = Valid(index) ? index : -1; }
    void SetAnchor(int index) { anchor_ = Valid(index) ? index : -1; }

    // Inserting and erasing single items shift the states (and focus and anchor)
    // of the items behind them. They cost O(count / 64) and serve the short
    // lists that hold texts, not the virtual ones.
    void Insert(int index);
    void Erase(int index);

private:
    using Word = std::uint64_t;
    bool Valid(int index) const { return index >= 0 && index < count_; }
    // Mask of the valid bits of the last word (all ones when it is full).
    Word TailMask() const { return (count_ & 63) ? (Word(1) << (count_ & 63)) - 1 : ~Word(0); }

    std::vector<Word> words_;
    int count_ = 0;
    int selected_ = 0;
    int focus_ = -1;
    int anchor_ = -1;
};

template <typename Pred>
void ListSelection::SelectWhere(Pred pred)
{
    int selected = 0;
    const int fullWords = count_ >> 6;
    for (int w = 0; w <= fullWords && w < static_cast<int>(words_.size()); ++w) {
        const int base = w << 6;
        const int bits = w < fullWords ? 64 : (count_ & 63);
        Word word = 0;
        for (int b = 0; b < bits; ++b)
            if (pred(base + b))
                word |= Word(1) << b;
        words_[w] = word;
        selected += std::popcount(word);
    }
    selected_ = selected;
}
