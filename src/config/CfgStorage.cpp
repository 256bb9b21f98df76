#include "config/CfgStorage.h"

#include "base/Paths.h"
#include "base/Text.h"
#include "log/Errors.h"
#include "platform/Files.h"

#include <algorithm>

CfgStorage::CfgStorage(platform::FileSystem* files) : tree_(files), root_(tree_.Root())
{
    links_.reserve(20);
}

CfgStorage::~CfgStorage()
{
    while (!links_.empty())
        links_.back()->StorageRemoved();
}

void CfgStorage::AddLink(Client* link) { links_.push_back(link); }

void CfgStorage::RemoveLink(Client* link)
{
    auto found = std::find(links_.begin(), links_.end(), link);
    if (found != links_.end())
        links_.erase(found);
}

namespace {
// Indexes instead of iterators: a handler may add or remove links.
template <typename Fire>
void ForEachLink(const std::vector<CfgStorage::Client*>& links, Fire fire)
{
    for (std::size_t i = 0; i < links.size(); ++i)
        fire(*links[i]);
}
} // namespace

bool CfgStorage::Load()
{
    if (fileName_.empty())
        return false;
    if (path_.empty()) {
        SetLastError(platform::kErrorPathTooLong);
        return false;
    }
    if (!tree_.Load(path_))
        return false;
    if (onLoad_)
        onLoad_(this);
    ForEachLink(links_, [this](Client& link) { link.StorageLoaded(this); });
    return true;
}

bool CfgStorage::Save()
{
    if (fileName_.empty())
        return false;
    if (path_.empty()) {
        SetLastError(platform::kErrorPathTooLong);
        return false;
    }
    if (onSave_)
        onSave_(this);
    ForEachLink(links_, [this](Client& link) { link.StorageSaving(this); });
    return tree_.Save(path_);
}

void CfgStorage::SetFileName(std::string_view name)
{
    if (name == fileName_)
        return;
    fileName_ = std::string(name);
    path_ = JoinToProgramFolder(name);
    if (path_.size() > platform::kMaxPathLength)
        path_.clear();
    if (!fileName_.empty() && autoLoad_)
        Load();
}
