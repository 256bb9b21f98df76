// The items of the lists that hold their own texts (text lists and log
// lists); a virtual list keeps only its count and never comes here.
#include "widgets/CustomBkList.h"

#include <QHeaderView>

#include <algorithm>

QString CustomBkList::ItemText(int index) const
{
    return index >= 0 && index < items_.size() ? items_[index] : QString();
}

QStringView CustomBkList::SectionText(QStringView text, QStringView delimiters, int section)
{
    if (section < 0)
        return {};
    int field = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!delimiters.contains(text[i]))
            continue;
        if (field == section)
            return text.mid(start, i - start);
        ++field;
        start = i + 1;
    }
    return field == section ? text.mid(start) : QStringView();
}

void CustomBkList::SetItems(const QStringList& items)
{
    items_ = items;
    if (sorted_ && !options_.Has(bkoLogStyle))
        std::stable_sort(items_.begin(), items_.end(),
                         [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
    if (IsVirtual()) {
        Repaint();
        return;
    }
    // New texts: the old selection and focus mean nothing for them.
    const int focus = ItemIndex();
    *selection_ = ListSelection();
    ApplyCount(static_cast<int>(items_.size()));
    SetTopIndex(0);
    EnsureForcedFocus(false);
    if (ItemIndex() != focus)
        FireClick();
    Repaint();
}

void CustomBkList::ClearItems()
{
    SetItems({});
}

void CustomBkList::InsertItem(int index, const QString& text)
{
    if (IsVirtual())
        return;
    index = std::clamp(index, 0, ItemsCount());
    items_.insert(index, text);
    selection_->Insert(index);
    UpdateScrollBars();
    EnsureForcedFocus(true);
    Repaint();
}

void CustomBkList::DeleteItem(int index)
{
    if (IsVirtual() || index < 0 || index >= ItemsCount())
        return;
    const bool wasFocused = index == ItemIndex();
    items_.removeAt(index);
    selection_->Erase(index);
    if (tracked_ >= ItemsCount())
        tracked_ = -1;
    // A list that always has a focused item keeps the focus in place: the item
    // that took the deleted one's position (or the new last one).
    if (wasFocused && options_.Has(bkoForceSelection) && ItemsCount() > 0)
        MoveFocus(std::min(index, ItemsCount() - 1));
    UpdateScrollBars();
    Repaint();
}

void CustomBkList::RemoveOldest()
{
    const bool fromFront = !options_.Has(bkoLogStyle) || options_.Has(bkoNewLogAtEnd);
    const int index = fromFront ? 0 : ItemsCount() - 1;
    if (OnItemAutoRemove)
        OnItemAutoRemove(this, index);
    DeleteItem(index);
}

int CustomBkList::AddItem(const QString& text)
{
    if (IsVirtual())
        return -1;
    if (options_.Has(bkoLimitedSize) && itemsLimit_ > 0) {
        if (options_.Has(bkoRemoveOnLimitExceed)) {
            // Make room first, so that the list never holds more than the limit.
            while (ItemsCount() > 0 && ItemsCount() >= itemsLimit_)
                RemoveOldest();
        } else if (ItemsCount() >= itemsLimit_) {
            return -1;
        }
    }
    int index = ItemsCount();
    if (options_.Has(bkoLogStyle)) {
        index = options_.Has(bkoNewLogAtEnd) ? ItemsCount() : 0;
    } else if (sorted_) {
        index = static_cast<int>(
            std::upper_bound(items_.begin(), items_.end(), text,
                             [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; }) -
            items_.begin());
    }
    const int top = TopIndex();
    InsertItem(index, text);
    if (options_.Has(bkoAutoScrollToLastUsed)) {
        SetItemIndex(index);
        EnsureVisible(index);
    } else if (options_.Has(bkoLogStyle)) {
        SetTopIndex(top);
    }
    return index;
}
