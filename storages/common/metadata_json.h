#pragma once
// The metadata.json that tile tools keep beside a z/x/y or TMS tile tree:
// one JSON object of the MBTiles metadata rows (name, description,
// attribution, bounds, minzoom, ...), and the "scheme" ("xyz" or "tms")
// that says how the tree's rows are counted. Shared by the plugins that
// keep such trees (a folder, a bucket), so that one reads what the other
// writes. Header-only; needs nlohmann's JSON.

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

namespace metadata_json {

using Json = nlohmann::ordered_json;

constexpr const char* kFileName = "metadata.json";
// A description larger than this is no description.
constexpr size_t kMaxBytes = size_t{1} << 20;

using Keys = std::vector<std::pair<std::string, std::string>>;

// A member as the metadata extension reports it: a string as it is, any
// other value as its JSON text.
inline std::string Reported(const Json& value) {
    return value.is_string() ? value.get<std::string>() : value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The members of a metadata.json text, in its order; false when the text
// is no JSON object.
inline bool Read(const std::string& text, Keys* keys) {
    const Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object())
        return false;
    for (const auto& [key, value] : json.items())
        if (!key.empty())
            keys->emplace_back(key, Reported(value));
    return true;
}

enum class Change { Changed, Absent, NotAnObject };

// The text after setting `key` to `value` (deleting it when `value` is
// null) in `had` (null: there is no file yet). Absent when a deleted key
// was not there; NotAnObject when `had` is no JSON object (left as it is).
// A file without a scheme gets `scheme`: without one a reader takes the
// rows as z/x/y.
inline Change Apply(const std::string* had, const char* key, const char* value, const char* scheme,
                    std::string* text) {
    Json json = Json::object();
    if (had) {
        json = Json::parse(*had, nullptr, false);
        if (json.is_discarded() || !json.is_object())
            return Change::NotAnObject;
    }
    if (!value) {
        if (json.erase(key) == 0)
            return Change::Absent;
    } else {
        json[key] = value;
    }
    if (!json.contains("scheme"))
        json["scheme"] = scheme;
    *text = json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    return Change::Changed;
}

} // namespace metadata_json
