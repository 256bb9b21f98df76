// The plate list sorted by a column of its header.
#include "app/MainForm.h"

#include "browse/CoverageView.h"
#include "browse/PlateSort.h"
#include "widgets/BkList.h"

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>

#include <optional>

namespace {

// The sort key of a header section; none for the File column.
std::optional<PlateSortKey> SectionKey(int section)
{
    switch (section) {
    case 0: return PlateSortKey::Number;
    case 1: return PlateSortKey::Level;
    case 2: return PlateSortKey::Size;
    case 3: return PlateSortKey::Name;
    default: return std::nullopt;
    }
}

constexpr int kFileSection = 4;

} // namespace

void TMainForm::CreateSorting()
{
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    // No plugin reports a plate's file today: the column shows once a list has some.
    header->setSectionHidden(kFileSection, true);
    connect(header, &QHeaderView::sectionClicked, this,
            [this](int section) { RunWindowCommand([this, section] { headerSectionClicked(section); }); });
}

void TMainForm::headerSectionClicked(int section)
{
    // Not while a scan fills the list: it lets events through, this click included.
    if (!SectionKey(section) || !btnLoad->isEnabled()) {
        // The header flips its own arrow on a click; it shows the list's order.
        if (sortSection_ >= 0)
            header->setSortIndicator(sortSection_, sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
        else
            header->setSortIndicatorShown(false);
        return;
    }
    sortDescending_ = section == sortSection_ && !sortDescending_;
    sortSection_ = section;
    header->setSortIndicatorShown(true);
    header->setSortIndicator(section, sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
    ApplySort();
}

void TMainForm::ApplySort()
{
    header->setSectionHidden(kFileSection, !session_.Plates().HasFiles());
    const std::optional<PlateSortKey> key = SectionKey(sortSection_);
    if (!key || PlateCount() < 2)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    session_.Connection().SortPlates(session_.Selection(), *key, sortDescending_);
    QApplication::restoreOverrideCursor();
    // The same plates stay selected and focused, in their new rows.
    list->EditSelection([](ListSelection&) {});
    coverage->PlatesChanged();
    if (list->ItemIndex() >= 0)
        list->EnsureVisible(list->ItemIndex());
}
