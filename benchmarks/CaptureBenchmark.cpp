// The capture path on the simulation: records per second from a program's
// 1-byte writes on a captured port to the monitor's record stream, and the
// cost of a write on a captured port against an uncaptured one.
#include <windows.h>

#include "FilterDriver.h"
#include "Machine.h"
#include "RecordStore.h"
#include "RecordStream.h"
#include "TestPortIoctl.h"

#include <benchmark/benchmark.h>

#include <string>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);  // the test port

namespace {

void SetValue(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size)
{
    HKEY handle;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &handle,
                    nullptr);
    RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
}

void SetString(const std::string& key, const std::string& name, const std::string& text)
{
    SetValue(key, name, REG_SZ, text.data(), static_cast<DWORD>(text.size()));
}

// COM11/COM12 and COM13/COM14 as port pairs; COM11 captured by ZrVlObj1.
struct CaptureSetup {
    CaptureSetup()
    {
        const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
        SetString(services + TESTPORT_SERVICE_NAME "\\Parameters", "Pair0", "COM11,COM12");
        SetString(services + TESTPORT_SERVICE_NAME "\\Parameters", "Pair1", "COM13,COM14");
        const std::string object = services + "VantrelFlt\\Parameters\\Obj1";
        SetString(object, "BaseName", "ZrVlObj1");
        SetString(object, "COM11", "\\Device\\VtrlTestPort0");
        DWORD maxBytes = 1000000;
        SetValue(object, "MaxByte", REG_DWORD, &maxBytes, sizeof maxBytes);
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME);
        machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
        machine.LoadDriver("VantrelFlt", "ZrVtrlFlt.sys");
    }
    ~CaptureSetup()
    {
        machine.UnloadDriver("VantrelFlt");
        machine.UnloadDriver(TESTPORT_SERVICE_NAME);
    }

    sim::Machine machine;
};

HANDLE OpenPort(const char* path)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

void BM_RecordsFromWriteToRecordStream(benchmark::State& state)
{
    CaptureSetup setup;
    HANDLE port = OpenPort("\\\\.\\COM11");
    RecordStore store(100000, 1000000);
    RecordStream stream(store, 0, [](uint32_t) {});
    stream.Open("\\\\.\\ZrVlObj1");
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

// arg 1: the captured COM11; arg 0: COM13, which no filter sits on.
void BM_OneByteWrite(benchmark::State& state)
{
    CaptureSetup setup;
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
