#pragma once
// The connection to one storage: a private plugin instance of the chosen
// library, one open storage action, and the plates its enumeration found.
// Loading and releasing, with their log lines, progress and abort question;
// what happens is shown through a BrowserView (the main window, a terminal,
// a test) and returned as a LoadResult.

#include "browse/PlateList.h"
#include "browse/PlateSort.h"
#include "log/Boxes.h"
#include "plugins/Plugin.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Operation;
class PRPeriod;

// What the connection needs of the window that shows it.
class BrowserView {
public:
    enum class LoadButton { Load, Loading, Release };

    virtual ~BrowserView() = default;
    // Caption and state of the load button: "&L Load storage" (enabled),
    // "Loading..." (disabled) or "&L Release storage" (enabled).
    virtual void ShowLoadButton(LoadButton state) = 0;
    // The list's item count; the current item stays current.
    virtual void ShowPlateCount(int count) = 0;
    // Lets the window handle its pending events (repaint, the Abort button).
    virtual void PumpMessages() = 0;
    // Previews the current plate and sets the plate commands.
    virtual void ListClick() = 0;
    // The owner of boxes.
    virtual BoxOwner Owner() = 0;
    // Shows a failure of a load; the line is already logged. By default the
    // error box.
    virtual void ShowError(const std::string& text) { ShowErrorBox(Owner(), text); }
};

// A view with nothing to show: a program without a window, a benchmark, a
// test. The failures of loads are kept for the caller, which prints them
// once if it wants to.
class QuietView final : public BrowserView {
public:
    void ShowLoadButton(LoadButton) override {}
    void ShowPlateCount(int) override {}
    void PumpMessages() override {}
    void ListClick() override {}
    BoxOwner Owner() override { return nullptr; }
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::vector<std::string> errors;
};

// What a load did.
struct LoadResult {
    enum class Outcome {
        Loaded,            // every plate listed
        Empty,             // the storage has no plates
        Aborted,           // the user stopped the scan; the plates found so far are listed
        EnumerationFailed, // the plates found before the failure are listed
        PluginFailed,      // the library is not a storage plugin; nothing is loaded
        ActionFailed,      // the plugin gave no storage action; nothing is loaded
        OpenFailed,        // the storage could not be opened; nothing is loaded
        NoPlugin,          // no plugin was chosen; nothing was tried
    };
    Outcome outcome = Outcome::PluginFailed;
    int plates = 0;    // plates listed
    std::string error; // the message shown, for the failures and Empty
    // What the plugin said after a full listing: how it read the storage (a
    // folder's layout and row order) or what it left out; often empty.
    std::string notice;
    int passed = 0; // plates the storage reported that the load did not keep (see PlateKeep)

    // A storage is loaded (possibly without all its plates).
    bool StorageLoaded() const
    {
        return outcome == Outcome::Loaded || outcome == Outcome::Empty || outcome == Outcome::Aborted ||
               outcome == Outcome::EnumerationFailed;
    }
};

// Which plates a load keeps, by name; the others are counted and forgotten.
// A command that works on plates chosen by name (a level, an area) of a
// storage of millions needs neither their names nor their memory.
using PlateKeep = std::function<bool(std::string_view name)>;

// The part of a storage that holds every plate a load keeps: levels (name
// lengths) and quadtree areas. A plugin that can list a part (CanListPart)
// then lists that part alone instead of the whole storage; `keep` still
// decides each plate.
struct PlatePart {
    uint32_t minLevel = 1;
    uint32_t maxLevel = UINT32_MAX;
    std::vector<std::string> areas; // quadtree keys; empty: every area
};

// Called during a load that reads the storage from the plugin's plate
// stream, for each plate kept: its place in the stream (0, 1, ...), the
// plate as the plugin reported it and its data (null and 0 for a plate
// without data), valid only during the call. False stops the load (it ends
// Aborted).
using ListedData = std::function<bool(int index, const PlateItem& plate, const void* data, uint32_t size)>;

class StorageConnection {
public:
    // The view, the reporter and the throttle must outlive the connection.
    StorageConnection(BrowserView& view, Operation& operation, PRPeriod& period, const PluginHostInfo* host);
    ~StorageConnection() = default;
    StorageConnection(const StorageConnection&) = delete;
    StorageConnection& operator=(const StorageConnection&) = delete;

    // Releases what is loaded, then loads `libraryPath` privately, opens
    // `storagePath` and lists its plates (with `keep`, those it keeps).
    // Failures are logged and shown through the view.
    // With `part`, a plugin that can lists only that part: a part without
    // plates is no empty storage.
    LoadResult LoadStorage(const std::string& libraryPath, const std::string& storagePath, PlateKeep keep = {},
                           const PlatePart* part = nullptr);
    // The same, for a run over every plate kept that needs their data once
    // (a copy): where the plugin's stream leaves no plate out, each plate is
    // handed to `withData` as the stream gives it, so that the storage is
    // read once, and the list stays empty (ten million plates need no list
    // for that). `*handed` tells how many were handed. A stream that fails
    // is logged, and the list is made by the plugin's listing as LoadStorage
    // makes it: the run does every plate again from there. Without such a
    // stream, nothing is handed and the load is LoadStorage's.
    LoadResult LoadStorageWithData(const std::string& libraryPath, const std::string& storagePath, PlateKeep keep,
                                   const ListedData& withData, int* handed);
    // Ends the connection and empties the plate list.
    void ReleaseStorage();
    // After a command was abandoned: releases the storage when its plugin
    // faulted (its state is unknown, so it is not called again); true when
    // it did.
    bool ReleaseFaulted();

    // A storage counts as loaded while the plugin instance is held.
    bool Loaded() const { return plugin_ != nullptr; }
    StoragePlugin* Plugin() const { return plugin_.get(); }
    // The open action, or null.
    StorageAction* Action() const { return action_; }
    const PlateList& Plates() const { return plates_; }
    // Sorts the plates listed, `selection` (one bit a plate) going with them;
    // ApplySort takes a sort prepared (PrepareSort) of Plates() as they are.
    void SortPlates(ListSelection& selection, PlateSortKey key, bool descending)
    {
        ::SortPlates(plates_, selection, key, descending);
    }
    void ApplySort(ListSelection& selection, PreparedSort&& sort) { ::ApplySort(plates_, selection, std::move(sort)); }

private:
    // LoadStorage from loading the plugin on.
    LoadResult Connect(const std::string& libraryPath, const std::string& storagePath);
    // Lists `part` through the plugin's part extension, each area once.
    uint32_t ListPart(const PlatePart& part);
    bool OnPlateFound(StorageAction* action, int32_t number, const char* name, uint32_t reserved, uint32_t size);
    // Lists the storage from its plate stream, handing each plate kept to
    // `withData_`; after a stream that failed, lists them all.
    uint32_t ListFromStream();
    // The progress of a listing, and Abort: false to stop.
    bool ListingGoesOn(StorageAction* action);
    // Drops a connection that could not be made, without the release's log
    // lines, and reports why.
    LoadResult DropConnection(LoadResult::Outcome outcome, std::string error);
    void Report(const std::string& error);

    BrowserView& view_;
    Operation& operation_;
    PRPeriod& period_;
    const PluginHostInfo* host_;
    std::unique_ptr<StoragePlugin> plugin_;
    StorageAction* action_ = nullptr;
    PlateList plates_;
    PlateKeep keep_;  // during a load: the plates it keeps; empty: all
    const PlatePart* part_ = nullptr; // during a load: the part to list, if any
    int passed_ = 0;  // during a load: the plates `keep_` did not keep
    const ListedData* withData_ = nullptr; // during a load with data
    int handed_ = 0;  // during a load with data: the plates handed to `withData_`
};
