#include "Cli.h"

#include "Json.h"
#include "PlateFilter.h"
#include "Plugins.h"
#include "Terminal.h"

#include "app/Session.h"
#include "base/Command.h"
#include "base/Paths.h"
#include "base/PlateKey.h"
#include "base/Text.h"
#include "log/DiagnosticLog.h"
#include "log/Errors.h"
#include "log/Log.h"
#include "log/LogFile.h"
#include "plates/BrokenPlates.h"
#include "plates/DeleteRun.h"
#include "plates/ExportOptions.h"
#include "plates/ExportRun.h"
#include "plates/ImageDecoderModule.h"
#include "plugins/Plugin.h"
#include "plugins/Registry.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace cli {

namespace {

// ---------------------------------------------------------------------------
// The command line

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::vector<std::string> given; // the options given, for the per-command check
    std::string plugin;
    std::string targetPlugin;
    std::string log;
    std::string layout;
    std::string existing = "ask";
    std::string formats = "sample";
    std::string namesOut;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool dryRun = false;
    bool yes = false;
    bool move = false;
    bool help = false;
    int threads = 0;
    PlateFilter filter;
};

struct Context;
using CommandFunction = int (*)(Context& context);

struct CommandInfo {
    const char* name;
    const char* arguments; // the positional arguments, for the usage line
    int argumentCount;
    const char* summary;
    const char* description;
    std::vector<const char*> options; // beyond the common ones
    const char* optionsHelp;
    CommandFunction run;
};

constexpr const char* kCommonOptions[] = {"--plugin", "--levels", "--z",   "--prefix",  "--bbox",
                                          "--names",  "--from-names", "--quiet", "--verbose", "--log", "--help"};

// Options that take a value, and where the value goes.
struct ValueOption {
    const char* name;
    std::function<bool(Options&, const std::string&, std::string*)> set;
};

bool ParseThreads(Options& options, const std::string& value, std::string* error)
{
    char* end = nullptr;
    const long threads = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || threads < 1 || threads > 1024) {
        *error = "--threads wants a number of threads from 1 up, not " + value;
        return false;
    }
    options.threads = static_cast<int>(threads);
    return true;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> allowed, const char* option, std::string* error)
{
    std::string list;
    for (const char* item : allowed) {
        if (value == item)
            return true;
        list += list.empty() ? "" : "|";
        list += item;
    }
    *error = std::string(option) + " wants " + list + ", not " + value;
    return false;
}

const std::vector<ValueOption>& ValueOptions()
{
    static const std::vector<ValueOption> options = {
        {"--plugin", [](Options& o, const std::string& v, std::string*) { o.plugin = v; return true; }},
        {"--target-plugin", [](Options& o, const std::string& v, std::string*) { o.targetPlugin = v; return true; }},
        {"--log", [](Options& o, const std::string& v, std::string*) { o.log = v; return true; }},
        {"--levels", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetLevels(v, e); }},
        {"--z", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetZooms(v, e); }},
        {"--prefix", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetPrefixes(v, e); }},
        {"--bbox", [](Options& o, const std::string& v, std::string* e) { return o.filter.SetBoundingBox(v, e); }},
        {"--from-names", [](Options& o, const std::string& v, std::string* e) { return o.filter.ReadNames(v, e); }},
        // For verify --names is where the broken plates' names go; elsewhere it selects.
        {"--names",
         [](Options& o, const std::string& v, std::string* e) {
             if (o.command == "verify") {
                 o.namesOut = v;
                 return true;
             }
             return o.filter.ReadNames(v, e);
         }},
        {"--layout",
         [](Options& o, const std::string& v, std::string* e) {
             o.layout = v;
             if (o.command == "export")
                 return OneOf(v, {"plates", "xyz", "tms"}, "--layout", e);
             return true;
         }},
        {"--existing",
         [](Options& o, const std::string& v, std::string* e) {
             o.existing = v;
             return OneOf(v, {"ask", "overwrite", "keep", "cancel"}, "--existing", e);
         }},
        {"--formats",
         [](Options& o, const std::string& v, std::string* e) {
             o.formats = v;
             return OneOf(v, {"sample", "all", "none"}, "--formats", e);
         }},
        {"--threads", &ParseThreads},
    };
    return options;
}

struct FlagOption {
    const char* name;
    bool Options::*field;
};

constexpr FlagOption kFlagOptions[] = {
    {"--json", &Options::json},       {"--quiet", &Options::quiet}, {"--verbose", &Options::verbose},
    {"--dry-run", &Options::dryRun},  {"--yes", &Options::yes},     {"--move", &Options::move},
    {"--help", &Options::help},       {"-h", &Options::help},       {"-q", &Options::quiet},
    {"-y", &Options::yes},
};

// ---------------------------------------------------------------------------
// What every command works with

struct Context {
    Options& options;
    TerminalView view;
    TerminalProgress progress;
    std::vector<PluginEntry> plugins;
    bool pluginsScanned = false;

    explicit Context(Options& o) : options(o), progress(!o.quiet) {}

    const std::vector<PluginEntry>& Plugins()
    {
        if (!pluginsScanned) {
            plugins = ScanPlugins(PluginsFolder());
            pluginsScanned = true;
        }
        return plugins;
    }
};

void Say(const Context& context, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Say(const Context& context, const char* format, ...)
{
    if (context.options.quiet)
        return;
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

int Fail(int code, const std::string& text)
{
    std::fprintf(stderr, "ulmora-cli: %s\n", OneLine(text).c_str());
    Log("%s", OneLine(text).c_str());
    return code;
}

// The plugin for a storage argument; null after printing why. A name with a
// '/' is a library path, loaded as it is.
const PluginEntry* PluginFor(Context& context, const std::string& storage, const std::string& named)
{
    std::string error;
    const PluginEntry* plugin = nullptr;
    if (named.find('/') != std::string::npos) {
        static std::vector<PluginEntry> own;
        own.push_back(ReadPlugin(named));
        if (!own.back().Usable())
            error = "cannot use the plugin library " + named + ": " + own.back().error;
        else
            plugin = ChoosePlugin({own.back()}, storage, own.back().name, &error);
        if (plugin != nullptr)
            plugin = &own.back();
    } else {
        plugin = ChoosePlugin(context.Plugins(), storage, named, &error);
    }
    if (plugin == nullptr)
        Fail(kExitNoStorage, error);
    return plugin;
}

// A storage to read from must be there: a plugin may make a missing one when
// it opens it, and a command that reads leaves the disk as it found it.
int RequireStorage(const std::string& storage)
{
    std::error_code error;
    const fs::file_status status = fs::status(PathPart(storage), error);
    if (fs::exists(status))
        return kExitDone;
    if (!error)
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    return Fail(kExitNoStorage, Format("Error initialize storage data \"%s\": %s", storage.c_str(), error.message().c_str()));
}

// A storage opened through a plugin instance of its own, for the commands
// that read the plates as the plugin lists them (info, list) and for the
// target of copy.
struct OpenStorage {
    const PluginEntry* entry = nullptr; // the registered plugin it was opened with
    std::unique_ptr<StoragePlugin> plugin;
    StorageAction* action = nullptr;
};

int Open(const PluginEntry& entry, const std::string& storage, OpenStorage* open)
{
    open->entry = &entry;
    open->plugin = LoadPlugin(entry.path.c_str(), &HostInfo(), PluginTypeStorage);
    if (open->plugin == nullptr)
        return Fail(kExitNoStorage, Format("Error loading storage plugin: %s", ErrorText(kCurrentError).c_str()));
    open->action = open->plugin->CreateAction();
    if (open->action == nullptr)
        return Fail(kExitNoStorage, Format("Error creating storage action: %s", ErrorText(kCurrentError).c_str()));
    if (!open->action->Open(storage.c_str()))
        return Fail(kExitNoStorage, Format("Error initialize storage data \"%s\": %s", storage.c_str(),
                                           ErrorText(kCurrentError).c_str()));
    return kExitDone;
}

// Opens `storage` with the plugin the options or its name choose.
int OpenChosen(Context& context, const std::string& storage, OpenStorage* open)
{
    const PluginEntry* plugin = PluginFor(context, storage, context.options.plugin);
    if (plugin == nullptr)
        return kExitNoStorage;
    if (int code = RequireStorage(storage); code != kExitDone)
        return code;
    return Open(*plugin, storage, open);
}

// Calls `each` for every plate the plugin lists, with the listing's
// progress text and Ctrl-C; answers the plugin's result.
class PlateSink {
public:
    using Each = std::function<void(int32_t number, const char* name, uint32_t size)>;
    PlateSink(Context& context, StorageAction& action, Each each) : context_(context), action_(action), each_(each) {}

    uint32_t Run()
    {
        context_.progress.SetAbortable(true);
        const uint32_t result =
            action_.Enumerate(0, StorageAction::PlateHandler::Bind<&PlateSink::OnPlate>(this), 2);
        context_.progress.SetText(nullptr);
        return result;
    }
    int found = 0;

private:
    bool OnPlate(StorageAction*, int32_t number, const char* name, uint32_t, uint32_t size)
    {
        ++found;
        each_(number, name != nullptr ? name : "", size);
        // The clock and Ctrl-C are looked at every 1024 plates: a listing
        // runs through millions of them.
        if ((found & 1023) != 0)
            return true;
        if (period_.Elapsed())
            context_.progress.SetText("Scaning storage %s...\nItems found: %d", action_.StoragePath().c_str(), found);
        return !context_.progress.IsAborted();
    }

    Context& context_;
    StorageAction& action_;
    Each each_;
    PRPeriod period_{kProgressPeriodMs};
};

// Turns a listing's result into an exit code (kExitDone when it went on).
int ListingResult(uint32_t result)
{
    if (result == Aborted)
        return kExitInterrupted;
    if (result != Done && result != Empty)
        return Fail(kExitNoStorage, Format("Error enumerating storage\nError: %s", ErrorText(kCurrentError).c_str()));
    return kExitDone;
}

// Loads the storage into the session's plate list, the way the window does,
// and selects the plates the options name.
int LoadSelected(Context& context, Session& session, const std::string& storage)
{
    const PluginEntry* plugin = PluginFor(context, storage, context.options.plugin);
    if (plugin == nullptr)
        return kExitNoStorage;
    if (int code = RequireStorage(storage); code != kExitDone)
        return code;
    const LoadResult result = session.Connection().LoadStorage(plugin->path, storage);
    switch (result.outcome) {
    case LoadResult::Outcome::Loaded:
    case LoadResult::Outcome::Empty:
        break;
    case LoadResult::Outcome::Aborted:
        return kExitInterrupted;
    default:
        std::fprintf(stderr, "ulmora-cli: %s\n", OneLine(result.error).c_str());
        return kExitNoStorage;
    }
    const PlateList& plates = session.Plates();
    ListSelection& selection = session.Selection();
    selection.Resize(plates.Count());
    if (context.options.filter.Empty()) {
        selection.SelectAll();
    } else {
        selection.SelectWhere([&](int index) {
            PlateItem item;
            return plates.At(index, &item) && context.options.filter.Matches({item.name, static_cast<std::size_t>(item.nameLength)});
        });
    }
    return kExitDone;
}

std::string Bytes(uint64_t bytes)
{
    if (bytes < 1024)
        return Format("%" PRIu64 " B", bytes);
    const char* units = "KMGTPE";
    double value = static_cast<double>(bytes);
    int unit = -1;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    return Format("%.1f %ciB", value, units[unit]);
}

// ---------------------------------------------------------------------------
// info

enum ImageFormat { kPng, kJpeg, kWebp, kOtherFormat, kFormatCount };
constexpr const char* kFormatNames[kFormatCount] = {"PNG", "JPEG", "WebP", "other"};

ImageFormat Sniff(const void* data, uint32_t size)
{
    const auto* b = static_cast<const unsigned char*>(data);
    if (size >= 8 && std::memcmp(b, "\x89PNG\r\n\x1a\n", 8) == 0)
        return kPng;
    if (size >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF)
        return kJpeg;
    if (size >= 12 && std::memcmp(b, "RIFF", 4) == 0 && std::memcmp(b + 8, "WEBP", 4) == 0)
        return kWebp;
    return kOtherFormat;
}

struct LevelStats {
    uint64_t plates = 0;
    uint64_t bytes = 0;
    uint32_t smallest = UINT32_MAX;
    uint32_t largest = 0;
    uint64_t quadtree = 0; // plates with quadtree names, which have a place in the level's full tree
    std::array<uint64_t, kFormatCount> formats{};
    uint64_t sniffed = 0;

    void Add(uint32_t size)
    {
        ++plates;
        bytes += size;
        smallest = std::min(smallest, size);
        largest = std::max(largest, size);
    }
    void Merge(const LevelStats& other)
    {
        plates += other.plates;
        bytes += other.bytes;
        smallest = std::min(smallest, other.smallest);
        largest = std::max(largest, other.largest);
        quadtree += other.quadtree;
        for (int f = 0; f < kFormatCount; ++f)
            formats[f] += other.formats[f];
        sniffed += other.sniffed;
    }
};

// What PlateKey::ToTile accepts, without computing the tile: this runs once
// per plate of the listing.
bool IsQuadtreeKey(const char* name, std::size_t length)
{
    if (length == 0 || length > static_cast<std::size_t>(PlateKey::kMaxQuadtreeLevel) || name[0] != 't')
        return false;
    for (std::size_t i = 1; i < length; ++i)
        if (name[i] < 'q' || name[i] > 't')
            return false;
    return true;
}

// Plates read per level to name the image formats, unless --formats all.
constexpr uint64_t kFormatSample = 64;

std::string FormatsText(const LevelStats& stats, bool all)
{
    std::string text;
    for (int f = 0; f < kFormatCount; ++f) {
        if (stats.formats[f] == 0)
            continue;
        text += text.empty() ? "" : ",";
        text += kFormatNames[f];
        if (all)
            text += Format(":%" PRIu64, stats.formats[f]);
    }
    return text.empty() ? "-" : text;
}

std::string JsonFormats(const LevelStats& stats)
{
    std::string text = "{";
    for (int f = 0; f < kFormatCount; ++f)
        text += Format("%s\"%s\":%" PRIu64, f ? "," : "", kFormatNames[f], stats.formats[f]);
    return text + "}";
}

int Info(Context& context)
{
    const Options& options = context.options;
    const std::string& storage = options.arguments[0];
    OpenStorage open;
    if (int code = OpenChosen(context, storage, &open); code != kExitDone)
        return code;

    const bool allFormats = options.formats == "all";
    const bool noFormats = options.formats == "none";
    // Indexed by level: a name's length, at most 260.
    std::vector<LevelStats> byLevel(kMaxTextLength + 1);
    std::vector<std::string> toSniff;
    PlateSink sink(context, *open.action, [&](int32_t, const char* name, uint32_t size) {
        const std::size_t length = std::strlen(name);
        if (!options.filter.Empty() && !options.filter.Matches({name, length}))
            return;
        LevelStats& level = byLevel[std::min<std::size_t>(length, kMaxTextLength)];
        level.Add(size);
        if (IsQuadtreeKey(name, length))
            ++level.quadtree;
        if (!noFormats && (allFormats || level.plates <= kFormatSample))
            toSniff.emplace_back(name, length);
    });
    if (int code = ListingResult(sink.Run()); code != kExitDone)
        return code;

    // The formats, read after the listing: the plugin takes one call at a time.
    PRPeriod period(kProgressPeriodMs);
    context.progress.SetAbortable(true);
    int done = 0;
    for (const std::string& name : toSniff) {
        const void* data = nullptr;
        uint32_t size = 0;
        const uint32_t got = open.action->GetPlateData(name.c_str(), &data, &size);
        LevelStats& level = byLevel[name.size()];
        ++level.sniffed;
        if (got == Done && data != nullptr && size > 0)
            ++level.formats[Sniff(data, size)];
        ++done;
        if (period.Elapsed())
            context.progress.SetText("Reading image formats...\nProcessed: %d of %d", done, static_cast<int>(toSniff.size()));
        if (context.progress.IsAborted()) {
            context.progress.SetText(nullptr);
            return kExitInterrupted;
        }
    }
    context.progress.SetText(nullptr);

    std::map<int, LevelStats> levels;
    for (std::size_t level = 0; level < byLevel.size(); ++level)
        if (byLevel[level].plates > 0)
            levels[static_cast<int>(level)] = byLevel[level];
    LevelStats total;
    for (const auto& [level, stats] : levels)
        total.Merge(stats);
    auto coverage = [](int level, const LevelStats& stats) {
        // A level of n letters has 4^(n-1) places.
        return stats.quadtree == 0 || level > 32 ? -1.0 : static_cast<double>(stats.quadtree) / std::ldexp(1.0, 2 * (level - 1));
    };
    auto mean = [](const LevelStats& stats) { return stats.plates ? static_cast<double>(stats.bytes) / stats.plates : 0.0; };
    auto smallest = [](const LevelStats& stats) { return stats.plates ? stats.smallest : 0u; };

    if (options.json) {
        std::string out = "{\"storage\":" + JsonString(storage) + ",\"plugin\":" + JsonString(open.entry->name) +
                          ",\"formats_read\":" + JsonString(options.formats) + ",\"levels\":[";
        bool first = true;
        for (const auto& [level, stats] : levels) {
            const double cover = coverage(level, stats);
            out += Format("%s{\"level\":%d,\"z\":%d,\"plates\":%" PRIu64 ",\"bytes\":%" PRIu64
                          ",\"smallest\":%u,\"mean\":%.1f,\"largest\":%u,\"formats\":%s,\"coverage\":%s}",
                          first ? "" : ",", level, level - 1, stats.plates, stats.bytes, smallest(stats), mean(stats),
                          stats.largest, JsonFormats(stats).c_str(), cover < 0 ? "null" : Format("%.9g", cover).c_str());
            first = false;
        }
        out += Format("],\"total\":{\"plates\":%" PRIu64 ",\"bytes\":%" PRIu64
                      ",\"smallest\":%u,\"mean\":%.1f,\"largest\":%u,\"formats\":%s}}\n",
                      total.plates, total.bytes, smallest(total), mean(total), total.largest, JsonFormats(total).c_str());
        std::fputs(out.c_str(), stdout);
        return kExitDone;
    }
    std::printf("storage  %s (plugin %s)\n", storage.c_str(), open.entry->name.c_str());
    std::printf("%5s %3s %12s %11s %9s %9s %9s %9s  %s\n", "level", "z", "plates", "bytes", "smallest", "mean", "largest",
                "of tree", options.formats == "sample" ? "formats (sampled)" : "formats");
    auto row = [&](const char* label, const char* z, const LevelStats& stats, double cover) {
        const std::string covered = cover < 0 ? "-" : cover >= 0.001 ? Format("%.1f%%", cover * 100) : Format("%.2g%%", cover * 100);
        std::printf("%5s %3s %12" PRIu64 " %11s %9u %9.0f %9u %9s  %s\n", label, z, stats.plates, Bytes(stats.bytes).c_str(),
                    smallest(stats), mean(stats), stats.largest, covered.c_str(), noFormats ? "-" : FormatsText(stats, allFormats).c_str());
    };
    for (const auto& [level, stats] : levels)
        row(std::to_string(level).c_str(), std::to_string(level - 1).c_str(), stats, coverage(level, stats));
    row("total", "", total, -1);
    return kExitDone;
}

// ---------------------------------------------------------------------------
// list

int List(Context& context)
{
    const Options& options = context.options;
    const std::string& storage = options.arguments[0];
    OpenStorage open;
    if (int code = OpenChosen(context, storage, &open); code != kExitDone)
        return code;
    static char buffer[1 << 16];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::string line;
    PlateSink sink(context, *open.action, [&](int32_t number, const char* name, uint32_t size) {
        const std::size_t length = std::strlen(name);
        if (!options.filter.Empty() && !options.filter.Matches({name, length}))
            return;
        if (options.json)
            line = Format("{\"n\":%d,\"level\":%zu,\"size\":%u,\"name\":", number, length, size) + JsonString(name) + "}\n";
        else
            line = Format("%d\t%zu\t%u\t", number, length, size) + name + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    });
    const int code = ListingResult(sink.Run());
    std::fflush(stdout);
    return code;
}

// ---------------------------------------------------------------------------
// verify

const char* FaultKey(PlateFault fault)
{
    switch (fault) {
    case PlateFault::Empty: return "empty";
    case PlateFault::Unreadable: return "unreadable";
    case PlateFault::Undecodable: return "undecodable";
    case PlateFault::WrongSize: return "size";
    }
    return "";
}

int Verify(Context& context)
{
    const Options& options = context.options;
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, options.arguments[0]); code != kExitDone)
        return code;
    if (!LoadImageDecoderModule())
        return Fail(kExitNoStorage, ErrorText(kCurrentError));
    std::unique_ptr<std::ofstream> names;
    if (!options.namesOut.empty()) {
        names = std::make_unique<std::ofstream>(options.namesOut, std::ios::trunc);
        if (!*names)
            return Fail(kExitNoStorage, "cannot write the names file " + options.namesOut);
    }
    const BrokenCheckResult result =
        FindBrokenPlates({*session.Connection().Action(), session.Plates(), session.Selection(), context.progress,
                          session.Period(), ImageFunctions(), options.threads});
    for (const BrokenPlate& broken : result.broken) {
        PlateItem item;
        session.Plates().At(broken.index, &item);
        if (options.json)
            std::printf("{\"name\":%s,\"fault\":\"%s\",\"detail\":%s}\n", JsonString(item.name).c_str(),
                        FaultKey(broken.fault), JsonString(DescribeFault(broken)).c_str());
        else
            std::printf("%s\t%s\n", item.name, DescribeFault(broken).c_str());
        if (names)
            *names << item.name << '\n';
    }
    std::fflush(stdout);
    if (names && !names->flush())
        return Fail(kExitNoStorage, "cannot write the names file " + options.namesOut);
    Say(context, "%s%d of %d plates checked, %zu broken\n", result.aborted ? "stopped: " : "", result.checked,
        result.selected, result.broken.size());
    if (result.aborted)
        return kExitInterrupted;
    return result.broken.empty() ? kExitDone : kExitPlatesFailed;
}

// ---------------------------------------------------------------------------
// copy

bool SamePlace(const std::string& a, const std::string& b)
{
    std::error_code error;
    return fs::equivalent(PathPart(a), PathPart(b), error);
}

// Makes a target that does not exist yet: a file with an extension becomes an
// empty file (an empty MBTiles storage to SQLite), anything else a folder.
int MakeTarget(const std::string& target, bool* made)
{
    const std::string path = PathPart(target);
    std::error_code error;
    *made = false;
    if (fs::exists(path, error))
        return kExitDone;
    const std::string last(LastComponent(path));
    if (last.find('.') != std::string::npos && last.back() != '/') {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0)
            return Fail(kExitNoStorage, "cannot create " + path + ": " + std::strerror(errno));
        ::close(fd);
    } else if (!fs::create_directories(path, error)) {
        return Fail(kExitNoStorage, "cannot create the folder " + path + ": " + error.message());
    }
    *made = true;
    return kExitDone;
}

int Copy(Context& context)
{
    const Options& options = context.options;
    const std::string& source = options.arguments[0];
    std::string target = options.arguments[1];
    if (SamePlace(source, target))
        return Fail(kExitUsage, "the source and the target are the same storage: copy into another one");

    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, source); code != kExitDone)
        return code;
    const PlateList& plates = session.Plates();
    const ListSelection& selection = session.Selection();
    const int selected = selection.SelectedCount();
    uint64_t bytes = 0;
    selection.ForEachSelected([&](int index) {
        PlateItem item;
        if (plates.At(index, &item))
            bytes += item.size;
    });

    // A path without an extension names a folder, which takes a layout.
    std::error_code ignored;
    const std::string targetPath = PathPart(target);
    const bool exists = fs::exists(targetPath, ignored);
    const bool folderTarget = fs::is_directory(targetPath, ignored) ||
                              (!exists && std::string(LastComponent(targetPath)).find('.') == std::string::npos);
    if (!options.layout.empty() && folderTarget && target.find('?') == std::string::npos)
        target += "?layout=" + options.layout;
    const PluginEntry* plugin = PluginFor(context, target, options.targetPlugin);
    if (plugin == nullptr)
        return kExitNoStorage;
    if ((plugin->flags & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "the plugin " + plugin->name + " cannot write: copy into a storage of another kind");
    if (options.dryRun) {
        std::printf("would copy %d plates, %s (%" PRIu64 " bytes), from %s into %s (plugin %s%s)\n", selected,
                    Bytes(bytes).c_str(), bytes, source.c_str(), target.c_str(), plugin->name.c_str(),
                    exists ? "" : ", a new storage");
        return kExitDone;
    }
    bool made = false;
    if (int code = MakeTarget(target, &made); code != kExitDone)
        return code;
    OpenStorage into;
    if (int code = Open(*plugin, target, &into); code != kExitDone) {
        if (made)
            fs::remove(PathPart(target), ignored);
        return code;
    }

    Log("Copy %d plates data from storage %s into %s...", selected, source.c_str(), target.c_str());
    StorageAction& from = *session.Connection().Action();
    context.progress.SetAbortable(true);
    int copied = 0;
    int failed = 0;
    int handled = 0;
    uint64_t copiedBytes = 0;
    bool aborted = false;
    for (int index = selection.NextSelected(0); index >= 0; index = selection.NextSelected(index + 1)) {
        PlateItem item;
        if (!plates.At(index, &item))
            break;
        const void* data = nullptr;
        uint32_t size = 0;
        const uint32_t got = from.GetPlateData(item.name, &data, &size);
        ++handled;
        std::string error;
        if (got == Failed) {
            error = "cannot read: " + ErrorText(kCurrentError);
        } else {
            if (got != Done || data == nullptr)
                size = 0; // a plate without data is stored as one
            if (into.action->Write(item.name, size ? data : "", size, WriteModeStore) == Done) {
                ++copied;
                copiedBytes += size;
            } else {
                error = "cannot store: " + ErrorText(kCurrentError);
            }
        }
        if (!error.empty()) {
            ++failed;
            Log("Error copy plate %s: %s", item.name, error.c_str());
            if (failed <= 10)
                std::fprintf(stderr, "\r\033[Kulmora-cli: plate %s %s\n", item.name, OneLine(error).c_str());
        }
        if (session.Period().Elapsed())
            context.progress.SetText("Copy plates...\nInto: %s\nItem: %s\nProcessed: %d of %d", target.c_str(), item.name,
                                     handled, selected);
        if (context.progress.IsAborted()) {
            aborted = true;
            break;
        }
    }
    // Closing makes every stored plate durable.
    into.action->Close();
    context.progress.SetText(nullptr);
    Log("Plates successfully copied: %d of %d", copied, selected);
    if (failed > 10)
        std::fprintf(stderr, "ulmora-cli: %d more plates failed (see --log)\n", failed - 10);
    Say(context, "%s%d of %d plates copied (%s), %d failed\n", aborted ? "stopped: " : "", copied, selected,
        Bytes(copiedBytes).c_str(), failed);
    if (aborted)
        return kExitInterrupted;
    return failed ? kExitPlatesFailed : kExitDone;
}

// ---------------------------------------------------------------------------
// export and delete: the window's runs

// The runs reload the storage when they end so that the window's list shows
// what is left; the tool ends after the run, so nothing is shown again.
class TerminalRunHost : public PlateRunHost {
public:
    void PumpMessages() override {}
    void ReloadStorage() override {}
};

uint64_t SelectedBytes(Session& session)
{
    uint64_t bytes = 0;
    session.Selection().ForEachSelected([&](int index) {
        PlateItem item;
        if (session.Plates().At(index, &item))
            bytes += item.size;
    });
    return bytes;
}

int RunResult(const Context& context, const PlateRunResult& result, const char* done)
{
    Say(context, "%s%d of %d plates %s, %d skipped, %d failed\n", result.aborted ? "stopped: " : result.stopped ? "cancelled: " : "",
        result.done, result.selected, done, result.skipped, result.errors);
    if (result.errors > 0 && !result.errorText.empty())
        Say(context, "last error: %s\n", OneLine(result.errorText).c_str());
    if (result.aborted)
        return kExitInterrupted;
    if (result.stopped)
        return kExitCancelled;
    return result.errors > 0 ? kExitPlatesFailed : kExitDone;
}

int Export(Context& context)
{
    const Options& options = context.options;
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, options.arguments[0]); code != kExitDone)
        return code;
    StorageAction& action = *session.Connection().Action();
    if (options.move && (action.Plugin()->Flags() & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "the plugin cannot delete plates: export without --move");
    std::error_code error;
    const fs::path base = fs::absolute(options.arguments[1], error);
    if (error)
        return Fail(kExitNoStorage, "cannot use the folder " + options.arguments[1] + ": " + error.message());
    ExportOptions export_;
    export_.BasePath = BasePathOf(base.string());
    export_.Over = options.existing == "overwrite" ? OverWrite : options.existing == "keep" ? OverStay
                 : options.existing == "cancel"  ? OverCancel : OverAsk;
    export_.Move = options.move;
    export_.AskOnError = false; // errors are logged and counted; the summary tells them
    export_.Layout = options.layout == "xyz" ? LayoutXyz : options.layout == "tms" ? LayoutTms : LayoutPlates;
    const int selected = session.Selection().SelectedCount();
    if (options.dryRun) {
        std::printf("would export %d plates, %s (%" PRIu64 " bytes), into %s%s\n", selected,
                    Bytes(SelectedBytes(session)).c_str(), SelectedBytes(session), export_.BasePath.c_str(),
                    options.move ? " and delete them from the storage" : "");
        return kExitDone;
    }
    TerminalRunHost host;
    const PlateRunResult result = RunExport(
        {action, session.Plates(), session.Selection(), context.progress, session.Period(), host, nullptr}, export_);
    // Plates selected but the run never began: the free-room question was
    // answered No.
    if (!result.started && result.selected > 0)
        return Fail(kExitCancelled, "nothing exported: the export was not confirmed (give --yes to confirm it)");
    return RunResult(context, result, options.move ? "moved" : "exported");
}

int Delete(Context& context)
{
    const Options& options = context.options;
    Session session(context.view, context.progress);
    if (int code = LoadSelected(context, session, options.arguments[0]); code != kExitDone)
        return code;
    StorageAction& action = *session.Connection().Action();
    if ((action.Plugin()->Flags() & SupportsWrite) == 0)
        return Fail(kExitNoStorage, "Plugin does not support modify operations!");
    const int selected = session.Selection().SelectedCount();
    if (options.dryRun) {
        std::printf("would delete %d plates, %s (%" PRIu64 " bytes), from %s\n", selected,
                    Bytes(SelectedBytes(session)).c_str(), SelectedBytes(session), options.arguments[0].c_str());
        return kExitDone;
    }
    if (selected == 0) {
        Say(context, "no plates selected: nothing deleted\n");
        return kExitDone;
    }
    TerminalRunHost host;
    const PlateRunResult result =
        RunDelete({action, session.Plates(), session.Selection(), context.progress, session.Period(), host, nullptr});
    if (!result.started)
        return Fail(kExitCancelled, "nothing deleted: the deletion was not confirmed (give --yes to confirm it)");
    return RunResult(context, result, "deleted");
}

// ---------------------------------------------------------------------------
// plugins

int ListPlugins(Context& context)
{
    const std::vector<PluginEntry>& plugins = context.Plugins();
    if (context.options.json) {
        for (const PluginEntry& plugin : plugins) {
            std::printf("{\"name\":%s,\"path\":%s,\"usable\":%s,\"uses_directory\":%s,\"supports_write\":%s,"
                        "\"supports_list\":%s,\"extension\":%s,\"description\":%s,\"error\":%s}\n",
                        JsonString(plugin.name).c_str(), JsonString(plugin.path).c_str(), plugin.Usable() ? "true" : "false",
                        plugin.flags & UsesDirectory ? "true" : "false", plugin.flags & SupportsWrite ? "true" : "false",
                        plugin.flags & SupportsList ? "true" : "false", JsonString(plugin.extension).c_str(),
                        JsonString(plugin.description).c_str(), JsonString(plugin.error).c_str());
        }
        return kExitDone;
    }
    if (plugins.empty()) {
        std::printf("no plugins in %s\n", PluginsFolder().c_str());
        return kExitDone;
    }
    std::printf("%-12s %-30s %-9s %s\n", "name", "flags", "extension", "description");
    for (const PluginEntry& plugin : plugins) {
        if (plugin.Usable())
            std::printf("%-12s %-30s %-9s %s\n", plugin.name.c_str(), FlagsText(plugin.flags).c_str(),
                        plugin.flags & UsesDirectory ? "(folder)" : plugin.extension.c_str(), plugin.description.c_str());
        else
            std::printf("%-12s refused: %s\n", plugin.name.c_str(), OneLine(plugin.error).c_str());
    }
    std::printf("(in %s)\n", PluginsFolder().c_str());
    return kExitDone;
}

// ---------------------------------------------------------------------------
// The commands and their help

const char* const kSelectionHelp =
    "Selecting plates (every command; a plate must pass each option given):\n"
    "  --levels A-B     levels A to B in the window's numbering: level 1 is the whole\n"
    "                   world, a plate's level is the length of its name (3-8, 5, 3-)\n"
    "  --z A-B          the same in z/x/y numbering, where 0 is the whole world (2-7)\n"
    "                   A range may leave out an end: 3- is 3 and every deeper level,\n"
    "                   -4 every level up to 4 (--z -1 is z 0 and 1);\n"
    "                   levels run from 1 to 31, z from 0 to 30\n"
    "  --prefix KEY     plates inside a quadtree area: names starting with KEY, which\n"
    "                   is 't' and then q, r, s or t (tq,tr)\n"
    "  --bbox W,S,E,N   plates overlapping a box in degrees (-10.5,35,30,60)\n"
    "  --names FILE     plates named in FILE, a regular file, one name a line (not for\n"
    "                   verify, where --names writes; --from-names FILE selects in\n"
    "                   every command)\n";

const char* const kCommonHelp =
    "Common options:\n"
    "  --plugin NAME    the storage's plugin by name (see: ulmora-cli plugins) or library\n"
    "                   path; by default chosen by what the path is: a folder (whatever\n"
    "                   its name), or the file's extension. A storage to read from must\n"
    "                   exist; only copy makes its target\n"
    "  --quiet, -q      no progress bar and no summary on standard error\n"
    "  --verbose        the log lines on standard error too\n"
    "  --log FILE       write the log lines to FILE, as the window's log file; when\n"
    "                   FILE cannot be written nothing is done, and log lines lost\n"
    "                   later turn exit code 0 into 3\n"
    "  --help, -h       this help\n";

const char* const kExitHelp =
    "Exit codes:\n"
    "  0    done\n"
    "  1    some plates failed (verify: broken plates found)\n"
    "  2    wrong command line (an unknown option, a bad value, an empty path)\n"
    "  3    a storage, plugin, decoder or file could not be opened, made or written\n"
    "  4    stopped by an answer (a declined deletion or export, --existing cancel)\n"
    "  5    a fault inside the program ended the command\n"
    "  130  stopped by Ctrl-C; the plate under way was finished, the summary printed\n";

const std::vector<CommandInfo>& Commands()
{
    static const std::vector<CommandInfo> commands = {
        {"info", "STORAGE", 1, "plates, bytes and image formats per level",
         "Per level: plates, bytes, the smallest, mean and largest plate, how much of\n"
         "the level's full quadtree is there, and the image formats found (PNG, JPEG,\n"
         "WebP, other) read from the first bytes of the plates: of the first 64 of\n"
         "each level by default.\n",
         {"--json", "--formats"},
         "  --json           one JSON object\n"
         "  --formats MODE   sample (default), all (read every plate) or none\n",
         &Info},
        {"list", "STORAGE", 1, "one plate a line: number, level, size, name",
         "One plate a line, in the plugin's order: its number, level, size in bytes\n"
         "and name, separated by tabs.\n",
         {"--json"},
         "  --json           JSON lines: {\"n\":..,\"level\":..,\"size\":..,\"name\":..}\n",
         &List},
        {"verify", "STORAGE", 1, "decode every plate; report empty, undecodable and wrongly sized ones",
         "Decodes every selected plate with the preview's image readers, on every core,\n"
         "and reports the plates that are empty, cannot be read or decoded, or are not\n"
         "256 x 256 pixels: one line each, name and fault. Exit code 1 when any is found.\n",
         {"--json", "--names", "--threads"},
         "  --names FILE     write the names of the broken plates to FILE, one a line, for\n"
         "                   export --names FILE or delete --names FILE\n"
         "  --threads N      decode on N threads (default: one per core)\n"
         "  --json           JSON lines: {\"name\":..,\"fault\":..,\"detail\":..}\n",
         &Verify},
        {"copy", "SOURCE TARGET", 2, "copy plates from one storage into another",
         "Copies the selected plates from SOURCE into TARGET through the plugins, each\n"
         "replacing a plate of the same name there. A TARGET that does not exist is made:\n"
         "a file name with an extension becomes an empty file (an empty MBTiles storage),\n"
         "anything else an empty folder.\n",
         {"--dry-run", "--layout", "--target-plugin"},
         "  --dry-run        say how many plates and bytes would be copied; change nothing\n"
         "  --layout NAME    the layout of a new folder target: xyz (default), tms, plates,\n"
         "                   or another the folder plugin knows (see its README)\n"
         "  --target-plugin NAME  the target's plugin, when its path does not tell\n",
         &Copy},
        {"export", "STORAGE DIR", 2, "write plates into a folder tree, one image file a plate",
         "The window's export: every selected plate's data, as stored, into a file under\n"
         "DIR: one folder per letter of its name but the last, the last letter + .jpg\n"
         "(plate t/q/r gives DIR/t/q/r.jpg), written as .jp first and renamed when complete.\n"
         "Errors are logged (see --log) and counted; the run goes on.\n",
         {"--dry-run", "--existing", "--move", "--layout", "--yes"},
         "  --layout NAME    plates (default: the window's tree), xyz (z/x/y.ext, rows from\n"
         "                   the top) or tms (rows from the bottom); .ext follows the data:\n"
         "                   png, jpg, webp, gif or bmp\n"
         "  --existing WHAT  a file that is already there: ask (default; on a terminal),\n"
         "                   overwrite, keep, or cancel the run\n"
         "  --move           delete each plate from the storage once its file is on disk\n"
         "  --yes, -y        go on without asking when the target seems to lack room\n"
         "                   (without a terminal to ask, the run stops: exit code 4)\n"
         "  --dry-run        say how many plates and bytes would be written; change nothing\n",
         &Export},
        {"delete", "STORAGE", 1, "delete plates from the storage",
         "The window's deletion: the selected plates are deleted from the storage after\n"
         "one confirmation, asked on the terminal unless --yes is given.\n",
         {"--dry-run", "--yes"},
         "  --yes, -y        confirm the deletion without asking\n"
         "  --dry-run        say how many plates and bytes would be deleted; change nothing\n",
         &Delete},
        {"plugins", "", 0, "the storage plugins in the program's plugins folder, with their flags",
         "The storage plugins of the plugins folder beside the program: name, flags,\n"
         "default file extension and description; libraries that are no storage plugin\n"
         "are listed with the reason.\n",
         {"--json"},
         "  --json           JSON lines\n",
         &ListPlugins},
    };
    return commands;
}

const char* Examples(const std::string& command)
{
    static const std::map<std::string, const char*> examples = {
        {"info", "  ulmora-cli info world.mbtiles\n"
                 "  ulmora-cli info /srv/tiles/osm --z 0-5 --json\n"},
        {"list", "  ulmora-cli list world.mbtiles --levels 3\n"
                 "  ulmora-cli list world.mbtiles --json | jq -r .name\n"},
        {"verify", "  ulmora-cli verify world.mbtiles --names broken.txt\n"
                   "  ulmora-cli delete world.mbtiles --names broken.txt --yes\n"},
        {"copy", "  ulmora-cli copy world.mbtiles /srv/tiles/world        (a z/x/y tree)\n"
                 "  ulmora-cli copy /srv/tiles/world copy.mbtiles --z 0-10\n"
                 "  ulmora-cli copy world.mbtiles europe.mbtiles --bbox -25,34,45,72 --dry-run\n"},
        {"export", "  ulmora-cli export world.mbtiles /srv/out --levels 1-6\n"
                   "  ulmora-cli export world.mbtiles /srv/www/tiles --layout xyz --z 0-12\n"
                   "  ulmora-cli export world.mbtiles /srv/out --names broken.txt --move --existing overwrite\n"},
        {"delete", "  ulmora-cli delete world.mbtiles --levels 15- --dry-run\n"
                   "  ulmora-cli delete world.mbtiles --names broken.txt --yes\n"},
        {"plugins", "  ulmora-cli plugins\n"},
    };
    auto found = examples.find(command);
    return found != examples.end() ? found->second : "";
}

const CommandInfo* FindCommand(const std::string& name)
{
    for (const CommandInfo& command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

void PrintToolHelp()
{
    std::printf("ulmora-cli - the storage commands of Ulmora from a terminal\n\n"
                "Usage: ulmora-cli COMMAND [OPTIONS] ARGUMENTS\n\nCommands:\n");
    for (const CommandInfo& command : Commands())
        std::printf("  %-9s %s\n", command.name, command.summary);
    std::printf("\n'ulmora-cli COMMAND --help' tells more about each.\n\n%s\n%s\n%s\nExamples:\n"
                "  ulmora-cli info world.mbtiles\n"
                "  ulmora-cli verify world.mbtiles --levels 1-5 --names broken.txt\n"
                "  ulmora-cli copy world.mbtiles /srv/tiles/world\n",
                kSelectionHelp, kCommonHelp, kExitHelp);
}

void PrintCommandHelp(const CommandInfo& command)
{
    std::printf("Usage: ulmora-cli %s [OPTIONS] %s\n\n%s\n", command.name, command.arguments, command.description);
    std::printf("Options:\n%s\n", command.optionsHelp);
    if (command.argumentCount > 0)
        std::printf("%s\n", kSelectionHelp);
    std::printf("%s\n%s\nExamples:\n%s", kCommonHelp, kExitHelp, Examples(command.name));
}

int Usage(const std::string& text, const char* command = nullptr)
{
    std::fprintf(stderr, "ulmora-cli: %s\nTry: ulmora-cli %s--help\n", text.c_str(),
                 command != nullptr ? (std::string(command) + " ").c_str() : "");
    return kExitUsage;
}

bool Allowed(const CommandInfo& command, const std::string& option)
{
    for (const char* common : kCommonOptions)
        if (option == common)
            return command.argumentCount > 0 || option == "--help" || option == "--quiet" || option == "--verbose" ||
                   option == "--log";
    if (option == "-h" || option == "-q")
        return true;
    for (const char* own : command.options)
        if (option == own)
            return true;
    return option == "-y" && std::find(command.options.begin(), command.options.end(), std::string_view("--yes")) !=
                                 command.options.end();
}

int Parse(int argc, char** argv, Options* options)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        if (args.size() > 1 && FindCommand(args[1]) != nullptr) {
            options->command = args[1];
            options->help = true;
        } else {
            options->help = true;
        }
        return kExitDone;
    }
    options->command = args[0];
    const CommandInfo* command = FindCommand(options->command);
    if (command == nullptr)
        return Usage("unknown command " + options->command + " (commands: info, list, verify, export, copy, delete, plugins)");
    bool onlyArguments = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyArguments || arg.size() < 2 || arg[0] != '-') {
            options->arguments.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyArguments = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = arg.find('='); equals != std::string::npos && arg.starts_with("--")) {
            value = arg.substr(equals + 1);
            arg.resize(equals);
            hasValue = true;
        }
        if (!Allowed(*command, arg))
            return Usage("the option " + arg + " is not one of " + options->command + "'s", command->name);
        bool known = false;
        for (const FlagOption& flag : kFlagOptions) {
            if (arg == flag.name) {
                if (hasValue)
                    return Usage(arg + " takes no value", command->name);
                options->*flag.field = true;
                known = true;
            }
        }
        for (const ValueOption& option : ValueOptions()) {
            if (arg != option.name)
                continue;
            if (!hasValue) {
                if (i + 1 >= args.size())
                    return Usage(arg + " wants a value", command->name);
                value = args[++i];
            }
            std::string error;
            if (!option.set(*options, value, &error))
                return Usage(error, command->name);
            known = true;
        }
        if (!known)
            return Usage("unknown option " + arg, command->name);
        options->given.push_back(arg);
    }
    if (options->help)
        return kExitDone;
    if (static_cast<int>(options->arguments.size()) != command->argumentCount)
        return Usage(Format("%s wants %s", command->name,
                            command->argumentCount ? command->arguments : "no arguments"),
                     command->name);
    for (const std::string& argument : options->arguments)
        if (argument.empty())
            return Usage(Format("%s wants %s, not an empty path", command->name, command->arguments), command->name);
    return kExitDone;
}

} // namespace

namespace {

// Says once that log lines were lost since `before`; true when some were.
bool LogLost(const std::string& path, const LogWriteFailures& before)
{
    const LogWriteFailures now = LogFileWriteFailures();
    if (now.messages == before.messages)
        return false;
    std::fprintf(stderr, "ulmora-cli: cannot write the log file %s: %s\n", path.c_str(), std::strerror(now.error));
    return true;
}

int RunParsed(int argc, char** argv, Options& options)
{
    const CommandInfo* command = FindCommand(options.command);
    if (options.help) {
        if (command != nullptr)
            PrintCommandHelp(*command);
        else
            PrintToolHelp();
        return kExitDone;
    }

    FillHostInfo();
    InstallInterruptHandler();
    Context context(options);
    TerminalBoxes boxes(options.yes);
    SetBoxPresenter(&boxes);
    struct Unset {
        ~Unset() { SetBoxPresenter(nullptr); }
    } unset;
    int verbose = 0;
    if (options.verbose)
        verbose = SubscribeLog([](const std::string& line) { std::fprintf(stderr, "\r\033[K%s\n", line.c_str()); });
    std::unique_ptr<LogFile> logFile;
    std::string logPath;
    const LogWriteFailures logBefore = LogFileWriteFailures();
    if (!options.log.empty()) {
        std::error_code error;
        logPath = fs::absolute(options.log, error).string();
        if (error)
            return Fail(kExitNoStorage, "cannot write the log file " + options.log + ": " + error.message());
        if (FILE* probe = std::fopen(logPath.c_str(), "a"))
            std::fclose(probe);
        else
            return Fail(kExitNoStorage, "cannot write the log file " + logPath + ": " + std::strerror(errno));
        logFile = std::make_unique<LogFile>(logPath);
        WriteLogHeader();
    }
    Log("Starting...");
    std::string line = "ulmora-cli";
    for (int i = 1; i < argc; ++i)
        line += std::string(" ") + argv[i];
    Log("%s", line.c_str());
    // A log that cannot be written stops the command before it changes anything.
    if (logFile && LogLost(logPath, logBefore)) {
        logFile.reset();
        return kExitNoStorage;
    }

    int code = kExitFault;
    if (!RunCommand([&] { code = command->run(context); }))
        code = kExitFault;
    Log("Exit code %d", code);
    Log("Shutting down...");
    logFile.reset();
    if (verbose)
        UnsubscribeLog(verbose);
    if (!logPath.empty() && LogLost(logPath, logBefore) && code == kExitDone)
        code = kExitNoStorage;
    return code;
}

} // namespace

int Run(int argc, char** argv)
{
    // A fault inside the program ends the command with its exit code, never
    // with a signal; the storages' own state is the plugins' to keep whole.
    try {
        Options options;
        if (int code = Parse(argc, argv, &options); code != kExitDone)
            return code;
        return RunParsed(argc, argv, options);
    } catch (const std::exception& fault) {
        std::fprintf(stderr, "ulmora-cli: a fault inside the program ended the command: %s\n",
                     OneLine(fault.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "ulmora-cli: a fault inside the program ended the command\n");
    }
    return kExitFault;
}

} // namespace cli
