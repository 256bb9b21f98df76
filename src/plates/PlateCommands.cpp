#include "plates/PlateCommands.h"

#include "plates/AskCopyForm.h"
#include "base/ListSelection.h"
#include "plates/AskExportForm.h"
#include "plates/CopyRun.h"
#include "plates/DeleteRun.h"
#include "plates/ExportRun.h"
#include "base/Translate.h"
#include "log/Errors.h"
#include "plugins/Plugin.h"
#include "plugins/PluginChoice.h"
#include "widgets/CustomBkList.h"

#include <filesystem>
#include <system_error>

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

// After the run and its reload, whose lines would bury it.
void ShowResult(const PlateCommandWindow& window, const PlateRunResult& result)
{
    if (window.showResult && !result.summary.empty())
        window.showResult(result.summary);
}

} // namespace

void RunExportCommand(const PlateCommandWindow& window)
{
    if (!CanRun(window))
        return;
    ExportOptions options;
    if (!AskExportOptions(window.link, window.owner, &options, window.writable))
        return;
    WindowHost host(window.reload, window.list, window.selection);
    PlateRunResult result;
    {
        ListUpdate update(window.list);
        result = RunExport({*window.action, *window.plates, window.list->Selection(), *window.operation,
                            *window.period, host, window.owner},
                           options);
    }
    ShowResult(window, result);
}

void RunDeleteCommand(const PlateCommandWindow& window)
{
    if (!CanRun(window) || !window.writable)
        return;
    WindowHost host(window.reload, window.list, window.selection);
    PlateRunResult result;
    {
        ListUpdate update(window.list);
        result = RunDelete({*window.action, *window.plates, window.list->Selection(), *window.operation,
                            *window.period, host, window.owner});
    }
    ShowResult(window, result);
}

void RunCopyCommand(const PlateCommandWindow& window)
{
    if (!CanRun(window) || window.plugins == nullptr)
        return;
    CopyTargetChoice choice;
    if (!AskCopyTarget(window.link, *window.plugins, window.owner, &choice))
        return;
    // Before the target is made: one inside the storage would be made among its plates.
    if (!CopyTargetApart(window.action->StoragePath(), choice.path)) {
        ErrorBox(window.owner, "%s", ErrorText(kCurrentError).c_str());
        return;
    }
    std::unique_ptr<StoragePlugin> plugin = LoadPlugin(choice.pluginPath.c_str(), &HostInfo(), PluginTypeStorage);
    if (plugin == nullptr) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(window.owner, Translate("Error loading storage plugin: %s"), why.c_str());
        return;
    }
    bool made = false;
    if (!MakeCopyTarget(choice.path, &made)) {
        ErrorBox(window.owner, "%s", ErrorText(kCurrentError).c_str());
        return;
    }
    StorageAction* target = plugin->CreateAction();
    if (target == nullptr || !target->Open(choice.path.c_str())) {
        const std::string why = ErrorText(kCurrentError);
        if (made) {
            std::error_code ignored;
            std::filesystem::remove(StoragePathPart(choice.path), ignored);
        }
        if (target == nullptr)
            ErrorBox(window.owner, Translate("Error creating storage action: %s"), why.c_str());
        else
            ErrorBox(window.owner, Translate("Error initialize storage data \"%s\": %s"), choice.path.c_str(), why.c_str());
        return;
    }
    CopyOptions options;
    options.AskOnError = choice.askOnError;
    const std::function<void()> noReload; // the storage copied from is as it was
    WindowHost host(noReload, window.list, window.selection);
    PlateRunResult result;
    {
        ListUpdate update(window.list);
        result = RunCopy({*window.action, *window.plates, window.list->Selection(), *window.operation,
                          *window.period, host, window.owner},
                         *target, options);
    }
    // The copied plates left the selection plate by plate, quietly; the list
    // and its summary learn of it once.
    window.list->EditSelection([](ListSelection&) {});
    ShowResult(window, result);
}
