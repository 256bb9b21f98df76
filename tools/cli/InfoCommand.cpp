#include "Commands.h"

#include "Cli.h"
#include "Context.h"
#include "InfoPictures.h"
#include "Json.h"

#include "base/SizeText.h"
#include "base/ImageFormat.h"
#include "base/PlateKey.h"
#include "base/Text.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace cli {

namespace {

enum FormatColumn { kPng, kJpeg, kWebp, kOtherFormat, kFormatCount };
constexpr const char* kFormatNames[kFormatCount] = {"PNG", "JPEG", "WebP", "other"};

// The column of a block's format; the table names only the usual three.
FormatColumn ColumnOf(const void* data, uint32_t size)
{
    switch (SniffImageFormat(data, size)) {
    case ImageFormat::Png: return kPng;
    case ImageFormat::Jpeg: return kJpeg;
    case ImageFormat::Webp: return kWebp;
    default: return kOtherFormat;
    }
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


} // namespace

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
    InfoPictures pictures(options);
    const PlateSink::Each each = [&](int32_t, const char* name, uint32_t size) {
        const std::size_t length = std::strlen(name);
        if (!options.filter.Empty() && !options.filter.Matches({name, length}))
            return;
        pictures.Add({name, length}, size);
        LevelStats& level = byLevel[std::min<std::size_t>(length, kMaxTextLength)];
        level.Add(size);
        if (PlateKey::IsQuadtreeKey({name, length}))
            ++level.quadtree;
        if (!noFormats && (allFormats || level.plates <= kFormatSample))
            toSniff.emplace_back(name, length);
    };
    uint32_t listed = Done;
    if (options.filter.ByContent()) {
        if (int code = ForEachSelected(context, storage, each); code != kExitDone)
            return code;
    } else {
        PlateSink sink(context, *open.action, each);
        listed = sink.Run();
        if (int code = ListingResult(listed); code != kExitDone)
            return code;
    }
    // What the plugin says about the listing: how a folder was read (its
    // layout and row order, and whether that was assumed), rows left out.
    const std::string notice = listed == Done ? open.action->PluginText() : std::string();
    if (int code = pictures.Write(); code != kExitDone)
        return code;

    // The formats, read after the listing: the plugin takes one call at a time.
    PRPeriod period(kProgressPeriodMs);
    context.progress.SetAbortable(true);
    int done = 0;
    for (const std::string& name : toSniff) {
        const void* data = nullptr;
        uint32_t size = 0;
        const uint32_t got = open.action->GetPlateData(name.c_str(), &data, &size);
        LevelStats& level = byLevel[std::min<std::size_t>(name.size(), kMaxTextLength)];
        ++level.sniffed;
        if (got == Done && data != nullptr && size > 0)
            ++level.formats[ColumnOf(data, size)];
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
                          ",\"notice\":" + (notice.empty() ? std::string("null") : JsonString(notice)) +
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
                      ",\"smallest\":%u,\"mean\":%.1f,\"largest\":%u,\"formats\":%s},\"metadata\":%s}\n",
                      total.plates, total.bytes, smallest(total), mean(total), total.largest, JsonFormats(total).c_str(),
                      MetadataReport(*open.action, true).c_str());
        std::fputs(out.c_str(), stdout);
        return kExitDone;
    }
    std::printf("storage  %s (plugin %s)\n", storage.c_str(), open.entry->name.c_str());
    if (!notice.empty())
        std::printf("note     %s\n", notice.c_str());
    std::printf("%5s %3s %12s %11s %9s %9s %9s %9s  %s\n", "level", "z", "plates", "bytes", "smallest", "mean", "largest",
                "of tree", options.formats == "sample" ? "formats (sampled)" : "formats");
    auto row = [&](const char* label, const char* z, const LevelStats& stats, double cover) {
        const std::string covered = cover < 0 ? "-" : cover >= 0.001 ? Format("%.1f%%", cover * 100) : Format("%.2g%%", cover * 100);
        std::printf("%5s %3s %12" PRIu64 " %11s %9u %9.0f %9u %9s  %s\n", label, z, stats.plates, FormatByteSize(stats.bytes).c_str(),
                    smallest(stats), mean(stats), stats.largest, covered.c_str(), noFormats ? "-" : FormatsText(stats, allFormats).c_str());
    };
    for (const auto& [level, stats] : levels)
        row(std::to_string(level).c_str(), std::to_string(level - 1).c_str(), stats, coverage(level, stats));
    row("total", "", total, -1);
    std::fputs(MetadataReport(*open.action, false).c_str(), stdout);
    return kExitDone;
}

} // namespace cli
