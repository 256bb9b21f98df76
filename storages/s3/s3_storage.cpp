#include "s3_storage.h"

#include "message_text.h"
#include "remote_archive.h"
#include "plate_key.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace s3 {

namespace {

using folder::Coord;
using folder::LayoutKind;

constexpr int kPageSize = 1000; // the most ListObjectsV2 gives a page

std::string_view LastComponent(std::string_view key)
{
    const size_t slash = key.rfind('/');
    return slash == std::string_view::npos ? key : key.substr(slash + 1);
}

std::string ShortName(const char* name) { return message_text::Quoted(std::string_view(name, strnlen(name, 40))); }

} // namespace

bool SplitUrl(const std::string& url, std::string* bucket, std::string* prefix)
{
    constexpr std::string_view kScheme = "s3://";
    if (url.compare(0, kScheme.size(), kScheme) != 0)
        return false;
    const std::string rest = url.substr(kScheme.size());
    const size_t slash = rest.find('/');
    *bucket = rest.substr(0, slash);
    *prefix = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    while (!prefix->empty() && prefix->back() == '/')
        prefix->pop_back();
    return !bucket->empty();
}

bool Storage::OpenArchive(const std::string& path)
{
    std::string url;
    if (path.compare(0, 5, "s3://") == 0 || path.compare(0, 5, "S3://") == 0) {
        std::string bucket, key;
        if (!SplitUrl("s3://" + path.substr(5), &bucket, &key) || key.empty())
            return FailOpen("Not an archive path: " + message_text::Quoted(path) + "; use s3://BUCKET/KEY.pmtiles");
        Config config = ConfigFromEnvironment();
        if (!config.problem.empty())
            return FailOpen(config.problem);
        client_ = std::make_unique<Client>(std::move(config));
        url = client_->ObjectUrl(bucket, key);
    } else {
        // Any web server: no bucket's credentials go to it.
        client_ = std::make_unique<Client>(Config{});
        url = path;
    }
    auto source = std::make_unique<RangeSource>(client_.get(), url, path);
    std::string error;
    if (!source->Start(&error)) {
        client_.reset();
        return FailOpen(error);
    }
    archive_ = std::make_unique<pmtiles::Storage>();
    if (!archive_->OpenSource(std::move(source), path)) {
        std::string why = archive_->ErrorText();
        archive_.reset();
        client_.reset();
        return FailOpen(path + ": " + why);
    }
    return true;
}

uint32_t Storage::FromArchive(uint32_t result)
{
    SetErrorText(archive_->ErrorText());
    return result;
}

bool Storage::Open(const char* path)
{
    if (IsRemoteArchive(path))
        return OpenArchive(path);
    folder::Location location;
    std::string error;
    if (!folder::ParseLocation(path, &location, &error))
        return FailOpen(error);
    std::string prefix;
    if (!SplitUrl(location.folder, &bucket_, &prefix))
        return FailOpen("Not a bucket path: " + message_text::Quoted(location.folder) + "; use s3://BUCKET/PREFIX");
    prefix_ = prefix.empty() ? prefix : prefix + "/";
    layout_ = location.layout != nullptr ? *location.layout : folder::DefaultLayout();
    if (location.origin != 0) {
        if (layout_.kind != LayoutKind::Numbered || std::string_view(layout_.name) == "arcgis")
            return FailOpen(std::string("The ") + layout_.name + " layout has no origin option");
        layout_.rowsFromBottom = location.origin == 2;
    }
    Config config = ConfigFromEnvironment();
    if (!config.problem.empty())
        return FailOpen(config.problem);
    client_ = std::make_unique<Client>(std::move(config));
    // One small listing tells a missing bucket, refused keys and an
    // unreachable store apart before anything else is done, and whether the
    // tree is empty (then every key it will hold is known here).
    ListPage page;
    if (!client_->List(bucket_, prefix_, "", 1, &page, &error)) {
        client_.reset();
        return FailOpen(error);
    }
    complete_ = page.objects.empty();
    return true;
}

void Storage::Close()
{
    archive_.reset();
    // A failure here cannot be answered; the program counts the plates again.
    if (client_ && FlushStores(true))
        FlushDeletes();
    client_.reset();
    keys_.clear();
    order_.clear();
    complete_ = false;
    pendingDeletes_.clear();
    pendingStores_.clear();
    storeRequests_.clear();
    pendingStems_.clear();
    pendingBytes_ = 0;
    ahead_.clear();
    data_.clear();
}

bool Storage::KeyStem(const char* name, std::string* stem) const
{
    plate_key::Tile tile;
    if (!plate_key::Parse(name, &tile))
        return false;
    *stem = prefix_;
    switch (layout_.kind) {
    case LayoutKind::PlateTree:
        for (size_t i = 0; i <= tile.z; ++i) {
            if (i > 0)
                *stem += '/';
            *stem += name[i];
        }
        break;
    case LayoutKind::Quadkey: {
        char digits[plate_key::kNameBufferSize];
        stem->append(digits, folder::NameToQuadkey(name, digits));
        break;
    }
    case LayoutKind::Numbered: {
        const uint64_t row = layout_.rowsFromBottom ? plate_key::FlipRow(tile.z, tile.y) : tile.y;
        char component[folder::kMaxFieldLength];
        for (size_t i = 0; i < layout_.depth; ++i) {
            const folder::Field& field = layout_.fields[i];
            const uint64_t value = field.coord == Coord::Z ? tile.z : field.coord == Coord::X ? tile.x : row;
            if (i > 0)
                *stem += '/';
            stem->append(component, folder::FormatField(field, value, component));
        }
        break;
    }
    }
    return true;
}

bool Storage::NameOfKey(const std::string& key, char* name) const
{
    if (key.compare(0, prefix_.size(), prefix_) != 0)
        return false;
    std::string_view rest = std::string_view(key).substr(prefix_.size());
    std::string_view file = LastComponent(rest);
    std::string_view fileStem;
    if (!folder::SplitImageFile(file, &fileStem))
        return false;
    switch (layout_.kind) {
    case LayoutKind::PlateTree: {
        // t/q/r/s.png: one letter a folder, the last letter the file's stem.
        std::string letters;
        std::string_view folders = rest.substr(0, rest.size() - file.size());
        for (size_t i = 0; i < folders.size(); i += 2) {
            if (i + 1 >= folders.size() || folders[i + 1] != '/')
                return false;
            letters += folders[i];
        }
        if (fileStem.size() != 1)
            return false;
        letters += fileStem;
        plate_key::Tile tile;
        if (!plate_key::Parse(letters, &tile))
            return false;
        std::memcpy(name, letters.c_str(), letters.size() + 1);
        return true;
    }
    case LayoutKind::Quadkey:
        return rest.size() == file.size() && folder::QuadkeyToName(fileStem, name);
    case LayoutKind::Numbered: {
        uint64_t zoom = 0, x = 0, y = 0;
        std::string_view left = rest;
        for (size_t i = 0; i < layout_.depth; ++i) {
            const bool last = i + 1 == layout_.depth;
            const size_t slash = left.find('/');
            if (last != (slash == std::string_view::npos))
                return false;
            const std::string_view component = last ? fileStem : left.substr(0, slash);
            left = last ? std::string_view() : left.substr(slash + 1);
            const folder::Field& field = layout_.fields[i];
            uint64_t part;
            if (!folder::ParseField(field, component, &part))
                return false;
            if (field.coord == Coord::Z)
                zoom = part;
            else
                (field.coord == Coord::X ? x : y) += part * field.divisor;
        }
        if (zoom > plate_key::kMaxZoom)
            return false;
        const uint32_t z = static_cast<uint32_t>(zoom);
        const uint64_t side = uint64_t{1} << z;
        if (x >= side || y >= side)
            return false;
        const uint32_t row = static_cast<uint32_t>(y);
        plate_key::Write({z, static_cast<uint32_t>(x), layout_.rowsFromBottom ? plate_key::FlipRow(z, row) : row},
                         name);
        return true;
    }
    }
    return false;
}

bool Storage::FindKey(const std::string& stem, std::string* key)
{
    key->clear();
    if (const auto known = keys_.find(stem); known != keys_.end()) {
        *key = known->second.key;
        return true;
    }
    if (complete_)
        return true;
    // The plate's image may have any of the image extensions: list them.
    ListPage page;
    std::string error;
    if (!client_->List(bucket_, stem + ".", "", 10, &page, &error)) {
        SetErrorText(error);
        return false;
    }
    for (const Object& object : page.objects) {
        std::string_view ignored;
        if (object.key.find('/', stem.size()) == std::string::npos &&
            folder::SplitImageFile(LastComponent(object.key), &ignored)) {
            *key = object.key;
            keys_[stem] = {object.key, kUnlisted};
            break;
        }
    }
    return true;
}

bool Storage::FlushDeletes()
{
    if (pendingDeletes_.empty())
        return true;
    std::vector<std::string> batch;
    batch.swap(pendingDeletes_);
    std::vector<std::string> failed;
    std::string error;
    if (!client_->DeleteObjects(bucket_, batch, &failed, &error)) {
        // What the store still holds is not known for sure: ask it again.
        complete_ = false;
        SetErrorText(error);
        return false;
    }
    return true;
}

bool Storage::FlushStores(bool closing)
{
    if (pendingStores_.empty())
        return true;
    std::vector<PendingStore> stores;
    std::vector<Request> requests;
    stores.swap(pendingStores_);
    requests.swap(storeRequests_);
    pendingStems_.clear();
    pendingBytes_ = 0;
    // Closing, the last store answered Done goes out alone after the others
    // succeeded, and not at all when one failed: a program that finds the
    // last plate there takes every earlier one for stored.
    const size_t together = closing ? requests.size() - 1 : requests.size();
    std::vector<Request> last;
    if (together < requests.size()) {
        last.push_back(std::move(requests.back()));
        requests.pop_back();
    }
    std::string error;
    std::vector<std::string> replaced;
    auto settle = [&](std::vector<Request>& sent, size_t first) {
        for (size_t i = 0; i < sent.size(); ++i) {
            const PendingStore& store = stores[first + i];
            const Response& response = sent[i].response;
            if (response.status == 200) {
                if (!store.old.empty() && store.old != store.key)
                    replaced.push_back(store.old);
                continue;
            }
            if (error.empty())
                error = client_->Explain(response, bucket_, "store \"" + store.key + "\"");
            keys_.erase(store.stem);
            complete_ = false;
        }
    };
    client_->SendAll(&requests);
    settle(requests, 0);
    if (!last.empty()) {
        if (error.empty()) {
            client_->SendAll(&last);
            settle(last, together);
        } else {
            keys_.erase(stores.back().stem);
            complete_ = false;
        }
    }
    // The plate's image of another type would be listed beside the new one.
    for (size_t first = 0; first < replaced.size(); first += Client::kMaxDeleteBatch) {
        const std::vector<std::string> batch(
            replaced.begin() + static_cast<std::ptrdiff_t>(first),
            replaced.begin() + static_cast<std::ptrdiff_t>(std::min(replaced.size(), first + Client::kMaxDeleteBatch)));
        std::vector<std::string> failed;
        std::string deleteError;
        if (!client_->DeleteObjects(bucket_, batch, &failed, &deleteError) && error.empty())
            error = deleteError;
    }
    if (!error.empty()) {
        SetErrorText(error);
        return false;
    }
    return true;
}

bool Storage::ReadAhead(const std::string& stem, const std::string& key)
{
    ahead_.clear();
    std::vector<std::string> keys = {key};
    // The plates listed after this one are likely read next: fetched together.
    if (const auto known = keys_.find(stem); known != keys_.end() && known->second.position != kUnlisted) {
        for (size_t i = known->second.position + 1; i < order_.size() && keys.size() < kReadAhead; ++i) {
            const auto next = keys_.find(order_[i]);
            if (next != keys_.end() && next->second.position == i)
                keys.push_back(next->second.key);
        }
    }
    std::vector<Request> requests;
    for (const std::string& each : keys)
        requests.push_back(client_->GetRequest(bucket_, each));
    client_->SendAll(&requests);
    for (size_t i = 0; i < requests.size(); ++i) {
        Response& response = requests[i].response;
        if (response.status == 200)
            ahead_[keys[i]] = std::move(response.body);
        else if (i == 0 && !(response.status == 404 && response.code != "NoSuchBucket")) {
            SetErrorText(client_->Explain(response, bucket_, "read \"" + key + "\""));
            return false;
        }
    }
    return true;
}

uint32_t Storage::GetPlateData(const char* name, const void** data, uint32_t* size)
{
    if (archive_)
        return FromArchive(archive_->GetPlateData(name, data, size));
    std::string stem, key;
    if (!KeyStem(name, &stem))
        return Fail("Invalid plate name " + ShortName(name));
    if (!FlushStores(false) || !FlushDeletes())
        return Failed;
    // A plate that is not there fails, as a missing file does: Empty would
    // tell the program it is there without data.
    const std::string missing = "No plate " + ShortName(name) + " in bucket \"" + bucket_ + "\"";
    if (!FindKey(stem, &key))
        return Failed;
    if (key.empty())
        return Fail(missing);
    auto fetched = ahead_.find(key);
    if (fetched == ahead_.end()) {
        if (!ReadAhead(stem, key))
            return Failed;
        fetched = ahead_.find(key);
    }
    if (fetched == ahead_.end()) {
        keys_.erase(stem);
        return Fail(missing);
    }
    data_ = std::move(fetched->second);
    ahead_.erase(fetched);
    if (data_.size() > UINT32_MAX)
        return Fail("The plate " + ShortName(name) + " is larger than 4 GB");
    *data = data_.data();
    *size = static_cast<uint32_t>(data_.size());
    return Done;
}

uint32_t Storage::Write(const char* name, const void* data, uint32_t size, uint32_t mode)
{
    if (archive_)
        return Fail("A PMTiles archive read over the network is read-only");
    if (mode != WriteModeStore && mode != WriteModeDelete)
        return Fail("Unknown write mode " + std::to_string(mode));
    std::string stem, old;
    if (!KeyStem(name, &stem))
        return Fail("Invalid plate name " + ShortName(name));
    if (mode == WriteModeStore) {
        if (size > 0 && data == nullptr)
            return Fail("Write called without data");
        // In order: a deletion answered before this store must not remove
        // it, nor two stores of one plate race.
        if (!FlushDeletes() || (pendingStems_.count(stem) != 0 && !FlushStores(false)) || !FindKey(stem, &old))
            return Failed;
        const std::string key = stem + "." + folder::ExtensionFor(data, size);
        ahead_.erase(key);
        ahead_.erase(old);
        pendingStores_.push_back({stem, key, old});
        pendingStems_.insert(stem);
        storeRequests_.push_back(
            client_->PutRequest(bucket_, key, std::string(static_cast<const char*>(data), size)));
        pendingBytes_ += size;
        keys_[stem] = {key, kUnlisted};
        if ((pendingStores_.size() >= kStoreBatch || pendingBytes_ >= kStoreBatchBytes) && !FlushStores(false))
            return Failed;
        return Done;
    }
    // In order: a store answered before this deletion must not come after it.
    if (!FlushStores(false) || !FindKey(stem, &old))
        return Failed;
    ahead_.erase(old);
    if (old.empty())
        return Fail("No plate " + ShortName(name) + " in bucket \"" + bucket_ + "\"");
    pendingDeletes_.push_back(old);
    keys_.erase(stem);
    if (pendingDeletes_.size() >= Client::kMaxDeleteBatch && !FlushDeletes())
        return Failed;
    return Done;
}

uint32_t Storage::Enumerate(PlateCallback callback, void* cookie)
{
    if (archive_)
        return FromArchive(archive_->Enumerate(callback, cookie));
    if (!FlushStores(false) || !FlushDeletes())
        return Failed;
    keys_.clear();
    order_.clear();
    ahead_.clear();
    complete_ = false;
    ListPage page;
    std::string token, error;
    int32_t number = 0;
    char name[plate_key::kNameBufferSize];
    do {
        if (!client_->List(bucket_, prefix_, token, kPageSize, &page, &error))
            return Fail(error);
        for (const Object& object : page.objects) {
            if (!NameOfKey(object.key, name))
                continue;
            const size_t dot = object.key.rfind('.');
            std::string stem = object.key.substr(0, dot);
            keys_[stem] = {object.key, order_.size()};
            order_.push_back(std::move(stem));
            const uint32_t size = object.size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(object.size);
            if (callback(cookie, number++, name, 0, size) == 0)
                return Aborted;
        }
        token = page.nextToken;
    } while (!token.empty());
    complete_ = true;
    SetErrorText("");
    return number == 0 ? Empty : Done;
}

} // namespace s3
