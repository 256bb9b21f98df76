// The S3 plugin against a real object store: the one-node gateway that
// scripts/object-store.sh starts for the run (the ctest fixture
// object_store), or the endpoint AWS_ENDPOINT_URL names. The settings come
// from the file OBJECT_STORE_ENV names; without a store the tests skip.
#include "plugin_host.h"
#include "pmtiles_writer.h"
#include "s3_client.h"
#include "s3_storage.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

using namespace storage_test;

namespace {

// Reads the fixture's settings into this process's environment, which the
// plugin and the tool started from here read. Empty when a store is there,
// else why not.
std::string LoadStoreSettings()
{
    const char* file = std::getenv("OBJECT_STORE_ENV");
    if (file == nullptr)
        file = OBJECT_STORE_ENV;
    std::ifstream in(file);
    if (!in)
        return std::string("no object store settings in ") + file + " (run the tests through ctest)";
    std::string line, unavailable;
    while (std::getline(in, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        // printf %q quotes a value with blanks as $'...' or with backslashes.
        if (value.size() >= 3 && value.compare(0, 2, "$'") == 0)
            value = value.substr(2, value.size() - 3);
        std::string plain;
        for (size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            plain += value[i];
        }
        if (name == "OBJECT_STORE_UNAVAILABLE")
            unavailable = plain;
        else
            setenv(name.c_str(), plain.c_str(), 1);
    }
    return unavailable;
}

// A bucket of its own for each test, removed with its objects at the end.
std::string NewBucketName()
{
    static std::atomic<int> counter{0};
    std::random_device random;
    return "ulmora-test-" + std::to_string(getpid()) + "-" + std::to_string(random() % 100000) + "-" +
           std::to_string(++counter);
}

class S3Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        static const std::string unavailable = LoadStoreSettings();
        if (!unavailable.empty())
            GTEST_SKIP() << "no object store: " << unavailable;
        client_ = std::make_unique<s3::Client>(s3::ConfigFromEnvironment());
        bucket_ = NewBucketName();
        std::string error;
        ASSERT_TRUE(client_->CreateBucket(bucket_, &error)) << error;
    }

    void TearDown() override
    {
        if (!client_)
            return;
        // Empty the bucket, then remove it.
        for (int round = 0; round < 20; ++round) {
            s3::ListPage page;
            std::string error;
            if (!client_->List(bucket_, "", "", 1000, &page, &error) || page.objects.empty())
                break;
            std::vector<std::string> keys, failed;
            for (const s3::Object& object : page.objects)
                keys.push_back(object.key);
            client_->DeleteObjects(bucket_, keys, &failed, &error);
        }
        std::string error;
        EXPECT_TRUE(client_->DeleteBucket(bucket_, &error)) << error;
    }

    std::string Url(const std::string& prefix) const { return "s3://" + bucket_ + "/" + prefix; }

    std::vector<std::string> Keys(const std::string& prefix)
    {
        std::vector<std::string> keys;
        std::string token, error;
        do {
            s3::ListPage page;
            if (!client_->List(bucket_, prefix, token, 1000, &page, &error)) {
                ADD_FAILURE() << error;
                break;
            }
            for (const s3::Object& object : page.objects)
                keys.push_back(object.key);
            token = page.nextToken;
        } while (!token.empty());
        return keys;
    }

    std::unique_ptr<s3::Client> client_;
    std::string bucket_;
};

struct CliRun {
    int code = -1;
    std::string out;
};

// ulmora-cli with `arguments` (already quoted for the shell) and standard
// error joined to the output.
CliRun Cli(const std::string& arguments, const std::string& environment = "")
{
    CliRun run;
    const std::string command = environment + " '" CLI_TOOL "' " + arguments + " 2>&1 </dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// Every plate of a storage with its data, through its plugin.
std::map<std::string, std::string> AllPlates(const LoadedPlugin& plugin, const std::string& path)
{
    std::map<std::string, std::string> plates;
    Action action(plugin);
    if (!action.Open(path)) {
        ADD_FAILURE() << "cannot open " << path << ": " << action.ErrorText();
        return plates;
    }
    std::vector<Plate> listed;
    const uint32_t listing = action.Enumerate(&listed);
    EXPECT_TRUE(listing == Done || listing == Empty) << action.ErrorText();
    for (const Plate& plate : listed) {
        std::string data;
        EXPECT_EQ(action.GetPlateData(plate.name, &data), Done) << plate.name << ": " << action.ErrorText();
        EXPECT_EQ(data.size(), plate.size) << plate.name;
        plates[plate.name] = data;
    }
    return plates;
}

// A distinct small PNG-looking block for a plate.
std::string PngFor(const std::string& name) { return std::string("\x89PNG\r\n\x1a\n", 8) + name; }

} // namespace

TEST(S3UrlTest, CanonicalQueryAndUrls)
{
    // Sorted by name, values encoded per RFC 3986 ('/' too), a bare name
    // keeps its '=': what the gateway signs and compares.
    EXPECT_EQ(s3::CanonicalQuery({{"prefix", "a/b c"}, {"list-type", "2"}, {"continuation-token", "x+y/z="}}),
              "continuation-token=x%2By%2Fz%3D&list-type=2&prefix=a%2Fb%20c");
    EXPECT_EQ(s3::CanonicalQuery({{"delete", ""}}), "delete=");
    EXPECT_EQ(s3::Encode("tiles/3/2/1.png", true), "tiles/3/2/1.png");
    std::string bucket, prefix;
    EXPECT_TRUE(s3::SplitUrl("s3://bkt/a/b/", &bucket, &prefix));
    EXPECT_EQ(bucket, "bkt");
    EXPECT_EQ(prefix, "a/b");
    EXPECT_TRUE(s3::SplitUrl("s3://bkt", &bucket, &prefix));
    EXPECT_EQ(prefix, "");
    EXPECT_FALSE(s3::SplitUrl("s3:///tiles", &bucket, &prefix));
    EXPECT_FALSE(s3::SplitUrl("/tmp/tiles", &bucket, &prefix));
}

// MBTiles -> bucket -> MBTiles with ulmora-cli, which picks the plugin by the
// s3:// scheme; every tile comes back as it went, and the metadata with it
// (in a metadata.json object, as a tree on disk keeps it).
TEST_F(S3Test, RoundTripThroughTheCli)
{
    TempDir dir;
    const std::string world = dir / "world.mbtiles";
    WriteFile(world, ReadFile(std::string(FIXTURE_DIR) + "/gdal-world.mbtiles"));
    const CliRun set = Cli("meta '" + world + "' --set 'attribution=\u00a9 Ulmora \"test\"'");
    ASSERT_EQ(set.code, 0) << set.out;
    const CliRun up = Cli("copy '" + world + "' '" + Url("world") + "'");
    ASSERT_EQ(up.code, 0) << up.out;
    EXPECT_NE(up.out.find("21 of 21 plates copied"), std::string::npos) << up.out;
    // z/x/y keys below the prefix, and the description beside them.
    const std::vector<std::string> keys = Keys("world/");
    EXPECT_EQ(keys.size(), 22u);
    EXPECT_NE(std::find(keys.begin(), keys.end(), "world/0/0/0.jpg"), keys.end());
    EXPECT_NE(std::find(keys.begin(), keys.end(), "world/metadata.json"), keys.end());
    // The same object a tree on disk gets.
    const std::string tree = dir / "tree";
    const CliRun toTree = Cli("copy '" + world + "' '" + tree + "'");
    ASSERT_EQ(toTree.code, 0) << toTree.out;
    std::string object, error;
    bool found = false;
    ASSERT_TRUE(client_->Get(bucket_, "world/metadata.json", &object, &found, &error)) << error;
    EXPECT_TRUE(found);
    EXPECT_EQ(object, ReadFile(tree + "/metadata.json"));
    const CliRun meta = Cli("meta '" + Url("world") + "'");
    EXPECT_EQ(meta.code, 0) << meta.out;
    EXPECT_NE(meta.out.find("attribution\t\u00a9 Ulmora \"test\"\n"), std::string::npos) << meta.out;

    const std::string back = dir / "back.mbtiles";
    const CliRun down = Cli("copy '" + Url("world") + "' '" + back + "'");
    ASSERT_EQ(down.code, 0) << down.out;
    EXPECT_NE(down.out.find("21 of 21 plates copied"), std::string::npos) << down.out;

    LoadedPlugin mbtiles(MBTILES_PLUGIN);
    ASSERT_EQ(mbtiles.LoadError(), "");
    const auto original = AllPlates(mbtiles, world);
    EXPECT_EQ(original.size(), 21u);
    EXPECT_EQ(AllPlates(mbtiles, back), original);
    const CliRun kept = Cli("meta '" + back + "'");
    EXPECT_EQ(kept.code, 0) << kept.out;
    for (const char* line : {"\nname\tUlmora test world\n", "\ndescription\tgdal-world\n",
                             "\nattribution\t\u00a9 Ulmora \"test\"\n", "\nbounds\t-180,-85.0511287798,180,85.0511287798\n",
                             "\nminzoom\t0\n", "\nmaxzoom\t2\n"})
        EXPECT_NE(("\n" + kept.out).find(line), std::string::npos) << "missing" << line << "in\n" << kept.out;
    EXPECT_EQ(kept.out.find("scheme"), std::string::npos) << kept.out;

    const CliRun list = Cli("list '" + Url("world") + "'");
    EXPECT_EQ(list.code, 0) << list.out;
    EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), 21) << list.out;
}

// More keys than one listing page (1000) come back whole; deleting one zoom
// (1024 plates: a full DeleteObjects batch and a rest sent at Close) leaves
// the others.
TEST_F(S3Test, ManyPagesAndDeleteByZoom)
{
    LoadedPlugin plugin(S3_PLUGIN);
    ASSERT_EQ(plugin.LoadError(), "");
    std::map<std::string, std::string> stored;
    {
        Action action(plugin);
        ASSERT_TRUE(action.Open(Url("many"))) << action.ErrorText();
        for (uint32_t z : {2u, 5u}) {
            for (uint32_t x = 0; x < (1u << z); ++x) {
                for (uint32_t y = 0; y < (1u << z); ++y) {
                    const std::string name = plate_key::Name({z, x, y});
                    ASSERT_EQ(action.Store(name, PngFor(name)), Done) << action.ErrorText();
                    stored[name] = PngFor(name);
                }
            }
        }
    }
    ASSERT_EQ(stored.size(), 16u + 1024u);
    EXPECT_EQ(AllPlates(plugin, Url("many")), stored);

    const CliRun removed = Cli("delete '" + Url("many") + "' --levels 6 --yes");
    EXPECT_EQ(removed.code, 0) << removed.out;
    std::map<std::string, std::string> left;
    for (const auto& [name, data] : stored) {
        if (name.size() != 6)
            left[name] = data;
    }
    EXPECT_EQ(AllPlates(plugin, Url("many")), left);
    EXPECT_EQ(Keys("many/").size(), 16u);
}

// Stores go out in parallel batches, the last at Close: PUTs the store
// refuses (a bucket policy denies one zoom's keys) are never counted as
// copied, though their stores were answered before their batch went out.
// The last plate stored (2/3/3) goes out only when all others went in, so
// that the copy's check of it tells whether every plate is there.
TEST_F(S3Test, RefusedPutsAreNotCountedCopied)
{
    TempDir dir;
    const std::string world = dir / "world.mbtiles";
    WriteFile(world, ReadFile(std::string(FIXTURE_DIR) + "/gdal-world.mbtiles"));
    struct Case {
        const char* zoom; // denied
        size_t copied;
    };
    const Case cases[] = {
        {"1", 21 - 4 - 1}, // the last plate held back: some failed before it
        {"2", 21 - 16},    // the last plate is among the refused
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zoom);
        const std::string zoom = c.zoom;
        std::vector<s3::Request> policy(1);
        policy[0].method = "PUT";
        policy[0].url = std::string(std::getenv("AWS_ENDPOINT_URL")) + "/" + bucket_ + "?policy=";
        policy[0].body = R"({"Version":"2012-10-17","Statement":[{"Effect":"Deny","Principal":"*",)"
                         R"("Action":"s3:PutObject","Resource":"arn:aws:s3:::)" +
                         bucket_ + "/" + zoom + "/" + zoom + "/*\"}]}";
        client_->SendAll(&policy);
        ASSERT_TRUE(policy[0].response.status == 200 || policy[0].response.status == 204)
            << policy[0].response.status << " " << policy[0].response.body;
        const CliRun run = Cli("copy '" + world + "' '" + Url(zoom) + "'");
        EXPECT_NE(run.code, 0) << run.out;
        EXPECT_NE(run.out.find(std::to_string(c.copied) + " of 21 plates copied"), std::string::npos) << run.out;
        // The plates' keys; the tree's metadata.json beside them is no plate.
        std::vector<std::string> keys = Keys(zoom + "/");
        std::erase(keys, zoom + "/metadata.json");
        EXPECT_EQ(keys.size(), c.copied);
    }
}

// A plate stored again with another image type replaces the old object;
// reads after deletions answered Done see them; a key of another layout is
// not a plate.
TEST_F(S3Test, StoreReplacesAndReadsSeeDeletions)
{
    LoadedPlugin plugin(S3_PLUGIN);
    Action action(plugin);
    ASSERT_TRUE(action.Open(Url("t?layout=tms"))) << action.ErrorText();
    ASSERT_EQ(action.Store("tq", PngFor("tq")), Done) << action.ErrorText();
    const std::string jpeg("\xff\xd8\xff\xe0jpeg", 8);
    ASSERT_EQ(action.Store("tq", jpeg), Done) << action.ErrorText();
    action.Close(); // stores are sent together; closing sends them all
    EXPECT_EQ(Keys("t/"), std::vector<std::string>{"t/1/0/1.jpg"}); // TMS: rows from the bottom
    std::string error;
    ASSERT_TRUE(client_->Put(bucket_, "t/notes.txt", "x", &error)) << error;
    ASSERT_TRUE(client_->Put(bucket_, "t/1/5/0.png", "x", &error)) << error; // column outside zoom 1

    Action fresh(plugin); // knows no keys yet: looks them up
    ASSERT_TRUE(fresh.Open(Url("t?layout=tms"))) << fresh.ErrorText();
    std::string data;
    EXPECT_EQ(fresh.GetPlateData("tq", &data), Done) << fresh.ErrorText();
    EXPECT_EQ(data, jpeg);
    EXPECT_EQ(fresh.Delete("tq"), Done) << fresh.ErrorText();
    EXPECT_EQ(fresh.GetPlateData("tq", &data), Failed); // as a missing file: Empty would be a plate there
    EXPECT_EQ(fresh.Delete("tq"), Failed);
    std::vector<Plate> plates;
    EXPECT_EQ(fresh.Enumerate(&plates), Empty) << fresh.ErrorText();
}

// Failures say what is wrong, end ulmora-cli with code 3 and report nothing
// done: a missing bucket, refused keys, an endpoint nobody answers on.
TEST_F(S3Test, ClearFailures)
{
    TempDir dir;
    const std::string world = dir / "world.mbtiles";
    WriteFile(world, ReadFile(std::string(FIXTURE_DIR) + "/gdal-world.mbtiles"));
    struct Case {
        const char* what;
        std::string arguments;
        std::string environment;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"list a missing bucket", "list 's3://" + bucket_ + "-missing/t'", "", "No such bucket"},
        {"copy into a missing bucket", "copy '" + world + "' 's3://" + bucket_ + "-missing/t'", "", "No such bucket"},
        {"a wrong secret key", "list '" + Url("t") + "'", "AWS_SECRET_ACCESS_KEY=wrong", "Access denied"},
        {"an unknown access key", "copy '" + world + "' '" + Url("t") + "'", "AWS_ACCESS_KEY_ID=nobody",
         "Access denied"},
        {"no keys at all", "list '" + Url("t") + "'", "AWS_ACCESS_KEY_ID= AWS_SECRET_ACCESS_KEY=", "Access denied"},
        {"an endpoint nobody answers on", "copy '" + world + "' '" + Url("t") + "'",
         "AWS_ENDPOINT_URL=http://127.0.0.1:9", "Cannot reach the object store"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto start = std::chrono::steady_clock::now();
        // In a folder of its own: a path taken for a local one would appear there as "s3:".
        const CliRun run = Cli(c.arguments, "cd '" + dir.Path() + "' && " + c.environment);
        EXPECT_EQ(access((dir / "s3:").c_str(), F_OK), -1);
        EXPECT_EQ(run.code, 3) << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("plates copied"), std::string::npos) << run.out;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    }
    EXPECT_TRUE(Keys("").empty());
}

namespace {

// A PMTiles archive of every tile of zooms 0 to `maxZoom`, each its own
// bytes, with leaf directories of 50 entries, uncompressed: with zoom 6
// they reach past the first block a remote reader fetches, so a listing
// reads them by range.
struct Archive {
    std::string bytes;
    std::map<std::string, std::string> plates;
};

Archive MakeArchive(uint32_t maxZoom, const std::string& tag)
{
    std::map<uint64_t, std::string> byId;
    for (uint32_t z = 0; z <= maxZoom; ++z)
        for (uint32_t x = 0; x < (1u << z); ++x)
            for (uint32_t y = 0; y < (1u << z); ++y)
                byId[pmtiles_writer::TileId(z, x, y)] = plate_key::Name({z, x, y});
    Archive archive;
    std::vector<pmtiles_writer::Entry> entries;
    std::string data;
    for (const auto& [id, name] : byId) {
        const std::string bytes = PngFor(name + tag);
        entries.push_back({id, data.size(), bytes.size(), 1});
        data += bytes;
        archive.plates[name] = bytes;
    }
    pmtiles_writer::Options options;
    options.gzip = false;
    options.leafSize = 50;
    archive.bytes = pmtiles_writer::ArchiveHead(entries, data.size(), options) + data;
    return archive;
}

} // namespace

// An archive in a bucket is read by range requests: with the bucket's keys
// at s3://, and, once public, by plain HTTP without them (path-style, as
// the gateway serves it); ulmora-cli picks the plugin by either scheme. A
// private object is not readable by HTTP: no bucket credentials go there.
TEST_F(S3Test, PmtilesArchiveFromTheBucketAndByPlainHttp)
{
    LoadedPlugin plugin(S3_PLUGIN);
    ASSERT_EQ(plugin.LoadError(), "");
    // Its tiles lie past the first block: read by range.
    const Archive archive = MakeArchive(5, "");
    ASSERT_GT(archive.bytes.size(), size_t{16384});
    const std::string peer = std::string(FIXTURE_DIR) + "/pmtiles/stamen-toner-raster-z3.pmtiles";
    std::string error;
    ASSERT_TRUE(client_->Put(bucket_, "private/a.pmtiles", archive.bytes, &error)) << error;
    ASSERT_TRUE(client_->Put(bucket_, "public/a.pmtiles", archive.bytes, &error, {"x-amz-acl: public-read"}))
        << error;
    ASSERT_TRUE(client_->Put(bucket_, "public/toner.pmtiles", ReadFile(peer), &error, {"x-amz-acl: public-read"}))
        << error;
    const std::string http = std::string(std::getenv("AWS_ENDPOINT_URL")) + "/" + bucket_ + "/";

    LoadedPlugin pmtiles(PMTILES_PLUGIN);
    ASSERT_EQ(pmtiles.LoadError(), "");
    TempDir dir;
    WriteFile(dir / "toner.pmtiles", ReadFile(peer));
    const auto toner = AllPlates(pmtiles, dir / "toner.pmtiles");
    ASSERT_FALSE(toner.empty());

    struct Case {
        const char* what;
        std::string path;
        const std::map<std::string, std::string>* plates;
    };
    const std::vector<Case> cases = {
        {"signed, from the bucket", Url("private/a.pmtiles"), &archive.plates},
        {"plain http, public", http + "public/a.pmtiles", &archive.plates},
        {"a peer-written archive by http", http + "public/toner.pmtiles", &toner},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(AllPlates(plugin, c.path), *c.plates);
        const CliRun list = Cli("list '" + c.path + "'");
        EXPECT_EQ(list.code, 0) << list.out;
        EXPECT_EQ(std::count(list.out.begin(), list.out.end(), '\n'), static_cast<long>(c.plates->size()));
    }

    // Read-only; private objects are not read by plain http, nor by s3://
    // without keys.
    Action action(plugin);
    ASSERT_TRUE(action.Open(http + "public/a.pmtiles")) << action.ErrorText();
    EXPECT_EQ(action.Store("t", PngFor("t")), Failed);
    EXPECT_NE(action.ErrorText().find("read-only"), std::string::npos) << action.ErrorText();
    EXPECT_FALSE(action.Open(http + "private/a.pmtiles"));
    EXPECT_NE(action.ErrorText().find("Access denied"), std::string::npos) << action.ErrorText();
    const CliRun anonymous = Cli("list '" + Url("private/a.pmtiles") + "'", "AWS_ACCESS_KEY_ID= AWS_SECRET_ACCESS_KEY=");
    EXPECT_EQ(anonymous.code, 3) << anonymous.out;
    EXPECT_NE(anonymous.out.find("Access denied"), std::string::npos) << anonymous.out;
    EXPECT_FALSE(action.Open(Url("missing.pmtiles")));
    EXPECT_NE(action.ErrorText().find("No such object"), std::string::npos) << action.ErrorText();
}

// An archive replaced while it is open fails the reads that reach the new
// bytes, a listing too: its directories and tiles are never mixed with the
// old ones. Directories read once are not asked for again.
TEST_F(S3Test, PmtilesArchiveReplacedWhileOpenIsAnError)
{
    LoadedPlugin plugin(S3_PLUGIN);
    const Archive first = MakeArchive(6, "");
    const Archive second = MakeArchive(6, "-second");
    std::string error;
    ASSERT_TRUE(client_->Put(bucket_, "a.pmtiles", first.bytes, &error)) << error;
    Action listed(plugin), fresh(plugin);
    ASSERT_TRUE(listed.Open(Url("a.pmtiles"))) << listed.ErrorText();
    ASSERT_TRUE(fresh.Open(Url("a.pmtiles"))) << fresh.ErrorText();
    std::vector<Plate> plates;
    ASSERT_EQ(listed.Enumerate(&plates), Done) << listed.ErrorText();
    ASSERT_EQ(plates.size(), first.plates.size());

    ASSERT_TRUE(client_->Put(bucket_, "a.pmtiles", second.bytes, &error)) << error;
    std::string data;
    EXPECT_EQ(listed.GetPlateData("tqqqqq", &data), Failed);
    EXPECT_NE(listed.ErrorText().find("changed while it was read"), std::string::npos) << listed.ErrorText();
    // Its directories are all in memory: listing again needs no request.
    EXPECT_EQ(listed.Enumerate(&plates), Done) << listed.ErrorText();
    EXPECT_EQ(plates.size(), first.plates.size());
    EXPECT_EQ(fresh.Enumerate(&plates), Failed);
    EXPECT_NE(fresh.ErrorText().find("changed while it was read"), std::string::npos) << fresh.ErrorText();
    // Opened again, it is the new archive.
    Action again(plugin);
    ASSERT_TRUE(again.Open(Url("a.pmtiles"))) << again.ErrorText();
    EXPECT_EQ(again.GetPlateData("tqqqqq", &data), Done) << again.ErrorText();
    EXPECT_EQ(data, second.plates.at("tqqqqq"));
}

// The shared credentials and config files, with AWS_PROFILE, as every S3
// tool reads them (a HOME of its own); the environment's settings win over
// theirs, and without keys anywhere the requests go unsigned.
TEST_F(S3Test, SharedCredentialsAndConfigFiles)
{
    std::string error;
    ASSERT_TRUE(client_->Put(bucket_, "t/0/0/0.png", PngFor("t"), &error)) << error;
    const std::string endpoint = std::getenv("AWS_ENDPOINT_URL");
    const std::string key = std::getenv("AWS_ACCESS_KEY_ID");
    const std::string secret = std::getenv("AWS_SECRET_ACCESS_KEY");
    TempDir home, bare;
    std::filesystem::create_directories(home / ".aws");
    WriteFile(home / ".aws/config", "[default]\nregion = us-east-1\nendpoint_url = " + endpoint +
                                        "\n\n[profile ulmora]\nendpoint_url=" + endpoint +
                                        "/\n[profile broken]\n  endpoint_url = " + endpoint + "\n");
    WriteFile(home / ".aws/credentials", "# keys\n[default]\naws_access_key_id = " + key +
                                             "\naws_secret_access_key = " + secret + "\n[ulmora]\nAWS_ACCESS_KEY_ID=" +
                                             key + "\naws_secret_access_key=" + secret +
                                             "\n[broken]\naws_access_key_id = " + key +
                                             "\naws_secret_access_key = wrong\n");
    const std::string clean = "env -u AWS_ENDPOINT_URL -u AWS_ACCESS_KEY_ID -u AWS_SECRET_ACCESS_KEY -u AWS_REGION "
                              "-u AWS_DEFAULT_REGION -u AWS_SESSION_TOKEN -u AWS_PROFILE ";
    const std::string envKeys = "AWS_ACCESS_KEY_ID=" + key + " AWS_SECRET_ACCESS_KEY=" + secret;
    struct Case {
        const char* what;
        std::string environment;
        int code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"the default profile", "HOME=" + home.Path(), 0, "\tt\n"},
        {"a named profile", "HOME=" + home.Path() + " AWS_PROFILE=ulmora", 0, "\tt\n"},
        {"a profile with a wrong key", "HOME=" + home.Path() + " AWS_PROFILE=broken", 3, "Access denied"},
        {"the environment's keys win", "HOME=" + home.Path() + " AWS_PROFILE=broken " + envKeys, 0, "\tt\n"},
        {"the environment's endpoint wins", "HOME=" + home.Path() + " AWS_ENDPOINT_URL=http://127.0.0.1:9", 3,
         "Cannot reach the object store"},
        {"a profile that is nowhere", "HOME=" + home.Path() + " AWS_PROFILE=nobody", 3, "The profile \"nobody\""},
        {"no files: unsigned", "HOME=" + bare.Path() + " AWS_ENDPOINT_URL=" + endpoint, 3,
         "(no credentials given)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CliRun run = Cli("list '" + Url("t") + "'", clean + c.environment);
        EXPECT_EQ(run.code, c.code) << run.out;
        EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    }
}

namespace {

// The output of a shell command; empty when it failed.
std::string Shell(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    if (pclose(pipe) != 0)
        out.clear();
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// The fixture's second gateway on the same cluster, which a test may stop
// while the first goes on serving the others; stopped at the end.
class SecondGateway {
public:
    SecondGateway()
    {
        const char* file = std::getenv("OBJECT_STORE_ENV");
        env_ = file != nullptr ? file : OBJECT_STORE_ENV;
        if (ReadFile(env_).find("OBJECT_STORE_DIR=") != std::string::npos)
            url_ = Shell(Command("start"));
    }
    ~SecondGateway() { Stop(); }
    const std::string& Url() const { return url_; }
    void Stop()
    {
        if (!url_.empty())
            Shell(Command("stop") + " && echo stopped");
    }

private:
    std::string Command(const char* what) const
    {
        return "'" OBJECT_STORE_SCRIPT "' second-gateway " + std::string(what) + " '" + env_ + "' 2>/dev/null";
    }
    std::string env_;
    std::string url_;
};

// Sets an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { setenv(name_, old_.c_str(), 1); }

private:
    const char* name_;
    std::string old_;
};

} // namespace

// A gateway stopped midway through a listing fails it, after the retries,
// with the reason and without claiming the listing whole; stores answered
// before the stop whose batch could not go out leave the last store absent,
// so that a copy's check of it counts none of them stored.
TEST_F(S3Test, GatewayStoppedMidway)
{
    SecondGateway gateway;
    if (gateway.Url().empty())
        GTEST_SKIP() << "no local cluster whose gateway a test may stop";
    std::vector<s3::Request> puts;
    for (uint32_t x = 0; x < 2500; ++x) // three listing pages
        puts.push_back(client_->PutRequest(bucket_, "t/12/" + std::to_string(x) + "/0.png", PngFor("x")));
    client_->SendAll(&puts);
    for (const s3::Request& put : puts)
        ASSERT_EQ(put.response.status, 200) << put.url;

    LoadedPlugin plugin(S3_PLUGIN);
    ScopedEnv endpoint("AWS_ENDPOINT_URL", gateway.Url());
    Action listing(plugin), storing(plugin);
    ASSERT_TRUE(listing.Open(Url("t"))) << listing.ErrorText();
    ASSERT_TRUE(storing.Open(Url("new"))) << storing.ErrorText();
    // Stores: 300 (one batch of 256 sent), then the gateway stops.
    std::vector<std::string> names;
    for (uint32_t x = 0; x < 300; ++x) {
        names.push_back(plate_key::Name({12, x, 1}));
        ASSERT_EQ(storing.Store(names.back(), PngFor(names.back())), Done) << storing.ErrorText();
    }

    struct Seen {
        int plates = 0;
        SecondGateway* gateway;
    } seen{0, &gateway};
    const uint32_t result =
        listing.Raw()->functions->Enumerate(
            listing.Raw(), 0,
            [](void* cookie, int32_t, const char*, uint32_t, uint32_t) -> uint32_t {
                auto* s = static_cast<Seen*>(cookie);
                if (++s->plates == 1)
                    s->gateway->Stop();
                return 1;
            },
            2, &seen) &
        0xFFFF;
    EXPECT_EQ(result, Failed);
    EXPECT_EQ(seen.plates, 1000); // the first page, and no more
    EXPECT_NE(listing.ErrorText().find("Cannot reach the object store"), std::string::npos) << listing.ErrorText();
    // Once a request went unanswered through all its retries, later calls
    // fail at once rather than after the same pauses each (a copy of
    // thousands of plates would take hours to give up).
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t x = 0; x < 10; ++x) {
        std::string data;
        EXPECT_EQ(listing.GetPlateData(plate_key::Name({12, 3000 + x, 0}), &data), Failed);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // The batch that cannot go out fails the call that sends it, and the
    // last store answered is not in the bucket.
    EXPECT_EQ(storing.Store("tq", PngFor("tq")), Done); // collected, not sent yet
    std::string data;
    EXPECT_EQ(storing.GetPlateData("tq", &data), Failed); // sends the stores first
    EXPECT_NE(storing.ErrorText().find("Cannot reach the object store"), std::string::npos) << storing.ErrorText();
    storing.Close();
    const std::vector<std::string> stored = Keys("new/");
    EXPECT_EQ(stored.size(), 256u);
    EXPECT_EQ(std::find(stored.begin(), stored.end(), "new/1/0/1.png"), stored.end());
    EXPECT_EQ(std::find(stored.begin(), stored.end(), "new/12/299/1.png"), stored.end());
}

TEST(S3ChoiceTest, AnUnknownSchemeIsAnErrorAndMakesNoFolder)
{
    TempDir dir;
    const CliRun run = Cli("copy '" + std::string(FIXTURE_DIR) + "/gdal-world.mbtiles' 'gopher://host/tiles'",
                           "cd '" + dir.Path() + "' &&");
    EXPECT_EQ(run.code, 3) << run.out;
    EXPECT_NE(run.out.find("opens gopher:// paths"), std::string::npos) << run.out;
    EXPECT_EQ(access((dir / "gopher:").c_str(), F_OK), -1);
}

namespace {

// A one-connection-at-a-time HTTP server on 127.0.0.1 that answers its
// requests with the given replies in turn (the last one for the rest), for
// what a healthy store will not do on demand: fail with 503.
class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<std::string> replies) : replies_(std::move(replies))
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(listener_, 4);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer()
    {
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int Requests() const { return requests_; }

private:
    void Serve()
    {
        for (;;) {
            const int connection = accept(listener_, nullptr, nullptr);
            if (connection < 0)
                return;
            std::string request;
            char buffer[4096];
            ssize_t n;
            // Requests without a body: each ends with an empty line.
            while ((n = read(connection, buffer, sizeof buffer)) > 0) {
                request.append(buffer, static_cast<size_t>(n));
                size_t end;
                while ((end = request.find("\r\n\r\n")) != std::string::npos) {
                    request.erase(0, end + 4);
                    const std::string& reply = replies_[std::min<size_t>(requests_++, replies_.size() - 1)];
                    if (write(connection, reply.data(), reply.size()) < 0)
                        break;
                }
            }
            close(connection);
        }
    }

    std::vector<std::string> replies_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::thread thread_;
};

std::string Reply(const char* status, const std::string& body)
{
    return std::string("HTTP/1.1 ") + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

// 5xx answers and throttling are tried again with growing pauses; a store
// that keeps failing fails the call with its answer after the last attempt.
TEST(S3RetryTest, ServerErrorsAreRetriedThenReported)
{
    const std::string busy = Reply("503 Slow Down", "<Error><Code>SlowDown</Code><Message>slow</Message></Error>");
    const std::string listing = Reply("200 OK", "<ListBucketResult><IsTruncated>false</IsTruncated>"
                                                "<Contents><Key>t/0/0/0.png</Key><Size>7</Size></Contents>"
                                                "</ListBucketResult>");
    const std::string denied = Reply("403 Forbidden", "<Error><Code>AccessDenied</Code></Error>");
    struct Case {
        const char* what;
        std::vector<std::string> replies;
        bool ok;
        int requests;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"two busy answers, then the listing", {busy, busy, listing}, true, 3, ""},
        {"busy for good", {busy}, false, 4, "HTTP 503 SlowDown: slow"},
        {"refused: not tried again", {denied, listing}, false, 1, "Access denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.replies);
        s3::Config config;
        config.endpoint = server.Url();
        config.accessKey = "key";
        config.secretKey = "secret";
        s3::Client client(config);
        client.SetRetries(4, 10);
        s3::ListPage page;
        std::string error;
        EXPECT_EQ(client.List("bkt", "t/", "", 1000, &page, &error), c.ok) << error;
        EXPECT_EQ(server.Requests(), c.requests);
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        if (c.ok) {
            ASSERT_EQ(page.objects.size(), 1u);
            EXPECT_EQ(page.objects[0].key, "t/0/0/0.png");
            EXPECT_EQ(page.objects[0].size, 7u);
        }
    }
}
