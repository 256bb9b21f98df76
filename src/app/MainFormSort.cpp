// The plate list sorted by a column of its header.
#include "app/MainForm.h"

#include "browse/CoverageView.h"
#include "browse/PlateSort.h"
#include "base/Translate.h"
#include "log/Operation.h"
#include "widgets/BkList.h"

#include <QApplication>
#include <QCoreApplication>
#include <QHeaderView>
#include <QPushButton>

#include <chrono>
#include <future>
#include <optional>
#include <thread>

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

// Set while the sort's worker reads the list, however the wait ends.
struct SortingFlag {
    explicit SortingFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~SortingFlag() { flag_ = false; }
    SortingFlag(const SortingFlag&) = delete;
    SortingFlag& operator=(const SortingFlag&) = delete;
    bool& flag_;
};

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
    // Worked out on a thread of its own, which only reads the list: the
    // window keeps painting (user input waits) and, past the progress
    // period, says what it does. Ten million plates take a second or more.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const PlateList& plates = session_.Plates();
    const bool descending = sortDescending_;
    std::packaged_task<PreparedSort()> task([&plates, key, descending] { return PrepareSort(plates, *key, descending); });
    std::future<PreparedSort> prepared = task.get_future();
    std::thread worker(std::move(task));
    {
        OperationEnd end(operation_);
        operation_.SetAbortable(false);
        PRPeriod period(kProgressPeriodMs);
        SortingFlag sorting(sorting_);
        // Events are let through at least once, however short the sort:
        // what they start finds sorting_ set, never a list in between.
        do {
            if (period.Elapsed())
                operation_.SetText("%s", Translate("Sorting plates..."));
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        } while (prepared.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready);
    }
    worker.join();
    QApplication::restoreOverrideCursor();
    session_.Connection().ApplySort(session_.Selection(), prepared.get());
    // The same plates stay selected and focused, in their new rows.
    list->EditSelection([](ListSelection&) {});
    coverage->PlatesChanged();
    if (list->ItemIndex() >= 0)
        list->EnsureVisible(list->ItemIndex());
}
