// Stopping a legacy kernel driver as Windows does (the unload waits for the
// last open handle on one of its devices) and deleting services. Wine stops
// at once; these rules hold on the simulation only.
#include <windows.h>
#include <wdm.h>

#include <Machine.h>

#include <gtest/gtest.h>

namespace {

int g_unloads = 0;

NTSTATUS CompleteAtOnce(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

void HolderUnload(PDRIVER_OBJECT driver)
{
    ++g_unloads;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\SimsysHolder");
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(driver->DeviceObject);
}

NTSTATUS HolderEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\SimsysHolder0");
    RtlInitUnicodeString(&link, u"\\DosDevices\\SimsysHolder");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    for (auto& function : driver->MajorFunction)
        function = CompleteAtOnce;
    driver->DriverUnload = HolderUnload;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status))
        IoDeleteDevice(device);
    return status;
}

class ServiceStopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_unloads = 0;
        machine.RegisterDriverImage("SimsysHolder.sys", HolderEntry);
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(nullptr, manager);
        service = CreateServiceA(manager, "SimsysHolder", "SimsysHolder", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "System32\\Drivers\\SimsysHolder.sys",
                                 nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, service);
    }
    void TearDown() override
    {
        if (service)
            CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }

    HANDLE OpenDevice()
    {
        return CreateFileA("\\\\.\\SimsysHolder", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    DWORD State()
    {
        SERVICE_STATUS status{};
        EXPECT_TRUE(QueryServiceStatus(service, &status));
        return status.dwCurrentState;
    }

    // The service is gone from the manager and from the registry.
    bool ServiceIsGone()
    {
        SC_HANDLE again = OpenServiceA(manager, "SimsysHolder", SERVICE_QUERY_STATUS);
        if (again) {
            CloseServiceHandle(again);
            return false;
        }
        HKEY key;
        return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST &&
               RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\SimsysHolder", 0, KEY_READ,
                             &key) == ERROR_FILE_NOT_FOUND;
    }

    void CloseService()
    {
        EXPECT_TRUE(CloseServiceHandle(service));
        service = nullptr;
    }

    sim::Machine machine;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

TEST_F(ServiceStopTest, AnOpenHandleDefersTheUnloadUntilItCloses)
{
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    HANDLE device = OpenDevice();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
    EXPECT_EQ(0, g_unloads);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), State());
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL), GetLastError());
    EXPECT_FALSE(StartServiceA(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING), GetLastError());
    // The device still answers while its driver waits to unload.
    char byte = 'x';
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(device, &byte, 1, &written, nullptr));

    ASSERT_TRUE(CloseHandle(device));
    EXPECT_EQ(1, g_unloads);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), State());
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenDevice());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    ASSERT_TRUE(StartServiceA(service, 0, nullptr)) << "a stopped driver starts again";
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    EXPECT_EQ(2, g_unloads);
}

TEST_F(ServiceStopTest, AStoppedServiceGoesWhenItsLastHandleCloses)
{
    ASSERT_TRUE(DeleteService(service));
    EXPECT_FALSE(DeleteService(service));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
    EXPECT_FALSE(StartServiceA(service, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
    EXPECT_EQ(nullptr, CreateServiceA(manager, "SimsysHolder", "Other", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.sys", nullptr, nullptr, nullptr,
                                      nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
    EXPECT_FALSE(ServiceIsGone());

    CloseService();
    EXPECT_TRUE(ServiceIsGone());
}

TEST_F(ServiceStopTest, ARunningDeletedServiceGoesWhenStopped)
{
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    ASSERT_TRUE(DeleteService(service));
    CloseService();
    EXPECT_FALSE(ServiceIsGone()) << "a running service stays until it stops";

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    char commandLine[] = "net stop SimsysHolder";
    ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.hProcess, 1000));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(1, g_unloads);
    EXPECT_TRUE(ServiceIsGone());
}

TEST_F(ServiceStopTest, ADeletedServiceWithADeferredStopGoesWhenTheDeviceCloses)
{
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    HANDLE device = OpenDevice();
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(DeleteService(service));
    CloseService();
    EXPECT_FALSE(ServiceIsGone());

    ASSERT_TRUE(CloseHandle(device));
    EXPECT_EQ(1, g_unloads);
    EXPECT_TRUE(ServiceIsGone());
}

// Opens the holder's device and closes it again while loading, as a filter
// does when it looks up the port it attaches to.
NTSTATUS PeekerEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\SimsysHolder0");
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device);
    if (NT_SUCCESS(status))
        ObDereferenceObject(file);
    driver->DriverUnload = [](PDRIVER_OBJECT) {};
    return status;
}

TEST_F(ServiceStopTest, ADriverThatClosesAFileWhileLoadingStartsThroughTheManager)
{
    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    machine.RegisterDriverImage("SimsysPeeker.sys", PeekerEntry);
    SC_HANDLE peeker = CreateServiceA(
        manager, "SimsysPeeker", "SimsysPeeker", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, "System32\\Drivers\\SimsysPeeker.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, peeker);
    ASSERT_TRUE(StartServiceA(peeker, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    EXPECT_TRUE(QueryServiceStatus(peeker, &status));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), status.dwCurrentState);
    EXPECT_TRUE(ControlService(peeker, SERVICE_CONTROL_STOP, &status));
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(1, g_unloads);
    CloseServiceHandle(peeker);
}

}  // namespace
