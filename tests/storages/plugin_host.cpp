#include "plugin_host.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace storage_test {

const PluginHostInfo* HostInfo() {
    static const PluginHostInfo host{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
    return &host;
}

LoadedPlugin::LoadedPlugin(const std::string& path) {
    library_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        error_ = dlerror();
        return;
    }
    query_ = reinterpret_cast<QueryPluginInterfaceFn>(dlsym(library_, "QueryPluginInterface"));
    if (!query_) {
        error_ = "no QueryPluginInterface";
        return;
    }
    if (const char* refusal = query_(HostInfo(), &info_))
        error_ = refusal;
}

LoadedPlugin::~LoadedPlugin() {
    if (library_)
        dlclose(library_);
}

Action::Action(const LoadedPlugin& plugin) : plugin_(plugin) {
    if (plugin.LoadError().empty())
        action_ = plugin.Info().CreateAction();
    if (!action_)
        throw std::runtime_error("the plugin made no action");
}

Action::~Action() {
    Close();
    plugin_.Info().FreeAction(action_);
}

bool Action::Open(const std::string& path) { return action_->functions->Open(action_, path.c_str()) != 0; }

void Action::Close() { action_->functions->Open(action_, nullptr); }

std::string Action::ErrorText() {
    char buffer[100];
    std::memset(buffer, 'x', sizeof buffer);
    action_->functions->GetErrorText(action_, buffer, sizeof buffer);
    if (!std::memchr(buffer, '\0', sizeof buffer))
        return "<unterminated>";
    return buffer;
}

namespace {

struct Collector {
    std::vector<Plate>* plates;
    size_t stopAt;
};

uint32_t ULMORA_CALL Collect(void* cookie, int32_t number, const char* name, uint32_t, uint32_t size) {
    auto* collector = static_cast<Collector*>(cookie);
    collector->plates->push_back(Plate{number, name, size});
    return collector->plates->size() >= collector->stopAt ? 0 : 1;
}

} // namespace

uint32_t Action::Enumerate(std::vector<Plate>* plates, size_t stopAt) {
    plates->clear();
    Collector collector{plates, stopAt};
    // The program always passes 0 and 2 around the callback.
    return action_->functions->Enumerate(action_, 0, &Collect, 2, &collector) & 0xFFFF;
}

uint32_t Action::GetPlateData(const std::string& name, std::string* bytes) {
    const void* data = nullptr;
    uint32_t size = 0;
    const uint32_t result = action_->functions->GetPlateData(action_, name.c_str(), &data, &size) & 0xFFFF;
    if (result == Done)
        bytes->assign(static_cast<const char*>(data), size);
    else
        bytes->clear();
    return result;
}

uint32_t Action::Delete(const std::string& name) {
    return action_->functions->Write(action_, name.c_str(), nullptr, 0, WriteModeDelete) & 0xFFFF;
}

uint32_t Action::Store(const std::string& name, const std::string& bytes) {
    return action_->functions->Write(action_, name.c_str(), bytes.data(), static_cast<uint32_t>(bytes.size()),
                                     WriteModeStore) &
           0xFFFF;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ulmora-storages-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Read-only copies made by tests must not stop the clean-up.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

} // namespace storage_test
