#include "browse/StorageConnection.h"

#include "base/Translate.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "log/Operation.h"

StorageConnection::StorageConnection(BrowserView& view, Operation& operation, PRPeriod& period,
                                     const PluginHostInfo* host)
    : view_(view), operation_(operation), period_(period), host_(host)
{
}

void StorageConnection::ReleaseStorage()
{
    if (plugin_ != nullptr) {
        Log("%s", Translate("Free allocated storage connection..."));
        action_ = nullptr;
        plugin_.reset();
        Log("OK");
    }
    if (plates_.Count() > 0) {
        Log("%s", Translate("Free allocated items..."));
        plates_.Clear();
        Log("OK");
    }
    view_.ShowLoadButton(BrowserView::LoadButton::Load);
    view_.ShowPlateCount(0);
    view_.ListClick();
}

void StorageConnection::DropConnection()
{
    action_ = nullptr;
    plugin_.reset();
    view_.ShowLoadButton(BrowserView::LoadButton::Load);
}

void StorageConnection::LoadStorage(const std::string& libraryPath, const std::string& storagePath)
{
    Log("%s", Translate("Load storage contents..."));
    ReleaseStorage();
    view_.ShowLoadButton(BrowserView::LoadButton::Loading);

    plugin_ = LoadPlugin(libraryPath.c_str(), host_, PluginTypeStorage);
    if (plugin_ == nullptr) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(view_.Owner(), Translate("Error loading storage plugin: %s"), why.c_str());
        DropConnection();
        return;
    }
    action_ = plugin_->CreateAction();
    if (action_ == nullptr) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(view_.Owner(), Translate("Error creating storage action: %s"), why.c_str());
        DropConnection();
        return;
    }
    if (!action_->Open(storagePath.c_str())) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(view_.Owner(), Translate("Error initialize storage data \"%s\": %s"), storagePath.c_str(),
                 why.c_str());
        DropConnection();
        return;
    }

    operation_.SetAbortable(true);
    const uint32_t result =
        action_->Enumerate(0, StorageAction::PlateHandler::Bind<&StorageConnection::OnPlateFound>(this), 2);
    if (result == Empty) {
        ErrorBox(view_.Owner(), "%s", Translate("Strage is empty!"));
    } else if (result == Failed) {
        const std::string why = ErrorText(kCurrentError);
        ErrorBox(view_.Owner(), Translate("Error enumerating storage\nError: %s"), why.c_str());
    }
    view_.ShowPlateCount(plates_.Count());
    view_.ShowLoadButton(BrowserView::LoadButton::Release);
    operation_.SetText(nullptr);
    Log(Translate("Loaded %d items"), plates_.Count());
    view_.ListClick();
}

bool StorageConnection::OnPlateFound(StorageAction* action, int32_t number, const char* name, uint32_t,
                                     uint32_t size)
{
    plates_.Append(name, number, size);
    if (period_.Elapsed()) {
        operation_.SetText(Translate("Scaning storage %s...\nItems found: %d"), action->StoragePath().c_str(),
                           plates_.Count());
        view_.ShowPlateCount(plates_.Count());
        LastErrorKeeper keep;
        view_.PumpMessages();
    }
    if (operation_.IsAborted() && AskYesNo(view_.Owner(), nullptr, "%s", Translate("Abort scan storage?")))
        return false;
    return true;
}
