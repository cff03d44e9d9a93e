// The capture path on the simulation: records per second from a program's
// 1-byte writes on a captured port to the monitor's record stream, and the
// cost of a write on a captured port against an uncaptured one.
#include "FilterMachine.h"
#include "MonitorView.h"
#include "NullSurface.h"
#include "RecordStore.h"
#include "RecordStream.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

HANDLE OpenPort(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void BM_RecordsFromWriteToRecordStream(benchmark::State& state)
{
    FilterMachine setup(CAPTURE_MONITOR_OBJECT_PREFIX_A "1", 1000000);
    HANDLE port = OpenPort("\\\\.\\COM11");
    RecordStore store(100000, 1000000);
    RecordStream stream(store, 0, [](uint32_t) {});
    stream.Open("\\\\.\\" CAPTURE_MONITOR_OBJECT_PREFIX_A "1");
    stream.PollDevice(0);
    const int batch = 1000;
    DWORD written = 0;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            WriteFile(port, "w", 1, &written, nullptr);
        stream.PollDevice(0);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["sent"] = stream.SentTotal();
    stream.Close();
    CloseHandle(port);
}
BENCHMARK(BM_RecordsFromWriteToRecordStream)->Unit(benchmark::kMillisecond);

// 10,000 one-byte writes waiting in the control device, drained by one
// monitor tick: records per second and device requests per record.
void BM_DrainTenThousandRecords(benchmark::State& state)
{
    const int waiting = 10000;
    FilterMachine setup(CAPTURE_MONITOR_OBJECT_PREFIX_A "1", 100000000);
    HANDLE port = OpenPort("\\\\.\\COM11");
    RecordStore store(100000, 1000000);
    RecordStream stream(store, 0, [](uint32_t) {});
    stream.Open("\\\\.\\" CAPTURE_MONITOR_OBJECT_PREFIX_A "1");
    stream.PollDevice(0);
    DWORD written = 0;
    uint64_t requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < waiting; ++i)
            WriteFile(port, "w", 1, &written, nullptr);
        requests = stream.Requests();
        state.ResumeTiming();
        stream.PollDevice(0);
        requests = stream.Requests() - requests;
    }
    state.SetItemsProcessed(state.iterations() * waiting);
    state.counters["requests_per_record"] = static_cast<double>(requests) / waiting;
    stream.Close();
    CloseHandle(port);
}
BENCHMARK(BM_DrainTenThousandRecords)->Unit(benchmark::kMillisecond);

// One monitor refresh tick (100 ms) with arg one-byte records waiting: drain,
// decode, store and lay out the visible lines. 9,200 records arrive per tick
// at 921,600 baud, 120,000 at 12 Mbaud.
void BM_MonitorTick(benchmark::State& state)
{
    const int waiting = static_cast<int>(state.range(0));
    FilterMachine setup(CAPTURE_MONITOR_OBJECT_PREFIX_A "1", 100000000);
    HANDLE port = OpenPort("\\\\.\\COM11");
    RecordStore store(1000000, 1000000);
    NullSurface surface;
    MonitorView view(store, surface, MonitorColors{});
    view.SetViewHeight(20 + 40 * 29);
    RecordStream stream(store, 0, [](uint32_t) {});
    stream.Open("\\\\.\\" CAPTURE_MONITOR_OBJECT_PREFIX_A "1");
    DWORD written = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < waiting; ++i)
            WriteFile(port, "w", 1, &written, nullptr);
        state.ResumeTiming();
        stream.PollDevice(0);
        view.SetFirstVisibleLine(view.LargestFirstVisibleLine());
        view.PaintScreen();
    }
    state.SetItemsProcessed(state.iterations() * waiting);
    stream.Close();
    CloseHandle(port);
}
BENCHMARK(BM_MonitorTick)->Arg(9200)->Arg(120000)->Unit(benchmark::kMillisecond);

// arg 1: the captured COM11; arg 0: COM13, which no filter sits on.
void BM_OneByteWrite(benchmark::State& state)
{
    FilterMachine setup(CAPTURE_MONITOR_OBJECT_PREFIX_A "1", 1000000);
    HANDLE port = OpenPort(state.range(0) != 0 ? "\\\\.\\COM11" : "\\\\.\\COM13");
    DWORD written = 0;
    for (auto _ : state)
        WriteFile(port, "w", 1, &written, nullptr);
    state.SetItemsProcessed(state.iterations());
    CloseHandle(port);
}
BENCHMARK(BM_OneByteWrite)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
