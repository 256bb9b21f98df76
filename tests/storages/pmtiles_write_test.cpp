// Writing PMTiles archives through the plugin: what it writes is read back
// tile by tile by the plugin and by the reference reader of the format's
// authors (the npm package, through reference/read_pmtiles.js).
#include "plate_key.h"
#include "plugin_host.h"
#include "pmtiles_format.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace storage_test {
namespace {

constexpr uint32_t kDone = Done, kFailed = Failed;
using Tiles = std::map<std::string, std::string>; // plate name -> bytes

// Every plate of a storage with its bytes, through `pluginPath`.
Tiles ReadStorage(const std::string& pluginPath, const std::string& path) {
    LoadedPlugin plugin(pluginPath);
    EXPECT_EQ(plugin.LoadError(), "");
    Action action(plugin);
    EXPECT_TRUE(action.Open(path)) << path << ": " << action.ErrorText();
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    Tiles tiles;
    for (const Plate& plate : plates) {
        std::string bytes;
        EXPECT_EQ(action.GetPlateData(plate.name, &bytes), kDone) << plate.name << ": " << action.ErrorText();
        EXPECT_EQ(bytes.size(), plate.size) << plate.name;
        EXPECT_TRUE(tiles.emplace(plate.name, bytes).second) << plate.name << " listed twice";
    }
    return tiles;
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A number field of a flat JSON object, or -1.
double JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::stod(json.substr(at + key.size() + 3));
}

struct Reference {
    bool ran = false;
    std::string header;   // JSON
    std::string metadata; // JSON
    Tiles tiles;
};

// Asks the reference reader for each tile of `names`.
Reference ReadWithReference(const std::string& archive, const std::vector<std::string>& names, const TempDir& dir) {
    Reference result;
    const std::string out = dir / "reference";
    const std::string list = dir / "reference.list";
    {
        std::ofstream tiles(list);
        for (const std::string& name : names) {
            plate_key::Tile t;
            EXPECT_TRUE(plate_key::Parse(name, &t)) << name;
            tiles << t.z << ' ' << t.x << ' ' << t.y << '\n';
        }
    }
    const std::string command = "rm -rf '" + out + "' && mkdir '" + out + "' && '" NODE_PROGRAM "' '" READ_SCRIPT
                                "' '" NODE_PMTILES "' '" + archive + "' '" + out + "' < '" + list + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pipe ? pclose(pipe) : -1;
    EXPECT_EQ(status, 0) << output;
    if (status != 0)
        return result;
    result.ran = true;
    result.header = ReadFile(out + "/header.json");
    result.metadata = ReadFile(out + "/metadata.json");
    for (const std::string& name : names) {
        plate_key::Tile t;
        plate_key::Parse(name, &t);
        const std::string file = out + "/" + std::to_string(t.z) + "-" + std::to_string(t.x) + "-" + std::to_string(t.y);
        if (access(file.c_str(), F_OK) == 0)
            result.tiles[name] = ReadFile(file);
    }
    return result;
}

std::vector<std::string> Names(const Tiles& tiles) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : tiles)
        names.push_back(name);
    return names;
}

class PmtilesWrite : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(plugin_.LoadError(), ""); }

    // Stores `tiles` into a new archive at `name` (an empty file, as copy
    // makes it) in the order given, and closes it; the archive's path.
    std::string Write(const std::string& name, const std::vector<std::pair<std::string, std::string>>& tiles) {
        const std::string path = dir_ / name;
        WriteFile(path, "");
        Action action(plugin_);
        EXPECT_TRUE(action.Open(path)) << action.ErrorText();
        for (const auto& [plate, bytes] : tiles)
            EXPECT_EQ(action.Store(plate, bytes), kDone) << plate << ": " << action.ErrorText();
        action.Close();
        EXPECT_EQ(action.ErrorText(), "");
        return path;
    }
    std::string Write(const std::string& name, const Tiles& tiles) {
        return Write(name, std::vector<std::pair<std::string, std::string>>(tiles.begin(), tiles.end()));
    }

    // The header and the tile entries of the root directory and its leaves.
    void Directory(const std::string& path, pmtiles::Header* header, std::vector<pmtiles::Entry>* tiles) {
        const std::string bytes = ReadFile(path);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        ASSERT_EQ(pmtiles::ParseHeader(data, bytes.size(), bytes.size(), header), "");
        ASSERT_LE(header->rootOffset + header->rootLength, 16384u) << "the root lies in the first 16 KiB";
        const auto read = [&](uint64_t offset, uint64_t length, std::vector<pmtiles::Entry>* entries) {
            std::vector<uint8_t> inflated;
            ASSERT_EQ(pmtiles::Inflate(data + offset, length, size_t{64} << 20, &inflated), "");
            ASSERT_EQ(pmtiles::DecodeDirectory(inflated.data(), inflated.size(), entries), "");
        };
        std::vector<pmtiles::Entry> root;
        read(header->rootOffset, header->rootLength, &root);
        for (const pmtiles::Entry& entry : root) {
            if (entry.runLength > 0) {
                tiles->push_back(entry);
                continue;
            }
            std::vector<pmtiles::Entry> leaf;
            read(header->leafOffset + entry.offset, entry.length, &leaf);
            for (const pmtiles::Entry& e : leaf)
                ASSERT_GT(e.runLength, 0u) << "one level of leaves";
            tiles->insert(tiles->end(), leaf.begin(), leaf.end());
        }
    }

    // Checks what both readers find in `archive` against `expected`.
    void ExpectBothRead(const std::string& archive, const Tiles& expected, const std::vector<std::string>& names) {
        EXPECT_EQ(ReadStorage(PMTILES_PLUGIN, archive), expected);
        const Reference reference = ReadWithReference(archive, names, dir_);
        ASSERT_TRUE(reference.ran);
        Tiles wanted;
        for (const std::string& name : names)
            wanted[name] = expected.at(name);
        EXPECT_EQ(reference.tiles, wanted);
    }

    LoadedPlugin plugin_{PMTILES_PLUGIN};
    TempDir dir_;
};

// Other tools' storages into archives, compared tile by tile; the header
// says what was written.
TEST_F(PmtilesWrite, RoundTripsStoragesTileByTile) {
    struct Case {
        const char* what;
        std::string plugin;
        std::string source;
        int tileType;
        const char* format;
    };
    const Case cases[] = {
        {"MapProxy MBTiles (PNG)", MBTILES_PLUGIN, FIXTURE_DIR "/mapproxy-debug.mbtiles", 2, "png"},
        {"GDAL MBTiles (JPEG)", MBTILES_PLUGIN, FIXTURE_DIR "/gdal-world.mbtiles", 3, "jpg"},
        {"GDAL z/x/y tree (PNG)", FOLDER_PLUGIN, FIXTURE_DIR "/folders/gdal-xyz", 2, "png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Tiles source = ReadStorage(c.plugin, c.source);
        ASSERT_GT(source.size(), 1u);
        const std::string archive = Write("copy.pmtiles", source);
        ExpectBothRead(archive, source, Names(source));

        const Reference reference = ReadWithReference(archive, {}, dir_);
        ASSERT_TRUE(reference.ran);
        std::set<uint32_t> zooms;
        double west = 180, east = -180;
        for (const auto& [name, bytes] : source) {
            plate_key::Tile t;
            plate_key::Parse(name, &t);
            zooms.insert(t.z);
            west = std::min(west, t.x * 360.0 / (1 << t.z) - 180);
            east = std::max(east, (t.x + 1) * 360.0 / (1 << t.z) - 180);
        }
        const std::string& h = reference.header;
        EXPECT_EQ(JsonNumber(h, "tileType"), c.tileType) << h;
        EXPECT_EQ(JsonNumber(h, "tileCompression"), 1) << h;
        EXPECT_EQ(JsonNumber(h, "internalCompression"), 2) << h;
        EXPECT_NE(h.find("\"clustered\":true"), std::string::npos) << h;
        EXPECT_EQ(JsonNumber(h, "minZoom"), *zooms.begin()) << h;
        EXPECT_EQ(JsonNumber(h, "maxZoom"), *zooms.rbegin()) << h;
        EXPECT_EQ(JsonNumber(h, "numAddressedTiles"), source.size()) << h;
        EXPECT_NEAR(JsonNumber(h, "minLon"), west, 1e-6) << h;
        EXPECT_NEAR(JsonNumber(h, "maxLon"), east, 1e-6) << h;
        EXPECT_LT(JsonNumber(h, "minLat"), JsonNumber(h, "maxLat")) << h;
        EXPECT_EQ(reference.metadata, std::string("{\"name\":\"copy\",\"format\":\"") + c.format + "\"}");
    }
}

// Equal contents are stored once, in tile id order, and consecutive tiles
// with one content are one entry; a second store of a tile replaces it.
TEST_F(PmtilesWrite, StoresEachContentOnceClusteredAndRunsAsOneEntry) {
    // The deduplicated MBTiles fixture: two tiles of zoom 1 share an image.
    const Tiles grids = ReadStorage(MBTILES_PLUGIN, FIXTURE_DIR "/grids.mbtiles");
    ASSERT_EQ(grids.size(), 5u);
    std::set<std::string> distinct;
    for (const auto& [name, bytes] : grids)
        distinct.insert(bytes);
    ASSERT_EQ(distinct.size(), 4u);

    // Zoom 3 in reverse name order: a sea of one content with a few islands,
    // so runs are cut and taken up again; plus one tile stored twice.
    std::vector<std::pair<std::string, std::string>> stores;
    Tiles expected = grids;
    for (uint32_t x = 0; x < 8; ++x)
        for (uint32_t y = 0; y < 8; ++y) {
            const std::string name = plate_key::Name({3, x, y});
            const std::string bytes = (x + y) % 5 == 0 ? "island " + std::to_string(x % 3) : std::string("sea");
            expected[name] = bytes;
            distinct.insert(bytes);
        }
    for (auto it = expected.rbegin(); it != expected.rend(); ++it)
        stores.emplace_back(it->first, it->first == "tqqq" ? std::string("first, replaced") : it->second);
    stores.emplace_back("tqqq", expected.at("tqqq"));
    const std::string archive = Write("dedup.pmtiles", stores);
    ExpectBothRead(archive, expected, Names(expected));

    pmtiles::Header header;
    std::vector<pmtiles::Entry> entries;
    ASSERT_NO_FATAL_FAILURE(Directory(archive, &header, &entries));
    uint64_t distinctBytes = 0;
    for (const std::string& bytes : distinct)
        distinctBytes += bytes.size();
    EXPECT_EQ(header.tileContents, distinct.size());
    EXPECT_EQ(header.tileDataLength, distinctBytes);
    EXPECT_EQ(header.addressedTiles, expected.size());
    EXPECT_EQ(header.tileEntries, entries.size());
    EXPECT_TRUE(header.clustered);
    // Clustered: each entry's data follows the last new one or points back.
    uint64_t end = 0;
    uint64_t runs = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const pmtiles::Entry& e = entries[i];
        if (i > 0) {
            EXPECT_GT(e.tileId, entries[i - 1].tileId);
            // A run ends where the next tile has other bytes.
            EXPECT_FALSE(e.tileId == entries[i - 1].tileId + entries[i - 1].runLength && e.offset == entries[i - 1].offset)
                << "entry " << i << " continues the run before it";
        }
        EXPECT_TRUE(e.offset == end || e.offset + e.length <= end) << "entry " << i;
        end = std::max(end, e.offset + e.length);
        runs += e.runLength > 1;
    }
    EXPECT_EQ(entries.front().offset, 0u);
    EXPECT_EQ(end, header.tileDataLength);
    EXPECT_GT(runs, 0u) << "the sea makes runs";
    EXPECT_LT(entries.size(), expected.size());
}

// The index is put in id order one way for ids that fill much of their
// range (each tile straight to its place) and another for sparse ones (a
// sort); either way, of several stores of a tile the last one counts,
// whatever the order of the stores.
TEST_F(PmtilesWrite, KeepsTheLastStoreOfATileForDenseAndSparseIds) {
    using Stores = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* what;
        Stores stores;
    };
    std::vector<Case> cases;
    {
        // Dense: zoom 4 whole, stored in reverse name order; then every
        // third tile again in name order, every fifth a third time.
        Stores stores;
        for (uint32_t i = 256; i-- > 0;)
            stores.emplace_back(plate_key::Name({4, i >> 4, i & 15}), "first " + std::to_string(i));
        for (uint32_t i = 0; i < 256; i += 3)
            stores.emplace_back(plate_key::Name({4, i >> 4, i & 15}), i % 2 ? "second" : "second " + std::to_string(i));
        for (uint32_t i = 0; i < 256; i += 5)
            stores.emplace_back(plate_key::Name({4, i >> 4, i & 15}), "third");
        stores.emplace_back("t", "the world");
        cases.push_back({"dense ids", stores});
    }
    {
        // Sparse: a few tiles of zoom 0, 2 and 20 to 22, far apart on the
        // curve, in mixed order, some stored again.
        Stores stores;
        const plate_key::Tile tiles[] = {{20, 1000000, 5}, {0, 0, 0}, {22, 4000000, 4000000}, {2, 3, 1},
                                         {21, 7, 2000000}, {20, 1000000, 6}, {22, 1, 2}};
        for (int round = 0; round < 3; ++round)
            for (size_t i = 0; i < std::size(tiles); ++i)
                if (round == 0 || (i + round) % 2 == 0)
                    stores.emplace_back(plate_key::Name(tiles[round == 1 ? std::size(tiles) - 1 - i : i]),
                                        "round " + std::to_string(round) + " tile " + std::to_string(i));
        cases.push_back({"sparse ids", stores});
    }
    {
        // Plates too large for the batches that small ones go in, stored
        // between them: the stores still count in the order they came.
        const std::string large(300u << 10, 'L');
        const std::string a = plate_key::Name({1, 0, 0}), b = plate_key::Name({1, 1, 0});
        cases.push_back({"large and small plates", {{a, "small a"}, {b, large + "b"}, {a, large + "a"}, {b, "small b"}}});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tiles expected;
        for (const auto& [name, bytes] : c.stores)
            expected[name] = bytes;
        ASSERT_LT(expected.size(), c.stores.size()) << "some tiles are stored again";
        const std::string archive = Write("last.pmtiles", c.stores);
        ExpectBothRead(archive, expected, Names(expected));
        pmtiles::Header header;
        std::vector<pmtiles::Entry> entries;
        ASSERT_NO_FATAL_FAILURE(Directory(archive, &header, &entries));
        EXPECT_EQ(header.addressedTiles, expected.size());
    }
}

// More entries than the root takes: leaf directories, read by both.
TEST_F(PmtilesWrite, PutsEntriesBeyondTheRootIntoLeafDirectories) {
    Tiles tiles;
    // Every tile of zoom 8 but each third, each its own content: 43,690
    // entries.
    for (uint32_t x = 0; x < 256; ++x)
        for (uint32_t y = 0; y < 256; ++y)
            if ((x * 256 + y) % 3 != 0)
                tiles[plate_key::Name({8, x, y})] = std::to_string(x) + "/" + std::to_string(y);
    const std::string archive = Write("leaves.pmtiles", tiles);
    pmtiles::Header header;
    std::vector<pmtiles::Entry> entries;
    ASSERT_NO_FATAL_FAILURE(Directory(archive, &header, &entries));
    EXPECT_GT(header.leafLength, 0u);
    EXPECT_EQ(entries.size(), tiles.size());
    // The reference reader on a sample across all leaves, and tiles not there.
    std::vector<std::string> sample;
    size_t i = 0;
    for (const auto& [name, bytes] : tiles)
        if (i++ % 97 == 0)
            sample.push_back(name);
    sample.push_back(tiles.rbegin()->first);
    ExpectBothRead(archive, tiles, sample);
    const Reference missing = ReadWithReference(archive, {plate_key::Name({8, 0, 0}), plate_key::Name({7, 1, 1})}, dir_);
    EXPECT_TRUE(missing.ran);
    EXPECT_TRUE(missing.tiles.empty());
}

// What the plugin cannot write is refused with a reason, and nothing else
// is touched.
TEST_F(PmtilesWrite, RefusesWhatAnArchiveCannotTake) {
    const std::string existing = Write("existing.pmtiles", Tiles{{"t", "world"}});
    const std::string before = ReadFile(existing);
    const std::string fresh = dir_ / "fresh.pmtiles";
    WriteFile(fresh, "");
    struct Case {
        std::string path;
        std::string name;
        std::string bytes;
        uint32_t mode;
        const char* text;
    };
    const std::string deep(32, 't'); // zoom 31
    const Case cases[] = {
        {existing, "tq", "x", WriteModeStore, "written whole: store only into a new, empty .pmtiles file"},
        {existing, "t", "", WriteModeDelete, "written whole: plates cannot be deleted"},
        {fresh, deep, "x", WriteModeStore, "deeper than zoom 30: PMTiles cannot hold it"},
        {fresh, "tqx", "x", WriteModeStore, "Invalid plate name"},
        {fresh, "tq", "", WriteModeStore, "cannot hold a plate without data"},
        {fresh, "tq", "", WriteModeDelete, "written whole: plates cannot be deleted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " into " + c.path);
        Action action(plugin_);
        ASSERT_TRUE(action.Open(c.path)) << action.ErrorText();
        const uint32_t result = action.Raw()->functions->Write(action.Raw(), c.name.c_str(), c.bytes.data(),
                                                               static_cast<uint32_t>(c.bytes.size()), c.mode);
        EXPECT_EQ(result, kFailed);
        EXPECT_NE(action.ErrorText().find(c.text), std::string::npos) << action.ErrorText();
        EXPECT_LT(action.ErrorText().size(), 100u);
    }
    EXPECT_EQ(ReadFile(existing), before);
    EXPECT_EQ(ReadFile(fresh), "") << "nothing stored: the empty file stays";
    EXPECT_EQ(FolderEntries(dir_.Path()), (std::vector<std::string>{"existing.pmtiles", "fresh.pmtiles"}));
}

// Stores are seen before the archive is written, as the contract asks.
TEST_F(PmtilesWrite, ListsAndHandsOutStoresBeforeClosing) {
    const std::string path = dir_ / "open.pmtiles";
    WriteFile(path, "");
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), static_cast<uint32_t>(Empty));
    for (const char* name : {"tr", "t", "tq", "tr"})
        ASSERT_EQ(action.Store(name, std::string("bytes of ") + name + (std::string(name) == "tr" ? "+" : "")), kDone);
    ASSERT_EQ(action.Enumerate(&plates), kDone) << action.ErrorText();
    ASSERT_EQ(plates.size(), 3u);
    EXPECT_EQ(plates[0].name, "t");
    std::string bytes;
    ASSERT_EQ(action.GetPlateData("tr", &bytes), kDone) << action.ErrorText();
    EXPECT_EQ(bytes, "bytes of tr+");
    EXPECT_EQ(action.GetPlateData("ts", &bytes), kFailed);
    EXPECT_EQ(ReadFile(path), "") << "written only when closed";
}

// Files may not grow past `bytes` while it lives; SIGXFSZ is ignored, so
// that a write past the limit fails instead of ending the test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        handler_ = signal(SIGXFSZ, SIG_IGN);
        set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        signal(SIGXFSZ, handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Set() const { return set_; }

private:
    rlimit previous_{};
    void (*handler_)(int) = nullptr;
    bool set_ = false;
};

// A run that dies before it closes the archive, or whose archive cannot be
// written, leaves no archive and no temporary file: only the empty file the
// copy started from.
TEST_F(PmtilesWrite, LeavesNoArchiveNorTemporaryFileWhenTheWriteDoesNotFinish) {
    std::string big;
    for (int i = 0; big.size() < (600u << 10); ++i)
        big += std::to_string(i * 7919) + ",";
    // Killed while storing.
    {
        const std::string path = dir_ / "killed.pmtiles";
        WriteFile(path, "");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Action action(plugin_);
            if (!action.Open(path))
                _exit(3);
            for (uint32_t x = 0; x < 4; ++x)
                if (action.Store(plate_key::Name({2, x, 0}), big + std::to_string(x)) != Done)
                    _exit(4);
            kill(getpid(), SIGKILL);
            _exit(5);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
        EXPECT_EQ(ReadFile(path), "");
        EXPECT_EQ(FolderEntries(dir_.Path()), std::vector<std::string>{"killed.pmtiles"});
    }
    // The spool cannot grow while storing (files may not grow past 1 MiB
    // until the stores end): every plate answered stored is in the archive,
    // or there is no archive.
    {
        const std::string path = dir_ / "spool.pmtiles";
        WriteFile(path, "");
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path));
        Tiles answered;
        {
            const FileSizeLimit limit(1 << 20);
            ASSERT_TRUE(limit.Set());
            for (uint32_t x = 0; x < 64; ++x) {
                const std::string name = plate_key::Name({6, x, 0});
                const std::string bytes = std::to_string(x) + big.substr(0, 100u << 10);
                if (action.Store(name, bytes) == Done)
                    answered[name] = bytes;
            }
        }
        action.Close();
        EXPECT_LT(answered.size(), 64u);
        if (ReadFile(path).empty()) {
            EXPECT_NE(action.ErrorText().find("Cannot write the spool file"), std::string::npos) << action.ErrorText();
            EXPECT_EQ(FolderEntries(dir_.Path()), (std::vector<std::string>{"killed.pmtiles", "spool.pmtiles"}));
        } else {
            EXPECT_EQ(ReadStorage(PMTILES_PLUGIN, path), answered);
        }
        std::remove(path.c_str());
    }
    // The archive cannot be written: files may not grow past 1 MiB.
    {
        const std::string path = dir_ / "full.pmtiles";
        WriteFile(path, "");
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path));
        for (uint32_t x = 0; x < 4; ++x)
            ASSERT_EQ(action.Store(plate_key::Name({2, x, 1}), big + std::to_string(x)), kDone) << action.ErrorText();
        {
            const FileSizeLimit limit(1 << 20);
            ASSERT_TRUE(limit.Set());
            action.Close();
        }
        EXPECT_NE(action.ErrorText().find("full.pmtiles: Cannot write"), std::string::npos) << action.ErrorText();
        EXPECT_EQ(ReadFile(path), "");
        EXPECT_EQ(FolderEntries(dir_.Path()), (std::vector<std::string>{"full.pmtiles", "killed.pmtiles"}));
        // Opened again it is still a new archive, as it was.
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        std::vector<Plate> plates;
        EXPECT_EQ(action.Enumerate(&plates), static_cast<uint32_t>(Empty));
    }
}

} // namespace
} // namespace storage_test

namespace storage_test {
namespace {

// The metadata extension's table of the plugin, found as the program finds it.
const MetadataExtension* PmtilesMetadata() {
    void* handle = dlopen(PMTILES_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    auto query = handle ? reinterpret_cast<QueryPluginExtensionFn>(dlsym(handle, "QueryPluginExtension")) : nullptr;
    return query ? static_cast<const MetadataExtension*>(query(ULMORA_METADATA_EXTENSION)) : nullptr;
}

// Keys written into a new archive: the header's bounds and center as
// given, the rest as JSON members in their order (an array as JSON), as the
// reference reader reads them; keys the tiles decide, malformed extents and
// an existing archive are refused. Keys without a tile still make an
// archive, one without tiles (not an empty file that answered Done).
TEST_F(PmtilesWrite, WritesTheGivenMetadataForTheReferenceReader) {
    const MetadataExtension* table = PmtilesMetadata();
    ASSERT_NE(table, nullptr);
    ASSERT_NE(table->WriteMetadata, nullptr);
    const Tiles tiles = ReadStorage(MBTILES_PLUGIN, FIXTURE_DIR "/mapproxy-debug.mbtiles");
    for (const bool withTiles : {true, false}) {
    SCOPED_TRACE(withTiles ? "with tiles" : "without a tile");
    const Tiles source = withTiles ? tiles : Tiles{};
    const std::string path = dir_ / (withTiles ? "described.pmtiles" : "untiled.pmtiles");
    WriteFile(path, "");
    struct Step {
        const char* key;
        const char* value; // null: delete
        uint32_t result;
    };
    const Step steps[] = {
        {"name", "World", kDone},
        {"type", "overlay", kDone},
        {"description", "Test", kDone},
        {"attribution", "\u00a9 OSM \"contributors\"", kDone},
        {"bounds", "-10,-20,30,40", kDone},
        {"center", "5,10,3", kDone},
        {"vector_layers", "[{\"id\":\"a\"}]", kDone},
        {"version", "[1.1", kDone}, // not JSON: a string
        {"type", nullptr, kDone},
        {"type", nullptr, Empty},
        {"minzoom", "3", kFailed},
        {"header.tile_type", "png", kFailed},
        {"bounds", "-10,-20,30", kFailed},
        {"center", "5,95", kFailed},
    };
    {
        Action action(plugin_);
        ASSERT_TRUE(action.Open(path)) << action.ErrorText();
        for (const Step& step : steps)
            EXPECT_EQ(table->WriteMetadata(action.Raw(), step.key, step.value), step.result) << step.key;
        for (const auto& [plate, bytes] : source)
            ASSERT_EQ(action.Store(plate, bytes), kDone) << plate;
    }
    const Reference reference = ReadWithReference(path, {plate_key::Name({0, 0, 0})}, dir_);
    ASSERT_TRUE(reference.ran);
    EXPECT_EQ(reference.tiles.size(), withTiles ? 1u : 0u);
    EXPECT_EQ(reference.metadata, std::string(withTiles ? "{\"format\":\"png\"," : "{") +
                                  "\"name\":\"World\",\"description\":\"Test\","
                                  "\"attribution\":\"\u00a9 OSM \\\"contributors\\\"\",\"vector_layers\":[{\"id\":\"a\"}],"
                                  "\"version\":\"[1.1\"}");
    const std::string& h = reference.header;
    const std::pair<const char*, double> fields[] = {{"minLon", -10}, {"minLat", -20}, {"maxLon", 30},
                                                     {"maxLat", 40},  {"centerLon", 5}, {"centerLat", 10},
                                                     {"centerZoom", 3}};
    for (const auto& [field, value] : fields)
        EXPECT_NEAR(JsonNumber(h, field), value, 1e-7) << field << " in " << h;

    // Written whole: the finished archive's keys stay as they are.
    Action action(plugin_);
    ASSERT_TRUE(action.Open(path)) << action.ErrorText();
    EXPECT_EQ(table->WriteMetadata(action.Raw(), "name", "Other"), kFailed);
    EXPECT_NE(action.ErrorText().find("written whole"), std::string::npos) << action.ErrorText();
    std::vector<Plate> plates;
    EXPECT_EQ(action.Enumerate(&plates), withTiles ? kDone : static_cast<uint32_t>(Empty)) << action.ErrorText();
    EXPECT_EQ(plates.size(), source.size());
    }
}

} // namespace
} // namespace storage_test
