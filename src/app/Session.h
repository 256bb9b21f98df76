#pragma once
// The engine of one run of the program, without a window: the configuration
// store and the program's link into it, the log file, the plugin registry
// and the storage definitions, the plugin choice, the connection to the
// loaded storage with its plate list, and the selection of plates.
//
// The main window builds one and shows it; a command-line program builds one
// without Qt. Start-up and shutdown keep this order, the shell adding its own
// state where the comments say:
//   Start         the log file, its header, "Starting...", the link, the
//                 configuration loaded, "Load cfg..."
//   (the shell restores its state, calling LoadRegistry in it)
//   Started       "OK"
//   ...commands...
//   Stop          release, "Save cfg...", the shell's state and the file when
//                 Autosave is on, "Shutdown plugins...", "Shutdown programm...",
//                 "Shutting down...", the log file closed

#include "base/ListSelection.h"
#include "base/ProgramFiles.h"
#include "browse/StorageConnection.h"
#include "config/CfgStorage.h"
#include "config/StorageLink.h"
#include "log/LogFile.h"
#include "log/Operation.h"
#include "plugins/PluginChoice.h"
#include "plugins/Registry.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

inline constexpr unsigned kProgressPeriodMs = 400;

// The names of the two files the session places; the switches CFG and LOG
// of the command line move them.
struct SessionFiles {
    std::string config = "Ulmora.hcfg";
    std::string log = "Ulmora.log";
    // The folder of the shipped plugins, absolute or one of the program's
    // own files (base/ProgramFiles.h): registered on a first start.
    std::string plugins = "plugins";
};

class Session {
public:
    // `view` shows the storage connection and `operation` reports long work;
    // both must outlive the session.
    Session(BrowserView& view, Operation& operation, const PluginHostInfo* host = &HostInfo());
    // Stops without saving when Stop was not called.
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // `arguments` is the command line, the program first.
    void Start(const std::vector<std::string>& arguments, const SessionFiles& files = {});
    // Loads the plugin registry and the storage definitions from the
    // configuration, then rebuilds the plugin choice with nothing chosen.
    // On a first start (the configuration has no plugin list at all, not
    // even an empty one) it registers every library of the plugins folder
    // instead, in name order, and chooses the first, so that a program
    // copied anywhere with its plugins can load at once.
    void LoadRegistry();
    // Chooses the plugin stored as the last used one; without a stored one
    // the choice LoadRegistry made stays.
    void RestoreChoice();
    void Started();

    // `saveState` puts the shell's state into the configuration before the
    // silent save; it runs only when Autosave is on.
    void Stop(const std::function<void()>& saveState = {});
    bool Running() const { return logFile_ != nullptr; }

    // Puts the registry and the storage definitions into the configuration
    // and saves its file: false with the reason as last error.
    bool SaveConfig();

    CfgStorage& Config() { return config_; }
    StorageLink& Link() { return link_; }
    PluginsArray& Plugins() { return plugins_; }
    StorageArray& Storages() { return storages_; }
    PluginChoice& Choice() { return choice_; }
    const PluginChoice& Choice() const { return choice_; }

    // Loads the storage at `storagePath` through the chosen plugin. Without
    // a chosen plugin nothing is tried: the result (NoPlugin) and the view
    // say so.
    LoadResult LoadStorage(const std::string& storagePath);
    void ReleaseStorage();
    StorageConnection& Connection() { return connection_; }
    const StorageConnection& Connection() const { return connection_; }
    const PlateList& Plates() const { return connection_.Plates(); }
    // One bit per listed plate; the shell keeps its count with the list's.
    ListSelection& Selection() { return selection_; }

    Operation& Progress() { return operation_; }
    PRPeriod& Period() { return period_; }
    // The log file, while the session runs; null before and after.
    const LogFile* CurrentLogFile() const { return logFile_.get(); }

private:
    BrowserView& view_;
    Operation& operation_;
    SessionFiles files_;
    PRPeriod period_{kProgressPeriodMs};
    CfgStorage config_;
    StorageLink link_;
    std::unique_ptr<LogFile> logFile_;
    // The registry is destroyed after the definitions that refer to it.
    PluginsArray plugins_;
    StorageArray storages_{plugins_};
    PluginChoice choice_{plugins_};
    StorageConnection connection_;
    ListSelection selection_;
};

// The path of the configuration (kind Config) or the log (State): the
// switch `name` when given, else `fileName`; relative ones lie beside the
// program when it is portable, else in the user's folder of that kind,
// which is made when the path lies in it.
std::string PlaceFile(const std::vector<std::string>& arguments, const std::string& name, const std::string& fileName,
                      UserFolderKind kind);

// The four lines the log starts with.
void WriteLogHeader();
