// Opening devices by their DOS names, control requests with the shared
// system buffer, close order, error mapping and the tick count.
#include <windows.h>
#include <ntifs.h>

#include <Machine.h>

#include "OneDeviceDriver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr ULONG IOCTL_ECHO_REVERSE = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_ECHO_FAIL = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);

// What the echo device saw, kept in its extension.
struct EchoExtension {
    UCHAR majors[16];
    ULONG majorCount;
    ULONG lastInputLength;
    ULONG lastOutputLength;
    UCHAR systemBufferStart[8];
};

NTSTATUS EchoDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* extension = static_cast<EchoExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (extension->majorCount < sizeof(extension->majors))
        extension->majors[extension->majorCount++] = stack->MajorFunction;
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
        ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
        auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
        extension->lastInputLength = in;
        extension->lastOutputLength = out;
        if (in != 0)
            memcpy(extension->systemBufferStart, buffer, in < 8 ? in : 8);
        if (stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_ECHO_FAIL) {
            irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
        } else if (out >= in) {
            for (ULONG i = 0; i < in / 2; ++i) {
                UCHAR swap = buffer[i];
                buffer[i] = buffer[in - 1 - i];
                buffer[in - 1 - i] = swap;
            }
            irp->IoStatus.Information = in;
        }
    }
    NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS EchoEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    PDEVICE_OBJECT device;
    NTSTATUS status = CreateOneDevice(driver, u"\\Device\\Echo0", sizeof(EchoExtension), FILE_DEVICE_UNKNOWN, TRUE,
                                      EchoDispatch, &device);
    if (!NT_SUCCESS(status))
        return status;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) {
        UNICODE_STRING unloadLink;
        RtlInitUnicodeString(&unloadLink, u"\\DosDevices\\Echo");
        IoDeleteSymbolicLink(&unloadLink);
        IoDeleteDevice(unloading->DeviceObject);
    };
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\Echo0");
    RtlInitUnicodeString(&link, u"\\DosDevices\\Echo");
    return IoCreateSymbolicLink(&link, &name);
}

class DeviceIoTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Echo", EchoEntry, &driver)); }
    void TearDown() override { EXPECT_TRUE(machine.UnloadDriver("Echo")); }

    EchoExtension& Seen() { return *static_cast<EchoExtension*>(driver->DeviceObject->DeviceExtension); }
    std::vector<UCHAR> Majors() { return std::vector<UCHAR>(Seen().majors, Seen().majors + Seen().majorCount); }

    HANDLE Open(const char* name)
    {
        return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    sim::Machine machine;
    PDRIVER_OBJECT driver = nullptr;
};

TEST_F(DeviceIoTest, ControlRequestRoundTripAndCloseOrder)
{
    HANDLE device = Open("\\\\.\\Echo");
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    UCHAR data[4] = {1, 2, 3, 4};
    UCHAR reply[4] = {};
    DWORD returned = 99;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_ECHO_REVERSE, data, 4, reply, 4, &returned, nullptr));
    EXPECT_EQ(4u, returned);
    EXPECT_EQ((std::vector<UCHAR>{4, 3, 2, 1}), std::vector<UCHAR>(reply, reply + 4));
    ASSERT_TRUE(CloseHandle(device));
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_DEVICE_CONTROL, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}), Majors());
}

TEST_F(DeviceIoTest, InputAndOutputShareOneSystemBufferAndOnlyInformationBytesComeBack)
{
    HANDLE device = Open("\\\\.\\Echo");
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    UCHAR data[3] = {7, 8, 9};
    UCHAR reply[8];
    memset(reply, 0xEE, sizeof(reply));
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_ECHO_REVERSE, data, 3, reply, 8, &returned, nullptr));
    EXPECT_EQ(3u, Seen().lastInputLength);
    EXPECT_EQ(8u, Seen().lastOutputLength);
    EXPECT_EQ((std::vector<UCHAR>{7, 8, 9}),
              std::vector<UCHAR>(Seen().systemBufferStart, Seen().systemBufferStart + 3));
    EXPECT_EQ(3u, returned);
    EXPECT_EQ((std::vector<UCHAR>{9, 8, 7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}), std::vector<UCHAR>(reply, reply + 8));
    CloseHandle(device);
}

TEST_F(DeviceIoTest, FailedRequestReportsTheMappedWin32Error)
{
    HANDLE device = Open("\\\\.\\Echo");
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    DWORD returned = 5;
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_ECHO_FAIL, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(0u, returned);
    CloseHandle(device);
}

TEST_F(DeviceIoTest, ExclusiveDeviceRefusesASecondOpenUntilTheFirstCloses)
{
    HANDLE first = Open("\\\\.\\Echo");
    ASSERT_NE(INVALID_HANDLE_VALUE, first);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("\\\\.\\echo"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(machine.DriverHasOpenHandles("Echo"));
    CloseHandle(first);
    EXPECT_FALSE(machine.DriverHasOpenHandles("Echo"));
    HANDLE second = Open("Echo");  // the bare DOS name reaches the same device
    EXPECT_NE(INVALID_HANDLE_VALUE, second);
    CloseHandle(second);
}

// The DACL of the opened device decides, ACE by ACE; a NULL DACL admits all.
TEST_F(DeviceIoTest, ADaclDeniesOrAdmitsAProgramAndANullDaclAdmitsEverybody)
{
    ULONG users[] = {0x00000201, 0x05000000, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS};  // S-1-5-32-545
    ULONG acl[32];
    auto setDacl = [&](PACL dacl) {
        SECURITY_DESCRIPTOR descriptor;
        ASSERT_EQ(STATUS_SUCCESS, RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
        ASSERT_EQ(STATUS_SUCCESS, RtlSetDaclSecurityDescriptor(&descriptor, TRUE, dacl, FALSE));
        HANDLE handle;
        ASSERT_EQ(STATUS_SUCCESS, ObOpenObjectByPointer(driver->DeviceObject, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC,
                                                        nullptr, KernelMode, &handle));
        ASSERT_EQ(STATUS_SUCCESS, ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor));
        ZwClose(handle);
    };
    ASSERT_EQ(STATUS_SUCCESS, RtlCreateAcl(reinterpret_cast<PACL>(acl), sizeof acl, ACL_REVISION));
    ASSERT_EQ(STATUS_SUCCESS, RtlAddAccessAllowedAce(reinterpret_cast<PACL>(acl), ACL_REVISION, GENERIC_READ, users));
    setDacl(reinterpret_cast<PACL>(acl));
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("\\\\.\\Echo")) << "read and write asked, read granted";
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    HANDLE reader = CreateFileA("\\\\.\\Echo", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
    setDacl(nullptr);
    machine.RunAsStandardUser(true);
    HANDLE device = Open("\\\\.\\Echo");
    EXPECT_NE(INVALID_HANDLE_VALUE, device);
    CloseHandle(device);
}

TEST_F(DeviceIoTest, MissingDeviceAndStaleHandlesAreReported)
{
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("\\\\.\\NoSuchDevice"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    HANDLE device = Open("\\\\.\\Echo");
    ASSERT_TRUE(CloseHandle(device));
    EXPECT_FALSE(CloseHandle(device));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_ECHO_REVERSE, nullptr, 0, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(MachineClockTest, TickCountFollowsTheManualClockAndWraps)
{
    sim::Machine machine;
    DWORD start = GetTickCount();
    machine.AdvanceTicks(5);
    EXPECT_EQ(start + 50, GetTickCount());
    machine.SetTickCount(0xFFFFFFF0u);
    machine.AdvanceTicks(3);
    EXPECT_EQ(0x0000000Eu, GetTickCount());
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    KeQuerySystemTimePrecise(&before);
    machine.AdvanceTicks(1);
    KeQuerySystemTimePrecise(&after);
    EXPECT_EQ(100000, after.QuadPart - before.QuadPart);
    // The plain system time moves only on the clock interrupt, every 15.625 ms.
    KeQuerySystemTime(&before);  // 90 ms after the start
    machine.AdvanceTicks(2);
    KeQuerySystemTime(&after);
    EXPECT_EQ(2 * 156250, after.QuadPart - before.QuadPart) << "steps at 93.75 and 109.375 ms";
    machine.AdvanceTicks(1);
    KeQuerySystemTime(&before);
    EXPECT_EQ(after.QuadPart, before.QuadPart) << "none between 110 and 120 ms";
}

TEST(MachineClockTest, LastErrorIsPerThread)
{
    sim::Machine machine;
    SetLastError(1234);
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID) -> DWORD {
            DWORD seen = GetLastError();
            SetLastError(42);
            return seen;
        },
        nullptr, 0, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
    DWORD exitCode = 1;
    ASSERT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(1234u, GetLastError());
    CloseHandle(thread);
}

}  // namespace
