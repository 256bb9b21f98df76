#pragma once
// The plates of the loaded storage, in the order the plugin reported them:
// position i is item i of the plate list. Caches hold tens of millions of
// plates, and fresh memory is costly to fault in, so each plate is one
// 12-byte record: a quadtree key (letters q, r, s and t, as most storages
// name their plates) of up to 28 letters is packed into the record itself,
// 2 bits a letter; other names, and files, go to large shared text blocks.
// Nothing is moved when the list grows.

#include "base/SizeText.h"
#include "platform/Memory.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One plate, as read from the list. The texts stay valid until the list is
// emptied or destroyed, and a packed name as long as the item itself: the
// item is therefore not copied.
struct PlateItem {
    static constexpr int kPackedLetters = 28;

    PlateItem() = default;
    PlateItem(const PlateItem&) = delete;
    PlateItem& operator=(const PlateItem&) = delete;

    const char* file = "";   // empty: the enumeration reports no file
    int fileLength = 0;
    const char* name = "";   // the key the plugin knows the plate by
    int nameLength = 0;      // the plate's zoom level
    int32_t number = 0;      // the plugin's number for the plate
    uint32_t size = 0;       // bytes
    char packedName[32] = {}; // where a packed name is spelt out, eight letters at a time
    static_assert((kPackedLetters + 7) / 8 * 8 <= sizeof(packedName) && kPackedLetters < sizeof(packedName),
                  "whole words of letters and the terminator fit");
};

class PlateList {
public:
    int Count() const { return count_; }
    // The sizes of all plates added up.
    uint64_t TotalSize() const { return totalSize_; }
    // False when `index` is not below the count.
    bool At(int index, PlateItem* item) const;
    // The zoom level (the name's length) of plate `index`, which must be
    // below the count: without spelling the name out.
    int LevelAt(int index) const;
    // The size of plate `index`, which must be below the count.
    uint32_t SizeAt(int index) const
    {
        return records_[static_cast<std::size_t>(index / kRecordsPerBlock)][index % kRecordsPerBlock].size;
    }
    // The plugin's number of plate `index`, which must be below the count.
    int32_t NumberAt(int index) const
    {
        const Numbers& numbers = numbers_[static_cast<std::size_t>(index / kRecordsPerBlock)];
        const int position = index % kRecordsPerBlock;
        return numbers.table ? numbers.table[position]
                             : static_cast<int32_t>(numbers.first + static_cast<uint32_t>(position));
    }
    // The letters of plate `index`'s name (which must be below the count),
    // 2 bits each (q 0, r 1, s 2, t 3), the first lowest, and its length,
    // when the list keeps the name packed: at most PlateItem::kPackedLetters
    // letters q, r, s and t. False for any other name. For passes over every
    // plate that need no spelt-out name.
    bool PackedLettersAt(int index, uint64_t* letters, int* length) const
    {
        const uint64_t key =
            records_[static_cast<std::size_t>(index / kRecordsPerBlock)][index % kRecordsPerBlock].Key();
        if ((key & kPacked) == 0)
            return false;
        *length = static_cast<int>((key >> kPackedLengthShift) & 0x3F);
        *letters = key & ((uint64_t{1} << (2 * PlateItem::kPackedLetters)) - 1);
        return true;
    }
    // A number that only this name has, among the names the list keeps
    // packed (see PackedLettersAt), for telling listed names apart without
    // spelling them out; false for other names.
    static bool PackedKeyOf(const char* name, uint64_t* key) { return PackName(name, key); }
    bool PackedKeyAt(int index, uint64_t* key) const
    {
        *key = records_[static_cast<std::size_t>(index / kRecordsPerBlock)][index % kRecordsPerBlock].Key();
        return (*key & kPacked) != 0;
    }
    // Copies the texts, each cut to 260 characters; a null text is empty.
    void Append(const char* name, int32_t number, uint32_t size, const char* file = nullptr);
    // Sets the count to 0 and keeps the memory for the next load.
    void Clear();
    // Some plate was added with a file.
    bool HasFiles() const { return hasFiles_; }
    // The plates in another order, made aside: position i gets the plate
    // that is at order[i]. `order` must be a permutation of 0..Count()-1.
    // The records are copied, the texts stay; the plugin's numbers go with
    // their plates. Only reads the list, so it may run on another thread
    // while this one reads the list too.
    class Arrangement;
    Arrangement Arrange(const std::vector<int32_t>& order) const;
    // Takes an arrangement made of this list, as it still is.
    void Adopt(Arrangement&& arrangement);
    void Reorder(const std::vector<int32_t>& order);
    // Bytes held, for the benchmarks.
    std::size_t MemoryBytes() const;

private:
    // 12 bytes, 4-byte aligned. The plugin's numbers are not in the record:
    // they mostly count up by one, so a block keeps its first number and
    // only a block where they do not gets a table of its own.
    struct Record {
        uint32_t keyLow;  // the key: kPacked, the name's length and letters;
        uint32_t keyHigh; // else a text offset, and kFileFollows
        uint32_t size;

        uint64_t Key() const { return uint64_t{keyHigh} << 32 | keyLow; }
    };
    struct Numbers {
        uint32_t first = 0;               // the block's first number
        std::unique_ptr<int32_t[]> table; // null: the first counted up by position
    };
    static constexpr uint64_t kPacked = uint64_t{1} << 63;
    static constexpr int kPackedLengthShift = 56; // below it the letters, the first lowest
    static constexpr uint64_t kFileFollows = uint64_t{1} << 62; // a file text follows the name's terminator
    // Blocks of one huge page each: filling ten million records takes a few
    // thousand page faults instead of a million.
    static constexpr int kRecordsPerBlock = static_cast<int>(platform::kLargeBlockSize / sizeof(Record));
    static_assert(sizeof(Record) == 12);
    static constexpr std::size_t kTextBlockSize = platform::kLargeBlockSize;

    struct BlockFree {
        void operator()(void* block) const { platform::FreeLargeBlock(block); }
    };
    template <typename T>
    using Block = std::unique_ptr<T[], BlockFree>;
    template <typename T>
    static Block<T> NewBlock();

    // The key of a name of up to kPackedLetters letters q, r, s and t; false
    // for any other name.
    static bool PackName(const char* name, uint64_t* key);
    char* TextAt(uint64_t offset) const;
    uint64_t StoreText(std::string_view name, std::string_view file);

    std::vector<Block<Record>> records_;
    std::vector<Numbers> numbers_; // one for each block of records
    std::vector<Block<char>> texts_;
    int count_ = 0;
    uint64_t totalSize_ = 0;
    uint64_t textEnd_ = 0; // next free byte of the text blocks
    bool hasFiles_ = false;
};

class PlateList::Arrangement {
private:
    friend class PlateList;
    std::vector<Block<Record>> records;
    std::vector<Numbers> numbers;
};

inline void PlateList::Reorder(const std::vector<int32_t>& order) { Adopt(Arrange(order)); }

