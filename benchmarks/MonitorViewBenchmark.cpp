// A screen pass at the end of a huge store must cost about what it costs on
// a store of one line: the pass locates its first cell instead of walking.
#include "MonitorView.h"
#include "NullSurface.h"
#include "RecordStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr uint32_t ScreenLines = 29;
constexpr int ScreenHeight = 20 + 40 * static_cast<int>(ScreenLines);

CaptureRecord* NewOneByteRecord(uint8_t kind, uint8_t byte)
{
    auto* record = static_cast<CaptureRecord*>(std::malloc(CAPTURE_RECORD_HEADER_SIZE + 1));
    std::memset(record, 0, CAPTURE_RECORD_HEADER_SIZE);
    record->kind = kind;
    record->dataLength = 1;
    *CaptureRecordData(record) = byte;
    return record;
}

// A store and its view scrolled to the end, holding `cells` one-byte records.
struct Monitor {
    explicit Monitor(uint32_t cells) : store(cells + 16, 1), view(store, surface, MonitorColors{})
    {
        for (uint32_t i = 0; i < cells; ++i) {
            const uint8_t kind = i % 3 ? RecordKind_Read : RecordKind_Write;
            store.Add(NewOneByteRecord(kind, static_cast<uint8_t>(i)), CAPTURE_RECORD_HEADER_SIZE + 1);
        }
        view.SetViewHeight(ScreenHeight);
        view.SetFirstVisibleLine(view.LargestFirstVisibleLine());
    }

    NullSurface surface;
    RecordStore store;
    MonitorView view;
};

Monitor& OneLineMonitor()
{
    static Monitor* monitor = new Monitor(15);
    return *monitor;
}

// 29 full lines: the same amount of drawing as the end of a big store.
Monitor& OneScreenMonitor()
{
    static Monitor* monitor = new Monitor(ScreenLines * CellsPerLine - 1);
    return *monitor;
}

Monitor& TenMillionCellMonitor()
{
    // With the idle cell 10,000,000 cells: the last line is full, like the one-line store.
    static Monitor* monitor = new Monitor(9999999);
    return *monitor;
}

void PaintScreen(benchmark::State& state, Monitor& monitor)
{
    for (auto _ : state)
        monitor.view.PaintScreen();
    state.counters["cells"] = monitor.view.CellsOfLastPass();
}

void BM_PaintScreen_OneLine(benchmark::State& state)
{
    PaintScreen(state, OneLineMonitor());
}

void BM_PaintScreen_OneScreen(benchmark::State& state)
{
    PaintScreen(state, OneScreenMonitor());
}

void BM_PaintScreen_EndOfTenMillionCells(benchmark::State& state)
{
    PaintScreen(state, TenMillionCellMonitor());
}

// The last line alone at the top of the screen: the same drawing as the
// one-line store, so the difference is what the store's size costs.
void BM_PaintScreen_LastLineOfTenMillionCells(benchmark::State& state)
{
    Monitor& monitor = TenMillionCellMonitor();
    const uint32_t endOfStore = monitor.view.FirstVisibleLine();
    monitor.view.SetFirstVisibleLine(monitor.view.LineCount() - 1);
    PaintScreen(state, monitor);
    monitor.view.SetFirstVisibleLine(endOfStore);
}

BENCHMARK(BM_PaintScreen_OneLine);
BENCHMARK(BM_PaintScreen_LastLineOfTenMillionCells);
BENCHMARK(BM_PaintScreen_OneScreen);
BENCHMARK(BM_PaintScreen_EndOfTenMillionCells);

}  // namespace

BENCHMARK_MAIN();
