#include "browse/StorageConnection.h"

#include "base/Text.h"
#include "base/Translate.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "log/Operation.h"

#include <algorithm>
#include <cstring>

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

bool StorageConnection::ReleaseFaulted()
{
    if (plugin_ == nullptr || !plugin_->Faulted())
        return false;
    Log("%s", Translate("Release the storage of the faulted plugin..."));
    ReleaseStorage();
    return true;
}

void StorageConnection::Report(const std::string& error)
{
    Log("%s", error.c_str());
    view_.ShowError(error);
}

LoadResult StorageConnection::DropConnection(LoadResult::Outcome outcome, std::string error)
{
    Report(error);
    action_ = nullptr;
    plugin_.reset();
    view_.ShowLoadButton(BrowserView::LoadButton::Load);
    return LoadResult{outcome, 0, std::move(error), {}};
}

LoadResult StorageConnection::LoadStorage(const std::string& libraryPath, const std::string& storagePath,
                                          PlateKeep keep, const PlatePart* part)
{
    Log("%s", Translate("Load storage contents..."));
    ReleaseStorage();
    view_.ShowLoadButton(BrowserView::LoadButton::Loading);
    keep_ = std::move(keep);
    part_ = part;
    passed_ = 0;
    struct Forget {
        StorageConnection& connection;
        ~Forget()
        {
            connection.keep_ = nullptr;
            connection.part_ = nullptr;
        }
    } forget{*this};
    try {
        return Connect(libraryPath, storagePath);
    } catch (...) {
        // Left by an exception: a command abandoned after a fault in the
        // plugin, or a failure of the program. The progress window is gone
        // already; the window shows what is loaded, and a plugin that
        // faulted is let go.
        if (!ReleaseFaulted()) {
            view_.ShowPlateCount(plates_.Count());
            view_.ShowLoadButton(plugin_ != nullptr ? BrowserView::LoadButton::Release : BrowserView::LoadButton::Load);
        }
        throw;
    }
}

LoadResult StorageConnection::LoadStorageWithData(const std::string& libraryPath, const std::string& storagePath,
                                                  PlateKeep keep, const ListedData& withData, int* handed)
{
    withData_ = &withData;
    handed_ = 0;
    struct Forget {
        StorageConnection& connection;
        ~Forget() { connection.withData_ = nullptr; }
    } forget{*this};
    LoadResult result = LoadStorage(libraryPath, storagePath, std::move(keep));
    *handed = handed_;
    return result;
}

LoadResult StorageConnection::Connect(const std::string& libraryPath, const std::string& storagePath)
{
    plugin_ = LoadPlugin(libraryPath.c_str(), host_, PluginTypeStorage);
    if (plugin_ == nullptr)
        return DropConnection(LoadResult::Outcome::PluginFailed,
                              Format(Translate("Error loading storage plugin: %s"), ErrorText(kCurrentError).c_str()));
    action_ = plugin_->CreateAction();
    if (action_ == nullptr)
        return DropConnection(LoadResult::Outcome::ActionFailed,
                              Format(Translate("Error creating storage action: %s"), ErrorText(kCurrentError).c_str()));
    if (!action_->Open(storagePath.c_str()))
        return DropConnection(LoadResult::Outcome::OpenFailed,
                              Format(Translate("Error initialize storage data \"%s\": %s"), storagePath.c_str(),
                                     ErrorText(kCurrentError).c_str()));

    operation_.SetAbortable(true);
    OperationEnd end(operation_);
    const bool inPart = part_ != nullptr && action_->CanListPart();
    uint32_t found =
        withData_ != nullptr && action_->StreamIsWhole() ? ListFromStream()
        : inPart ? ListPart(*part_)
                 : action_->Enumerate(0, StorageAction::PlateHandler::Bind<&StorageConnection::OnPlateFound>(this), 2);
    // A part without plates says nothing of the rest of the storage.
    if (inPart && found == Empty)
        found = Done;
    LoadResult result{LoadResult::Outcome::Loaded, 0, {}, {}};
    if (found == Empty) {
        result.outcome = LoadResult::Outcome::Empty;
        result.error = Translate("Strage is empty!");
        Report(result.error);
    } else if (found == Failed) {
        result.outcome = LoadResult::Outcome::EnumerationFailed;
        result.error = Format(Translate("Error enumerating storage\nError: %s"), ErrorText(kCurrentError).c_str());
        Report(result.error);
    } else if (found == Aborted) {
        result.outcome = LoadResult::Outcome::Aborted;
    } else if (found == Done) {
        // What the plugin could not list, for example rows that are no plates.
        result.notice = action_->PluginText();
        if (!result.notice.empty())
            Log("%s", result.notice.c_str());
    }
    // A whole stream handed its plates over instead of listing them.
    result.plates = plates_.Count() == 0 && withData_ != nullptr ? handed_ : plates_.Count();
    result.passed = passed_;
    view_.ShowPlateCount(plates_.Count());
    view_.ShowLoadButton(BrowserView::LoadButton::Release);
    end.Now();
    Log(Translate("Loaded %d items"), result.plates);
    if (passed_ > 0)
        Log("%d other plates of the storage were not kept", passed_);
    view_.ListClick();
    return result;
}

uint32_t StorageConnection::ListPart(const PlatePart& part)
{
    // An area inside another would be listed twice: sorted, it follows the
    // one that holds it.
    std::vector<std::string> areas = part.areas;
    std::sort(areas.begin(), areas.end());
    std::vector<std::string> outer;
    for (const std::string& area : areas)
        if (outer.empty() || !area.starts_with(outer.back()))
            outer.push_back(area);
    if (outer.empty())
        outer.emplace_back();
    bool found = false;
    for (const std::string& area : outer) {
        const uint32_t result =
            action_->EnumeratePart(area.c_str(), part.minLevel, part.maxLevel,
                                   StorageAction::PlateHandler::Bind<&StorageConnection::OnPlateFound>(this));
        if (result == Done)
            found = true;
        else if (result != Empty)
            return result;
    }
    return found ? Done : Empty;
}

uint32_t StorageConnection::ListFromStream()
{
    const uint32_t found =
        action_->StreamPlates([this](int32_t number, const char* name, const void* data, uint32_t size) {
            if (keep_ && !keep_(name)) {
                ++passed_;
                // No plate for the run to show: the listing shows its progress.
                return ListingGoesOn(action_);
            }
            PlateItem plate;
            plate.name = name;
            plate.nameLength = static_cast<int>(std::strlen(name));
            plate.number = number;
            plate.size = size;
            return (*withData_)(handed_++, plate, data, size);
        });
    if (found != Failed)
        return found;
    Log("The plate stream of %s stopped: %s; the storage is listed and read plate by plate",
        action_->StoragePath().c_str(), ErrorText(kCurrentError).c_str());
    // The listing reports every plate again: it alone counts those not kept.
    passed_ = 0;
    return action_->Enumerate(0, StorageAction::PlateHandler::Bind<&StorageConnection::OnPlateFound>(this), 2);
}

bool StorageConnection::OnPlateFound(StorageAction* action, int32_t number, const char* name, uint32_t,
                                     uint32_t size)
{
    if (!keep_ || keep_(name))
        plates_.Append(name, number, size);
    else
        ++passed_;
    return ListingGoesOn(action);
}

bool StorageConnection::ListingGoesOn(StorageAction* action)
{
    // Abort can only have been pressed while events were handled, so it is
    // asked after each progress step rather than for each of millions of plates.
    if (!period_.Elapsed())
        return true;
    operation_.SetText(Translate("Scaning storage %s...\nItems found: %d"), action->StoragePath().c_str(),
                       plates_.Count());
    view_.ShowPlateCount(plates_.Count());
    {
        LastErrorKeeper keep;
        view_.PumpMessages();
    }
    return !(operation_.IsAborted() && AskYesNo(view_.Owner(), nullptr, "%s", Translate("Abort scan storage?")));
}
