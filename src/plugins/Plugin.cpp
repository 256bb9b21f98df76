#include "plugins/Plugin.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "platform/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t kResultMask = 0xFFFF;
constexpr std::size_t kErrorTextRoom = 100;

// The path form the registry compares and stores: relative to the program
// folder where possible, never cut (a cut path names another library).
std::string NormalizedLibraryPath(const char* path)
{
    std::string text = path != nullptr ? path : "";
    if (IsAbsolutePath(text))
        text = MakeRelativeToProgramFolder(text);
    return text;
}

// The table the plugin answers for `id`, or null: a plugin without
// QueryPluginExtension, or one whose answer is no table of this contract,
// has none and loads as before.
template <typename Table>
const Table* FindExtension(platform::LibraryHandle module, const char* id, std::size_t minimumSize = sizeof(Table))
{
    std::string ignored;
    auto queryExtension = reinterpret_cast<QueryPluginExtensionFn>(
        platform::FindSymbol(module, "QueryPluginExtension", &ignored));
    if (queryExtension == nullptr)
        return nullptr;
    const void* answer = nullptr;
    CallForeign("QueryPluginExtension", [&] { answer = queryExtension(id); });
    const auto* table = static_cast<const Table*>(answer);
    if (table == nullptr || table->magic != ULMORA_PLUGIN_MAGIC || table->size < minimumSize)
        return nullptr;
    return table;
}

const MetadataExtension* FindMetadataExtension(platform::LibraryHandle module)
{
    const auto* table = FindExtension<MetadataExtension>(module, ULMORA_METADATA_EXTENSION);
    return table != nullptr && table->ReadMetadata != nullptr ? table : nullptr;
}

const ContainerExtension* FindContainerExtension(platform::LibraryHandle module)
{
    const auto* table = FindExtension<ContainerExtension>(module, ULMORA_CONTAINER_EXTENSION);
    return table != nullptr && table->CheckContainer != nullptr && table->MeasureSpace != nullptr ? table
                                                                                                  : nullptr;
}

const PlateStreamExtension* FindPlateStreamExtension(platform::LibraryHandle module)
{
    // The first tables shipped end before `flags`.
    const auto* table = FindExtension<PlateStreamExtension>(module, ULMORA_PLATESTREAM_EXTENSION,
                                                            offsetof(PlateStreamExtension, flags));
    return table != nullptr && table->StreamPlates != nullptr ? table : nullptr;
}

const PartExtension* FindPartExtension(platform::LibraryHandle module)
{
    const auto* table = FindExtension<PartExtension>(module, ULMORA_PART_EXTENSION);
    return table != nullptr && table->EnumeratePart != nullptr ? table : nullptr;
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
    const char* why = nullptr;
    try {
        CallForeign("QueryPluginInterface", [&] { why = query(host, &info); });
    } catch (const CommandAbandoned&) {
        // The library stays loaded: its state is unknown.
        Log(Translate("Plugin %s faulted in %s; it is not called again"), libraryPath.c_str(), "QueryPluginInterface");
        throw;
    }
    if (why != nullptr) {
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
    const MetadataExtension* metadata = nullptr;
    const ContainerExtension* container = nullptr;
    const PlateStreamExtension* plateStream = nullptr;
    const PartExtension* part = nullptr;
    try {
        metadata = FindMetadataExtension(module);
        container = FindContainerExtension(module);
        plateStream = FindPlateStreamExtension(module);
        part = FindPartExtension(module);
    } catch (const CommandAbandoned&) {
        Log(Translate("Plugin %s faulted in %s; it is not called again"), libraryPath.c_str(), "QueryPluginExtension");
        throw;
    }
    auto plugin = std::make_unique<StoragePlugin>(module, info, std::move(libraryPath));
    plugin->SetMetadata(metadata);
    plugin->SetContainer(container);
    plugin->SetPlateStream(plateStream);
    plugin->SetPart(part);
    if (info.Init != nullptr)
        plugin->Call("Init", [&] { info.Init(); });
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
            CallToRelease("Shutdown", [this] { info_.Shutdown(); });
        // A faulted plugin may have left anything behind that points into
        // its code (threads, handlers): its library is not unloaded.
        if (!faulted_)
            platform::CloseLibrary(module_);
        module_ = nullptr;
    }
}

void BasePlugin::MarkFaulted(const char* where) noexcept
{
    if (faulted_)
        return;
    faulted_ = true;
    Log(Translate("Plugin %s faulted in %s; it is not called again"), libraryPath_.c_str(), where);
}

StorageAction* BasePlugin::CreateAction()
{
    // A plugin that announces no CreateAction is refused here, not called.
    if (faulted_) {
        SetErrorText("%s", Translate("The plugin faulted earlier and is not called again"));
        return nullptr;
    }
    ActionInterface* object = nullptr;
    if (info_.CreateAction != nullptr)
        Call("CreateAction", [&] { object = info_.CreateAction(); });
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
        CallToRelease("FreeAction", [&] { info_.FreeAction(object); });
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
        opened_ = false;
        Plugin()->CallToRelease("Open", [this] { Interface()->functions->Open(Interface(), nullptr); });
    }
    if (path == nullptr)
        return true;
    if (Plugin()->Faulted()) {
        SetErrorText("%s", Translate("The plugin faulted earlier and is not called again"));
        return false;
    }

    // Carried whole: a cut path would open another storage.
    std::string target = path;
    const char* extension = Extension();
    if (!Plugin()->HasFlag(UsesDirectory) && *extension != '\0' &&
        LastComponent(target).find('.') == std::string_view::npos)
        target += std::string(".") + extension;

    int32_t opened = 0;
    Plugin()->Call("Open", [&] { opened = Interface()->functions->Open(Interface(), target.c_str()); });
    if (opened == 0) {
        FetchErrorText();
        return false;
    }
    storagePath_ = std::move(target);
    opened_ = true;
    return true;
}

bool StorageAction::Usable() const
{
    if (!opened_) {
        SetLastError(platform::kErrorNotReady);
        return false;
    }
    if (Plugin()->Faulted()) {
        SetErrorText("%s", Translate("The plugin faulted earlier and is not called again"));
        return false;
    }
    return true;
}

uint32_t StorageAction::GetPlateData(const char* name, const void** data, uint32_t* size)
{
    if (!Usable())
        return Failed;
    uint32_t result = Failed;
    Plugin()->Call("GetPlateData",
                   [&] { result = Interface()->functions->GetPlateData(Interface(), name, data, size); });
    return MapResult(result, false);
}

uint32_t StorageAction::Write(const char* name, const void* data, uint32_t size, uint32_t mode)
{
    if (!Usable())
        return Failed;
    if (!Plugin()->HasFlag(SupportsWrite)) {
        SetErrorText("%s", Translate("Plugin does not support write operations"));
        return Failed;
    }
    uint32_t result = Failed;
    Plugin()->Call("Write", [&] { result = Interface()->functions->Write(Interface(), name, data, size, mode); });
    return MapResult(result, false);
}

uint32_t StorageAction::Enumerate(uint32_t value1, PlateHandler handler, uint32_t value2)
{
    if (!Usable())
        return Failed;
    handler_ = handler;
    handlerException_ = nullptr;
    uint32_t result = Failed;
    Plugin()->Call("Enumerate", [&] {
        result = Interface()->functions->Enumerate(Interface(), value1, &StorageAction::OnPlate, value2, this);
    });
    if (handlerException_)
        std::rethrow_exception(std::exchange(handlerException_, nullptr));
    // A call of the handler faulted the plugin (through a nested command):
    // the listing is as abandoned as if the fault had been here.
    if (Plugin()->Faulted())
        throw CommandAbandoned{"Enumerate"};
    return MapResult(result, true);
}

uint32_t StorageAction::EnumeratePart(const char* area, uint32_t minLevel, uint32_t maxLevel, PlateHandler handler)
{
    if (!CanListPart()) {
        SetErrorText("%s", Translate("The plugin cannot list a part of the storage"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    handler_ = handler;
    handlerException_ = nullptr;
    uint32_t result = Failed;
    Plugin()->Call("EnumeratePart", [&] {
        result = Plugin()->Part()->EnumeratePart(Interface(), area, minLevel, maxLevel, &StorageAction::OnPlate, this);
    });
    if (handlerException_)
        std::rethrow_exception(std::exchange(handlerException_, nullptr));
    if (Plugin()->Faulted())
        throw CommandAbandoned{"EnumeratePart"};
    return MapResult(result, true);
}

uint32_t StorageAction::ReadMetadata(MetadataEntries* entries)
{
    entries->clear();
    if (!HasMetadata()) {
        SetErrorText("%s", Translate("The plugin cannot read metadata"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    // The entries are collected by a callback that cannot throw across the
    // plugin's frames: a failure to keep one stops the plugin instead.
    struct Collector {
        MetadataEntries* entries;
        bool failed = false;
        static uint32_t ULMORA_CALL Add(void* cookie, const char* key, const char* value)
        {
            auto* self = static_cast<Collector*>(cookie);
            try {
                self->entries->emplace_back(key != nullptr ? key : "", value != nullptr ? value : "");
                return 1;
            } catch (...) {
                self->failed = true;
                return 0;
            }
        }
    } collector{entries};
    uint32_t result = Failed;
    Plugin()->Call("ReadMetadata",
                   [&] { result = Plugin()->Metadata()->ReadMetadata(Interface(), &Collector::Add, &collector); });
    if (collector.failed) {
        entries->clear();
        SetLastError(ENOMEM);
        return Failed;
    }
    result &= kResultMask;
    if (result == Done || result == Empty)
        return entries->empty() ? Empty : Done;
    entries->clear();
    // Aborted is never asked for: from the plugin it is a failure too.
    FetchErrorText();
    return Failed;
}

uint32_t StorageAction::WriteMetadata(const char* key, const char* value)
{
    if (!CanWriteMetadata()) {
        SetErrorText("%s", Translate(HasMetadata() ? "The storage's metadata cannot be changed"
                                                   : "The plugin cannot read metadata"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    if (key == nullptr || *key == '\0') {
        SetErrorText("%s", Translate("A metadata key cannot be empty"));
        return Failed;
    }
    uint32_t result = Failed;
    Plugin()->Call("WriteMetadata", [&] { result = Plugin()->Metadata()->WriteMetadata(Interface(), key, value); });
    return MapResult(result, false);
}

namespace {

// Carries the program's progress handler and the findings through the
// plugin's callback, which no exception may cross.
struct ContainerReport {
    const StorageAction::ContainerProgress* progress;
    std::vector<std::string>* findings;
    std::exception_ptr failure;

    static uint32_t ULMORA_CALL Report(void* cookie, uint32_t done, uint32_t total, const char* finding)
    {
        auto* self = static_cast<ContainerReport*>(cookie);
        if (self->failure)
            return 0;
        try {
            if (finding != nullptr && self->findings != nullptr)
                self->findings->emplace_back(finding);
            return *self->progress && !(*self->progress)(done, total) ? 0 : 1;
        } catch (...) {
            self->failure = std::current_exception();
            return 0;
        }
    }
};

} // namespace

uint32_t StorageAction::CheckContainer(std::vector<std::string>* findings, const ContainerProgress& progress)
{
    findings->clear();
    if (!HasContainer()) {
        SetErrorText("%s", Translate("The plugin cannot check its container"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    ContainerReport report{&progress, findings, nullptr};
    uint32_t result = Failed;
    Plugin()->Call("CheckContainer",
                   [&] { result = Plugin()->Container()->CheckContainer(Interface(), &ContainerReport::Report, &report); });
    if (report.failure)
        std::rethrow_exception(report.failure);
    result &= kResultMask;
    if (result == Done || result == Aborted)
        return result;
    FetchErrorText();
    return Failed;
}

uint32_t StorageAction::MeasureSpace(uint64_t* fileBytes, uint64_t* freeBytes)
{
    *fileBytes = *freeBytes = 0;
    if (!HasContainer()) {
        SetErrorText("%s", Translate("The plugin cannot check its container"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    uint32_t result = Failed;
    Plugin()->Call("MeasureSpace", [&] { result = Plugin()->Container()->MeasureSpace(Interface(), fileBytes, freeBytes); });
    result &= kResultMask;
    if (result == Done)
        return Done;
    FetchErrorText();
    return Failed;
}

uint32_t StorageAction::ReclaimSpace(const ContainerProgress& progress, uint64_t* before, uint64_t* after)
{
    *before = *after = 0;
    if (!CanReclaimSpace()) {
        SetErrorText("%s", Translate("The storage's format keeps no free space to reclaim"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    ContainerReport report{&progress, nullptr, nullptr};
    uint32_t result = Failed;
    Plugin()->Call("ReclaimSpace", [&] {
        result = Plugin()->Container()->ReclaimSpace(Interface(), &ContainerReport::Report, &report, before, after);
    });
    if (report.failure)
        std::rethrow_exception(report.failure);
    result &= kResultMask;
    if (result == Done || result == Aborted)
        return result;
    FetchErrorText();
    return Failed;
}

namespace {

// Carries the program's handler through the plugin's callback, which no
// exception may cross.
struct StreamReport {
    const StorageAction::StreamHandler* handler;
    const BasePlugin* plugin;
    std::exception_ptr failure;

    static uint32_t ULMORA_CALL Plate(void* cookie, int32_t number, const char* name, const void* data, uint32_t size)
    {
        auto* self = static_cast<StreamReport*>(cookie);
        // A plugin that faulted meanwhile (through a nested call) is told to stop.
        if (self->failure || self->plugin->Faulted())
            return 0;
        try {
            return (*self->handler)(number, name != nullptr ? name : "", size != 0 ? data : nullptr,
                                    data != nullptr ? size : 0)
                       ? 1
                       : 0;
        } catch (...) {
            self->failure = std::current_exception();
            return 0;
        }
    }
};

} // namespace

uint32_t StorageAction::StreamPlates(const StreamHandler& handler)
{
    if (!HasPlateStream()) {
        SetErrorText("%s", Translate("The plugin cannot hand out its plates in one pass"));
        return Failed;
    }
    if (!Usable())
        return Failed;
    StreamReport report{&handler, Plugin(), nullptr};
    uint32_t result = Failed;
    Plugin()->Call("StreamPlates",
                   [&] { result = Plugin()->PlateStream()->StreamPlates(Interface(), &StreamReport::Plate, &report); });
    if (report.failure)
        std::rethrow_exception(report.failure);
    if (Plugin()->Faulted())
        throw CommandAbandoned{"StreamPlates"};
    return MapResult(result, true);
}

uint32_t ULMORA_CALL StorageAction::OnPlate(void* cookie, int32_t number, const char* name,
                                            uint32_t reserved, uint32_t size)
{
    auto* action = static_cast<StorageAction*>(cookie);
    // A plugin that faulted meanwhile is told to stop, and nothing more.
    if (action->handlerException_ || action->Plugin()->Faulted())
        return 0;
    if (!action->handler_)
        return 1;
    // An exception must not cross the plugin's frames: the plugin is told to
    // stop, and Enumerate throws it once the plugin has returned.
    try {
        return action->handler_(action, number, name, reserved, size) ? 1 : 0;
    } catch (...) {
        action->handlerException_ = std::current_exception();
        return 0;
    }
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
    if (Plugin()->Faulted())
        return {};
    Plugin()->Call("GetErrorText", [&] { Interface()->functions->GetErrorText(Interface(), buffer, kErrorTextRoom); });
    buffer[kErrorTextRoom - 1] = '\0';
    return buffer;
}

void StorageAction::FetchErrorText() const { SetErrorText("%s", PluginText().c_str()); }
