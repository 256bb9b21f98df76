#pragma once
// The window's side of the export, delete and copy commands: it gathers what the
// runs need from the window that starts them, asks for the options, and
// starts the run.

#include <functional>
#include <string>

class CustomBkList;
class ListSelection;
class Operation;
class PlateList;
class PluginsArray;
class PRPeriod;
class QWidget;
class StorageAction;
class StorageLink;

struct PlateCommandWindow {
    QWidget* owner = nullptr;       // owns the dialog and the boxes
    StorageLink* link = nullptr;    // holds the "Export/..." keys
    StorageAction* action = nullptr; // null: no storage is open
    const PlateList* plates = nullptr;
    CustomBkList* list = nullptr;   // the plate list control and its selection
    Operation* operation = nullptr;
    PRPeriod* period = nullptr;
    std::function<void()> reload;   // releases the storage and loads it again
    const PluginsArray* plugins = nullptr; // the registry: the plugins a copy may write with
    bool writable = true;           // the storage can delete plates (Delete, Move)
    ListSelection* selection = nullptr; // the list's selection store: handled plates leave it
    // Shows a finished run's result line ("Plates successfully exported from
    // storage: 64 of 64") where the user looks once the progress is gone.
    std::function<void(const std::string&)> showResult;
};

// "&E Export...": nothing unless a storage is open and plates are selected;
// then the options dialog and, unless cancelled, the run.
void RunExportCommand(const PlateCommandWindow& window);
// "&D Delete": the same conditions and a writable storage, then the run with its confirmation.
void RunDeleteCommand(const PlateCommandWindow& window);
// "&C Copy to...": the same conditions, then the target's path and plugin;
// the target is made when missing and opened through a plugin instance of
// its own, and the run copies into it. The storage is not loaded again: the
// plates copied are deselected.
void RunCopyCommand(const PlateCommandWindow& window);
