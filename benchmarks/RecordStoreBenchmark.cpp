// Locating the visible cells must not depend on how much the store holds, and
// adding records with eviction must keep up with bursts of traffic.
#include "RecordStore.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t ScreenLines = 29;
constexpr uint32_t ScreenCells = ScreenLines * CellsPerLine;

CaptureRecord* NewRecord(uint8_t kind, uint32_t bytes, uint32_t timeCounter)
{
    auto* record = static_cast<CaptureRecord*>(std::malloc(CAPTURE_RECORD_HEADER_SIZE + bytes));
    std::memset(record, 0, CAPTURE_RECORD_HEADER_SIZE + bytes);
    record->kind = kind;
    record->dataLength = bytes;
    record->timestamp = timeCounter;
    return record;
}

// A store holding `cells` one-byte records without time cells, plus the idle
// cell; built once per process.
RecordStore* FilledStore(uint32_t cells)
{
    auto* store = new RecordStore(cells + CellsPerLine, 1);
    store->Grow(1);
    for (uint32_t i = 0; i < cells; ++i)
        store->Add(NewRecord(i % 3 ? RecordKind_Read : RecordKind_Write, 1, 0), CAPTURE_RECORD_HEADER_SIZE + 1);
    return store;
}

RecordStore& OneLineStore()
{
    static RecordStore* store = FilledStore(CellsPerLine - 1);
    return *store;
}

RecordStore& OneScreenStore()
{
    static RecordStore* store = FilledStore(ScreenCells - 1);
    return *store;
}

RecordStore& TenMillionCellStore()
{
    static RecordStore* store = FilledStore(10000000);
    return *store;
}

// First displayed cell of the last screen, as the view scrolled to the end asks.
uint32_t LastScreenStart(const RecordStore& store)
{
    const uint32_t lines = store.LineCount();
    return lines > ScreenLines ? (lines - ScreenLines) * CellsPerLine : 0;
}

void LocateAndIterateLastScreen(benchmark::State& state, const RecordStore& store)
{
    const uint32_t start = LastScreenStart(store);
    for (auto _ : state) {
        CellPosition position = store.Locate(start);
        Cell cell;
        uint32_t sum = position.receivedCount + position.sentCount;
        for (uint32_t n = 0; n < ScreenCells && store.NextCell(position.cursor, cell); ++n)
            sum += cell.value;
        benchmark::DoNotOptimize(sum);
    }
}

void LocateLastCell(benchmark::State& state, const RecordStore& store)
{
    const uint32_t last = store.DisplayedCells() - 2;  // the last record's cell
    for (auto _ : state)
        benchmark::DoNotOptimize(store.Locate(last));
}

void BM_ScreenAtEnd_OneLineStore(benchmark::State& state)
{
    LocateAndIterateLastScreen(state, OneLineStore());
}
void BM_ScreenAtEnd_OneScreenStore(benchmark::State& state)
{
    LocateAndIterateLastScreen(state, OneScreenStore());
}
void BM_ScreenAtEnd_TenMillionCellStore(benchmark::State& state)
{
    LocateAndIterateLastScreen(state, TenMillionCellStore());
}
void BM_LocateLastCell_OneLineStore(benchmark::State& state)
{
    LocateLastCell(state, OneLineStore());
}
void BM_LocateLastCell_TenMillionCellStore(benchmark::State& state)
{
    LocateLastCell(state, TenMillionCellStore());
}

// Jumps between the top and the last cell: no search can go on from the one
// before, so each walks its chunk from the start.
void BM_LocateAlternatingEnds_TenMillionCellStore(benchmark::State& state)
{
    const RecordStore& store = TenMillionCellStore();
    const uint32_t last = store.DisplayedCells() - 2;
    uint32_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.Locate(++n % 2 != 0 ? last : 0));
}

// Records arriving into a full store: every Add evicts.
void BM_AddWithEviction(benchmark::State& state)
{
    const auto bytes = static_cast<uint32_t>(state.range(0));
    RecordStore store(10000, 1);
    store.Grow(1);
    for (auto _ : state)
        store.Add(NewRecord(RecordKind_Read, bytes, 5), CAPTURE_RECORD_HEADER_SIZE + bytes);
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_ScreenAtEnd_OneLineStore);
BENCHMARK(BM_ScreenAtEnd_OneScreenStore);
BENCHMARK(BM_ScreenAtEnd_TenMillionCellStore);
BENCHMARK(BM_LocateLastCell_OneLineStore);
BENCHMARK(BM_LocateLastCell_TenMillionCellStore);
BENCHMARK(BM_LocateAlternatingEnds_TenMillionCellStore);
BENCHMARK(BM_AddWithEviction)->Arg(1)->Arg(64);
BENCHMARK_MAIN();
