#include "app/Session.h"

#include "app/CommandLine.h"
#include "base/BuildInfo.h"
#include "base/Paths.h"
#include "base/ProgramFiles.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "config/ConfigKeys.h"
#include "log/Log.h"
#include "platform/FileInfo.h"
#include "platform/Process.h"

namespace {
constexpr const char* kDashes = "------------------------------------------";
} // namespace

std::string PlaceFile(const std::vector<std::string>& arguments, const std::string& name, const std::string& fileName,
                      UserFolderKind kind)
{
    const std::string folder = SettingsFolder(kind);
    const std::string path = ResolveFilePath(arguments, name, fileName, folder);
    // The user's folder is made on first use; a folder a switch names is the
    // user's own business.
    if (folder != ProgramFolder() && path.starts_with(folder))
        platform::CreateDirectories(FolderPart(path));
    return path;
}

void WriteLogHeader()
{
    Log("%s", kDashes);
    const std::string program = platform::ExecutablePath();
    Log(Translate("Programm: %s"), program.c_str());
    // The project's version, then the program file's time, which tells two
    // builds of one version apart.
    std::string version = kProgramVersion;
    if (auto made = platform::FileCreationTime(program))
        version += Format(" (%02d-%02d-%04d %02d:%02d:%02d)", made->day, made->month, made->year, made->hour,
                          made->minute, made->second);
    Log(Translate("Vesion: %s"), version.c_str());
    Log("%s", kDashes);
}

Session::Session(BrowserView& view, Operation& operation, const PluginHostInfo* host)
    : view_(view), operation_(operation), plugins_(host), connection_(view, operation, period_, host)
{
    // The program loads and saves the store itself.
    config_.SetAutoLoad(false);
    config_.SetAutoSave(false);
}

Session::~Session()
{
    if (Running()) {
        connection_.ReleaseStorage();
        storages_.Clear();
        plugins_.Clear();
        link_.SetStorage(nullptr);
        logFile_.reset();
    }
}

void Session::Start(const std::vector<std::string>& arguments, const SessionFiles& files)
{
    files_ = files;
    config_.SetFileName(PlaceFile(arguments, kConfigSwitch, files.config, UserFolderKind::Config));
    logFile_ = std::make_unique<LogFile>(PlaceFile(arguments, kLogSwitch, files.log, UserFolderKind::State));
    WriteLogHeader();
    ::Log("Starting...");
    link_.SetStorage(&config_);
    link_.SetKeyPath(cfgkey::kProgramLink);
    config_.Load();
    ::Log("%s", Translate("Load cfg..."));
}

void Session::LoadRegistry()
{
    bool firstStart = false;
    if (ConfigItem* root = link_.Item("")) {
        firstStart = !PluginsArray::HasPluginList(*root);
        plugins_.LoadPluginList(*root);
        storages_.LoadStorages(*root);
        if (firstStart)
            plugins_.RegisterFolder(IsAbsolutePath(files_.plugins) ? files_.plugins
                                                                    : OwnFilePath(files_.plugins, OwnFileKind::Library));
    }
    choice_.Fill();
    choice_.Choose(firstStart ? 0 : cfgkey::kNoPlugin);
}

void Session::RestoreChoice() { choice_.Choose(link_.ReadInt(cfgkey::kLastUsedPlugin, choice_.Chosen())); }

void Session::Started() { ::Log("OK"); }

bool Session::SaveConfig()
{
    if (ConfigItem* root = link_.Item("")) {
        storages_.SaveStorages(*root);
        plugins_.SavePluginList(*root);
    }
    return config_.Save();
}

void Session::Stop(const std::function<void()>& saveState)
{
    if (!Running())
        return;
    connection_.ReleaseStorage();
    ::Log("%s", Translate("Save cfg..."));
    if (link_.ReadBool(cfgkey::kAutosave, cfgkey::kDefaultAutosave)) {
        if (saveState)
            saveState();
        SaveConfig();
    }
    ::Log("%s", Translate("Shutdown plugins..."));
    storages_.Clear();
    plugins_.Clear();
    ::Log("%s", Translate("Shutdown programm..."));
    link_.SetStorage(nullptr); // nothing reads or writes the configuration from here on
    ::Log("%s", Translate("Shutting down..."));
    logFile_.reset();
}

LoadResult Session::LoadStorage(const std::string& storagePath)
{
    if (choice_.Selected() == nullptr) {
        LoadResult refused{LoadResult::Outcome::NoPlugin, 0, Translate("Plugin is not loaded or selected"), {}};
        ::Log("%s", refused.error.c_str());
        view_.ShowError(refused.error);
        return refused;
    }
    return connection_.LoadStorage(choice_.SelectedLibraryPath(), storagePath);
}

void Session::ReleaseStorage() { connection_.ReleaseStorage(); }
