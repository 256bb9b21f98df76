#include "plugins/Plugin.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "platform/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr uint32_t kResultMask = 0xFFFF;
constexpr std::size_t kErrorTextRoom = 100;

// The path form the registry compares and stores: relative to the program
// folder where possible. LoadPlugin refuses one longer than 260 characters.
std::string NormalizedLibraryPath(const char* path)
{
    std::string text = path != nullptr ? path : "";
    if (IsAbsolutePath(text))
        text = MakeRelativeToProgramFolder(text);
    return text;
}

} // namespace

const char* PluginTypeName(int type)
{
    return Translate(type == PluginTypeStorage ? "Storage" : "<Unknown>");
}

// ---- loading ---------------------------------------------------------------

std::unique_ptr<StoragePlugin> LoadPlugin(const char* path, const PluginHostInfo* host, int type)
{
    std::string libraryPath = NormalizedLibraryPath(path);
    // A path that does not fit is refused: cut, it would name another library.
    if (libraryPath.size() > kMaxTextLength) {
        SetLastError(ENAMETOOLONG);
        return nullptr;
    }
    std::string loaderText;
    // A relative path means relative to the program folder, as the Windows
    // loader searches the program's own folder first.
    platform::LibraryHandle module =
        platform::OpenLibrary(JoinToProgramFolder(libraryPath), &loaderText);
    if (module == nullptr) {
        SetErrorText("%s", loaderText.c_str());
        return nullptr;
    }
    auto refuse = [module]() -> std::unique_ptr<StoragePlugin> {
        LastErrorKeeper keep;
        platform::CloseLibrary(module);
        return nullptr;
    };

    auto query = reinterpret_cast<QueryPluginInterfaceFn>(
        platform::FindSymbol(module, "QueryPluginInterface", &loaderText));
    if (query == nullptr) {
        SetErrorText("%s", loaderText.c_str());
        return refuse();
    }

    PluginInfo info;
    std::memset(&info, 0, sizeof info);
    if (const char* why = query(host, &info)) {
        SetErrorText(Translate("Plugin init error: %s"), why);
        return refuse();
    }
    if (info.magic != ULMORA_PLUGIN_MAGIC) {
        SetLastError(ErrBadMagic);
        return refuse();
    }
    if (info.size < sizeof(PluginInfo)) {
        SetLastError(ErrUnexpectedData);
        return refuse();
    }
    if (type != kAnyPluginType && static_cast<uint32_t>(type) != info.type) {
        SetErrorText(Translate("Plugin %s is not requested %s type plugin"), libraryPath.c_str(),
                     PluginTypeName(type));
        return refuse();
    }
    if (info.type != PluginTypeStorage) {
        SetErrorText(Translate("Plugin is of unknown type: %d (Desc: %s)"),
                     static_cast<int>(info.type), info.description != nullptr ? info.description : "");
        return refuse();
    }
    auto plugin = std::make_unique<StoragePlugin>(module, info, std::move(libraryPath));
    if (info.Init != nullptr)
        info.Init();
    return plugin;
}

// ---- BasePlugin ------------------------------------------------------------

BasePlugin::BasePlugin(platform::LibraryHandle module, const PluginInfo& info, std::string libraryPath)
    : module_(module), info_(info), libraryPath_(std::move(libraryPath))
{
}

BasePlugin::~BasePlugin()
{
    if (onDestroy_)
        onDestroy_(this);
    if (module_ != nullptr) {
        while (!actions_.empty())
            FreeAction(actions_.back().get());
        if (info_.Shutdown != nullptr)
            info_.Shutdown();
        platform::CloseLibrary(module_);
        module_ = nullptr;
    }
}

StorageAction* BasePlugin::CreateAction()
{
    // A plugin that announces no CreateAction is refused here, not called.
    ActionInterface* object = info_.CreateAction != nullptr ? info_.CreateAction() : nullptr;
    if (object == nullptr) {
        SetErrorText("%s", Translate("Error requesting new action from plugin"));
        return nullptr;
    }
    const bool badMagic = object->magic != ULMORA_PLUGIN_MAGIC;
    if (badMagic || object->size < sizeof(ActionInterface)) {
        ReleaseObject(object);
        SetLastError(badMagic ? ErrBadMagic : ErrUnexpectedData);
        return nullptr;
    }
    auto action = std::make_unique<StorageAction>(object, this);
    StorageAction* result = action.get();
    actions_.push_back(std::move(action));
    return result;
}

void BasePlugin::FreeAction(PluginAction* action)
{
    auto found = std::find_if(actions_.begin(), actions_.end(),
                              [action](const auto& owned) { return owned.get() == action; });
    if (found == actions_.end())
        return;
    std::unique_ptr<PluginAction> owned = std::move(*found);
    actions_.erase(found);
    ActionInterface* object = owned->Interface();
    owned.reset();
    ReleaseObject(object);
}

void BasePlugin::ReleaseObject(ActionInterface* object)
{
    if (info_.FreeAction != nullptr)
        info_.FreeAction(object);
}

// ---- StorageAction ---------------------------------------------------------

PluginAction::~PluginAction()
{
    if (onDestroy_)
        onDestroy_(this);
}

StorageAction::~StorageAction() { Close(); }

const char* StorageAction::Extension() const
{
    const char* extension = Interface()->extension;
    return extension != nullptr ? extension : "";
}

bool StorageAction::Open(const char* path)
{
    if (opened_) {
        Interface()->functions->Open(Interface(), nullptr);
        opened_ = false;
    }
    if (path == nullptr)
        return true;

    std::string target = Bounded(path);
    const char* extension = Extension();
    if (!Plugin()->HasFlag(UsesDirectory) && *extension != '\0' &&
        LastComponent(target).find('.') == std::string_view::npos)
        target = Bounded(target + "." + extension);

    if (Interface()->functions->Open(Interface(), target.c_str()) == 0) {
        FetchErrorText();
        return false;
    }
    storagePath_ = std::move(target);
    opened_ = true;
    return true;
}

uint32_t StorageAction::GetPlateData(const char* name, const void** data, uint32_t* size)
{
    if (!opened_) {
        SetLastError(platform::kErrorNotReady);
        return Failed;
    }
    return MapResult(Interface()->functions->GetPlateData(Interface(), name, data, size), false);
}

uint32_t StorageAction::Write(const char* name, const void* data, uint32_t size, uint32_t mode)
{
    if (!opened_) {
        SetLastError(platform::kErrorNotReady);
        return Failed;
    }
    if (!Plugin()->HasFlag(SupportsWrite)) {
        SetErrorText("%s", Translate("Plugin does not support write operations"));
        return Failed;
    }
    return MapResult(Interface()->functions->Write(Interface(), name, data, size, mode), false);
}

uint32_t StorageAction::Enumerate(uint32_t value1, PlateHandler handler, uint32_t value2)
{
    if (!opened_) {
        SetLastError(platform::kErrorNotReady);
        return Failed;
    }
    handler_ = handler;
    uint32_t result = Interface()->functions->Enumerate(Interface(), value1, &StorageAction::OnPlate,
                                                        value2, this);
    return MapResult(result, true);
}

uint32_t ULMORA_CALL StorageAction::OnPlate(void* cookie, int32_t number, const char* name,
                                            uint32_t reserved, uint32_t size)
{
    auto* action = static_cast<StorageAction*>(cookie);
    if (!action->handler_)
        return 1;
    return action->handler_(action, number, name, reserved, size) ? 1 : 0;
}

uint32_t StorageAction::MapResult(uint32_t result, bool abortedAllowed) const
{
    result &= kResultMask;
    if (result == Done || result == Empty || (abortedAllowed && result == Aborted))
        return result;
    FetchErrorText();
    return Failed;
}

std::string StorageAction::PluginText() const
{
    // The buffer is cleared and terminated here as well, so that a plugin
    // that writes nothing or forgets the terminator cannot leak garbage.
    char buffer[kErrorTextRoom] = {};
    Interface()->functions->GetErrorText(Interface(), buffer, kErrorTextRoom);
    buffer[kErrorTextRoom - 1] = '\0';
    return buffer;
}

void StorageAction::FetchErrorText() const { SetErrorText("%s", PluginText().c_str()); }
