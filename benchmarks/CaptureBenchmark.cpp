// The capture path on the simulation: records per second from a program's
// 1-byte writes on a captured port to the monitor's record stream, and the
// cost of a write on a captured port against an uncaptured one.
#include "FilterMachine.h"
#include "MonitorView.h"
#include "NullSurface.h"
#include "RecordStore.h"
#include "RecordStream.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <string>

namespace {

HANDLE OpenPort(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// COM11 captured into one monitor object, read by the monitor's record
// stream into a store of `cells` cells.
struct CapturedCom11 {
    CapturedCom11(DWORD maxBytes, uint32_t cells)
        : setup(CAPTURE_MONITOR_OBJECT_PREFIX_A "1", maxBytes), port(OpenPort("\\\\.\\COM11")), store(cells, 1000000),
          stream(store, 0, [](uint32_t) {})
    {
        stream.Open("\\\\.\\" CAPTURE_MONITOR_OBJECT_PREFIX_A "1");
        stream.PollDevice(0);  // the open
    }
    ~CapturedCom11()
    {
        stream.Close();
        CloseHandle(port);
    }
    void WriteOneByteRecords(int count)
    {
        DWORD written = 0;
        for (int i = 0; i < count; ++i)
            WriteFile(port, "w", 1, &written, nullptr);
    }

    FilterMachine setup;
    HANDLE port;
    RecordStore store;
    RecordStream stream;
};

void BM_RecordsFromWriteToRecordStream(benchmark::State& state)
{
    CapturedCom11 capture(1000000, 100000);
    const int batch = 1000;
    for (auto _ : state) {
        capture.WriteOneByteRecords(batch);
        capture.stream.PollDevice(0);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["sent"] = capture.stream.SentTotal();
}
BENCHMARK(BM_RecordsFromWriteToRecordStream)->Unit(benchmark::kMillisecond);

// 10,000 one-byte writes waiting in the control device, drained by one
// monitor tick: records per second and device requests per record.
void BM_DrainTenThousandRecords(benchmark::State& state)
{
    const int waiting = 10000;
    CapturedCom11 capture(100000000, 100000);
    uint64_t requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        capture.WriteOneByteRecords(waiting);
        requests = capture.stream.Requests();
        state.ResumeTiming();
        capture.stream.PollDevice(0);
        requests = capture.stream.Requests() - requests;
    }
    state.SetItemsProcessed(state.iterations() * waiting);
    state.counters["requests_per_record"] = static_cast<double>(requests) / waiting;
}
BENCHMARK(BM_DrainTenThousandRecords)->Unit(benchmark::kMillisecond);

// One monitor refresh tick (100 ms) with arg one-byte records waiting: drain,
// decode, store and lay out the visible lines. 9,200 records arrive per tick
// at 921,600 baud, 120,000 at 12 Mbaud.
void BM_MonitorTick(benchmark::State& state)
{
    const int waiting = static_cast<int>(state.range(0));
    CapturedCom11 capture(100000000, 1000000);
    NullSurface surface;
    MonitorView view(capture.store, surface, MonitorColors{});
    view.SetViewHeight(20 + 40 * 29);
    for (auto _ : state) {
        state.PauseTiming();
        capture.WriteOneByteRecords(waiting);
        state.ResumeTiming();
        capture.stream.PollDevice(0);
        view.SetFirstVisibleLine(view.LargestFirstVisibleLine());
        view.PaintScreen();
    }
    state.SetItemsProcessed(state.iterations() * waiting);
}
BENCHMARK(BM_MonitorTick)->Arg(9200)->Arg(120000)->Unit(benchmark::kMillisecond);

double ThreadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A 1-byte write on the captured COM11 against one on COM13, which no filter
// sits on: batches of each alternate, timed in this thread's CPU time, so
// that both see the same load on the machine. The monitor keeps pace: it is
// drained between batches, outside the timing.
void BM_CapturedWriteOverhead(benchmark::State& state)
{
    CapturedCom11 capture(1000000, 100000);
    HANDLE uncaptured = OpenPort("\\\\.\\COM13");
    const int batch = 1000;
    double capturedSeconds = 0;
    double uncapturedSeconds = 0;
    DWORD written = 0;
    for (auto _ : state) {
        double start = ThreadSeconds();
        for (int i = 0; i < batch; ++i)
            WriteFile(uncaptured, "w", 1, &written, nullptr);
        double middle = ThreadSeconds();
        capture.WriteOneByteRecords(batch);
        double end = ThreadSeconds();
        uncapturedSeconds += middle - start;
        capturedSeconds += end - middle;
        state.PauseTiming();
        capture.stream.PollDevice(0);
        state.ResumeTiming();
    }
    double writes = static_cast<double>(state.iterations()) * batch;
    state.counters["captured_ns"] = capturedSeconds / writes * 1e9;
    state.counters["uncaptured_ns"] = uncapturedSeconds / writes * 1e9;
    state.counters["ratio"] = capturedSeconds / uncapturedSeconds;
    CloseHandle(uncaptured);
}
BENCHMARK(BM_CapturedWriteOverhead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
