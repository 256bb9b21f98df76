#pragma once
// A storage plugin loaded as the program loads it, for the storage
// benchmarks: one action, opened on one storage.

#include <ulmora_plugin.h>

#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>

class Plugin {
public:
    explicit Plugin(const char* path) {
        library_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        auto query = library_ ? reinterpret_cast<QueryPluginInterfaceFn>(dlsym(library_, "QueryPluginInterface"))
                              : nullptr;
        static const PluginHostInfo host{ULMORA_PLUGIN_MAGIC, sizeof(PluginHostInfo), ULMORA_PLUGIN_HOST_VALUE, 0};
        if (!query || query(&host, &info_) != nullptr)
            throw std::runtime_error(std::string("cannot load ") + path);
        action_ = info_.CreateAction();
    }
    ~Plugin() {
        action_->functions->Open(action_, nullptr);
        info_.FreeAction(action_);
        dlclose(library_);
    }
    void Open(const std::string& path) {
        if (!action_->functions->Open(action_, path.c_str())) {
            char text[100];
            action_->functions->GetErrorText(action_, text, sizeof text);
            throw std::runtime_error(path + ": " + text);
        }
    }
    void Close() { action_->functions->Open(action_, nullptr); }
    uint32_t Enumerate(PlateCallback callback, void* cookie) {
        return action_->functions->Enumerate(action_, 0, callback, 2, cookie);
    }
    uint32_t Delete(const std::string& name) {
        return action_->functions->Write(action_, name.c_str(), nullptr, 0, WriteModeDelete);
    }

private:
    void* library_ = nullptr;
    PluginInfo info_{};
    ActionInterface* action_ = nullptr;
};
