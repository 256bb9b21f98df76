#pragma once
// A minimal host for storage plugins, written against the public contract
// header only, the way a third party would drive them: dlopen,
// QueryPluginInterface, then actions.

#include <ulmora_plugin.h>

#include <cstdint>
#include <string>
#include <vector>

namespace storage_test {

struct Plate {
    int32_t number = 0;
    std::string name;
    uint32_t size = 0;
};

class LoadedPlugin {
public:
    explicit LoadedPlugin(const std::string& path);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    // Empty when the library loaded and QueryPluginInterface filled the record.
    const std::string& LoadError() const { return error_; }
    const PluginInfo& Info() const { return info_; }
    QueryPluginInterfaceFn Query() const { return query_; }

private:
    void* library_ = nullptr;
    QueryPluginInterfaceFn query_ = nullptr;
    PluginInfo info_{};
    std::string error_;
};

// One action of a loaded plugin; closed and freed on destruction.
class Action {
public:
    explicit Action(const LoadedPlugin& plugin);
    ~Action();
    Action(const Action&) = delete;
    Action& operator=(const Action&) = delete;

    ActionInterface* Raw() const { return action_; }
    bool Open(const std::string& path);
    void Close();
    // The plugin's error text, read into a buffer of undefined contents as
    // the program does; a text that is not zero-terminated within the
    // buffer is returned as "<unterminated>".
    std::string ErrorText();
    // Collects every plate; the callback answers 0 at call number `stopAt`.
    uint32_t Enumerate(std::vector<Plate>* plates, size_t stopAt = SIZE_MAX);
    uint32_t GetPlateData(const std::string& name, std::string* bytes);
    uint32_t Delete(const std::string& name);
    uint32_t Store(const std::string& name, const std::string& bytes);

private:
    const LoadedPlugin& plugin_;
    ActionInterface* action_ = nullptr;
};

// The host record the program keeps for the whole run.
const PluginHostInfo* HostInfo();

// A fresh folder under the system's temporary folder, removed with its
// contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Writes `contents` to `path`, making its folders.
void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);

} // namespace storage_test
