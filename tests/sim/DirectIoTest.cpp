// Direct I/O: a device with DO_DIRECT_IO gets reads and writes as an MDL of
// the caller's buffer and no system buffer, out-direct control requests their
// output as an MDL; the system mapping dies with the request.
#include <windows.h>
#include <winioctl.h>

#include "Machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

constexpr ULONG IOCTL_ADD_ONE_OUT_DIRECT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x803, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);

enum class MirrorMode { Normal, MapTwice, TouchKeptMapping };

// Keeps what it was written and reads it back; remembers what each request carried.
struct MirrorExtension {
    MirrorMode mode;
    UCHAR stored[64];
    ULONG storedLength;
    PVOID systemBuffer;
    PMDL mdl;
    PVOID mdlAddress;
    ULONG mdlBytes;
    UCHAR* keptMapping;
};

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

UCHAR* MappingOf(MirrorExtension* mirror, PIRP irp)
{
    PMDL mdl = irp->MdlAddress;
    mirror->mdl = mdl;
    if (mdl == nullptr)
        return nullptr;
    mirror->mdlAddress = MmGetMdlVirtualAddress(mdl);
    mirror->mdlBytes = MmGetMdlByteCount(mdl);
    auto* mapping = static_cast<UCHAR*>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    if (mirror->mode == MirrorMode::MapTwice)
        MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE, NormalPagePriority);
    if (mirror->mode == MirrorMode::TouchKeptMapping && mirror->keptMapping != nullptr)
        mirror->keptMapping[0] = 'x';
    mirror->keptMapping = mapping;
    return mapping;
}

NTSTATUS MirrorDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* mirror = static_cast<MirrorExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    mirror->systemBuffer = irp->AssociatedIrp.SystemBuffer;
    UCHAR* mapping = MappingOf(mirror, irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_WRITE:
        mirror->storedLength = stack->Parameters.Write.Length;
        if (mapping != nullptr)
            memcpy(mirror->stored, mapping, mirror->storedLength);
        return Complete(irp, STATUS_SUCCESS, mirror->storedLength);
    case IRP_MJ_READ:
        memcpy(mapping, mirror->stored, mirror->storedLength);
        return Complete(irp, STATUS_SUCCESS, mirror->storedLength);
    case IRP_MJ_DEVICE_CONTROL:
        *reinterpret_cast<ULONG*>(mapping) = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) + 1;
        return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    default: return Complete(irp, STATUS_SUCCESS, 0);
    }
}

NTSTATUS MirrorEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\Mirror0");
    RtlInitUnicodeString(&link, u"\\DosDevices\\MIRROR");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(MirrorExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_DIRECT_IO;
    memset(device->DeviceExtension, 0, sizeof(MirrorExtension));
    for (auto& function : driver->MajorFunction)
        function = MirrorDispatch;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) {
        UNICODE_STRING mirrorLink;
        RtlInitUnicodeString(&mirrorLink, u"\\DosDevices\\MIRROR");
        IoDeleteSymbolicLink(&mirrorLink);
        IoDeleteDevice(unloading->DeviceObject);
    };
    return IoCreateSymbolicLink(&link, &name);
}

class DirectIoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Mirror", MirrorEntry, &driver));
        handle = CreateFileA("\\\\.\\MIRROR", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    }
    void TearDown() override
    {
        CloseHandle(handle);
        EXPECT_TRUE(machine.UnloadDriver("Mirror"));
    }

    MirrorExtension& Mirror() { return *static_cast<MirrorExtension*>(driver->DeviceObject->DeviceExtension); }

    sim::Machine machine;
    PDRIVER_OBJECT driver = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(DirectIoTest, ReadsAndWritesCarryAnMdlOfTheCallersBufferAndNoSystemBuffer)
{
    char written[] = "direct";
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(handle, written, 6, &done, nullptr));
    EXPECT_EQ(nullptr, Mirror().systemBuffer);
    EXPECT_EQ(static_cast<PVOID>(written), Mirror().mdlAddress);
    EXPECT_EQ(6u, Mirror().mdlBytes);
    EXPECT_EQ("direct", std::string(reinterpret_cast<char*>(Mirror().stored), 6));

    char read[8] = {};
    ASSERT_TRUE(ReadFile(handle, read, 6, &done, nullptr));
    EXPECT_EQ(6u, done);
    EXPECT_EQ("direct", std::string(read, 6)) << "written through the mapping into the caller's pages";
    EXPECT_EQ(static_cast<PVOID>(read), Mirror().mdlAddress);

    ASSERT_TRUE(WriteFile(handle, written, 0, &done, nullptr));
    EXPECT_EQ(nullptr, Mirror().mdl) << "no bytes, no MDL";
}

TEST_F(DirectIoTest, AnOutDirectControlRequestBuffersItsInputAndMapsItsOutput)
{
    ULONG input = 41;
    ULONG output = 0;
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(handle, IOCTL_ADD_ONE_OUT_DIRECT, &input, sizeof input, &output, sizeof output,
                                &returned, nullptr));
    EXPECT_EQ(42u, output);
    EXPECT_NE(nullptr, Mirror().systemBuffer);
    EXPECT_NE(static_cast<PVOID>(&input), Mirror().systemBuffer);
    EXPECT_EQ(static_cast<PVOID>(&output), Mirror().mdlAddress);
}

using DirectIoDeathTest = DirectIoTest;

TEST_F(DirectIoDeathTest, MappingAnMdlTwiceStops)
{
    Mirror().mode = MirrorMode::MapTwice;
    DWORD done = 0;
    EXPECT_DEATH(WriteFile(handle, "a", 1, &done, nullptr), "mapped already");
}

#if defined(__SANITIZE_ADDRESS__)
// The system mapping of a finished request is freed memory.
TEST_F(DirectIoDeathTest, AMappingKeptPastCompletionIsFreedMemory)
{
    Mirror().mode = MirrorMode::TouchKeptMapping;
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(handle, "a", 1, &done, nullptr));
    EXPECT_DEATH(WriteFile(handle, "b", 1, &done, nullptr), "heap-use-after-free");
}
#endif

}  // namespace
