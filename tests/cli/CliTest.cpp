// ulmora-cli as a program: command lines against small real storages, their
// output, exit codes and the files they leave.
#include "CliRun.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using cli_test::Outcome;
using cli_test::Sql;

// Starts the tool with its output in files of `folder`, and `environment`
// ("NAME=value") added to this process's; the caller waits.
pid_t Start(const TempFolder& folder, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment = {})
{
    std::vector<std::string> all{CLI_TOOL};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, folder.File("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, folder.File("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> variables = environment;
    std::vector<char*> envp;
    for (char** variable = environ; *variable != nullptr; ++variable)
        envp.push_back(*variable);
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, CLI_TOOL, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// The exit code of a run that hung and was killed.
constexpr int kHung = -2;

// Waits for the tool, at most a minute; a run that takes longer is killed
// and its code is kHung, a run ended by a signal -1.
Outcome Finish(const TempFolder& folder, pid_t pid)
{
    Outcome outcome;
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; pid > 0 && i < 6000 && (ended = waitpid(pid, &status, WNOHANG)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (pid > 0 && ended == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        outcome.code = kHung;
    } else if (ended == pid && WIFEXITED(status)) {
        outcome.code = WEXITSTATUS(status);
    }
    outcome.out = ReadWholeFile(folder.File("stdout"));
    outcome.err = ReadWholeFile(folder.File("stderr"));
    return outcome;
}

Outcome RunCli(const TempFolder& folder, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {})
{
    return Finish(folder, Start(folder, arguments, environment));
}

int Lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::string World(const TempFolder& folder)
{
    const std::string copy = folder.File("world.mbtiles");
    fs::copy_file(FIXTURE_MBTILES, copy, fs::copy_options::overwrite_existing);
    return copy;
}

struct Case {
    const char* what;
    std::vector<std::string> arguments; // "@" stands for a copy of the fixture
    int code;
    std::vector<std::string> out; // texts stdout must hold
    std::vector<std::string> err; // texts stderr must hold
    int outLines = -1;            // -1: not checked
};

} // namespace

TEST(CliTest, CommandLines)
{
    // gdal-world.mbtiles: zoom 0 to 2, 21 JPEG tiles written by GDAL; the
    // folder trees cover Europe, zoom 0 to 3.
    const std::string trees = (fs::path(FIXTURE_MBTILES).parent_path() / "folders").string();
    const std::vector<Case> cases = {
        {"info says how a folder is read", {"info", trees + "/mapproxy-tc-nw"}, 0,
         {"note     layout: tc, rows from the top (mapproxy.yaml: cache c_tc-nw, grid GLOBAL_WEBMERCATOR)\n"}, {}},
        {"and when it is assumed", {"info", trees + "/gdal-xyz", "--json"}, 0,
         {"\"notice\":\"layout: xyz, rows from the top (assumed: nothing tells the rows' order)\""}, {}},
        {"copy from a folder says it too", {"copy", trees + "/mapproxy-tms", "out.mbtiles"}, 0, {},
         {"layout: tms, rows from the bottom (mapproxy.yaml", "9 of 9 plates copied"}},
        {"a compact cache by its path", {"list", trees + "/mapproxy-compact", "--z", "1"}, 0, {"\ttq\n", "\ttr\n"}, {}, 2},
        {"plugins with flags", {"plugins"}, 0, {"mbtiles", "Uses file, ReadWrite", "folder", "Uses dir"}, {}},
        {"info per level", {"info", "@"}, 0, {"    1   0            1", "    3   2           16", "total", "JPEG", "100.0%"}, {}},
        {"info as JSON", {"info", "@", "--json", "--formats", "all"}, 0,
         {"\"level\":3,\"z\":2,\"plates\":16", "\"JPEG\":16", "\"total\":{\"plates\":21"}, {}, 1},
        {"list everything", {"list", "@"}, 0, {"\tt\n"}, {}, 21},
        {"list a level", {"list", "@", "--levels", "2"}, 0, {"\t2\t10944\ttr\n"}, {}, 4},
        {"z counts from 0", {"list", "@", "--z=1"}, 0, {"\ttr\n"}, {}, 4},
        {"z up to 1", {"list", "@", "--z", "-1"}, 0, {"\tt\n", "\ttr\n"}, {}, 5},
        {"the deepest level", {"list", "@", "--levels", "31"}, 0, {}, {}, 0},
        {"a quadtree area", {"list", "@", "--prefix", "tq"}, 0, {"\ttq\n", "\ttqt\n"}, {}, 5},
        {"two areas and levels", {"list", "@", "--prefix", "tq,ts", "--levels", "3-"}, 0, {"\ttsq\n"}, {}, 8},
        {"a box over Europe", {"list", "@", "--bbox", "-10,35,30,60"}, 0, {"\tt\n", "\ttq\n", "\ttr\n", "\ttqs\n", "\ttrt\n"}, {}, 5},
        {"list as JSON lines", {"list", "@", "--levels", "1", "--json"}, 0, {"{\"n\":", "\"level\":1,\"size\":10945,\"name\":\"t\",\"z\":0,\"x\":0,\"y\":0}"}, {}, 1},
        {"JSON lines give z/x/y, rows from the top", {"list", "@", "--prefix", "tqs", "--json"}, 0,
         {"\"name\":\"tqs\",\"z\":2,\"x\":1,\"y\":1}"}, {}, 1},
        {"copy dry run", {"copy", "@", "out.mbtiles", "--dry-run"}, 0, {"would copy 21 plates", "123.3 KiB"}, {}},
        {"help of a command", {"verify", "--help"}, 0, {"Usage: ulmora-cli verify", "Examples:", "130", "level 1 is the whole"}, {}},
        {"help of the tool", {"--help"}, 0, {"info", "list", "verify", "copy", "plugins", "Exit codes"}, {}},
        {"no command", {}, 2, {}, {"no command given"}},
        {"unknown command", {"shrink", "@"}, 2, {}, {"unknown command shrink"}},
        {"missing storage argument", {"info"}, 2, {}, {"info wants STORAGE"}},
        {"bad level range", {"list", "@", "--levels", "8-3"}, 2, {}, {"--levels wants levels like 3-8"}},
        {"bad box", {"list", "@", "--bbox", "10,20,5"}, 2, {}, {"--bbox wants WEST,SOUTH,EAST,NORTH"}},
        {"another command's option", {"info", "@", "--dry-run"}, 2, {}, {"not one of info's"}},
        {"missing storage file", {"info", "nothing.mbtiles"}, 3, {}, {"Error initialize storage data \"nothing.mbtiles\""}},
        {"unknown extension", {"info", "world.xyz"}, 3, {}, {"opens .xyz files: name one with --plugin"}},
        {"unknown plugin", {"info", "@", "--plugin", "pmtiles9"}, 3, {}, {"no plugin named pmtiles9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string world = World(folder);
        std::vector<std::string> arguments;
        for (const std::string& argument : c.arguments)
            arguments.push_back(argument == "@" ? world : argument);
        fs::current_path(folder.Path());
        const Outcome outcome = RunCli(folder, arguments);
        EXPECT_EQ(outcome.code, c.code) << outcome.err;
        for (const std::string& text : c.out)
            EXPECT_NE(outcome.out.find(text), std::string::npos) << "missing " << text << " in\n" << outcome.out;
        for (const std::string& text : c.err)
            EXPECT_NE(outcome.err.find(text), std::string::npos) << "missing " << text << " in\n" << outcome.err;
        if (c.outLines >= 0) {
            EXPECT_EQ(Lines(outcome.out), c.outLines) << outcome.out;
        }
        fs::current_path(fs::temp_directory_path());
    }
}

TEST(CliTest, VerifyFindsBrokenPlatesAndWritesTheirNames)
{
    TempFolder folder;
    const std::string world = World(folder);
    // tq (zoom 1, 0/0 counted from the top: TMS row 1): not an image; tr: an
    // empty blob; t: a 1 x 1 PNG.
    Sql(world, "UPDATE tiles SET tile_data = X'FFD8FFE000104A46' WHERE zoom_level = 1 AND tile_column = 0 AND tile_row = 1;"
               "UPDATE tiles SET tile_data = X'' WHERE zoom_level = 1 AND tile_column = 1 AND tile_row = 1;"
               "UPDATE tiles SET tile_data = X'89504E470D0A1A0A0000000D4948445200000001000000010802000000907753DE"
               "0000000C49444154789C63F8CFC0000003010100C9FE92EF0000000049454E44AE426082' WHERE zoom_level = 0;");
    const std::string names = folder.File("broken.txt");
    const std::string log = folder.File("cli.log");
    const Outcome outcome = RunCli(folder, {"verify", world, "--names", names, "--log", log, "--threads", "2"});
    EXPECT_EQ(outcome.code, 1) << outcome.err;
    EXPECT_EQ(outcome.out, "t\tnot 256 x 256: 1 x 1\n"
                           "tq\tcannot be decoded: The picture cannot be decoded\n"
                           "tr\tempty\n");
    EXPECT_EQ(ReadWholeFile(names), "t\ntq\ntr\n");
    EXPECT_NE(outcome.err.find("21 of 21 plates checked, 3 broken"), std::string::npos) << outcome.err;
    const std::string logText = ReadWholeFile(log);
    EXPECT_NE(logText.find("Loaded 21 items"), std::string::npos);
    EXPECT_NE(logText.find("Broken plates found: 3 of 21 checked"), std::string::npos);

    // The names select the same plates for the next command.
    const Outcome listed = RunCli(folder, {"list", world, "--from-names", names});
    EXPECT_EQ(listed.code, 0);
    EXPECT_EQ(Lines(listed.out), 3);
    // A level without them is clean.
    EXPECT_EQ(RunCli(folder, {"verify", world, "--levels", "3"}).code, 0);
}

TEST(CliTest, VerifyJudgesSizesByTheStoragesTileSize)
{
    // Zooms 1 and 2 hold 512 x 512 pictures (20 plates), zoom 0 the fixture's
    // 256 x 256 JPEG: the odd one out is the world plate.
    TempFolder folder;
    const std::string world = World(folder);
    Sql(world, "UPDATE tiles SET tile_data = X'89504E470D0A1A0A0000000D4948445200000200000002000100000000DC03E957000000"
               "364944415478DAEDC101010000008220FFAF6E484001000000000000000000000000000000000000000000000000000000"
               "000000007C1B82000001637550A40000000049454E44AE426082' WHERE zoom_level > 0;");
    const Outcome outcome = RunCli(folder, {"verify", world, "--threads", "2"});
    EXPECT_EQ(outcome.code, 1) << outcome.err;
    EXPECT_EQ(outcome.out, "t\tnot 512 x 512: 256 x 256\n");
    // Every plate of one size: nothing is broken.
    EXPECT_EQ(RunCli(folder, {"verify", world, "--levels", "2-3"}).code, 0);
}

// A storage of `count` copies of the fixture's world tile at zoom 8.
std::string ManyPlates(const TempFolder& folder, int count)
{
    const std::string path = World(folder);
    Sql(path, "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(count - 1) +
                  ") INSERT INTO tiles SELECT 8, i % 256, i / 256, (SELECT tile_data FROM tiles WHERE zoom_level = 0) FROM n;");
    return path;
}

// Waits until the log file holds `text`; false after 20 seconds.
bool WaitForLogLine(const std::string& log, const std::string& text)
{
    for (int i = 0; i < 2000; ++i) {
        if (ReadWholeFile(log).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(CliTest, CtrlCStopsVerifyWithItsSummary)
{
    TempFolder folder;
    const std::string storage = ManyPlates(folder, 5000);
    const std::string log = folder.File("cli.log");
    const pid_t pid = Start(folder, {"verify", storage, "--log", log, "--threads", "1"});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForLogLine(log, "Check 5021 plates for broken ones..."));
    kill(pid, SIGINT);
    const Outcome outcome = Finish(folder, pid);
    EXPECT_EQ(outcome.code, 130) << outcome.err;
    EXPECT_NE(outcome.err.find("stopped: "), std::string::npos) << outcome.err;
    EXPECT_NE(ReadWholeFile(log).find("Check aborted"), std::string::npos);
}

// Every tile of `copy` equals the tile of the same place in `original`.
std::string SameTiles(const std::string& copy, const std::string& original)
{
    return Sql(copy, "ATTACH '" + original + "' AS o; SELECT (SELECT count(*) FROM main.tiles) || ' ' || "
                     "(SELECT count(*) FROM main.tiles t JOIN o.tiles u USING (zoom_level, tile_column, tile_row) "
                     "WHERE t.tile_data = u.tile_data);");
}

TEST(CliTest, CopyMakesANewStorageAndKeepsEveryTile)
{
    TempFolder folder;
    const std::string world = World(folder);
    const std::string copy = folder.File("copy.mbtiles");
    const Outcome outcome = RunCli(folder, {"copy", world, copy});
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(SameTiles(copy, world), "21 21\n");

    // Into an existing storage: a selection adds to it.
    const std::string part = folder.File("part.mbtiles");
    ASSERT_EQ(RunCli(folder, {"copy", world, part, "--z", "2"}).code, 0);
    EXPECT_EQ(SameTiles(part, world), "16 16\n");
    ASSERT_EQ(RunCli(folder, {"copy", world, part, "--levels", "1-2"}).code, 0);
    EXPECT_EQ(SameTiles(part, world), "21 21\n");

    // Into a new PMTiles archive and back: every tile kept. An archive that
    // exists takes no more plates.
    const std::string archive = folder.File("x.pmtiles");
    const Outcome written = RunCli(folder, {"copy", world, archive});
    ASSERT_EQ(written.code, 0) << written.err;
    EXPECT_EQ(ReadWholeFile(archive).substr(0, 7), "PMTiles");
    const std::string back = folder.File("back.mbtiles");
    ASSERT_EQ(RunCli(folder, {"copy", archive, back}).code, 0);
    EXPECT_EQ(SameTiles(back, world), "21 21\n");
    const Outcome refused = RunCli(folder, {"copy", world, archive, "--z", "0"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("written whole"), std::string::npos) << refused.err;

    // Into a new GeoPackage (its rows count from the top) and back: every
    // tile kept.
    const std::string package = folder.File("x.gpkg");
    const Outcome packed = RunCli(folder, {"copy", world, package});
    ASSERT_EQ(packed.code, 0) << packed.err;
    EXPECT_EQ(Sql(package, "ATTACH '" + world + "' AS world; SELECT count(*) FROM tiles t JOIN world.tiles w ON w.zoom_level = t.zoom_level"
                           " AND w.tile_column = t.tile_column AND w.tile_row = (1 << t.zoom_level) - 1 - t.tile_row"
                           " AND w.tile_data = t.tile_data"),
              "21\n");
    const std::string unpacked = folder.File("unpacked.mbtiles");
    ASSERT_EQ(RunCli(folder, {"copy", package, unpacked}).code, 0);
    EXPECT_EQ(SameTiles(unpacked, world), "21 21\n");

    // A selection of nothing makes no target: an empty file would be taken
    // for a storage of its kind by the next command.
    for (const char* name : {"none.mbtiles", "none.pmtiles", "none.gpkg", "none"}) {
        SCOPED_TRACE(name);
        const Outcome nothing = RunCli(folder, {"copy", world, folder.File(name), "--z", "19"});
        EXPECT_EQ(nothing.code, 0) << nothing.err;
        EXPECT_NE(nothing.err.find("no plates selected: nothing copied"), std::string::npos) << nothing.err;
        EXPECT_FALSE(fs::exists(folder.File(name)));
    }
}

// Into a target with room for about a hundred plates (the tool may write
// files of 256 KiB at most, a full disk without root): the summary counts
// only what the target holds, however the plugin answered before its batch
// failed.
TEST(CliTest, CopyIntoAFullTargetCountsWhatTheTargetHolds)
{
    TempFolder folder;
    const std::string source = folder.File("many.mbtiles");
    Sql(source, "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);"
                " WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1499)"
                " INSERT INTO tiles SELECT 6, i % 64, i / 64, randomblob(2000) FROM n;");
    const std::string target = folder.File("full.mbtiles");
    // The limit and the ignored SIGXFSZ pass to the tool, and only to it.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 256 << 10;
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const pid_t pid = Start(folder, {"copy", source, target});
    setrlimit(RLIMIT_FSIZE, &previous);
    signal(SIGXFSZ, handler);
    const Outcome outcome = Finish(folder, pid);

    EXPECT_EQ(outcome.code, 1) << outcome.err;
    const std::size_t at = outcome.err.rfind(" of 1500 plates copied");
    ASSERT_NE(at, std::string::npos) << outcome.err;
    const std::size_t start = outcome.err.find_last_not_of("0123456789", at - 1) + 1;
    const int copied = std::stoi(outcome.err.substr(start, at - start));
    const std::string held = Sql(target, "SELECT count(*) FROM tiles");
    EXPECT_EQ(copied, held.empty() ? 0 : std::stoi(held)) << outcome.err;
    EXPECT_LT(copied, 1500);
}

TEST(CliTest, RoundTripThroughAFolderTreeKeepsEveryTile)
{
    TempFolder folder;
    const std::string world = World(folder);
    const std::string tree = folder.File("tree");
    const std::string back = folder.File("back.mbtiles");
    ASSERT_EQ(RunCli(folder, {"copy", world, tree}).code, 0);
    // z/x/y, rows from the top: zoom 2's top-right tile is 2/3/0.
    EXPECT_TRUE(fs::is_regular_file(fs::path(tree) / "2" / "3" / "0.jpg"));
    const Outcome outcome = RunCli(folder, {"copy", tree, back});
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(SameTiles(back, world), "21 21\n");
}

TEST(CliTest, ExportAndDelete)
{
    TempFolder folder;
    const std::string world = World(folder);
    const std::string out = folder.File("out");
    // The plate tree of the window's export.
    Outcome outcome = RunCli(folder, {"export", world, out, "--levels", "1-2"});
    ASSERT_EQ(outcome.code, 0) << outcome.err;
    // tq is zoom 1, column 0, TMS row 1; its file holds its data as stored.
    std::string hex;
    for (unsigned char c : ReadWholeFile(out + "/t/q.jpg"))
        hex += "0123456789ABCDEF"[c >> 4], hex += "0123456789ABCDEF"[c & 15];
    EXPECT_EQ(Sql(world, "SELECT hex(tile_data) FROM tiles WHERE zoom_level = 1 AND tile_column = 0 AND tile_row = 1"),
              hex + "\n");
    // Files already there: without a terminal to ask, the run stops; keep goes on.
    outcome = RunCli(folder, {"export", world, out, "--levels", "1-2"});
    EXPECT_EQ(outcome.code, 4);
    EXPECT_NE(outcome.err.find("no terminal to answer: Cancel"), std::string::npos) << outcome.err;
    outcome = RunCli(folder, {"export", world, out, "--levels", "1-2", "--existing", "keep"});
    EXPECT_EQ(outcome.code, 0);
    EXPECT_NE(outcome.err.find("0 of 5 plates exported, 5 skipped"), std::string::npos) << outcome.err;

    // The z/x/y trees: tq is zoom 1, column 0, row 0 from the top.
    ASSERT_EQ(RunCli(folder, {"export", world, folder.File("xyz"), "--z", "1", "--layout", "xyz"}).code, 0);
    EXPECT_TRUE(fs::is_regular_file(folder.File("xyz/1/0/0.jpg")));
    ASSERT_EQ(RunCli(folder, {"export", world, folder.File("tms"), "--prefix", "tq", "--z", "1", "--layout=tms"}).code, 0);
    EXPECT_TRUE(fs::is_regular_file(folder.File("tms/1/0/1.jpg")));
    EXPECT_EQ(ReadWholeFile(folder.File("tms/1/0/1.jpg")), ReadWholeFile(out + "/t/q.jpg"));

    // Move: level 3 goes into files and out of the storage.
    outcome = RunCli(folder, {"export", world, out, "--levels", "3", "--move"});
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_TRUE(fs::is_regular_file(out + "/t/q/q.jpg"));
    EXPECT_EQ(Sql(world, "SELECT count(*) FROM tiles"), "5\n");

    // Delete asks; without a terminal and --yes nothing happens.
    EXPECT_EQ(RunCli(folder, {"delete", world, "--levels", "2", "--dry-run"}).out.find("would delete 4 plates"), 0u);
    outcome = RunCli(folder, {"delete", world, "--levels", "2"});
    EXPECT_EQ(outcome.code, 4);
    EXPECT_NE(outcome.err.find("--yes"), std::string::npos);
    EXPECT_EQ(Sql(world, "SELECT count(*) FROM tiles"), "5\n");
    EXPECT_EQ(RunCli(folder, {"delete", world, "--levels", "2", "--yes"}).code, 0);
    EXPECT_EQ(Sql(world, "SELECT count(*) FROM tiles"), "1\n");
}

TEST(CliTest, CtrlCDuringAnExportLeavesNoHalfWrittenFile)
{
    TempFolder folder;
    const std::string storage = ManyPlates(folder, 5000);
    const std::string out = folder.File("out");
    const std::string log = folder.File("cli.log");
    const pid_t pid = Start(folder, {"export", storage, out, "--log", log});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitForLogLine(log, "Export 5021 plates data from storage..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGINT);
    const Outcome outcome = Finish(folder, pid);
    EXPECT_EQ(outcome.code, 130) << outcome.err;
    EXPECT_NE(outcome.err.find("stopped: "), std::string::npos) << outcome.err;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        EXPECT_NE(entry.path().extension(), ".jp") << entry.path();
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_GT(files, 0);
    EXPECT_LT(files, 5021);
}

// A folder storage (a z/x/y tree of the 21 tiles) with every target that is
// it, lies inside it or holds it: each is refused as a usage error, and every
// file of the storage stays.
TEST(CliTest, TargetsThatOverlapTheStorageAreRefused)
{
    TempFolder folder;
    const std::string world = World(folder);
    const std::string tree = folder.File("tree");
    ASSERT_EQ(RunCli(folder, {"copy", world, tree}).code, 0);
    fs::create_directory_symlink(tree, folder.File("link"));
    auto files = [&] {
        std::map<std::string, std::uintmax_t> sizes;
        for (const auto& entry : fs::recursive_directory_iterator(tree))
            if (entry.is_regular_file())
                sizes[entry.path().lexically_relative(tree).string()] = entry.file_size();
        return sizes;
    };
    const std::map<std::string, std::uintmax_t> before = files();
    // The 21 tiles and the source's description the copy kept beside them.
    ASSERT_EQ(before.size(), 22u);
    ASSERT_EQ(before.count("metadata.json"), 1u);

    const struct {
        const char* label;
        std::vector<std::string> arguments;
    } cases[] = {
        {"moved into itself", {"export", tree, tree, "--move", "--existing", "overwrite"}},
        {"moved into itself spelt with ./", {"export", tree, tree + "/./", "--move", "--existing", "overwrite"}},
        {"moved into a link to itself", {"export", tree, folder.File("link"), "--move", "--existing", "overwrite"}},
        {"exported into a folder inside", {"export", tree, tree + "/sub"}},
        {"planned into itself", {"export", tree, tree, "--move", "--dry-run"}},
        {"copied into a folder inside", {"copy", tree, tree + "/sub"}},
        {"copied into the folder that holds it", {"copy", tree, folder.Path().string() + "/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Outcome outcome = RunCli(folder, c.arguments);
        EXPECT_EQ(outcome.code, 2) << outcome.err;
        EXPECT_EQ(files(), before);
        EXPECT_FALSE(fs::exists(tree + "/sub"));
    }
}

// Delete lists only the plates its name options select; whatever it keeps
// of the listing, it deletes exactly the plates list names for the same
// options (list filters the listing as it streams), counts them in its JSON
// summary, and leaves every other plate.
TEST(CliTest, DeleteByNameRemovesWhatListNames)
{
    TempFolder folder;
    const std::string names = folder.File("names.txt");
    WriteWholeFile(names, "tq\ntrs\nnot-there\n");
    const std::vector<std::vector<std::string>> selections = {
        {"--z", "1"},
        {"--levels", "2-3"},
        {"--prefix", "tq"},
        {"--levels", "3", "--prefix", "tq,tt"},
        {"--bbox", "-10,35,30,60"},
        {"--names", names},
        {"--z", "2", "--duplicates"},
        {"--z", "9"},
    };
    auto listed = [&](const std::string& storage, const std::vector<std::string>& options) {
        std::vector<std::string> arguments{"list", storage};
        arguments.insert(arguments.end(), options.begin(), options.end());
        std::set<std::string> found;
        std::istringstream lines(RunCli(folder, arguments).out);
        for (std::string line; std::getline(lines, line);)
            found.insert(line.substr(line.rfind('\t') + 1));
        return found;
    };
    for (const std::vector<std::string>& options : selections) {
        const std::string what = options[0] + " " + options[1];
        const std::string world = World(folder);
        // One duplicate at zoom 2, so that --duplicates has one to find.
        Sql(world, "UPDATE tiles SET tile_data = (SELECT tile_data FROM tiles WHERE zoom_level = 2 AND tile_column = 0"
                   " AND tile_row = 0) WHERE zoom_level = 2 AND tile_column = 1 AND tile_row = 0;");
        const std::set<std::string> before = listed(world, {});
        const std::set<std::string> selected = listed(world, options);
        ASSERT_EQ(before.size(), 21u) << what;
        std::vector<std::string> arguments{"delete", world, "--yes", "--json"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const Outcome outcome = RunCli(folder, arguments);
        EXPECT_EQ(outcome.code, 0) << what << ": " << outcome.err;
        if (!selected.empty()) {
            EXPECT_NE(outcome.out.find("\"selected\":" + std::to_string(selected.size()) +
                                       ",\"done\":" + std::to_string(selected.size()) + ","),
                      std::string::npos)
                << what << ": " << outcome.out;
        }
        std::set<std::string> expected;
        std::set_difference(before.begin(), before.end(), selected.begin(), selected.end(),
                            std::inserter(expected, expected.end()));
        EXPECT_EQ(listed(world, {}), expected) << what;
        EXPECT_EQ(Sql(world, "SELECT count(*) FROM tiles"), std::to_string(expected.size()) + "\n") << what;
    }
}

// A storage whose path is longer than 260 characters, beside a decoy whose
// path is its first 260 characters: the storage named is the one changed.
TEST(CliTest, ALongStoragePathIsOpenedWhole)
{
    TempFolder folder;
    const std::string dir = folder.File(std::string(100, 'd') + "/" + std::string(100, 'e'));
    fs::create_directories(dir);
    const std::string decoy = dir + "/" + std::string(260 - dir.size() - 1, 'f');
    const std::string storage = decoy + std::string(30, 'g') + ".mbtiles";
    ASSERT_EQ(decoy.size(), 260u);
    fs::copy_file(FIXTURE_MBTILES, decoy);
    fs::copy_file(FIXTURE_MBTILES, storage);

    const Outcome outcome = RunCli(folder, {"delete", storage, "--levels", "3", "--yes"});
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(Sql(storage, "SELECT count(*) FROM tiles"), "5\n");
    EXPECT_EQ(Sql(decoy, "SELECT count(*) FROM tiles"), "21\n") << "the decoy is untouched";
}

namespace {

// The storage's plates, counted by SQLite.
std::string TileCount(const std::string& storage) { return Sql(storage, "SELECT count(*) FROM tiles"); }

// Every entry below `root`, as paths relative to it, sorted; links are not
// followed.
void AddTree(const fs::path& root, const fs::path& folder, std::vector<std::string>* entries)
{
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries->push_back(it->path().lexically_relative(root).string());
        if (fs::is_directory(fs::symlink_status(it->path(), error)))
            AddTree(root, it->path(), entries);
    }
}

std::vector<std::string> Tree(const fs::path& root)
{
    std::vector<std::string> entries;
    AddTree(root, root, &entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

} // namespace

// Bad paths and values: each is refused with its exit code, by a program that
// neither crashes nor hangs, and nothing on disk changes.
TEST(CliTest, BadPathsAndValuesAreRefusedAndChangeNothing)
{
    struct BadInput {
        const char* what;
        std::vector<std::string> arguments; // "@": the fixture's copy; others in `places` below
        int code;
    };
    const std::vector<BadInput> cases = {
        {"an empty export target", {"export", "@", ""}, 2},
        {"an empty storage", {"info", ""}, 2},
        {"a plugin in a 300-character folder", {"list", "@", "--plugin", "LONG/lib.so"}, 3},
        {"a plugin through a link loop", {"list", "@", "--plugin", "LOOP/lib.so"}, 3},
        {"a target plugin through a link loop", {"copy", "@", "OUT.mbtiles", "--target-plugin", "LOOP/lib.so"}, 3},
        {"names from a pipe", {"list", "@", "--from-names", "FIFO"}, 2},
        {"names to delete from a pipe", {"delete", "@", "--names", "FIFO", "--yes"}, 2},
        {"names from a folder", {"list", "@", "--from-names", "DIR"}, 2},
        {"a box of NaN", {"list", "@", "--bbox", "nan,0,10,10"}, 2},
        {"a box with a NaN north", {"list", "@", "--bbox", "-10,0,10,NaN"}, 2},
        {"z beyond a plate name", {"list", "@", "--z", "99"}, 2},
        {"z one beyond the deepest", {"list", "@", "--z", "31"}, 2},
        {"a level beyond a plate name", {"list", "@", "--levels", "99"}, 2},
        {"a level one beyond the deepest", {"list", "@", "--levels", "32"}, 2},
        {"a range ending beyond", {"delete", "@", "--levels", "3-40", "--yes"}, 2},
        {"an area with other letters", {"list", "@", "--prefix", "ab"}, 2},
        {"an empty area", {"delete", "@", "--prefix", "", "--yes"}, 2},
        {"a second area with another letter", {"list", "@", "--prefix", "tq,tx"}, 2},
        {"an area below no root", {"list", "@", "--prefix", "q"}, 2},
        {"a log that cannot be written", {"delete", "@", "--levels", "3", "--yes", "--log", "/dev/full"}, 3},
        {"a log into a pipe", {"delete", "@", "--levels", "3", "--yes", "--log", "FIFO"}, 3},
        {"broken plates' names into a pipe nobody reads", {"verify", "@", "--names", "FIFO"}, 3},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const std::string world = World(folder);
        const std::string fifo = folder.File("fifo");
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        fs::create_directory(folder.File("dir"));
        fs::create_directory_symlink("loop", folder.Path() / "loop");
        const std::map<std::string, std::string> places = {
            {"@", world},
            {"LONG", folder.File(std::string(300, 'd'))},
            {"LOOP", folder.File("loop")},
            {"FIFO", fifo},
            {"DIR", folder.File("dir")},
            {"OUT", folder.File("out")},
        };
        std::vector<std::string> arguments;
        for (std::string argument : c.arguments) {
            for (const auto& [mark, place] : places)
                if (argument.starts_with(mark))
                    argument = place + argument.substr(mark.size());
            arguments.push_back(argument);
        }
        const std::vector<std::string> before = Tree(folder.Path());
        const Outcome outcome = RunCli(folder, arguments);
        EXPECT_EQ(outcome.code, c.code) << outcome.err;
        EXPECT_NE(outcome.err, "");
        EXPECT_EQ(TileCount(world), "21\n");
        std::vector<std::string> after = Tree(folder.Path());
        std::erase_if(after, [](const std::string& name) { return name == "stdout" || name == "stderr"; });
        EXPECT_EQ(after, before);
    }
}

// A target that seems to lack room is asked about; without a terminal the
// answer is No, and the run stops as an answer stops it. --yes goes on.
TEST(CliTest, ExportDeclinedForWantOfRoomStopsWithItsCode)
{
    TempFolder folder;
    const std::string world = World(folder);
    const std::string out = folder.File("out");
    const std::vector<std::string> full = {"LD_PRELOAD=" NO_ROOM_PRELOAD, "ULMORA_TEST_NO_ROOM=" + folder.Path().string()};

    Outcome outcome = RunCli(folder, {"export", world, out, "--levels", "1-2"}, full);
    EXPECT_EQ(outcome.code, 4) << outcome.err;
    EXPECT_FALSE(fs::exists(out));

    outcome = RunCli(folder, {"export", world, out, "--levels", "1-2", "--move"}, full);
    EXPECT_EQ(outcome.code, 4) << outcome.err;
    EXPECT_EQ(TileCount(world), "21\n");

    outcome = RunCli(folder, {"export", world, out, "--levels", "1-2", "--yes"}, full);
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_TRUE(fs::is_regular_file(out + "/t/q.jpg"));
    EXPECT_TRUE(fs::is_regular_file(out + "/t.jpg"));
}

TEST(CliTest, DuplicatesAndBlanksAreSelectionsOfEveryCommand)
{
    // Zoom 2's first column takes the world plate's bytes; tq and tr (zoom 1,
    // the top row) become one blank 512 x 512 picture. SQLite counts 5 plates
    // beyond the first of each set of equal blobs.
    TempFolder folder;
    const std::string world = World(folder);
    Sql(world, "UPDATE tiles SET tile_data = (SELECT tile_data FROM tiles WHERE zoom_level = 0)"
               " WHERE zoom_level = 2 AND tile_column = 0;"
               "UPDATE tiles SET tile_data = X'89504E470D0A1A0A0000000D4948445200000200000002000100000000DC03E957000000"
               "364944415478DAEDC101010000008220FFAF6E484001000000000000000000000000000000000000000000000000000000"
               "000000007C1B82000001637550A40000000049454E44AE426082' WHERE zoom_level = 1 AND tile_row = 1;");
    const std::string beyondFirst =
        "SELECT sum(c) - count(*) FROM (SELECT count(*) AS c FROM tiles GROUP BY tile_data HAVING c > 1);";
    ASSERT_EQ(Sql(world, beyondFirst), "5\n");

    Outcome outcome = RunCli(folder, {"list", world, "--duplicates"});
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(Lines(outcome.out), 5) << outcome.out;
    EXPECT_EQ(outcome.out.find("\tt\n"), std::string::npos) << "the world plate comes first and stays";
    outcome = RunCli(folder, {"list", world, "--blank"});
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(Lines(outcome.out), 2) << outcome.out;
    // Both: the blank plates that are duplicates; the names options first.
    outcome = RunCli(folder, {"list", world, "--blank", "--duplicates"});
    EXPECT_EQ(outcome.out.substr(outcome.out.rfind('\t')), "\ttr\n") << outcome.out;
    EXPECT_EQ(Lines(RunCli(folder, {"list", world, "--duplicates", "--levels", "1-2"}).out), 1);
    outcome = RunCli(folder, {"info", world, "--duplicates", "--json", "--formats", "none"});
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("\"plates\":5"), std::string::npos) << outcome.out;
    EXPECT_EQ(RunCli(folder, {"list", world, "--duplicates=no"}).code, 2);

    // Deleting the duplicates keeps one plate of each set.
    const std::string distinct = "SELECT count(DISTINCT tile_data) FROM tiles;";
    ASSERT_EQ(Sql(world, distinct), "16\n");
    outcome = RunCli(folder, {"delete", world, "--duplicates", "--yes"});
    EXPECT_EQ(outcome.code, 0) << outcome.err;
    EXPECT_EQ(Sql(world, "SELECT count(*) FROM tiles;"), "16\n");
    EXPECT_EQ(Sql(world, distinct), "16\n");
    EXPECT_EQ(Sql(world, "SELECT count(*) FROM tiles WHERE zoom_level = 0;"), "1\n");
}
