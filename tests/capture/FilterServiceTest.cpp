// The filter service on the simulation, whose service manager defers a
// driver's unload while a program holds one of its devices, as Windows does
// (Wine stops at once). A stand-in filter image makes one control device;
// a port driver makes exclusive COM ports.
#include "CaptureControl.h"
#include "DriverParameters.h"

#include <Machine.h>
#include <wdm.h>

#include "system/SystemState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

NTSTATUS CompleteAtOnce(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS CreateLinkedDevice(PDRIVER_OBJECT driver, PCWSTR deviceName, PCWSTR linkName, BOOLEAN exclusive)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, deviceName);
    RtlInitUnicodeString(&link, linkName);
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, exclusive, &device);
    if (!NT_SUCCESS(status))
        return status;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status))
        IoDeleteDevice(device);
    return status;
}

void DeleteAll(PDRIVER_OBJECT driver, std::vector<PCWSTR> links)
{
    for (PCWSTR linkName : links) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, linkName);
        IoDeleteSymbolicLink(&link);
    }
    while (driver->DeviceObject)
        IoDeleteDevice(driver->DeviceObject);
}

void FilterUnload(PDRIVER_OBJECT driver)
{
    DeleteAll(driver, {u"\\DosDevices\\ZrVlObj1"});
}

NTSTATUS FilterEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (auto& function : driver->MajorFunction)
        function = CompleteAtOnce;
    driver->DriverUnload = FilterUnload;
    return CreateLinkedDevice(driver, u"\\Device\\ZrVlObj1", u"\\DosDevices\\ZrVlObj1", FALSE);
}

void PortsUnload(PDRIVER_OBJECT driver)
{
    DeleteAll(driver, {u"\\DosDevices\\COM3", u"\\DosDevices\\COM12"});
}

NTSTATUS PortsEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (auto& function : driver->MajorFunction)
        function = CompleteAtOnce;
    driver->DriverUnload = PortsUnload;
    NTSTATUS status = CreateLinkedDevice(driver, u"\\Device\\TestSerial3", u"\\DosDevices\\COM3", TRUE);
    return NT_SUCCESS(status) ? CreateLinkedDevice(driver, u"\\Device\\TestSerial12", u"\\DosDevices\\COM12", TRUE)
                              : status;
}

HANDLE Open(const char* name)
{
    return CreateFileA((std::string("\\\\.\\") + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

std::string ServiceValue(const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\VantrelFlt", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return "<no key>";
    BYTE data[512] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return "<none>";
    if (type == REG_DWORD)
        return std::to_string(*reinterpret_cast<DWORD*>(data));
    return reinterpret_cast<char*>(data);
}

class FilterServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        machine_.RegisterDriverImage("ZrVtrlFlt.sys", FilterEntry);
        ASSERT_EQ(machine_.StartDriver("TestPorts", PortsEntry), STATUS_SUCCESS);
    }
    void TearDown() override { machine_.UnloadDriver("TestPorts"); }

    bool FilterLoaded() { return machine_.IsDriverLoaded(FILTER_SERVICE_NAME); }

    void AddItem(const char* port, int32_t form, const char* outputPort)
    {
        std::unique_ptr<CaptureItem> item = NewCaptureItem();
        CopyItemText(item->port, sizeof item->port, port);
        CopyItemText(item->outputPort, sizeof item->outputPort, outputPort);
        item->form = form;
        item->bufferSize = 10000;
        rows_.InsertOrUpdateRow(std::move(item), -1);
    }

    sim::Machine machine_;
    FilterService service_;
    DosDeviceTable devices_{DOS_DEVICE_LOOKUP_SIZE};
    CaptureItemRows rows_;
    std::vector<std::string> log_;
    LogLine logLine_ = [this](const std::string& line) { log_.push_back(line); };
};

TEST_F(FilterServiceTest, InstallRegistersTheKernelServiceOnDemandStart)
{
    ASSERT_TRUE(service_.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0));
    EXPECT_EQ(ServiceValue("Type"), "1");
    EXPECT_EQ(ServiceValue("Start"), "3");
    EXPECT_EQ(ServiceValue("ErrorControl"), "1");
    EXPECT_EQ(ServiceValue("ImagePath"), "System32\\Drivers\\ZrVtrlFlt.sys");
    EXPECT_EQ(ServiceValue("DisplayName"), "Vantrel Filter Driver");
    EXPECT_EQ(ServiceValue("Group"), "<none>");
    EXPECT_FALSE(FilterLoaded()) << "start flag 0 leaves it stopped";

    ASSERT_TRUE(FilterService().Install(FILTER_DISPLAY_NAME, "\\SystemRoot\\other.sys", 1));
    EXPECT_EQ(ServiceValue("ImagePath"), "System32\\Drivers\\ZrVtrlFlt.sys") << "an existing entry stays";
    EXPECT_TRUE(FilterLoaded()) << "start flag 1 starts it";
}

TEST_F(FilterServiceTest, WithoutAdministratorRightsNothingWorks)
{
    machine_.system().services.SetAdministrator(false);
    EXPECT_FALSE(service_.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0));
    EXPECT_FALSE(service_.Start());
    EXPECT_FALSE(service_.StopAndWait(FILTER_STOP_TIMEOUT_MS));
}

TEST_F(FilterServiceTest, StopWaitsForTheUnloadOrGivesUpAfterTheTimeOut)
{
    ASSERT_TRUE(service_.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0));
    DWORD before = GetTickCount();
    EXPECT_TRUE(service_.StopAndWait(FILTER_STOP_TIMEOUT_MS));
    EXPECT_EQ(GetTickCount(), before) << "a stopped service returns at once";

    ASSERT_TRUE(service_.Start());
    ASSERT_TRUE(FilterLoaded());
    HANDLE device = Open("ZrVlObj1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    before = GetTickCount();
    EXPECT_FALSE(service_.StopAndWait(FILTER_STOP_TIMEOUT_MS)) << "a program still holds the device";
    EXPECT_GE(GetTickCount() - before, FILTER_STOP_TIMEOUT_MS);
    EXPECT_TRUE(FilterLoaded());

    ASSERT_TRUE(CloseHandle(device));
    EXPECT_TRUE(service_.StopAndWait(FILTER_STOP_TIMEOUT_MS));
    EXPECT_FALSE(FilterLoaded());
    EXPECT_FALSE(FilterService("NoSuchService").StopAndWait(FILTER_STOP_TIMEOUT_MS));
}

TEST_F(FilterServiceTest, StartupRegistersAndStopsTheServiceAndMarksNT4)
{
    PrepareServiceAtStartup(service_, false);
    EXPECT_EQ(ServiceValue("DeviceType"), "<none>") << "written on Windows NT 4.0 only";
    ASSERT_TRUE(service_.Start());

    PrepareServiceAtStartup(service_, true);
    EXPECT_EQ(ServiceValue("DeviceType"), "0");
    EXPECT_FALSE(FilterLoaded()) << "a service left running is stopped";
}

TEST_F(FilterServiceTest, NetStopStopsTheRunningService)
{
    ASSERT_TRUE(service_.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 1));
    ASSERT_TRUE(FilterLoaded());
    RunNetStop(service_);
    EXPECT_FALSE(FilterLoaded());
}

TEST_F(FilterServiceTest, AHeldTargetPortStopsTheStartBeforeTheService)
{
    ASSERT_TRUE(service_.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 0));
    AddItem("COM3", StandardMonitor, "");
    AddItem("COM12", PortFormat, "COM5");
    HANDLE held = Open("COM12");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    CaptureStart start = StartCapture(rows_, service_, devices_, logLine_);
    EXPECT_EQ(start.result, CaptureStartResult::PortBusy);
    EXPECT_TRUE(start.monitors.empty());
    EXPECT_FALSE(FilterLoaded());
    EXPECT_EQ(log_, (std::vector<std::string>{PORT_ALREADY_OPEN_TEXT}));

    ASSERT_TRUE(CloseHandle(held));
    start = StartCapture(rows_, service_, devices_, logLine_);
    ASSERT_EQ(start.result, CaptureStartResult::Started);
    EXPECT_TRUE(FilterLoaded());
    ASSERT_EQ(start.monitors.size(), 1u);
    EXPECT_EQ(start.monitors[0].devicePath, "\\\\.\\ZrVlObj1");
    EXPECT_EQ(start.monitors[0].port, "COM3");
}

TEST_F(FilterServiceTest, NoPortFoundReportsNoDeviceAndStartsNothing)
{
    AddItem("COM4", StandardMonitor, "");
    CaptureStart start = StartCapture(rows_, service_, devices_, logLine_);
    EXPECT_EQ(start.result, CaptureStartResult::NoDevice);
    EXPECT_EQ(log_, (std::vector<std::string>{"設定されたCOMポートが見つかりませんでした(COM4)", NO_DEVICE_TEXT}));
    EXPECT_FALSE(FilterLoaded());
}

TEST_F(FilterServiceTest, TheStopWorkerFailsWhileAPortIsHeldAndSucceedsAfter)
{
    ASSERT_TRUE(service_.Install(FILTER_DISPLAY_NAME, FILTER_IMAGE_PATH, 1));
    HANDLE device = Open("ZrVlObj1");
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    CaptureStopWorker worker;
    ASSERT_TRUE(worker.Start());
    ASSERT_EQ(WaitForSingleObject(worker.Thread(), INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(worker.HasEnded());
    EXPECT_FALSE(worker.Result());
    EXPECT_FALSE(FinishCaptureStop(worker.Result(), logLine_));

    ASSERT_TRUE(CloseHandle(device));
    ASSERT_TRUE(worker.Start()) << "an ended worker makes way for the next stop";
    ASSERT_EQ(WaitForSingleObject(worker.Thread(), INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(worker.Result());
    EXPECT_TRUE(FinishCaptureStop(worker.Result(), logLine_));
    EXPECT_EQ(log_, (std::vector<std::string>{STOP_FAILED_TEXT, CAPTURE_STOPPED_TEXT}));
}

TEST_F(FilterServiceTest, AHeldOutputPortRefusesTheStop)
{
    AddItem("COM3", PortFormat, "COM12");
    AddItem("COM4", PortFormat, "COM12");  // inactive: its output port is not tested
    rows_.Item(0)->active = 1;
    EXPECT_TRUE(OutputPortsAreFree(rows_, logLine_));
    HANDLE held = Open("COM12");
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(OutputPortsAreFree(rows_, logLine_));
    EXPECT_EQ(log_, (std::vector<std::string>{CLOSE_PORT_USERS_TEXT}));
    CloseHandle(held);
}

}  // namespace
