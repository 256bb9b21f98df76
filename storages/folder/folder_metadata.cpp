// A tile tree's description through the metadata extension, from the files
// its writers put beside it.
//
// Read: the members of a metadata.json (the MBTiles rows as tile tools
// keep them beside a z/x/y tree, or a TileJSON file), a string as it is and
// any other value as its JSON text; then what a tilemapresource.xml says, as
// "tilemapresource.*" keys: title, abstract, srs, bounding_box
// ("minx,miny,maxx,maxy" as written), origin ("x,y"), tile_size,
// tile_format (the extension), mime_type and zoom_levels (the tile sets'
// orders, "0,1,2").
//
// Written into the metadata.json of a z/x/y or TMS tree (made when there is
// none, with the "scheme" that keeps the tree's row order when it is read
// again), replaced as a whole through a temporary file.
#include "folder_storage.h"
#include "metadata_json.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace folder {

namespace {

constexpr const char* kMetadataJson = metadata_json::kFileName;
constexpr const char* kTileMapResource = "tilemapresource.xml";
constexpr size_t kMaxDescriptionBytes = metadata_json::kMaxBytes;

// The whole of a small regular file below `dirFd`; false when there is
// none (or it is too large to be a description).
bool ReadDescription(int dirFd, const char* name, std::string* text) {
    const int fd = openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= kMaxDescriptionBytes;
    text->clear();
    char buffer[4096];
    ssize_t n = 0;
    while (ok && (n = read(fd, buffer, sizeof buffer)) > 0 && text->size() <= kMaxDescriptionBytes)
        text->append(buffer, static_cast<size_t>(n));
    close(fd);
    return ok && n == 0;
}

// What a tilemapresource.xml says, in its document order.
struct TileMapReader {
    std::vector<std::pair<std::string, std::string>> keys;
    std::string text;      // of the element being read
    std::string zooms;
    int depth = 0;

    static const char* Attribute(const char** attributes, const char* name) {
        for (int i = 0; attributes[i]; i += 2)
            if (std::strcmp(attributes[i], name) == 0)
                return attributes[i + 1];
        return nullptr;
    }

    static void Start(void* self, const char* element, const char** attributes) {
        auto& r = *static_cast<TileMapReader*>(self);
        ++r.depth;
        r.text.clear();
        const std::string_view name(element);
        if (name == "BoundingBox") {
            const char* box[4] = {Attribute(attributes, "minx"), Attribute(attributes, "miny"),
                                  Attribute(attributes, "maxx"), Attribute(attributes, "maxy")};
            if (box[0] && box[1] && box[2] && box[3])
                r.keys.emplace_back("tilemapresource.bounding_box",
                                    std::string(box[0]) + "," + box[1] + "," + box[2] + "," + box[3]);
        } else if (name == "Origin") {
            const char* x = Attribute(attributes, "x");
            const char* y = Attribute(attributes, "y");
            if (x && y)
                r.keys.emplace_back("tilemapresource.origin", std::string(x) + "," + y);
        } else if (name == "TileFormat") {
            if (const char* width = Attribute(attributes, "width"))
                r.keys.emplace_back("tilemapresource.tile_size", width);
            if (const char* extension = Attribute(attributes, "extension"))
                r.keys.emplace_back("tilemapresource.tile_format", extension);
            if (const char* mime = Attribute(attributes, "mime-type"))
                r.keys.emplace_back("tilemapresource.mime_type", mime);
        } else if (name == "TileSet") {
            if (const char* order = Attribute(attributes, "order")) {
                if (!r.zooms.empty())
                    r.zooms += ',';
                r.zooms += order;
            }
        }
    }

    static void End(void* self, const char* element) {
        auto& r = *static_cast<TileMapReader*>(self);
        const std::string_view name(element);
        // Only the TileMap's own children: a TileSet has no title.
        if (r.depth == 2 && (name == "Title" || name == "Abstract" || name == "SRS")) {
            const std::string key = name == "Title" ? "title" : name == "Abstract" ? "abstract" : "srs";
            if (!r.text.empty())
                r.keys.emplace_back("tilemapresource." + key, r.text);
        }
        r.text.clear();
        --r.depth;
    }

    static void Text(void* self, const char* text, int length) {
        auto& r = *static_cast<TileMapReader*>(self);
        if (r.text.size() < 65536)
            r.text.append(text, static_cast<size_t>(length));
    }
};

bool ParseTileMap(const std::string& xml, std::vector<std::pair<std::string, std::string>>* keys) {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser)
        return false;
    TileMapReader reader;
    XML_SetUserData(parser, &reader);
    XML_SetElementHandler(parser, &TileMapReader::Start, &TileMapReader::End);
    XML_SetCharacterDataHandler(parser, &TileMapReader::Text);
    const bool ok = XML_Parse(parser, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!ok)
        return false;
    if (!reader.zooms.empty())
        reader.keys.emplace_back("tilemapresource.zoom_levels", reader.zooms);
    keys->insert(keys->end(), reader.keys.begin(), reader.keys.end());
    return true;
}

} // namespace

uint32_t Storage::ReadMetadata(MetadataCallback callback, void* cookie) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    std::vector<std::pair<std::string, std::string>> keys;
    std::string text;
    if (ReadDescription(baseFd_, kMetadataJson, &text) && !metadata_json::Read(text, &keys))
        return Fail(std::string(kMetadataJson) + " is no JSON object");
    if (ReadDescription(baseFd_, kTileMapResource, &text) && !ParseTileMap(text, &keys))
        return Fail(std::string(kTileMapResource) + " is no XML document");
    for (const auto& [key, value] : keys)
        if (!callback(cookie, key.c_str(), value.c_str()))
            return Aborted;
    return keys.empty() ? Empty : Done;
}

uint32_t Storage::WriteMetadata(const char* key, const char* value) {
    if (baseFd_ < 0)
        return Fail("The storage is not open");
    const std::string_view layout(layout_.name);
    if (layout != "xyz" && layout != "tms")
        return Fail("A " + std::string(layout) + " tree keeps no metadata: only z/x/y and TMS trees have a " +
                    kMetadataJson);
    if (std::string_view(key).starts_with("tilemapresource."))
        return Fail(std::string(key) + " is what the tree's " + kTileMapResource + " says: it is not changed");
    std::string text;
    const bool had = ReadDescription(baseFd_, kMetadataJson, &text);
    std::string out;
    // The row order must survive the file: without a scheme it means z/x/y.
    switch (metadata_json::Apply(had ? &text : nullptr, key, value, layout_.rowsFromBottom ? "tms" : "xyz", &out)) {
    case metadata_json::Change::NotAnObject:
        return Fail(std::string(kMetadataJson) + " is no JSON object: it is left as it is");
    case metadata_json::Change::Absent:
        return Empty;
    case metadata_json::Change::Changed:
        break;
    }
    const std::string temporary = std::string(".") + kMetadataJson + ".new";
    const int fd = openat(baseFd_, temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail("Cannot write " + folderName_ + "/" + kMetadataJson + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const int error = errno;
    const bool written = done == out.size() && fsync(fd) == 0;
    close(fd);
    if (!written || renameat(baseFd_, temporary.c_str(), baseFd_, kMetadataJson) != 0) {
        const std::string why = std::strerror(written ? errno : error);
        unlinkat(baseFd_, temporary.c_str(), 0);
        return Fail("Cannot write " + folderName_ + "/" + kMetadataJson + ": " + why);
    }
    return Done;
}

} // namespace folder
