// The program's side of browsing: scanning plates into the list, its memory,
// selecting by zoom, sorting by a column, and decoding and drawing a plate for the preview.
// bench/run-browse.sh runs it; it prints figures and checks nothing.
#include "QuietLoad.h"
#include "browse/PlateSort.h"
#include "browse/Selection.h"
#include "browse/StorageConnection.h"
#include "log/Operation.h"
#include "plates/Preview.h"
#include "plates/QtPicture.h"
#include "plugins/Registry.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }



// A plate-like picture: smooth areas and edges, as map tiles have.
QByteArray JpegPlate()
{
    QImage picture(256, 256, QImage::Format_RGB32);
    picture.fill(qRgb(170, 200, 150));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        painter.setPen(QPen(QColor::fromHsv((i * 37) % 360, 120, 200), 1 + i % 4));
        painter.drawLine(i * 7 % 256, 0, 255 - i * 11 % 256, 255);
    }
    painter.drawText(20, 128, "Ulmora 12/2345/6789");
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 80);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    const long plates = std::getenv("ULMORA_BENCH_PLATES") ? std::atol(std::getenv("ULMORA_BENCH_PLATES")) : 10000000L;
    FillHostInfo();
    QuietView view;
    QuietOperation operation;
    PRPeriod period(400);
    StorageConnection connection(view, operation, period, &HostInfo());

    const long before = StatusBytes("VmRSS:");
    const auto scanStart = Clock::now();
    connection.LoadStorage(BENCH_PLUGIN, "bench");
    const double scan = Seconds(Clock::now() - scanStart);
    const long after = StatusBytes("VmRSS:");
    const int count = connection.Plates().Count();
    if (count != plates) {
        for (const std::string& error : view.errors)
            std::fprintf(stderr, "%s\n", error.c_str());
        std::fprintf(stderr, "scan listed %d plates, wanted %ld\n", count, plates);
        return 1;
    }
    std::printf("scan: %d plates in %.3f s = %.2f million plates/s\n", count, scan, count / scan / 1e6);
    std::printf("list memory: %.1f bytes/plate held by the list, resident %.1f MB before, %.1f MB after "
                "(%.1f bytes/plate)\n",
                static_cast<double>(connection.Plates().MemoryBytes()) / count, before / 1e6, after / 1e6,
                static_cast<double>(after - before) / count);

    ListSelection selection(count);
    auto time = [](const char* what, auto&& work) {
        const auto start = Clock::now();
        work();
        std::printf("%s: %.3f ms\n", what, Seconds(Clock::now() - start) * 1000);
    };
    time("select zoom range 18..19", [&] { SelectZoomRange(selection, connection.Plates(), 18, 19); });
    time("select all", [&] { selection.SelectAll(); });
    time("walk the selected plates", [&] {
        long sum = 0;
        selection.ForEachSelected([&](int i) {
            PlateItem plate;
            connection.Plates().At(i, &plate);
            sum += plate.size;
        });
        if (sum < 0)
            std::printf("?");
    });
    time("selection summary, all selected (the window's summary line)", [&] {
        const SelectionSummary summary = SummarizeSelection(connection.Plates(), selection);
        if (summary.selected != count)
            std::printf("?");
    });
    time("invert", [&] { selection.Invert(); });
    selection.SetRange(0, count / 2 - 1, true);
    time("selection summary, the first half selected (its slowest case)", [&] {
        if (SummarizeSelection(connection.Plates(), selection).selected != count / 2)
            std::printf("?");
    });
    // Sorting by a header column: the order and the list's reordered copy,
    // then the copy taken and the selection (half selected) carried along.
    // The first sorts scatter the list the plugin gave in name order.
    const struct {
        const char* what;
        PlateSortKey key;
        bool descending;
    } sorts[] = {
        {"sort by size", PlateSortKey::Size, false},
        {"sort by name", PlateSortKey::Name, false},
        {"sort by size, descending", PlateSortKey::Size, true},
        {"sort by name, descending", PlateSortKey::Name, true},
        {"sort by zoom", PlateSortKey::Level, false},
        {"sort by number (the plugin's order again)", PlateSortKey::Number, false},
    };
    // The machine may be shared: the process's own CPU time beside the wall clock.
    auto timeCpu = [](const char* what, auto&& work) {
        const auto start = Clock::now();
        const std::clock_t cpu = std::clock();
        work();
        std::printf("%s: %.3f ms (CPU %.3f ms)\n", what, Seconds(Clock::now() - start) * 1000,
                    1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    };
    for (const auto& sort : sorts) {
        std::printf("%s\n", sort.what);
        PreparedSort prepared;
        timeCpu("  prepared (the window runs it on a thread of its own)",
                [&] { prepared = PrepareSort(connection.Plates(), sort.key, sort.descending); });
        timeCpu("  applied, the selection carried (the window's own thread waits this long)",
                [&] { connection.ApplySort(selection, std::move(prepared)); });
    }
    connection.ReleaseStorage();

    // Preview: decode a 256 x 256 JPEG plate and make the picture to draw.
    QGuiApplication application(argc, argv);
    if (!LoadImageLibrary())
        return 1;
    const QByteArray jpeg = JpegPlate();
    std::vector<double> times;
    for (int i = 0; i < 300; ++i) {
        QImage picture;
        int width = 0;
        int height = 0;
        const auto start = Clock::now();
        const bool shown = LoadPlateImage(jpeg.constData(), static_cast<uint32_t>(jpeg.size()), "t",
                                          [&picture](const ImageBitmap& bitmap) {
                                              picture = PictureOf(bitmap);
                                              return !picture.isNull();
                                          },
                                          &width, &height);
        times.push_back(Seconds(Clock::now() - start) * 1000);
        if (!shown)
            return 1;
    }
    std::sort(times.begin(), times.end());
    std::printf("preview of a %d-byte 256x256 JPEG plate: median %.3f ms, 90th percentile %.3f ms (300 runs)\n",
                static_cast<int>(jpeg.size()), times[times.size() / 2], times[times.size() * 9 / 10]);
    return 0;
}
