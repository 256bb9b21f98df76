#include "PlateFilter.h"

#include "base/PlateKey.h"
#include "log/Errors.h"
#include "platform/Files.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cerrno>

namespace cli {

namespace {

constexpr int kMaxLevel = 260; // the longest plate name
// The deepest level a number may name: plate names are quadtree keys, whose
// coordinates stop at 32 bits. An open range ("3-") still takes longer names.
constexpr int kDeepestLevel = PlateKey::kMaxQuadtreeLevel;
// A names file is read whole; far beyond any real list of plates.
constexpr std::size_t kMaxNamesFile = std::size_t{1} << 30;

bool ParseInt(std::string_view text, int* value)
{
    const auto end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *value);
    return ec == std::errc() && ptr == end;
}

// "a-b", "a", "a-", "-b" into [low, high] with `offset` added; a number
// given must lie in [lowest, highest], and "a-" reaches the longest name.
bool ParseRange(std::string_view text, int offset, int lowest, int highest, std::pair<int, int>* range)
{
    const std::size_t dash = text.find('-');
    int low = lowest;
    int high = highest;
    bool open = false;
    if (dash == std::string_view::npos) {
        if (!ParseInt(text, &low))
            return false;
        high = low;
    } else {
        const std::string_view first = text.substr(0, dash);
        const std::string_view second = text.substr(dash + 1);
        if (first.empty() && second.empty())
            return false;
        if (!first.empty() && !ParseInt(first, &low))
            return false;
        if (!second.empty() && !ParseInt(second, &high))
            return false;
        open = second.empty();
    }
    if (low < lowest || low > highest || high < low || high > highest)
        return false;
    *range = {low + offset, open ? kMaxLevel : high + offset};
    return true;
}

} // namespace

bool PlateFilter::SetLevels(std::string_view text, std::string* error)
{
    std::pair<int, int> range;
    if (!ParseRange(text, 0, 1, kDeepestLevel, &range)) {
        *error = "--levels wants levels like 3-8 from 1 (the whole world) to " + std::to_string(kDeepestLevel) +
                 ", not " + std::string(text);
        return false;
    }
    levels_ = range;
    return true;
}

bool PlateFilter::SetZooms(std::string_view text, std::string* error)
{
    std::pair<int, int> range;
    if (!ParseRange(text, 1, 0, kDeepestLevel - 1, &range)) {
        *error = "--z wants zoom levels like 2-7 from 0 (the whole world) to " + std::to_string(kDeepestLevel - 1) +
                 ", not " + std::string(text);
        return false;
    }
    levels_ = range;
    return true;
}

bool PlateFilter::SetPrefixes(std::string_view text, std::string* error)
{
    // An area is a quadtree key: 't', then q, r, s or t; anything else
    // would select nothing, or everything when empty.
    std::vector<std::string> areas;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view part = text.substr(0, comma);
        if (!PlateKey(part).ToTile()) {
            *error = "--prefix wants quadtree areas like tq or tq,tr ('t', then q, r, s or t), not " + std::string(part);
            return false;
        }
        areas.emplace_back(part);
        if (comma == std::string_view::npos)
            break;
        text = text.substr(comma + 1);
    }
    prefixes_.insert(prefixes_.end(), areas.begin(), areas.end());
    return true;
}

bool PlateFilter::SetBoundingBox(std::string_view text, std::string* error)
{
    bool numbers = false;
    const std::optional<GeoBox> box = GeoBox::Parse(text, &numbers);
    if (!box) {
        *error = numbers ? "--bbox: WEST must lie below EAST and SOUTH below NORTH, within -180..180 and -90..90"
                         : "--bbox wants WEST,SOUTH,EAST,NORTH in degrees, like -10.5,35,30,60";
        return false;
    }
    box_.emplace(*box);
    return true;
}

bool PlateFilter::ReadNames(const std::string& file, std::string* error)
{
    // Only a regular file: a pipe or a device could keep the command waiting
    // for ever, and a folder holds no names.
    std::string content;
    if (!platform::RealFileSystem().ReadFile(file, &content, kMaxNamesFile)) {
        const int why = CurrentError();
        *error = "cannot read the names file " + file + ": " +
                 (why == EINVAL ? std::string("not a regular file") : ErrorText(why));
        return false;
    }
    std::unordered_set<std::string> names;
    std::string_view rest = content;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty())
            names.emplace(line);
    }
    names_ = std::move(names);
    return true;
}

bool PlateFilter::Matches(std::string_view name) const
{
    const int level = static_cast<int>(name.size());
    if (levels_ && (level < levels_->first || level > levels_->second))
        return false;
    if (!prefixes_.empty()) {
        bool inside = false;
        for (const std::string& prefix : prefixes_)
            inside = inside || name.starts_with(prefix);
        if (!inside)
            return false;
    }
    if (box_) {
        if (!box_->Overlaps(name))
            return false;
    }
    if (names_ && names_->find(std::string(name)) == names_->end())
        return false;
    return true;
}

} // namespace cli
