#include "plates/PlateCommands.h"

#include "base/ListSelection.h"
#include "plates/AskExportForm.h"
#include "plates/DeleteRun.h"
#include "plates/ExportRun.h"
#include "widgets/CustomBkList.h"

#include <QCoreApplication>
#include <QHeaderView>

namespace {

class WindowHost final : public PlateRunHost {
public:
    WindowHost(const std::function<void()>& reload, CustomBkList* list, ListSelection* selection)
        : reload_(reload), list_(list), selection_(selection)
    {
    }
    void PumpMessages() override { QCoreApplication::processEvents(); }
    void ReloadStorage() override
    {
        if (reload_)
            reload_();
    }
    // On the store, without the list's selection notice: the summary it
    // updates adds up the whole list, once per plate would stall the run.
    void PlateHandled(int index) override
    {
        if (selection_ != nullptr && selection_->SetSelected(index, false))
            list_->InvalidateItem(index);
    }

private:
    const std::function<void()>& reload_;
    CustomBkList* list_;
    ListSelection* selection_;
};

bool CanRun(const PlateCommandWindow& window)
{
    return window.action != nullptr && window.plates != nullptr && window.list != nullptr &&
           window.operation != nullptr && window.period != nullptr && window.list->SelectedCount() > 0;
}

// Keeps the list from repainting while a run goes through it.
class ListUpdate {
public:
    explicit ListUpdate(CustomBkList* list) : list_(list) { list_->BeginUpdate(); }
    ~ListUpdate() { list_->EndUpdate(); }
    ListUpdate(const ListUpdate&) = delete;
    ListUpdate& operator=(const ListUpdate&) = delete;

private:
    CustomBkList* list_;
};

} // namespace

void RunExportCommand(const PlateCommandWindow& window)
{
    if (!CanRun(window))
        return;
    ExportOptions options;
    if (!AskExportOptions(window.link, window.owner, &options, window.writable))
        return;
    WindowHost host(window.reload, window.list, window.selection);
    ListUpdate update(window.list);
    RunExport({*window.action, *window.plates, window.list->Selection(), *window.operation, *window.period, host,
               window.owner},
              options);
}

void RunDeleteCommand(const PlateCommandWindow& window)
{
    if (!CanRun(window) || !window.writable)
        return;
    WindowHost host(window.reload, window.list, window.selection);
    ListUpdate update(window.list);
    RunDelete({*window.action, *window.plates, window.list->Selection(), *window.operation, *window.period, host,
               window.owner});
}
