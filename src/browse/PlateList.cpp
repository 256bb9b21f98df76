#include "browse/PlateList.h"

#include "base/Text.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string>

template <typename T>
PlateList::Block<T> PlateList::NewBlock()
{
    void* memory = platform::AllocateLargeBlock(platform::kLargeBlockSize);
    if (memory == nullptr)
        throw std::bad_alloc();
    // Records are plain data written before they are read: no need to clear
    // the block, which would touch every page at once.
    return Block<T>(static_cast<T*>(memory));
}

bool PlateList::PackName(const char* name, uint64_t* key)
{
    uint64_t letters = 0;
    int length = 0;
    for (; name[length] != '\0'; ++length) {
        const unsigned letter = static_cast<unsigned char>(name[length]) - unsigned{'q'};
        if (letter > 3 || length == PlateItem::kPackedLetters)
            return false;
        letters |= uint64_t{letter} << (2 * length);
    }
    *key = kPacked | uint64_t(length) << kPackedLengthShift | letters;
    return true;
}

bool PlateList::At(int index, PlateItem* item) const
{
    if (index < 0 || index >= count_)
        return false;
    const std::size_t block = static_cast<std::size_t>(index / kRecordsPerBlock);
    const int position = index % kRecordsPerBlock;
    const Record& record = records_[block][position];
    const uint64_t key = record.Key();
    if ((key & kPacked) != 0) {
        // Never above kPackedLetters as stored; said again for the compiler.
        const int length = std::min(static_cast<int>((key >> kPackedLengthShift) & 0x3F), PlateItem::kPackedLetters);
        // Eight letters a step: each 2-bit letter code spread to a byte.
        static_assert(std::endian::native == std::endian::little, "the first letter is the lowest byte");
        for (int word = 0; word * 8 < length; ++word) {
            uint64_t codes = (key >> (16 * word)) & 0xFFFF;
            codes = (codes | codes << 24) & 0x000000FF000000FFu;
            codes = (codes | codes << 12) & 0x000F000F000F000Fu;
            codes = (codes | codes << 6) & 0x0303030303030303u;
            codes += 0x0101010101010101u * 'q';
            std::memcpy(item->packedName + 8 * word, &codes, 8);
        }
        item->packedName[length] = '\0';
        item->name = item->packedName;
        item->nameLength = length;
        item->file = "";
        item->fileLength = 0;
    } else {
        const char* name = TextAt(key & ~kFileFollows);
        item->name = name;
        item->nameLength = static_cast<int>(std::strlen(name));
        item->file = (key & kFileFollows) == 0 ? "" : name + item->nameLength + 1;
        item->fileLength = static_cast<int>(std::strlen(item->file));
    }
    const Numbers& numbers = numbers_[block];
    item->number = numbers.table ? numbers.table[position]
                                 : static_cast<int32_t>(numbers.first + static_cast<uint32_t>(position));
    item->size = record.size;
    return true;
}

int PlateList::LevelAt(int index) const
{
    const uint64_t key =
        records_[static_cast<std::size_t>(index / kRecordsPerBlock)][index % kRecordsPerBlock].Key();
    if ((key & kPacked) != 0)
        return static_cast<int>((key >> kPackedLengthShift) & 0x3F);
    return static_cast<int>(std::strlen(TextAt(key & ~kFileFollows)));
}

void PlateList::Append(const char* name, int32_t number, uint32_t size, const char* file)
{
    if (name == nullptr)
        name = "";
    uint64_t key = 0;
    if ((file != nullptr && *file != '\0') || !PackName(name, &key)) {
        std::string_view nameText = name;
        std::string_view fileText = file != nullptr ? file : "";
        if (nameText.size() > kMaxTextLength)
            nameText = nameText.substr(0, Utf8CutLength(nameText, kMaxTextLength));
        if (fileText.size() > kMaxTextLength)
            fileText = fileText.substr(0, Utf8CutLength(fileText, kMaxTextLength));
        key = StoreText(nameText, fileText) | (fileText.empty() ? 0 : kFileFollows);
    }
    const std::size_t block = static_cast<std::size_t>(count_ / kRecordsPerBlock);
    const int position = count_ % kRecordsPerBlock;
    if (block == records_.size())
        records_.push_back(NewBlock<Record>());
    if (block == numbers_.size())
        numbers_.emplace_back();
    records_[block][position] = Record{static_cast<uint32_t>(key), static_cast<uint32_t>(key >> 32), size};
    Numbers& numbers = numbers_[block];
    if (position == 0) {
        numbers.first = static_cast<uint32_t>(number);
        numbers.table.reset();
    } else if (numbers.table) {
        numbers.table[position] = number;
    } else if (static_cast<uint32_t>(number) != numbers.first + static_cast<uint32_t>(position)) {
        numbers.table = std::make_unique_for_overwrite<int32_t[]>(kRecordsPerBlock);
        for (int i = 0; i < position; ++i)
            numbers.table[i] = static_cast<int32_t>(numbers.first + static_cast<uint32_t>(i));
        numbers.table[position] = number;
    }
    ++count_;
    totalSize_ += size;
    if ((key & kFileFollows) != 0)
        hasFiles_ = true;
}

void PlateList::Clear()
{
    count_ = 0;
    totalSize_ = 0;
    textEnd_ = 0;
    hasFiles_ = false;
}

PlateList::Arrangement PlateList::Arrange(const std::vector<int32_t>& order) const
{
    Arrangement arrangement;
    if (static_cast<int>(order.size()) != count_ || count_ == 0)
        return arrangement;
    // Gathered into new blocks: the reads are scattered but known ahead, so
    // they are fetched some plates early, which hides most of their wait; an
    // in-place walk of the permutation's cycles cannot look ahead. The old
    // blocks go at the end. Numbers move between blocks: every block gets a
    // table of its own.
    auto number = [this](int index) {
        const Numbers& numbers = numbers_[static_cast<std::size_t>(index / kRecordsPerBlock)];
        const int position = index % kRecordsPerBlock;
        return numbers.table ? numbers.table[position]
                             : static_cast<int32_t>(numbers.first + static_cast<uint32_t>(position));
    };
    std::vector<Block<Record>>& records = arrangement.records;
    std::vector<Numbers>& numbers = arrangement.numbers;
    records.resize(records_.size());
    numbers.resize(numbers_.size());
    constexpr int kAhead = 16;
    for (int i = 0; i < count_; ++i) {
        const std::size_t block = static_cast<std::size_t>(i / kRecordsPerBlock);
        const int position = i % kRecordsPerBlock;
        if (position == 0) {
            records[block] = NewBlock<Record>();
            numbers[block].table = std::make_unique_for_overwrite<int32_t[]>(kRecordsPerBlock);
        }
        if (i + kAhead < count_) {
            const int ahead = order[static_cast<std::size_t>(i + kAhead)];
            __builtin_prefetch(&records_[static_cast<std::size_t>(ahead / kRecordsPerBlock)][ahead % kRecordsPerBlock]);
        }
        const int from = order[static_cast<std::size_t>(i)];
        records[block][position] = records_[static_cast<std::size_t>(from / kRecordsPerBlock)][from % kRecordsPerBlock];
        numbers[block].table[position] = number(from);
    }
    return arrangement;
}

void PlateList::Adopt(Arrangement&& arrangement)
{
    if (arrangement.records.size() != records_.size() || arrangement.numbers.size() != numbers_.size())
        return;
    records_.swap(arrangement.records);
    numbers_.swap(arrangement.numbers);
    // Blocks beyond the count (from a longer list before) stay for the next
    // load, as Clear keeps them.
    for (std::size_t block = 0; block < records_.size(); ++block)
        if (!records_[block])
            records_[block] = std::move(arrangement.records[block]);
}

std::size_t PlateList::MemoryBytes() const
{
    std::size_t tables = 0;
    for (const Numbers& numbers : numbers_)
        tables += numbers.table ? kRecordsPerBlock * sizeof(int32_t) : 0;
    return records_.size() * kRecordsPerBlock * sizeof(Record) + texts_.size() * kTextBlockSize + tables +
           (records_.capacity() + texts_.capacity()) * sizeof(void*) + numbers_.capacity() * sizeof(Numbers);
}

char* PlateList::TextAt(uint64_t offset) const
{
    return texts_[static_cast<std::size_t>(offset / kTextBlockSize)].get() + offset % kTextBlockSize;
}

uint64_t PlateList::StoreText(std::string_view name, std::string_view file)
{
    // The name and, when there is one, the file, each with its terminator,
    // so that the name can go to a plugin as it is. They never straddle blocks.
    const std::size_t length = name.size() + 1 + (file.empty() ? 0 : file.size() + 1);
    if (textEnd_ % kTextBlockSize + length > kTextBlockSize)
        textEnd_ = (textEnd_ / kTextBlockSize + 1) * kTextBlockSize;
    if (textEnd_ / kTextBlockSize == texts_.size())
        texts_.push_back(NewBlock<char>());
    const uint64_t offset = textEnd_;
    char* text = TextAt(offset);
    std::memcpy(text, name.data(), name.size());
    text[name.size()] = '\0';
    if (!file.empty()) {
        std::memcpy(text + name.size() + 1, file.data(), file.size());
        text[name.size() + 1 + file.size()] = '\0';
    }
    textEnd_ += length;
    return offset;
}
