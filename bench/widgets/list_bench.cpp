// The list control at 1 and 10 million items: the selection commands as the
// owners run them (through the control, inside BeginUpdate / EndUpdate), the
// count change of a scan, and the paint of one viewport at the top and at the
// end of the list. Runs under the offscreen platform unless told otherwise.
#include "widgets/BkList.h"
#include "widgets/ListHeader.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

// Zoom levels of a synthetic plate list, as the level selection reads them.
const std::vector<std::uint8_t>& Zooms(int count)
{
    static std::vector<std::uint8_t> zooms;
    if (static_cast<int>(zooms.size()) < count) {
        std::mt19937 random(7);
        zooms.resize(count);
        for (auto& zoom : zooms)
            zoom = static_cast<std::uint8_t>(1 + random() % 20);
    }
    return zooms;
}

// Draws the five plate columns from the index alone, like listDrawItemSection.
struct PlateCells {
    bool Draw(CustomBkList*, QPainter& canvas, unsigned, const QRect& rect, int section, int index)
    {
        const QRect inner = rect.adjusted(2, 0, -2, 0);
        QString text;
        Qt::Alignment align = Qt::AlignRight;
        switch (section) {
        case 0:
            text = QString::number(index);
            break;
        case 1:
            text = QString::number(Zooms(index + 1)[index]);
            break;
        case 2:
            text = QStringLiteral("%1.%2K").arg(index % 1000).arg(index % 997, 3, 10, QLatin1Char('0'));
            break;
        case 3:
            text = QStringLiteral("trtqsrtqqrstqtr").left(Zooms(index + 1)[index] % 15 + 1);
            align = Qt::AlignLeft;
            break;
        default:
            return true;
        }
        canvas.drawText(inner, align | Qt::AlignVCenter | Qt::TextSingleLine, text);
        return true;
    }
};

struct PlateList {
    explicit PlateList(int count)
    {
        list.SetOptions({bkoVirtual, bkoColLines, bkoShowSelection, bkoShowBorder});
        list.SetMultiSelect(true);
        list.SetItemHeight(16);
        list.SetBkColor(clWindow);
        list.SetGridColor(12615680);
        list.SetHeader(MakeListHeader({"N", "Zoom", "Size", "Name", "File"}, {60, 50, 70, 200, 100}));
        list.OnDrawItemSection = CustomBkList::DrawSectionEvent::Bind<&PlateCells::Draw>(&cells);
        list.resize(600, 800);
        list.SetItemsCount(count);
        Zooms(count);
    }
    PlateCells cells;
    BkList list;
};

// For the loops that visit every item.
void Count(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_SelectAll(benchmark::State& state)
{
    PlateList plates(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        plates.list.SelectAll();
        benchmark::DoNotOptimize(plates.list.SelectedCount());
    }
    Count(state);
}

void BM_InvertBulk(benchmark::State& state)
{
    PlateList plates(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        plates.list.InvertSelection();
        benchmark::DoNotOptimize(plates.list.SelectedCount());
    }
    Count(state);
}

// "Invert selection" as the menu command does it: item by item.
void BM_InvertItemByItem(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    BkList& list = plates.list;
    for (auto _ : state) {
        list.BeginUpdate();
        for (int i = 0; i < list.ItemsCount(); ++i)
            list.SetSelected(i, !list.IsSelected(i));
        list.EndUpdate();
        benchmark::DoNotOptimize(list.SelectedCount());
    }
    Count(state);
}

// The same loop without the update bracket: each item asks whether it is on screen.
void BM_InvertItemByItemUnbracketed(benchmark::State& state)
{
    PlateList plates(static_cast<int>(state.range(0)));
    BkList& list = plates.list;
    for (auto _ : state) {
        for (int i = 0; i < list.ItemsCount(); ++i)
            list.SetSelected(i, !list.IsSelected(i));
        benchmark::DoNotOptimize(list.SelectedCount());
    }
    Count(state);
}

// "Level...": each item set from its zoom, item by item.
void BM_SelectZoomItemByItem(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    BkList& list = plates.list;
    const std::vector<std::uint8_t>& zooms = Zooms(count);
    for (auto _ : state) {
        list.BeginUpdate();
        for (int i = 0; i < list.ItemsCount(); ++i)
            list.SetSelected(i, zooms[i] >= 5 && zooms[i] <= 9);
        list.EndUpdate();
        benchmark::DoNotOptimize(list.SelectedCount());
    }
    Count(state);
}

// The same through the store's predicate selection.
void BM_SelectZoomPredicate(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    const std::vector<std::uint8_t>& zooms = Zooms(count);
    for (auto _ : state) {
        plates.list.EditSelection([&](ListSelection& selection) {
            selection.SelectWhere([&](int i) { return zooms[i] >= 5 && zooms[i] <= 9; });
        });
        benchmark::DoNotOptimize(plates.list.SelectedCount());
    }
    Count(state);
}

// Export and deletion: walk the selected items and clear each one.
void BM_WalkAndDeselect(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    BkList& list = plates.list;
    const std::vector<std::uint8_t>& zooms = Zooms(count);
    for (auto _ : state) {
        state.PauseTiming();
        list.EditSelection([&](ListSelection& selection) { selection.SelectWhere([&](int i) { return zooms[i] <= 10; }); });
        state.ResumeTiming();
        list.BeginUpdate();
        int walked = 0;
        for (int i = list.NextSelected(0); i >= 0; i = list.NextSelected(i + 1)) {
            list.SetSelected(i, false);
            ++walked;
        }
        list.EndUpdate();
        benchmark::DoNotOptimize(walked);
    }
    Count(state);
}

// The scan's progress step: the count grows while focus and top row stay.
void BM_SetCountGrow(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    plates.list.SetItemIndex(count / 2);
    plates.list.SetTopIndex(count / 2);
    int n = count;
    for (auto _ : state)
        plates.list.SetItemsCount(n ^= 1);
}

// A load's end after a release: from no items to all of them.
void BM_SetCountFromEmpty(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    for (auto _ : state) {
        state.PauseTiming();
        plates.list.SetItemsCount(0);
        state.ResumeTiming();
        plates.list.SetItemsCount(count);
    }
}

void Paint(benchmark::State& state, bool atEnd)
{
    const int count = static_cast<int>(state.range(0));
    PlateList plates(count);
    BkList& list = plates.list;
    list.SelectAll(); // selected rows draw the most: background, frame
    list.SetTopIndex(atEnd ? count : 0);
    QImage image(list.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        list.viewport()->render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
    state.counters["top"] = list.TopIndex();
    state.counters["rows"] = list.viewport()->height() / list.ItemHeight();
}

void BM_PaintViewportTop(benchmark::State& state) { Paint(state, false); }
void BM_PaintViewportEnd(benchmark::State& state) { Paint(state, true); }

#define LIST_SIZES Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_SelectAll)->LIST_SIZES;
BENCHMARK(BM_InvertBulk)->LIST_SIZES;
BENCHMARK(BM_InvertItemByItem)->LIST_SIZES;
BENCHMARK(BM_InvertItemByItemUnbracketed)->LIST_SIZES;
BENCHMARK(BM_SelectZoomItemByItem)->LIST_SIZES;
BENCHMARK(BM_SelectZoomPredicate)->LIST_SIZES;
BENCHMARK(BM_WalkAndDeselect)->LIST_SIZES;
BENCHMARK(BM_SetCountGrow)->LIST_SIZES;
BENCHMARK(BM_SetCountFromEmpty)->LIST_SIZES;
BENCHMARK(BM_PaintViewportTop)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintViewportEnd)->Arg(1'000'000)->Arg(10'000'000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
