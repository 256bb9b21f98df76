#include "browse/PlateList.h"

#include "base/Text.h"

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

bool PlateList::At(int index, PlateItem* item) const
{
    if (index < 0 || index >= count_)
        return false;
    const Record& record = records_[static_cast<std::size_t>(index / kRecordsPerBlock)][index % kRecordsPerBlock];
    const char* name =
        TextAt(textBases_[static_cast<std::size_t>(index / kRecordsPerBlock)] + (record.text & ~kFileFollows));
    item->name = name;
    item->nameLength = static_cast<int>(std::strlen(name));
    item->file = (record.text & kFileFollows) == 0 ? "" : name + item->nameLength + 1;
    item->fileLength = static_cast<int>(std::strlen(item->file));
    item->number = record.number;
    item->size = record.size;
    return true;
}

void PlateList::Append(const char* name, int32_t number, uint32_t size, const char* file)
{
    std::string_view nameText = name != nullptr ? name : "";
    std::string_view fileText = file != nullptr ? file : "";
    // Checked here first: this runs for each of millions of plates.
    if (nameText.size() > kMaxTextLength)
        nameText = nameText.substr(0, Utf8CutLength(nameText, kMaxTextLength));
    if (fileText.size() > kMaxTextLength)
        fileText = fileText.substr(0, Utf8CutLength(fileText, kMaxTextLength));

    const std::size_t block = static_cast<std::size_t>(count_ / kRecordsPerBlock);
    if (block == records_.size())
        records_.push_back(NewBlock<Record>());
    if (count_ % kRecordsPerBlock == 0) {
        if (block == textBases_.size())
            textBases_.push_back(0);
        textBases_[block] = textEnd_;
    }
    const uint64_t text = StoreText(nameText, fileText) - textBases_[block];
    records_[block][count_ % kRecordsPerBlock] =
        Record{static_cast<uint32_t>(text) | (fileText.empty() ? 0 : kFileFollows), number, size};
    ++count_;
    totalSize_ += size;
}

// A block's texts: each at most a name and a file with terminators, plus
// at most as much again skipped at the end of a text block.
static_assert(static_cast<uint64_t>(platform::kLargeBlockSize / 12) * 2 * 2 * (kMaxTextLength + 1) < (uint64_t{1} << 31),
              "a block's text offsets must fit in 31 bits");

void PlateList::Clear()
{
    count_ = 0;
    totalSize_ = 0;
    textEnd_ = 0;
}

std::size_t PlateList::MemoryBytes() const
{
    return records_.size() * kRecordsPerBlock * sizeof(Record) + texts_.size() * kTextBlockSize +
           (records_.capacity() + texts_.capacity()) * sizeof(void*) + textBases_.capacity() * sizeof(uint64_t);
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

std::string FormatSize(uint32_t bytes) { return FormatTotalSize(bytes); }

std::string FormatTotalSize(uint64_t bytes)
{
    if (bytes < 1000)
        return Format("%u", static_cast<unsigned>(bytes));
    static const char kUnits[] = "BKMGTPEZYABCDEF";
    uint64_t quotient = bytes;
    uint64_t remainder = 0;
    int divisions = 0;
    while (quotient >= 1000) {
        remainder = quotient % 1000;
        quotient /= 1000;
        ++divisions;
    }
    if (divisions >= 15)
        return Format("%u.%03u?", static_cast<unsigned>(quotient), static_cast<unsigned>(remainder));
    return Format("%u.%03u%c", static_cast<unsigned>(quotient), static_cast<unsigned>(remainder), kUnits[divisions]);
}
