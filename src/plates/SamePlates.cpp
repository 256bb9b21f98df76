#include "plates/SamePlates.h"

#include "base/ListSelection.h"
#include "base/Translate.h"
#include "browse/PlateList.h"
#include "log/Errors.h"
#include "log/LastErrorKeeper.h"
#include "log/Log.h"
#include "log/Operation.h"
#include "plates/PlateStream.h"
#include "plates/Preview.h"
#include "plugins/Plugin.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace {

uint64_t Xxh3(const void* data, std::size_t size) { return XXH3_64bits(data, size); }

// The first plates the first pass keeps, by hash: open addressing in a table
// twice as large as it may fill, so that the lookup of every plate (mostly
// missing, in a cache of distinct plates) touches one slot or a few.
class KeptPlates {
public:
    struct Slot {
        uint64_t hash = 0;
        std::size_t offset = 0; // in Bytes()
        uint32_t size = 0;
        int32_t index = -1; // the plate kept: the first of its bytes in list order so far
        bool used = false;
        bool matched = false;
    };
    static constexpr std::size_t kMaxPlates = std::size_t{1} << 16;

    // The slot of `hash`: used when a plate of that hash is kept, else the
    // free slot it would take.
    Slot& Find(uint64_t hash)
    {
        if (slots_.empty())
            slots_.resize(kMaxPlates * 2);
        std::size_t at = static_cast<std::size_t>(hash ^ (hash >> 29)) & (slots_.size() - 1);
        while (slots_[at].used && slots_[at].hash != hash)
            at = (at + 1) & (slots_.size() - 1);
        return slots_[at];
    }
    // Keeps a plate in `slot` (free, from Find) when there is room.
    bool Keep(Slot& slot, uint64_t hash, const void* data, uint32_t size, int32_t index, std::size_t limit)
    {
        if (count_ >= kMaxPlates || bytes_.size() + size > limit)
            return false;
        slot = {hash, bytes_.size(), size, index, true, false};
        const auto* first = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), first, first + size);
        ++count_;
        return true;
    }
    bool Equal(const Slot& slot, const void* data, uint32_t size) const
    {
        return slot.size == size && std::memcmp(bytes_.data() + slot.offset, data, size) == 0;
    }
    void Clear()
    {
        slots_ = {};
        bytes_ = {};
        count_ = 0;
    }

private:
    std::vector<Slot> slots_;
    std::vector<uint8_t> bytes_;
    std::size_t count_ = 0;
};

// One plate of the first pass: what it is grouped by, and where it is.
struct Hashed {
    uint64_t hash;
    uint32_t size;
    int32_t index;
};
static_assert(sizeof(Hashed) == 16);

// The plate's data: true with data of one byte or more; false for a plate
// without data, or one the plugin failed to give (counted).
bool ReadPlate(StorageAction& action, const PlateItem& item, const void** data, uint32_t* size, SameResult& result)
{
    *data = nullptr;
    *size = 0;
    const uint32_t got = action.GetPlateData(item.name, data, size);
    ++result.read;
    if (got == Done && *data != nullptr && *size > 0)
        return true;
    if (got != Done && got != Empty)
        ++result.unreadable;
    return false;
}

void ShowProgress(const SameScan& scan, const char* what, const PlateItem& item, int done, int count)
{
    if (!scan.period.Elapsed())
        return;
    scan.operation.SetText(Translate("%s\nDatabase: %s\nItem: %s\nProcessed: %d of %d"), what,
                           scan.action.StoragePath().c_str(), item.name, done, count);
    if (scan.pump) {
        LastErrorKeeper keep;
        scan.pump();
    }
}

bool AbortPressed(const SameScan& scan, SameResult& result)
{
    if (!scan.operation.IsAborted())
        return false;
    result.aborted = true;
    result.found.clear();
    return true;
}

// Whether every pixel of `rows` (`height` rows `stride` bytes apart, of
// `width` pixels of `pixelBytes` bytes) is alike; `alphaAt` is the alpha
// byte's place in a pixel (-1: none): pixels of alpha 0 are alike whatever
// their other bytes.
bool OnePixelValue(const uint8_t* rows, int32_t width, int32_t height, std::size_t stride, int pixelBytes, int alphaAt)
{
    if (width <= 0 || height <= 0 || pixelBytes <= 0)
        return false;
    const uint8_t* first = rows;
    const bool clear = alphaAt >= 0 && first[alphaAt] == 0;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* pixel = rows + static_cast<std::size_t>(y) * stride;
        for (int32_t x = 0; x < width; ++x, pixel += pixelBytes) {
            if (clear ? pixel[alphaAt] != 0 : std::memcmp(pixel, first, static_cast<std::size_t>(pixelBytes)) != 0)
                return false;
        }
    }
    return true;
}

bool PaletteOneColour(const ImageBitmap& bitmap)
{
    // Palette entries are 0xAARRGGBB; a fully transparent one is any colour.
    auto colour = [&](uint8_t index) -> uint32_t {
        const uint32_t value = index < bitmap.ColorCount ? bitmap.ColorMap[index] : 0;
        return (value >> 24) == 0 ? 0 : value;
    };
    const uint32_t first = colour(bitmap.Data[0]);
    for (int32_t y = 0; y < bitmap.Height; ++y) {
        const uint8_t* row = bitmap.Data + static_cast<std::size_t>(y) * static_cast<std::size_t>(bitmap.BytesPerLine);
        for (int32_t x = 0; x < bitmap.Width; ++x)
            if (colour(row[x]) != first)
                return false;
    }
    return true;
}

bool BitmapOneColour(const ImageBitmap& bitmap)
{
    if (bitmap.Data == nullptr || bitmap.Width <= 0 || bitmap.Height <= 0)
        return false;
    if (bitmap.Type == kImagePalette && bitmap.BytesPerPixel == 1 && bitmap.ColorMap != nullptr)
        return PaletteOneColour(bitmap);
    int alphaAt = -1;
    if (bitmap.Type == kImageRGBA || bitmap.Type == kImageBGRA)
        alphaAt = 3;
    else if (bitmap.Type == kImageARGB || bitmap.Type == kImageABGR)
        alphaAt = 0;
    if (alphaAt >= bitmap.BytesPerPixel)
        return false;
    return OnePixelValue(bitmap.Data, bitmap.Width, bitmap.Height, static_cast<std::size_t>(bitmap.BytesPerLine),
                         bitmap.BytesPerPixel, alphaAt);
}

} // namespace

SameResult FindDuplicatePlates(const SameScan& scan, PlateHash hash, std::size_t keepBytes)
{
    if (hash == nullptr)
        hash = &Xxh3;
    SameResult result;
    result.selected = scan.selection.SelectedCount();
    Log(Translate("Look for duplicates among %d plates..."), result.selected);
    scan.operation.SetAbortable(true);
    OperationEnd end(scan.operation);

    // First pass, in list order: every plate read once and hashed. The first
    // plate of each hash is kept, while `keepBytes` last, and every later
    // plate of its hash is compared with it at once; caches repeat a few
    // contents (sea, land, nothing) millions of times, and those plates
    // need no second reading. The rest wait for the second pass, 16 bytes a
    // plate.
    KeptPlates kept;
    std::vector<Hashed> hashed;
    hashed.reserve(static_cast<std::size_t>(result.selected));
    const char* const hashing = Translate("Look for duplicate plates...");
    int done = 0;
    // One plate of the first pass, read by name or handed out by the
    // plugin's stream; false when the user pressed Abort.
    auto take = [&](int index, const PlateItem& item, const void* data, uint32_t size) {
        if (data != nullptr && size > 0) {
            const uint64_t value = hash(data, size);
            KeptPlates::Slot& slot = kept.Find(value);
            if (slot.used && kept.Equal(slot, data, size)) {
                // The stream may come in another order than the list: the
                // set keeps its first plate in list order.
                int32_t duplicate = index;
                if (index < slot.index)
                    std::swap(duplicate, slot.index);
                result.found.push_back(duplicate);
                if (!slot.matched)
                    ++result.sets;
                slot.matched = true;
            } else if (slot.used || !kept.Keep(slot, value, data, size, index, keepBytes)) {
                hashed.push_back({value, size, index});
            }
            // A kept plate needs no second reading: whatever equals it has
            // its hash, and is compared above.
        }
        ShowProgress(scan, hashing, item, ++done, result.selected);
        return !AbortPressed(scan, result);
    };
    // The plugin's stream hands out the plates in the storage's own order,
    // a walk instead of a lookup each; what it leaves out is read by name.
    std::optional<ListSelection> rest;
    if (scan.action.HasPlateStream()) {
        rest.emplace(scan.selection);
        StreamSelectedPlates(scan.action, scan.plates, *rest,
                             [&](int index, const PlateItem& item, const void* data, uint32_t size) {
                                 ++result.read;
                                 return take(index, item, data, size);
                             });
    }
    const ListSelection& left = rest ? *rest : scan.selection;
    for (int index = left.NextSelected(0); !result.aborted && index >= 0; index = left.NextSelected(index + 1)) {
        PlateItem item;
        if (!scan.plates.At(index, &item))
            break;
        const void* data = nullptr;
        uint32_t size = 0;
        if (!ReadPlate(scan.action, item, &data, &size, result))
            data = nullptr;
        if (!take(index, item, data, size))
            break;
    }
    kept.Clear();
    if (!result.aborted) {
        std::sort(hashed.begin(), hashed.end(), [](const Hashed& a, const Hashed& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.size != b.size ? a.size < b.size : a.index < b.index;
        });
        // The plates to compare: those whose hash and size another shares.
        int candidates = 0;
        for (std::size_t i = 0; i < hashed.size();) {
            std::size_t j = i + 1;
            while (j < hashed.size() && hashed[j].hash == hashed[i].hash && hashed[j].size == hashed[i].size)
                ++j;
            if (j - i > 1)
                candidates += static_cast<int>(j - i);
            i = j;
        }
        // Second pass, a set of equal hashes at a time: each plate is read
        // again and compared with the bytes of the set's first plates (more
        // than one only when different bytes share a hash). These reads go
        // in hash order, all over the storage: the kept plates spare them.
        const char* const comparing = Translate("Compare duplicate plates...");
        std::vector<std::vector<uint8_t>> firsts;
        std::vector<bool> matched;
        done = 0;
        for (std::size_t i = 0; i < hashed.size() && !result.aborted;) {
            std::size_t j = i + 1;
            while (j < hashed.size() && hashed[j].hash == hashed[i].hash && hashed[j].size == hashed[i].size)
                ++j;
            if (j - i < 2) {
                i = j;
                continue;
            }
            firsts.clear();
            matched.clear();
            for (std::size_t k = i; k < j; ++k) {
                PlateItem item;
                if (!scan.plates.At(hashed[k].index, &item))
                    continue;
                const void* data = nullptr;
                uint32_t size = 0;
                if (ReadPlate(scan.action, item, &data, &size, result)) {
                    const auto* bytes = static_cast<const uint8_t*>(data);
                    std::size_t same = 0;
                    while (same < firsts.size() &&
                           !(firsts[same].size() == size && std::memcmp(firsts[same].data(), bytes, size) == 0))
                        ++same;
                    if (same < firsts.size()) {
                        result.found.push_back(hashed[k].index);
                        if (!matched[same])
                            ++result.sets;
                        matched[same] = true;
                    } else {
                        firsts.emplace_back(bytes, bytes + size);
                        matched.push_back(false);
                    }
                }
                ShowProgress(scan, comparing, item, ++done, candidates);
                if (AbortPressed(scan, result))
                    break;
            }
            i = j;
        }
    }
    std::sort(result.found.begin(), result.found.end());
    end.Now();
    if (result.aborted) {
        result.sets = 0;
        Log("%s", Translate("Search aborted"));
    }
    Log(Translate("Duplicate plates found: %d in %d sets"), static_cast<int>(result.found.size()), result.sets);
    return result;
}

bool IsBlankPicture(const ImageLibrary& decoder, const void* data, std::size_t size)
{
    if (!decoder.Loaded() || data == nullptr || size == 0 || size > UINT32_MAX)
        return false;
    if (decoder.OneColour != nullptr) {
        const int native = decoder.OneColour(data, size);
        if (native >= 0)
            return native == 1;
    }
    MemorySource source{static_cast<const uint8_t*>(data), static_cast<uint32_t>(size), 0};
    ImageLoadParams params;
    decoder.GetDefaultLoadParams(&params);
    params.Flags &= ~kLoadNoAlpha; // a transparent picture is blank whatever its colour
    params.Read = &MemorySourceRead;
    params.Tell = &MemorySourceTell;
    params.Seek = &MemorySourceSeek;
    ImageBitmap* bitmap = nullptr;
    ImageFileInformation information;
    if (decoder.LoadBitmapFromHandle(&source, &bitmap, &params, &information) != 0 || bitmap == nullptr)
        return false;
    const bool blank = BitmapOneColour(*bitmap);
    decoder.FreeBitmap(bitmap);
    if (decoder.FreeFileInformation != nullptr)
        decoder.FreeFileInformation(&information);
    return blank;
}

SameResult FindBlankPlates(const SameScan& scan, const ImageLibrary& decoder)
{
    SameResult result;
    result.selected = scan.selection.SelectedCount();
    Log(Translate("Look for blank plates among %d plates..."), result.selected);
    scan.operation.SetAbortable(true);
    OperationEnd end(scan.operation);
    const char* const looking = Translate("Look for blank plates...");
    int done = 0;
    // One thread: a picture that is not blank is decoded only up to its
    // first pixel of another colour, which is mostly in its first row.
    for (int index = scan.selection.NextSelected(0); index >= 0; index = scan.selection.NextSelected(index + 1)) {
        PlateItem item;
        if (!scan.plates.At(index, &item))
            break;
        const void* data = nullptr;
        uint32_t size = 0;
        if (ReadPlate(scan.action, item, &data, &size, result) && IsBlankPicture(decoder, data, size))
            result.found.push_back(index);
        ShowProgress(scan, looking, item, ++done, result.selected);
        if (AbortPressed(scan, result))
            break;
    }
    end.Now();
    if (result.aborted)
        Log("%s", Translate("Search aborted"));
    Log(Translate("Blank plates found: %d of %d"), static_cast<int>(result.found.size()), result.read);
    return result;
}
