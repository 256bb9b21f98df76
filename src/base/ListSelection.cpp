#include "base/ListSelection.h"

#include <algorithm>

void ListSelection::Resize(int count)
{
    count = std::max(count, 0);
    if (count < count_) {
        // Drop the states of the items that go away from the selected count.
        for (int i = NextSelected(count); i >= 0; i = NextSelected(i + 1))
            --selected_;
    }
    words_.resize((static_cast<std::size_t>(count) + 63) / 64, 0);
    count_ = count;
    if (!words_.empty())
        words_.back() &= TailMask();
    if (!Valid(focus_))
        focus_ = -1;
    if (!Valid(anchor_))
        anchor_ = -1;
}

bool ListSelection::SetSelected(int index, bool selected)
{
    if (!Valid(index))
        return false;
    Word& word = words_[index >> 6];
    const Word bit = Word(1) << (index & 63);
    if (((word & bit) != 0) != selected) {
        word ^= bit;
        selected_ += selected ? 1 : -1;
    }
    return true;
}

void ListSelection::SelectAll()
{
    std::fill(words_.begin(), words_.end(), ~Word(0));
    if (!words_.empty())
        words_.back() &= TailMask();
    selected_ = count_;
}

void ListSelection::ClearAll()
{
    std::fill(words_.begin(), words_.end(), Word(0));
    selected_ = 0;
}

void ListSelection::Invert()
{
    for (Word& word : words_)
        word = ~word;
    if (!words_.empty())
        words_.back() &= TailMask();
    selected_ = count_ - selected_;
}

void ListSelection::SetRange(int first, int last, bool selected)
{
    first = std::max(first, 0);
    last = std::min(last, count_ - 1);
    if (first > last)
        return;
    const int firstWord = first >> 6;
    const int lastWord = last >> 6;
    for (int w = firstWord; w <= lastWord; ++w) {
        Word mask = ~Word(0);
        if (w == firstWord)
            mask &= ~Word(0) << (first & 63);
        if (w == lastWord && (last & 63) != 63)
            mask &= (Word(1) << ((last & 63) + 1)) - 1;
        Word& word = words_[w];
        selected_ -= std::popcount(word & mask);
        if (selected)
            word |= mask;
        else
            word &= ~mask;
        selected_ += std::popcount(word & mask);
    }
}

int ListSelection::NextSelected(int from) const
{
    from = std::max(from, 0);
    if (from >= count_)
        return -1;
    std::size_t w = static_cast<std::size_t>(from) >> 6;
    Word word = words_[w] & (~Word(0) << (from & 63));
    while (word == 0) {
        if (++w == words_.size())
            return -1;
        word = words_[w];
    }
    return static_cast<int>(w * 64 + std::countr_zero(word));
}

void ListSelection::Insert(int index)
{
    if (index < 0 || index > count_)
        return;
    Resize(count_ + 1);
    for (int i = count_ - 1; i > index; --i) {
        const bool was = IsSelected(i - 1);
        SetSelected(i, was);
    }
    SetSelected(index, false);
    if (focus_ >= index)
        ++focus_;
    if (anchor_ >= index)
        ++anchor_;
}

void ListSelection::Erase(int index)
{
    if (!Valid(index))
        return;
    SetSelected(index, false);
    for (int i = index; i + 1 < count_; ++i)
        SetSelected(i, IsSelected(i + 1));
    SetSelected(count_ - 1, false);
    if (focus_ > index)
        --focus_;
    else if (focus_ == index)
        focus_ = -1;
    if (anchor_ > index)
        --anchor_;
    else if (anchor_ == index)
        anchor_ = -1;
    Resize(count_ - 1);
}
