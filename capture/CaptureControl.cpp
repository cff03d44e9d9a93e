#include "CaptureControl.h"

#include "DriverParameters.h"

#include <stdio.h>

namespace {

std::string DevicePath(const char* name)
{
    return std::string("\\\\.\\") + name;
}

// The path's device opens for reading and writing without sharing: no other
// program holds it. The "\\.\" form also reaches COM10 and above.
bool NobodyHolds(const char* name)
{
    HANDLE handle =
        CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
}

bool IsActivePortItem(const CaptureItemView& view)
{
    return view.form != StandardMonitor && view.form != -1;
}

}  // namespace

bool CheckTargetPortsAndStartService(const CaptureItemRows& items, FilterService& service)
{
    for (int index = 0; index < items.ItemCount(); ++index) {
        const CaptureItem& item = *items.Item(index);
        if (item.active == 1 && !NobodyHolds(item.port))
            return false;
    }
    return service.Start();
}

void PrepareServiceAtStartup(FilterService& service, bool windowsNT4)
{
    service.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0);
    if (windowsNT4)
        service.SetDword("", "DeviceType", 0);
    service.StopAndWait(FILTER_STOP_TIMEOUT_MS);
}

void RunNetStop(const FilterService& service)
{
    std::string commandLine = std::string("net stop ") + service.Name();
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        // Not waited for; the handles would only leak.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

const char* CaptureStartMessage(CaptureStartResult result)
{
    switch (result) {
    case CaptureStartResult::NoDevice: return NO_DEVICE_TEXT;
    case CaptureStartResult::PortBusy: return PORT_ALREADY_OPEN_TEXT;
    case CaptureStartResult::Started: break;
    }
    return CAPTURE_STARTED_TEXT;
}

CaptureStart StartCapture(CaptureItemRows& items, FilterService& service, DosDeviceTable& devices, const LogLine& log)
{
    CaptureStart start{CaptureStartResult::Started, {}};
    if (!BuildDriverParameters(items, FILTER_PARAMETERS_KEY, service, devices, log))
        start.result = CaptureStartResult::NoDevice;
    else if (!CheckTargetPortsAndStartService(items, service))
        start.result = CaptureStartResult::PortBusy;
    if (start.result != CaptureStartResult::Started) {
        log(CaptureStartMessage(start.result));
        return start;
    }
    start.monitors = MonitorsToOpen(items);
    return start;
}

std::vector<MonitorToOpen> MonitorsToOpen(const CaptureItemRows& items)
{
    std::vector<MonitorToOpen> monitors;
    CaptureItemView view;
    for (int index = 0; items.GetCaptureItemView(index, &view); ++index) {
        if (view.form != StandardMonitor)
            continue;
        int position = MONITOR_CASCADE_STEP * index;
        monitors.push_back(
            MonitorToOpen{DevicePath(view.deviceObject), view.port, view.bufferSize, position, position, index + 1});
    }
    return monitors;
}

bool OutputPortsAreFree(const CaptureItemRows& items, const LogLine& log)
{
    CaptureItemView view;
    for (int index = 0; items.GetCaptureItemView(index, &view); ++index) {
        if (IsActivePortItem(view) && !NobodyHolds(view.outputPort)) {
            log(CLOSE_PORT_USERS_TEXT);
            return false;
        }
    }
    return true;
}

bool FinishCaptureStop(bool serviceStopped, const LogLine& log)
{
    log(serviceStopped ? CAPTURE_STOPPED_TEXT : STOP_FAILED_TEXT);
    return serviceStopped;
}

CaptureStopWorker::CaptureStopWorker(const char* serviceName) : service_(serviceName) {}

CaptureStopWorker::~CaptureStopWorker()
{
    if (thread_) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

bool CaptureStopWorker::Start()
{
    if (thread_) {
        if (!HasEnded())
            return false;
        CloseHandle(thread_);
        thread_ = nullptr;
    }
    result_ = false;
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    return thread_ != nullptr;
}

bool CaptureStopWorker::HasEnded() const
{
    return thread_ && WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0;
}

bool CaptureStopWorker::Result() const
{
    return HasEnded() && result_;
}

DWORD WINAPI CaptureStopWorker::Run(LPVOID self)
{
    auto* worker = static_cast<CaptureStopWorker*>(self);
    worker->result_ = worker->service_.StopAndWait(FILTER_STOP_TIMEOUT_MS);
    return 0;
}
