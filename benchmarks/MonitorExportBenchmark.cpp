// Saving the largest store, 10 million cells, as text and as CSV: the work
// of the save thread without the disk, into a sink that only counts.
#include "MonitorExport.h"
#include "NullSurface.h"
#include "RecordStore.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kCells = 10000000;
constexpr uint32_t kRecordBytes = 15;  // with its time cell, 16 cells: one line

struct CountingSink : ExportSink {
    bool Write(std::string_view bytes) override
    {
        benchmark::DoNotOptimize(bytes.data());
        written += bytes.size();
        return true;
    }
    uint64_t written = 0;
};

// A terminal session's worth of text lines, sent and received in turn, each
// stamped 2 ms after the one before.
struct Monitor {
    Monitor() : store(kCells, 1), view(store, surface, MonitorColors{})
    {
        alignas(CaptureRecord) uint8_t bytes[CAPTURE_RECORD_HEADER_SIZE + kRecordBytes] = {};
        auto* record = reinterpret_cast<CaptureRecord*>(bytes);
        record->dataLength = kRecordBytes;
        std::memcpy(CaptureRecordData(record), "AT+CSQ=\"1,2\"\r\n\x82", kRecordBytes);
        for (uint32_t i = 0; store.DisplayedCells() + 16 <= kCells; ++i) {
            record->kind = i % 2 ? RecordKind_Read : RecordKind_Write;
            record->timestamp = 133485408000000000ull + uint64_t{i} * 20000;
            store.AddStamped(*record, sizeof bytes, 2);
        }
    }

    NullSurface surface;
    RecordStore store;
    MonitorView view;
};

Monitor& TenMillionCellMonitor()
{
    static Monitor* monitor = new Monitor;
    return *monitor;
}

void BM_SaveTenMillionCells(benchmark::State& state)
{
    Monitor& monitor = TenMillionCellMonitor();
    ExportRequest request;
    request.format = state.range(0) == 0 ? ExportFormat::Text : ExportFormat::Csv;
    request.lines = LineRange{0, monitor.view.LineCount()};
    request.portName = "COM11";
    uint64_t written = 0;
    for (auto _ : state) {
        CountingSink sink;
        ExportMonitor(monitor.view, request, sink);
        written = sink.written;
    }
    state.counters["cells"] = monitor.store.DisplayedCells();
    state.counters["MB"] = static_cast<double>(written) / 1e6;
    state.SetBytesProcessed(static_cast<int64_t>(written) * state.iterations());
}

BENCHMARK(BM_SaveTenMillionCells)->Arg(0)->Arg(1)->ArgName("csv")->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
