// Bytes per second that a reader of the virtual port receives while it keeps
// a read pending and a program writes 256-byte blocks on the captured COM11:
// form 1 (text) against form 2 (raw written data), in one run.
#include <windows.h>

#include "FilterDriver.h"
#include "Machine.h"
#include "TestPortIoctl.h"

#include <ntddser.h>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

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

HANDLE Open(const char* path, DWORD flags)
{
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

// COM21 as the output port of form `form`, capturing COM11.
struct OutputSetup {
    explicit OutputSetup(DWORD form)
    {
        const std::string services = "SYSTEM\\CurrentControlSet\\Services\\";
        const std::string pair = "COM11,COM12";
        SetValue(services + TESTPORT_SERVICE_NAME "\\Parameters", "Pair0", REG_SZ, pair.data(),
                 static_cast<DWORD>(pair.size()));
        machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
        machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME);
        const std::string object = services + "VantrelFlt\\Parameters\\Obj1";
        const std::string base = "COM21";
        const std::string port = "\\Device\\VtrlTestPort0";
        SetValue(object, "BaseName", REG_SZ, base.data(), static_cast<DWORD>(base.size()));
        SetValue(object, "COM11", REG_SZ, port.data(), static_cast<DWORD>(port.size()));
        DWORD limit = 100000000;
        SetValue(object, "MaxByte", REG_DWORD, &limit, sizeof limit);
        SetValue(object, "CapType", REG_DWORD, &form, sizeof form);
        machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
        machine.LoadDriver("VantrelFlt", "ZrVtrlFlt.sys");
        reader = Open("\\\\.\\COM21", FILE_FLAG_OVERLAPPED);
        writer = Open("\\\\.\\COM11", 0);
        // Reads wait for their whole length: the read stays pending between writes.
        SERIAL_TIMEOUTS t = {0, 0, 0, 0, 0};
        DWORD returned = 0;
        OVERLAPPED set{};
        DeviceIoControl(reader, IOCTL_SERIAL_SET_TIMEOUTS, &t, sizeof t, nullptr, 0, &returned, &set);
    }
    ~OutputSetup()
    {
        CloseHandle(writer);
        CloseHandle(reader);
        machine.UnloadDriver("VantrelFlt");
        machine.UnloadDriver(TESTPORT_SERVICE_NAME);
    }

    sim::Machine machine;
    HANDLE reader = INVALID_HANDLE_VALUE;
    HANDLE writer = INVALID_HANDLE_VALUE;
};

void DeliveredBytes(benchmark::State& state, DWORD form)
{
    OutputSetup setup(form);
    std::vector<char> block(256, 'x');
    std::vector<char> buffer(64 * 1024);
    int64_t delivered = 0;
    for (auto _ : state) {
        OVERLAPPED read{};
        DWORD done = 0;
        if (!ReadFile(setup.reader, buffer.data(), static_cast<DWORD>(buffer.size()), &done, &read)) {
            while (!HasOverlappedIoCompleted(&read))
                WriteFile(setup.writer, block.data(), static_cast<DWORD>(block.size()), &done, nullptr);
            GetOverlappedResult(setup.reader, &read, &done, TRUE);
        }
        delivered += done;
    }
    state.SetBytesProcessed(delivered);
}

void BM_FormOneText(benchmark::State& state)
{
    DeliveredBytes(state, 1);
}
BENCHMARK(BM_FormOneText);

void BM_FormTwoRaw(benchmark::State& state)
{
    DeliveredBytes(state, 2);
}
BENCHMARK(BM_FormTwoRaw);

}  // namespace

BENCHMARK_MAIN();
