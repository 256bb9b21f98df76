#include "seed_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <yaml.h>

#include <algorithm>
#include <set>
#include <vector>

namespace seed_config {

namespace {

// A loaded YAML document; nodes are looked at, never changed. Aliases are
// shared nodes, not copies, so a hostile file cannot make the walk grow.
class Document {
public:
    explicit Document(std::string_view text) {
        yaml_parser_initialize(&parser_);
        yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()), text.size());
        loaded_ = yaml_parser_load(&parser_, &document_) != 0;
    }
    ~Document() {
        if (loaded_)
            yaml_document_delete(&document_);
        yaml_parser_delete(&parser_);
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    yaml_node_t* Root() { return loaded_ ? yaml_document_get_root_node(&document_) : nullptr; }

    // The value of `key` in a mapping; null when absent or not a mapping.
    yaml_node_t* Get(yaml_node_t* node, std::string_view key) {
        if (!node || node->type != YAML_MAPPING_NODE)
            return nullptr;
        for (yaml_node_pair_t* pair = node->data.mapping.pairs.start; pair < node->data.mapping.pairs.top; ++pair)
            if (Text(yaml_document_get_node(&document_, pair->key)) == key)
                return yaml_document_get_node(&document_, pair->value);
        return nullptr;
    }

    // A scalar's text; empty for anything else.
    static std::string Text(const yaml_node_t* node) {
        if (!node || node->type != YAML_SCALAR_NODE)
            return {};
        return std::string(reinterpret_cast<const char*>(node->data.scalar.value), node->data.scalar.length);
    }

    // A mapping's keys and values in order.
    std::vector<std::pair<std::string, yaml_node_t*>> Entries(yaml_node_t* node) {
        std::vector<std::pair<std::string, yaml_node_t*>> entries;
        if (!node || node->type != YAML_MAPPING_NODE)
            return entries;
        for (yaml_node_pair_t* pair = node->data.mapping.pairs.start; pair < node->data.mapping.pairs.top; ++pair)
            entries.emplace_back(Text(yaml_document_get_node(&document_, pair->key)),
                                 yaml_document_get_node(&document_, pair->value));
        return entries;
    }

    // A sequence of scalars (a lone scalar counts as a list of one).
    std::vector<std::string> Texts(yaml_node_t* node) {
        std::vector<std::string> texts;
        if (node && node->type == YAML_SCALAR_NODE)
            texts.push_back(Text(node));
        if (node && node->type == YAML_SEQUENCE_NODE)
            for (yaml_node_item_t* item = node->data.sequence.items.start; item < node->data.sequence.items.top; ++item)
                texts.push_back(Text(yaml_document_get_node(&document_, *item)));
        return texts;
    }

private:
    yaml_parser_t parser_{};
    yaml_document_t document_{};
    bool loaded_ = false;
};

std::string LastName(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The origin of a grid: its own `origin`, else its base's, else MapProxy's
// default, the lower left corner.
int GridOrigin(Document& document, yaml_node_t* grids, const std::string& name, int depth = 0) {
    if (const int builtIn = BuiltInGridOrigin(name); builtIn != 0 && !document.Get(grids, name))
        return builtIn;
    yaml_node_t* grid = document.Get(grids, name);
    const std::string origin = Document::Text(document.Get(grid, "origin"));
    if (origin == "ul" || origin == "nw")
        return 1;
    if (origin == "ll" || origin == "sw")
        return 2;
    const std::string base = Document::Text(document.Get(grid, "base"));
    if (!base.empty() && depth < 8)
        return GridOrigin(document, grids, base, depth + 1);
    return grid ? 2 : 0;
}

// A grid's SRS as MapProxy names it: its own `srs`, else its base's; the
// built-in grids' own.
std::string GridSrs(Document& document, yaml_node_t* grids, const std::string& name, int depth = 0) {
    yaml_node_t* grid = document.Get(grids, name);
    if (!grid) {
        if (name == "GLOBAL_WEBMERCATOR")
            return "EPSG:3857";
        if (name == "GLOBAL_MERCATOR")
            return "EPSG:900913";
        if (name == "GLOBAL_GEODETIC")
            return "EPSG:4326";
        return {};
    }
    const std::string srs = Document::Text(document.Get(grid, "srs"));
    const std::string base = Document::Text(document.Get(grid, "base"));
    if (srs.empty() && !base.empty() && depth < 8)
        return GridSrs(document, grids, base, depth + 1);
    return srs;
}

} // namespace

int BuiltInGridOrigin(std::string_view grid) {
    if (grid == "GLOBAL_WEBMERCATOR")
        return 1;
    if (grid == "GLOBAL_MERCATOR" || grid == "GLOBAL_GEODETIC")
        return 2;
    return 0;
}

HintFound FindCacheIn(std::string_view text, int configDirFd, std::string_view folderName, unsigned long device,
                      unsigned long inode, SeedHint* hint) {
    Document document(text);
    yaml_node_t* root = document.Root();
    yaml_node_t* grids = document.Get(root, "grids");
    for (auto& [name, cache] : document.Entries(document.Get(root, "caches"))) {
        std::vector<std::string> cacheGrids = document.Texts(document.Get(cache, "grids"));
        if (cacheGrids.empty())
            cacheGrids.push_back("GLOBAL_MERCATOR"); // MapProxy's default for a cache without grids
        yaml_node_t* storage = document.Get(cache, "cache");
        std::string type = Document::Text(document.Get(storage, "type"));
        if (type.empty())
            type = "file";
        const std::string directory = Document::Text(document.Get(storage, "directory"));
        std::string grid; // the grid whose tiles lie in the folder
        if (!directory.empty()) {
            struct stat info {};
            const bool same = fstatat(configDirFd, directory.c_str(), &info, 0) == 0 && info.st_dev == device &&
                              info.st_ino == inode;
            if (same || LastName(directory) == folderName)
                grid = cacheGrids.front();
        } else {
            // MapProxy's own folders below its cache base: CACHE_EPSG3857
            // (the grid's SRS without the colon) for a file cache, and
            // CACHE/GRID for a compact cache or with use_grid_names.
            std::string base = Document::Text(document.Get(cache, "cache_dir"));
            if (base.empty())
                base = Document::Text(document.Get(document.Get(document.Get(root, "globals"), "cache"), "base_dir"));
            if (base.empty())
                base = "./cache_data";
            const auto isFolder = [&](const std::string& path) {
                struct stat info {};
                return fstatat(configDirFd, path.c_str(), &info, 0) == 0 && info.st_dev == device &&
                       info.st_ino == inode;
            };
            for (const std::string& candidate : cacheGrids) {
                std::string srs = GridSrs(document, grids, candidate);
                srs.erase(std::remove(srs.begin(), srs.end(), ':'), srs.end());
                if (folderName == name + "_" + candidate || isFolder(base + "/" + name + "/" + candidate) ||
                    (!srs.empty() && isFolder(base + "/" + name + "_" + srs)))
                    grid = candidate;
            }
        }
        if (grid.empty())
            continue;
        if (type == "file") {
            hint->layout = Document::Text(document.Get(storage, "directory_layout"));
            if (hint->layout.empty())
                hint->layout = "tc";
        } else {
            hint->layout = type; // "compact", or one no folder layout reads
        }
        hint->cache = name;
        hint->grid = grid;
        hint->origin = GridOrigin(document, grids, grid);
        return HintFound::Cache;
    }
    // A seed configuration: the grids its seeds name.
    std::set<std::string> seedGrids;
    for (auto& [name, seed] : document.Entries(document.Get(root, "seeds")))
        for (const std::string& grid : document.Texts(document.Get(seed, "grids")))
            seedGrids.insert(grid);
    if (seedGrids.size() == 1 && BuiltInGridOrigin(*seedGrids.begin()) != 0) {
        hint->grid = *seedGrids.begin();
        hint->origin = BuiltInGridOrigin(hint->grid);
        return HintFound::GridOnly;
    }
    return HintFound::Nothing;
}

HintFound LookForSeedConfig(int folderFd, std::string_view folderName, unsigned long device, unsigned long inode,
                            SeedHint* hint, std::string* file) {
    HintFound best = HintFound::Nothing;
    for (const char* up : {".", "..", "../..", "../../.."}) {
        const int dirFd = openat(folderFd, up, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            continue;
        for (const char* name : {"mapproxy.yaml", "seed.yaml"}) {
            const std::string text = ReadSmallFile(dirFd, name);
            if (text.empty())
                continue;
            SeedHint found;
            const HintFound what = FindCacheIn(text, dirFd, folderName, device, inode, &found);
            if (what == HintFound::Cache || (what == HintFound::GridOnly && best == HintFound::Nothing)) {
                *hint = found;
                *file = name;
                best = what;
            }
            if (what == HintFound::Cache) {
                close(dirFd);
                return best;
            }
        }
        close(dirFd);
    }
    return best;
}

std::string GridInFolderName(const std::string& folder) {
    for (const char* grid : {"GLOBAL_WEBMERCATOR", "GLOBAL_MERCATOR"}) {
        const std::string suffix = std::string("_") + grid;
        if (folder == grid ||
            (folder.size() > suffix.size() && folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) == 0))
            return grid;
    }
    return {};
}

std::string ReadSmallFile(int dirFd, const char* path) {
    const int fd = openat(dirFd, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        char buffer[4096];
        ssize_t n;
        while (text.size() < 65536 && (n = read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

} // namespace seed_config
