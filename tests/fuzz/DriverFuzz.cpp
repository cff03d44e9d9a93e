// libFuzzer harness: the filter driver's whole user-mode surface on the
// simulation. Every input is a program of steps on a few handles: open the
// monitor device, the virtual ports, the filter devices (requests pass to
// the test port) or the test ports themselves; send any control code with
// any lengths and contents, reads and writes; cancel, close, let time pass;
// open as a user without administrator rights; unplug the adapter of COM11
// and plug it in again.
// One machine serves every input; each input closes what it opened.
#include <windows.h>
#include <winioctl.h>

#include "CaptureParameters.h"
#include "FilterDriver.h"
#include "Machine.h"
#include "TestPortIoctl.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <list>
#include <string>
#include <vector>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);  // the test port

namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services\\";

void SetValue(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size)
{
    HKEY handle;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        abort();
    RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
}

void SetText(const std::string& key, const std::string& name, const std::string& text)
{
    SetValue(key, name, REG_SZ, text.data(), static_cast<DWORD>(text.size()));
}

void SetNumber(const std::string& key, const std::string& name, DWORD value)
{
    SetValue(key, name, REG_DWORD, &value, sizeof value);
}

// A monitor object on COM11, a text port COM21 that also listens to COM11,
// a form-4 port COM22 on COM13. COM13 and COM14 use direct I/O; COM11 and
// COM12 can be unplugged.
void StartDrivers(sim::Machine& machine)
{
    std::string portKey = kServices + TESTPORT_SERVICE_NAME "\\" TESTPORT_PARAMETERS_KEY;
    SetText(portKey, "Pair0", "COM11,COM12");
    SetText(portKey, "Pair1", "COM13,COM14");
    SetNumber(portKey, TESTPORT_DIRECT_IO_PAIRS_VALUE, 2);
    SetNumber(portKey, TESTPORT_REMOVABLE_PAIRS_VALUE, 1);
    machine.RegisterDriverImage(TESTPORT_IMAGE_NAME, DriverEntry);
    if (machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME) != STATUS_SUCCESS)
        abort();
    std::string objects = kServices + "VantrelFlt\\Parameters\\" CAPTURE_OBJECT_KEY_PREFIX_A;
    SetText(objects + "1", CAPTURE_VALUE_BASE_NAME_A, CAPTURE_MONITOR_OBJECT_PREFIX_A "1");
    SetText(objects + "1", "COM11", "\\Device\\VtrlTestPort0");
    SetNumber(objects + "1", CAPTURE_VALUE_MAX_BYTES_A, 20000);
    SetText(objects + "2", CAPTURE_VALUE_BASE_NAME_A, "COM21");
    SetText(objects + "2", "COM11", "\\Device\\VtrlTestPort0");
    SetNumber(objects + "2", CAPTURE_VALUE_MAX_BYTES_A, 20000);
    SetText(objects + "3", CAPTURE_VALUE_BASE_NAME_A, "COM22");
    SetNumber(objects + "3", CAPTURE_VALUE_FORM_A, CAPTURE_FORM_SIGNAL_SELECTED);
    SetText(objects + "3", "COM13", "\\Device\\VtrlTestPort2");
    SetNumber(objects + "3", CAPTURE_VALUE_MAX_BYTES_A, 20000);
    machine.RegisterDriverImage("ZrVtrlFlt.sys", ZrVtrlFltDriverEntry);
    if (machine.LoadDriver("VantrelFlt", "ZrVtrlFlt.sys") != STATUS_SUCCESS)
        abort();
}

void LoadOrStop(NTSTATUS status)
{
    if (status != STATUS_SUCCESS) {
        fprintf(stderr, "driver_fuzz: a driver did not load again (0x%08lX)\n", static_cast<unsigned long>(status));
        abort();
    }
}

sim::Machine& TheMachine()
{
    static sim::Machine* machine = [] {
        auto* made = new sim::Machine();
        StartDrivers(*made);
        return made;
    }();
    return *machine;
}

// The driver's devices first (the monitor device, two virtual ports, the
// filters), then the test ports.
const char* const kDevices[] = {"\\\\.\\ZrVlObj1",  "\\\\.\\COM21",     "\\\\.\\COM22", "\\\\.\\FLTCOM11A",
                                "\\\\.\\FLTCOM11B", "\\\\.\\FLTCOM13C", "\\\\.\\COM11", "\\\\.\\COM12",
                                "\\\\.\\COM13",     "\\\\.\\COM14"};
constexpr size_t kMonitorDevice = 0;
constexpr size_t kFirstFilter = 3;
constexpr size_t kFirstTestPort = 6;

// Codes worth more than chance: the capture requests, the serial requests,
// the test port's own.
DWORD PickCode(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 3)) {
    case 0: return CTL_CODE(FILE_DEVICE_UNKNOWN, input.ConsumeIntegralInRange(0, 7), METHOD_BUFFERED, 0);
    case 1: return 0x001B0000u | input.ConsumeIntegralInRange(0u, 0x3Fu) << 2;
    case 2: return input.ConsumeBool() ? IOCTL_TESTPORT_REPORT_ERRORS : IOCTL_TESTPORT_PLUG_IN_PEER;
    default: return input.ConsumeIntegral<DWORD>();
    }
}

// An overlapped request: its buffer and OVERLAPPED live until it completes.
struct Request {
    HANDLE handle;
    OVERLAPPED overlapped{};
    std::vector<uint8_t> buffer;
};

// COM11 by its DOS name: after a return it is another device.
const char* const kUnpluggedPort = "\\??\\COM11";
bool g_unplugged = false;  // since the drivers last started
// The filter's image may still be mapped after a stop while a request it
// passed down is pending: it starts again once that request has ended.
bool g_filterLoaded = true;

void LoadFilter(sim::Machine& machine)
{
    NTSTATUS status = machine.LoadDriver("VantrelFlt", "ZrVtrlFlt.sys");
    if (status != STATUS_SUCCESS && status != STATUS_IMAGE_ALREADY_LOADED)
        abort();
    g_filterLoaded = status == STATUS_SUCCESS;
}

void UnloadFilter(sim::Machine& machine)
{
    if (g_filterLoaded && !machine.UnloadDriver("VantrelFlt"))
        abort();
    g_filterLoaded = false;
}

struct Program {
    std::vector<HANDLE> handles;
    std::vector<bool> onFilter;  // per handle: opened on one of the filter's devices
    bool restarted = false;      // once per input: a restart costs two driver loads
    std::list<Request> requests;
    uint64_t sent = 0;
};

uint64_t g_requests = 0;

void ReportRequests()
{
    fprintf(stderr, "driver_fuzz: %llu requests\n", static_cast<unsigned long long>(g_requests));
}

void ReportEveryMillion(uint64_t sent)
{
    uint64_t before = g_requests;
    g_requests += sent;
    if (g_requests / 1000000 != before / 1000000)
        ReportRequests();
}

HANDLE PickHandle(FuzzedDataProvider& input, Program& program)
{
    if (program.handles.empty())
        return INVALID_HANDLE_VALUE;
    return program.handles[input.ConsumeIntegralInRange<size_t>(0, program.handles.size() - 1)];
}

Request& NewRequest(Program& program, HANDLE handle, FuzzedDataProvider& input, size_t length)
{
    Request& request = program.requests.emplace_back();
    request.handle = handle;
    request.buffer = input.ConsumeBytes<uint8_t>(length);
    request.buffer.resize(length);
    ++program.sent;
    return request;
}

void Open(FuzzedDataProvider& input, Program& program)
{
    size_t device = input.ConsumeIntegralInRange<size_t>(0, std::size(kDevices) - 1);
    HANDLE handle = CreateFileA(kDevices[device], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr);
    ++program.sent;
    if (handle != INVALID_HANDLE_VALUE) {
        program.handles.push_back(handle);
        program.onFilter.push_back(device < kFirstTestPort);
    }
}

// A program of a user without administrator rights: the capture device and
// the filters' own names refuse it, as do the driver's devices to a handle
// without read access; what it opens takes part in the later steps.
void OpenAsStandardUser(sim::Machine& machine, FuzzedDataProvider& input, Program& program)
{
    size_t device = input.ConsumeIntegralInRange<size_t>(0, std::size(kDevices) - 1);
    DWORD access = input.PickValueInArray({GENERIC_READ | GENERIC_WRITE, GENERIC_READ, GENERIC_WRITE, DWORD(0)});
    machine.RunAsStandardUser(true);
    HANDLE handle = CreateFileA(kDevices[device], access, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    machine.RunAsStandardUser(false);
    ++program.sent;
    bool administratorsOnly = device == kMonitorDevice || (device >= kFirstFilter && device < kFirstTestPort);
    bool refused = device < kFirstTestPort && (administratorsOnly || !(access & GENERIC_READ));
    // A device that is gone (unplugged port, stopped filter) is not found.
    if (refused && error != ERROR_ACCESS_DENIED && error != ERROR_FILE_NOT_FOUND) {
        fprintf(stderr, "driver_fuzz: %s opened for access 0x%08lX without administrator rights (error %lu)\n",
                kDevices[device], static_cast<unsigned long>(access), static_cast<unsigned long>(error));
        abort();
    }
    if (handle != INVALID_HANDLE_VALUE) {
        program.handles.push_back(handle);
        program.onFilter.push_back(device < kFirstTestPort);
    }
}

void Close(FuzzedDataProvider& input, Program& program)
{
    if (program.handles.empty())
        return;
    size_t index = input.ConsumeIntegralInRange<size_t>(0, program.handles.size() - 1);
    CloseHandle(program.handles[index]);
    program.handles.erase(program.handles.begin() + static_cast<std::ptrdiff_t>(index));
    program.onFilter.erase(program.onFilter.begin() + static_cast<std::ptrdiff_t>(index));
    ++program.sent;
}

// The adapter of COM11 and COM12 is unplugged; its removal follows once the
// last handle on COM11 has closed.
void Unplug(sim::Machine& machine, Program& program)
{
    g_unplugged = machine.UnplugDevice(kUnpluggedPort) || g_unplugged;
    ++program.sent;
}

// COM11 comes back as a re-enumerated adapter's port (asked through COM12,
// when no program holds it); the filter's arrival work is let finish.
void Return(sim::Machine& machine, Program& program)
{
    HANDLE peer = CreateFileA("\\\\.\\COM12", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (peer == INVALID_HANDLE_VALUE)
        return;
    DWORD returned = 0;
    DeviceIoControl(peer, IOCTL_TESTPORT_PLUG_IN_PEER, nullptr, 0, nullptr, 0, &returned, nullptr);
    CloseHandle(peer);
    machine.WaitForSystemWork();
    program.sent += 3;
}

// The service stops and starts again while programs keep the test ports
// open, with whatever they have pending there; handles on the filter's own
// devices would defer the stop, so they close first.
void RestartFilter(sim::Machine& machine, Program& program)
{
    if (program.restarted)
        return;
    program.restarted = true;
    for (size_t i = program.handles.size(); i-- > 0;) {
        if (!program.onFilter[i])
            continue;
        CloseHandle(program.handles[i]);
        program.handles.erase(program.handles.begin() + static_cast<std::ptrdiff_t>(i));
        program.onFilter.erase(program.onFilter.begin() + static_cast<std::ptrdiff_t>(i));
    }
    UnloadFilter(machine);
    LoadFilter(machine);
    program.sent += 2;
}

// After an unplug both drivers start afresh: every input meets the same ports.
void Replug(sim::Machine& machine)
{
    if (!g_unplugged)
        return;
    UnloadFilter(machine);
    if (!machine.UnloadDriver(TESTPORT_SERVICE_NAME))
        abort();
    LoadOrStop(machine.LoadDriver(TESTPORT_SERVICE_NAME, TESTPORT_IMAGE_NAME));
    LoadFilter(machine);
    g_unplugged = false;
}

void Control(FuzzedDataProvider& input, Program& program)
{
    HANDLE handle = PickHandle(input, program);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    DWORD code = PickCode(input);
    DWORD in = input.ConsumeIntegralInRange<DWORD>(0, 300);
    DWORD out = input.ConsumeIntegralInRange<DWORD>(0, 300);
    Request& request = NewRequest(program, handle, input, in > out ? in : out);
    DWORD returned = 0;
    uint8_t* data = request.buffer.empty() ? nullptr : request.buffer.data();
    DeviceIoControl(handle, code, in ? data : nullptr, in, out ? data : nullptr, out, &returned, &request.overlapped);
}

void Transfer(FuzzedDataProvider& input, Program& program, bool write)
{
    HANDLE handle = PickHandle(input, program);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    DWORD length = input.ConsumeIntegralInRange<DWORD>(0, 200);
    Request& request = NewRequest(program, handle, input, length);
    DWORD done = 0;
    uint8_t* data = request.buffer.empty() ? nullptr : request.buffer.data();
    if (write)
        WriteFile(handle, data, length, &done, &request.overlapped);
    else
        ReadFile(handle, data, length, &done, &request.overlapped);
}

void Cancel(FuzzedDataProvider& input, Program& program)
{
    HANDLE handle = PickHandle(input, program);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    CancelIo(handle);
    ++program.sent;
}

void ForgetFinished(Program& program)
{
    program.requests.remove_if([](const Request& r) { return HasOverlappedIoCompleted(&r.overlapped); });
}

// Closing every handle ends what it still had pending; time ends the rest.
void CloseAll(sim::Machine& machine, Program& program)
{
    machine.FailSystemMappings(false);
    for (HANDLE handle : program.handles)
        CloseHandle(handle);
    program.handles.clear();
    program.onFilter.clear();
    for (int tick = 0; tick < 1000 && !program.requests.empty(); ++tick) {
        ForgetFinished(program);
        if (!program.requests.empty())
            machine.AdvanceTicks(1);
    }
    if (!program.requests.empty()) {
        fprintf(stderr, "driver_fuzz: a request never completed after its handle closed\n");
        abort();
    }
    machine.WaitForSystemWork();
    Replug(machine);
    if (!g_filterLoaded)
        LoadFilter(machine);
    if (!g_filterLoaded) {
        fprintf(stderr, "driver_fuzz: the filter's image stayed mapped after every request had ended\n");
        abort();
    }
}

constexpr int kRounds = 8;
constexpr uint64_t kMaxRequests = 2000;

void RunStep(sim::Machine& machine, FuzzedDataProvider& input, Program& program)
{
    switch (input.ConsumeIntegralInRange(0, 12)) {
    case 0: Open(input, program); break;
    case 1: Close(input, program); break;
    case 2: Control(input, program); break;
    case 3: Transfer(input, program, false); break;
    case 4: Transfer(input, program, true); break;
    case 5: Cancel(input, program); break;
    case 6: machine.AdvanceTicks(input.ConsumeIntegralInRange(1, 30)); break;
    case 7: machine.FailSystemMappings(input.ConsumeBool()); break;
    case 8: OpenAsStandardUser(machine, input, program); break;
    case 9: Unplug(machine, program); break;
    case 10: RestartFilter(machine, program); break;
    case 11: Return(machine, program); break;
    default: ForgetFinished(program); break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    TheMachine();
    atexit(ReportRequests);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sim::Machine& machine = TheMachine();
    Program program;
    // The steps run several times over: the handles and buffered records of
    // one round meet the same steps again.
    for (int round = 0; round < kRounds; ++round) {
        FuzzedDataProvider input(data, size);
        while (input.remaining_bytes() > 0 && program.sent < kMaxRequests)
            RunStep(machine, input, program);
    }
    CloseAll(machine, program);
    ReportEveryMillion(program.sent);
    return 0;
}
