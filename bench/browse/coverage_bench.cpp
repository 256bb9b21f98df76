// The coverage map at 10 million plates: the grid of the deepest level and
// of a shallow one from the plate list, the per-level totals, the picture,
// the area selection and the marks of the selection. bench/run-coverage.sh
// runs it; it prints figures and checks nothing.
#include "base/ListSelection.h"
#include "browse/Coverage.h"
#include "browse/PlateList.h"

#include <sys/resource.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

long PeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

template <typename F>
double Best(int runs, F f)
{
    double best = 1e100;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        f();
        best = std::min(best, Ms(Clock::now() - start));
    }
    return best;
}

} // namespace

int main()
{
    const long wanted = std::getenv("ULMORA_BENCH_PLATES") ? std::atol(std::getenv("ULMORA_BENCH_PLATES")) : 10000000L;
    // As a world cache is filled: every level to zoom 11 (5.6 M tiles), then
    // the rest at zoom 14 row by row from the north-west, as MBTiles lists them.
    PlateList plates;
    for (int z = 0; z <= 14 && plates.Count() < wanted; z = z == 11 ? 14 : z + 1)
        for (uint32_t y = 0; y < (1u << z) && plates.Count() < wanted; ++y)
            for (uint32_t x = 0; x < (1u << z) && plates.Count() < wanted; ++x)
                plates.Append(PlateKey::FromTile({z, x, y}).c_str(), plates.Count(), 8000 + (x * 7 + y * 13) % 9000);
    std::printf("plates: %d, list %.0f MiB, peak resident %ld MiB\n", plates.Count(),
                static_cast<double>(plates.MemoryBytes()) / (1 << 20), PeakKiB() >> 10);

    std::optional<Coverage> deepest;
    const long before = PeakKiB();
    const double deepestMs = Best(3, [&] { deepest = BuildCoverage(plates); });
    std::printf("grid of the deepest level (zoom %d, %d x %d cells of %d x %d tiles, %" PRIu64 " tiles): %.0f ms, "
                "peak resident +%ld MiB\n",
                deepest->grid.Zoom(), deepest->grid.Side(), deepest->grid.Side(), 1 << deepest->grid.Shift(),
                1 << deepest->grid.Shift(), deepest->grid.Tiles(), deepestMs, (PeakKiB() - before) >> 10);
    std::optional<Coverage> shallow;
    const double shallowMs = Best(3, [&] { shallow = BuildCoverage(plates, 8, 1024); });
    std::printf("grid of zoom 8 (%d x %d, %" PRIu64 " tiles): %.0f ms\n", shallow->grid.Side(), shallow->grid.Side(),
                shallow->grid.Tiles(), shallowMs);

    // The tool's way: names one at a time as the plugin lists them.
    std::optional<Coverage> streamed;
    const double streamedMs = Best(3, [&] {
        CoverageBuilder builder;
        PlateItem item;
        for (int i = 0; i < plates.Count(); ++i) {
            plates.At(i, &item);
            builder.Add({item.name, static_cast<std::size_t>(item.nameLength)}, item.size);
        }
        streamed = builder.Take();
    });
    std::printf("the same from names one at a time (info --coverage), spelling included: %.0f ms\n", streamedMs);

    std::vector<uint8_t> picture;
    const double pictureMs = Best(3, [&] { picture = CoveragePicture(deepest->grid); });
    std::printf("picture of the deepest level, %d x %d: %.0f ms\n", deepest->grid.Side(), deepest->grid.Side(), pictureMs);

    ListSelection selection(plates.Count());
    const GeoBox europe = GeoBox::OfTiles(4, 7, 4, 10, 6);
    const double selectMs = Best(3, [&] { SelectArea(selection, plates, europe, 4); });
    std::printf("area selection (zoom 4 and below, %d plates selected): %.0f ms\n", selection.SelectedCount(), selectMs);
    const double markMs = Best(3, [&] { MarkSelection(deepest->grid, plates, selection); });
    std::printf("marks of that selection on the deepest grid: %.0f ms\n", markMs);
    return 0;
}
