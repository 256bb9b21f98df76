#include "plates/PlateCommands.h"

#include "plates/AskExportForm.h"
#include "plates/DeleteRun.h"
#include "plates/ExportRun.h"
#include "widgets/CustomBkList.h"

#include <QCoreApplication>
#include <QHeaderView>

namespace {

class WindowHost final : public PlateRunHost {
public:
    WindowHost(const std::function<void()>& reload, CustomBkList* list) : reload_(reload), list_(list) {}
    void PumpMessages() override { QCoreApplication::processEvents(); }
    void ReloadStorage() override
    {
        if (reload_)
            reload_();
    }
    // Once for the whole run: the summary beside the tool bar is counted
    // again at each change of the selection.
    void DeselectHandled(int end) override
    {
        if (end > 0)
            list_->SetSelectedRange(0, end - 1, false);
    }

private:
    const std::function<void()>& reload_;
    CustomBkList* list_;
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
    if (!AskExportOptions(window.link, window.owner, &options))
        return;
    WindowHost host(window.reload, window.list);
    ListUpdate update(window.list);
    RunExport({*window.action, *window.plates, window.list->Selection(), *window.operation, *window.period, host,
               window.owner},
              options);
}

void RunDeleteCommand(const PlateCommandWindow& window)
{
    if (!CanRun(window))
        return;
    WindowHost host(window.reload, window.list);
    ListUpdate update(window.list);
    RunDelete({*window.action, *window.plates, window.list->Selection(), *window.operation, *window.period, host,
               window.owner});
}
