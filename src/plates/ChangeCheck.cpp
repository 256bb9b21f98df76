#include "plates/ChangeCheck.h"

#include "browse/PlateList.h"
#include "plugins/Plugin.h"

#include <string>

namespace {

bool AsChanged(StorageAction& action, const PlateList& plates, int index, ChangeKind kind)
{
    PlateItem plate;
    if (!plates.At(index, &plate))
        return false;
    const void* data = nullptr;
    uint32_t size = 0;
    // Empty is a plate without data: it is there.
    const bool there = action.GetPlateData(plate.name, &data, &size) != Failed;
    return kind == ChangeKind::Stored ? there : !there;
}

} // namespace

bool KeepDurableChanges(StorageAction& action, const PlateList& plates, std::vector<int>* indices, ChangeKind kind,
                        bool someFailed)
{
    if (indices->empty())
        return true;
    const std::string path = action.StoragePath();
    action.Close();
    if (!action.Open(path.c_str()))
        return false;
    if (!someFailed && AsChanged(action, plates, indices->back(), kind))
        return true;
    std::erase_if(*indices, [&](int index) { return !AsChanged(action, plates, index, kind); });
    return true;
}

uint64_t ListedBytes(const PlateList& plates, const std::vector<int>& indices)
{
    uint64_t bytes = 0;
    for (int index : indices) {
        PlateItem item;
        if (plates.At(index, &item))
            bytes += item.size;
    }
    return bytes;
}
