#include "plates/PlateStream.h"

#include "base/ListSelection.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "plugins/Plugin.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

// Finds a streamed plate in the list. The stream mostly comes in the
// listing's own order, so the item after the last one found is tried first;
// for the rest (a list sorted by column, rows listed out of level order) the
// list's numbers are sorted once, 4 bytes a plate, and searched.
class ListFinder {
public:
    explicit ListFinder(const PlateList& plates) : plates_(plates) {}

    // The index of the plate `name` numbered `number`, with the item filled;
    // -1 when the list has none.
    int Find(int32_t number, const char* name, PlateItem* item)
    {
        if (next_ < plates_.Count() && Is(next_, name, item))
            return next_++;
        if (byNumber_.empty() && plates_.Count() > 0) {
            byNumber_.resize(static_cast<std::size_t>(plates_.Count()));
            std::iota(byNumber_.begin(), byNumber_.end(), 0);
            std::stable_sort(byNumber_.begin(), byNumber_.end(),
                             [this](int32_t a, int32_t b) { return plates_.NumberAt(a) < plates_.NumberAt(b); });
        }
        auto at = std::lower_bound(byNumber_.begin(), byNumber_.end(), number,
                                   [this](int32_t index, int32_t value) { return plates_.NumberAt(index) < value; });
        for (; at != byNumber_.end() && plates_.NumberAt(*at) == number; ++at)
            if (Is(*at, name, item)) {
                next_ = *at + 1;
                return *at;
            }
        return -1;
    }

private:
    bool Is(int index, const char* name, PlateItem* item) const
    {
        return plates_.At(index, item) && std::strcmp(item->name, name) == 0;
    }

    const PlateList& plates_;
    int next_ = 0;
    std::vector<int32_t> byNumber_;
};

} // namespace

bool StreamSelectedPlates(StorageAction& action, const PlateList& plates, ListSelection& pending,
                          const StreamedPlate& visit)
{
    if (pending.SelectedCount() == 0)
        return true;
    ListFinder finder(plates);
    bool stopped = false;
    const uint32_t result = action.StreamPlates([&](int32_t number, const char* name, const void* data, uint32_t size) {
        PlateItem item;
        const int index = finder.Find(number, name, &item);
        if (index < 0 || !pending.IsSelected(index))
            return true;
        pending.SetSelected(index, false);
        if (!visit(index, item, data, size)) {
            stopped = true;
            return false;
        }
        // Nothing more to look for: the stream need not go on.
        return pending.SelectedCount() > 0;
    });
    // A stream that could not go on leaves the rest to be read by name,
    // where each plate gets its own error.
    if (result == Failed)
        Log("The plate stream of %s stopped: %s; the rest is read plate by plate", action.StoragePath().c_str(),
            ErrorText(kCurrentError).c_str());
    return !stopped;
}
