#pragma once
// The program's settings store: a configuration tree bound to a file, and
// the links through which the rest of the program reads and writes it.
//
// Nothing is saved on the store's own account: only Save writes the file.

#include "base/Delegate.h"
#include "config/TreeConfig.h"

#include <string>
#include <string_view>
#include <vector>

class CfgStorage {
public:
    using Event = Delegate<void(CfgStorage*)>;

    // What the store tells each link registered with it (StorageLink is one).
    class Client {
    public:
        virtual void StorageLoaded(CfgStorage* sender) = 0;
        virtual void StorageSaving(CfgStorage* sender) = 0;
        // The store goes away: the client forgets it.
        virtual void StorageRemoved() = 0;

    protected:
        ~Client() = default;
    };

    // `files` (default: the machine's) must outlive the store.
    explicit CfgStorage(platform::FileSystem* files = nullptr);
    // Detaches every link still registered, then destroys the tree.
    ~CfgStorage();
    CfgStorage(const CfgStorage&) = delete;
    CfgStorage& operator=(const CfgStorage&) = delete;

    // Loads the tree from FilePath(); on success fires OnLoad, then each
    // link's OnLoad in registration order. False without a file name.
    bool Load();
    // Fires OnSave and each link's OnSave in registration order, so that
    // they can put their values into the tree, then saves it. False without
    // a file name or when the save fails.
    bool Save();

    const std::string& FileName() const { return fileName_; }
    // A changed name is resolved: an absolute name is taken as it is, any
    // other lies in the program folder. A resolved path longer than the
    // system opens is refused (Load and Save then fail) rather than cut to a
    // path that names some other file. With AutoLoad, a non-empty name loads.
    void SetFileName(std::string_view name);
    const std::string& FilePath() const { return path_; }

    // Kept for the owner; the store never saves by itself.
    bool AutoSave() const { return autoSave_; }
    void SetAutoSave(bool value) { autoSave_ = value; }
    bool AutoLoad() const { return autoLoad_; }
    void SetAutoLoad(bool value) { autoLoad_ = value; }

    void SetOnLoad(Event event) { onLoad_ = event; }
    void SetOnSave(Event event) { onSave_ = event; }

    TreeConfig& Tree() { return tree_; }
    ConfigItem* Root() { return root_; }
    const std::vector<Client*>& Links() const { return links_; }
    // Clients join at the end of the list and leave it themselves.
    void AddLink(Client* link);
    void RemoveLink(Client* link);

private:
    TreeConfig tree_;
    std::string path_;
    ConfigItem* root_;
    std::vector<Client*> links_; // not owned
    bool autoSave_ = true;
    bool autoLoad_ = true;
    std::string fileName_;
    Event onSave_;
    Event onLoad_;
};
