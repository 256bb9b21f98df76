#include "remote_archive.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace s3 {

RangeSource::RangeSource(Client* client, std::string url, std::string name)
    : client_(client), url_(std::move(url)), name_(std::move(name))
{
}

bool RangeSource::Start(std::string* error)
{
    Range range;
    bool changed = false;
    if (!client_->GetRange(url_, 0, kFirstRead, "", &range, &changed, error))
        return false;
    size_ = range.total;
    etag_ = range.etag;
    first_ = std::move(range.data);
    if (first_.size() != std::min<uint64_t>(size_, kFirstRead)) {
        *error = "The server of " + name_ + " sent " + std::to_string(first_.size()) + " bytes of its first " +
                 std::to_string(std::min<uint64_t>(size_, kFirstRead));
        return false;
    }
    return true;
}

bool RangeSource::ReadAt(uint64_t offset, size_t length, uint8_t* out, std::string* error)
{
    if (offset > size_ || length > size_ - offset) {
        *error = "The archive is shorter than its header says: truncated?";
        return false;
    }
    if (length == 0)
        return true;
    if (offset + length <= first_.size()) {
        std::memcpy(out, first_.data() + offset, length);
        return true;
    }
    Range range;
    bool changed = false;
    // A weak ETag cannot be matched by If-Match; it is compared after the read.
    const bool weak = etag_.compare(0, 2, "W/") == 0;
    if (!client_->GetRange(url_, offset, length, weak ? "" : etag_, &range, &changed, error)) {
        if (changed)
            *error = "The archive changed while it was read (its parts would not match): " + name_;
        return false;
    }
    if (range.etag != etag_ || range.total != size_) {
        *error = "The archive changed while it was read (its parts would not match): " + name_;
        return false;
    }
    if (range.data.size() != length) {
        *error = "The server of " + name_ + " sent " + std::to_string(range.data.size()) + " of " +
                 std::to_string(length) + " bytes asked for";
        return false;
    }
    std::memcpy(out, range.data.data(), length);
    return true;
}

bool IsRemoteArchive(const std::string& path)
{
    auto startsWith = [&](std::string_view prefix) {
        if (path.size() < prefix.size())
            return false;
        for (size_t i = 0; i < prefix.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(path[i])) != prefix[i])
                return false;
        return true;
    };
    if (startsWith("http://") || startsWith("https://"))
        return true;
    constexpr std::string_view kSuffix = ".pmtiles";
    return startsWith("s3://") && path.size() > kSuffix.size() &&
           path.compare(path.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0;
}

} // namespace s3
