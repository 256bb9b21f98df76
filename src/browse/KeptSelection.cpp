#include "browse/KeptSelection.h"

#include "base/ListSelection.h"
#include "browse/PlateList.h"

#include <algorithm>

void KeptSelection::Take(const PlateList& plates, const ListSelection& selection)
{
    packed_.clear();
    texts_.clear();
    focusTaken_ = false;
    auto take = [&](int index, bool* isPacked, uint64_t* key, std::string* text) {
        uint64_t letters = 0;
        int length = 0;
        if (plates.PackedLettersAt(index, &letters, &length)) {
            *isPacked = true;
            *key = PackedKey(letters, length);
            return;
        }
        PlateItem plate;
        plates.At(index, &plate);
        *isPacked = false;
        text->assign(plate.name, static_cast<std::size_t>(plate.nameLength));
    };
    selection.ForEachSelected([&](int index) {
        if (index >= plates.Count())
            return;
        bool isPacked = false;
        uint64_t key = 0;
        std::string text;
        take(index, &isPacked, &key, &text);
        if (isPacked)
            packed_.push_back(key);
        else
            texts_.push_back(std::move(text));
    });
    std::sort(packed_.begin(), packed_.end());
    std::sort(texts_.begin(), texts_.end());
    const int focus = selection.Focus();
    if (focus >= 0 && focus < plates.Count()) {
        focusTaken_ = true;
        take(focus, &focusPacked_, &focusKey_, &focusText_);
    }
}

int KeptSelection::Restore(const PlateList& plates, ListSelection& selection) const
{
    int focus = -1;
    const int count = std::min(plates.Count(), selection.Count());
    selection.SelectWhere([&](int index) {
        if (index >= count)
            return false;
        uint64_t letters = 0;
        int length = 0;
        if (plates.PackedLettersAt(index, &letters, &length)) {
            const uint64_t key = PackedKey(letters, length);
            if (focusTaken_ && focusPacked_ && key == focusKey_)
                focus = index;
            return std::binary_search(packed_.begin(), packed_.end(), key);
        }
        PlateItem plate;
        plates.At(index, &plate);
        const std::string_view name(plate.name, static_cast<std::size_t>(plate.nameLength));
        if (focusTaken_ && !focusPacked_ && name == focusText_)
            focus = index;
        return !texts_.empty() && std::binary_search(texts_.begin(), texts_.end(), name, std::less<>());
    });
    return focus;
}
