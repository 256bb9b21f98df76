#include "InfoPictures.h"

#include "Cli.h"
#include "Options.h"
#include "Png.h"

#include <cstdio>

namespace cli {

InfoPictures::InfoPictures(const Options& options) : options_(options)
{
    if (options.coverage.empty() && options.chart.empty())
        return;
    // One level asked for (--z 8, --levels 9) is the picture's, even when it
    // holds no plate: an empty level is an empty picture of its size.
    int zoom = CoverageBuilder::kDeepest;
    if (const auto& levels = options.filter.Levels(); levels && levels->first == levels->second)
        zoom = levels->first - 1;
    builder_.emplace(zoom);
}

int InfoPictures::Write()
{
    if (!builder_)
        return kExitDone;
    const Coverage coverage = builder_->Take();
    builder_.reset();
    std::string error;
    if (!options_.coverage.empty()) {
        const int side = coverage.grid.Side();
        if (!WritePng(options_.coverage, CoveragePicture(coverage.grid), side, side, &error)) {
            std::fprintf(stderr, "ulmora-cli: %s\n", error.c_str());
            return kExitNoStorage;
        }
    }
    if (!options_.chart.empty()) {
        int width = 0;
        int height = 0;
        const std::vector<uint8_t> chart = CoverageChart(coverage.levels, &width, &height);
        if (!WritePng(options_.chart, chart, width, height, &error)) {
            std::fprintf(stderr, "ulmora-cli: %s\n", error.c_str());
            return kExitNoStorage;
        }
    }
    return kExitDone;
}

} // namespace cli
