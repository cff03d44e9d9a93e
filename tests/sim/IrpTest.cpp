// Requests through a two-deep device stack: completion routines and their
// invoke flags, STATUS_MORE_PROCESSING_REQUIRED, the pending mark and its
// propagation, driver-allocated requests, IoGetDeviceObjectPointer, and the
// checks that stop the process on misuse.
#include <windows.h>
#include <wdm.h>

#include <Machine.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr ULONG IOCTL_PORT_PING = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);

enum class PortMode { CompleteNow, PendUntilTimer, FailNow, PendWithoutMark, MarkButReturnSuccess, CompleteTwice };
enum class FilterMode { Routine, ErrorOnlyRoutine, SyncForward, UnloadSafeRoutine };

struct PortExtension {
    PortMode mode;
    PIRP pending;
    KTIMER timer;
    KDPC dpc;
    UCHAR majors[16];
    ULONG majorCount;
};

struct FilterExtension {
    FilterMode mode;
    PDEVICE_OBJECT lower;
    ULONG routineCalls;
    PDEVICE_OBJECT routineDevice;
    ULONG_PTR routineInformation;
    BOOLEAN routineSawPending;
    KIRQL routineIrql;
};

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

ULONG_PTR TransferLength(PIO_STACK_LOCATION stack)
{
    if (stack->MajorFunction == IRP_MJ_WRITE)
        return stack->Parameters.Write.Length;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL)
        return stack->Parameters.DeviceIoControl.OutputBufferLength;
    return 0;
}

void PortTimerDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* port = static_cast<PortExtension*>(context);
    PIRP irp = port->pending;
    port->pending = nullptr;
    Complete(irp, STATUS_SUCCESS, TransferLength(IoGetCurrentIrpStackLocation(irp)));
}

NTSTATUS PortDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* port = static_cast<PortExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (port->majorCount < 16)
        port->majors[port->majorCount++] = stack->MajorFunction;
    bool data = stack->MajorFunction == IRP_MJ_WRITE || stack->MajorFunction == IRP_MJ_DEVICE_CONTROL;
    if (!data)
        return Complete(irp, STATUS_SUCCESS, 0);
    LARGE_INTEGER due;
    due.QuadPart = -100000;  // 10 ms
    switch (port->mode) {
    case PortMode::CompleteNow: return Complete(irp, STATUS_SUCCESS, TransferLength(stack));
    case PortMode::FailNow: return Complete(irp, STATUS_INVALID_PARAMETER, 0);
    case PortMode::PendUntilTimer:
        IoMarkIrpPending(irp);
        port->pending = irp;
        KeSetTimer(&port->timer, due, &port->dpc);
        return STATUS_PENDING;
    case PortMode::PendWithoutMark:
        port->pending = irp;
        KeSetTimer(&port->timer, due, &port->dpc);
        return STATUS_PENDING;
    case PortMode::MarkButReturnSuccess:
        IoMarkIrpPending(irp);
        Complete(irp, STATUS_SUCCESS, 0);
        return STATUS_SUCCESS;
    case PortMode::CompleteTwice: Complete(irp, STATUS_SUCCESS, 0); return Complete(irp, STATUS_SUCCESS, 0);
    }
    return STATUS_SUCCESS;
}

NTSTATUS FilterRoutine(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* filter = static_cast<FilterExtension*>(context);
    ++filter->routineCalls;
    filter->routineDevice = device;
    filter->routineInformation = irp->IoStatus.Information;
    filter->routineSawPending = irp->PendingReturned;
    filter->routineIrql = KeGetCurrentIrql();
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    return STATUS_SUCCESS;
}

NTSTATUS SignalAndKeep(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS FilterDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* filter = static_cast<FilterExtension*>(device->DeviceExtension);
    IoCopyCurrentIrpStackLocationToNext(irp);
    if (filter->mode == FilterMode::SyncForward) {
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IoSetCompletionRoutine(irp, SignalAndKeep, &done, TRUE, TRUE, TRUE);
        if (IoCallDriver(filter->lower, irp) == STATUS_PENDING)
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        ++filter->routineCalls;
        NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    bool errorsOnly = filter->mode == FilterMode::ErrorOnlyRoutine;
    if (filter->mode == FilterMode::UnloadSafeRoutine) {
        EXPECT_EQ(STATUS_SUCCESS, IoSetCompletionRoutineEx(device, irp, FilterRoutine, filter, TRUE, TRUE, TRUE));
    } else {
        IoSetCompletionRoutine(irp, FilterRoutine, filter, !errorsOnly, TRUE, TRUE);
    }
    return IoCallDriver(filter->lower, irp);
}

NTSTATUS PortEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, u"\\Device\\Port0");
    RtlInitUnicodeString(&link, u"\\DosDevices\\PORTX");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(PortExtension), &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    auto* port = static_cast<PortExtension*>(device->DeviceExtension);
    KeInitializeTimer(&port->timer);
    KeInitializeDpc(&port->dpc, PortTimerDpc, port);
    for (auto& function : driver->MajorFunction)
        function = PortDispatch;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) {
        UNICODE_STRING unloadLink;
        RtlInitUnicodeString(&unloadLink, u"\\DosDevices\\PORTX");
        IoDeleteSymbolicLink(&unloadLink);
        IoDeleteDevice(unloading->DeviceObject);
    };
    return IoCreateSymbolicLink(&link, &name);
}

NTSTATUS FilterEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING portName;
    RtlInitUnicodeString(&portName, u"\\Device\\Port0");
    PFILE_OBJECT file;
    PDEVICE_OBJECT target;
    NTSTATUS status = IoGetDeviceObjectPointer(&portName, FILE_ALL_ACCESS, &file, &target);
    if (!NT_SUCCESS(status))
        return status;
    PDEVICE_OBJECT device;
    status = IoCreateDevice(driver, sizeof(FilterExtension), nullptr, FILE_DEVICE_SERIAL_PORT, 0, FALSE, &device);
    if (NT_SUCCESS(status)) {
        device->Flags |= DO_BUFFERED_IO;
        auto* filter = static_cast<FilterExtension*>(device->DeviceExtension);
        filter->lower = IoAttachDeviceToDeviceStack(device, target);
        for (auto& function : driver->MajorFunction)
            function = FilterDispatch;
        driver->DriverUnload = [](PDRIVER_OBJECT unloading) {
            auto* extension = static_cast<FilterExtension*>(unloading->DeviceObject->DeviceExtension);
            IoDetachDevice(extension->lower);
            IoDeleteDevice(unloading->DeviceObject);
        };
    }
    ObDereferenceObject(file);
    return status;
}

class IrpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Port", PortEntry, &portDriver));
        ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Filter", FilterEntry, &filterDriver));
    }
    void TearDown() override
    {
        if (machine.IsDriverLoaded("Filter")) {
            EXPECT_TRUE(machine.UnloadDriver("Filter"));
        }
        EXPECT_TRUE(machine.UnloadDriver("Port"));
    }

    // A write that the port keeps pending for one tick, and the filter's
    // unload while it is pending.
    void UnloadTheFilterWhileAWriteIsPending(HANDLE port, OVERLAPPED* overlapped)
    {
        Port().mode = PortMode::PendUntilTimer;
        ASSERT_FALSE(WriteFile(port, "a", 1, nullptr, overlapped));
        ASSERT_TRUE(machine.UnloadDriver("Filter"));
        EXPECT_FALSE(machine.DriverHasOpenHandles("Filter"));
    }

    PortExtension& Port() { return *static_cast<PortExtension*>(portDriver->DeviceObject->DeviceExtension); }
    FilterExtension& Filter() { return *static_cast<FilterExtension*>(filterDriver->DeviceObject->DeviceExtension); }
    HANDLE Open(DWORD flags = 0)
    {
        return CreateFileA("\\\\.\\PORTX", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    }

    sim::Machine machine;
    PDRIVER_OBJECT portDriver = nullptr;
    PDRIVER_OBJECT filterDriver = nullptr;
};

TEST_F(IrpTest, FilterAttachedOnTopSeesTheCompletedWrite)
{
    EXPECT_EQ(Filter().lower->StackSize + 1, filterDriver->DeviceObject->StackSize);
    HANDLE port = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    EXPECT_FALSE(machine.DriverHasOpenHandles("Filter")) << "the program holds the port's device, not the filter";
    EXPECT_TRUE(machine.DriverHasOpenHandles("Port"));
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, "a", 1, &written, nullptr));
    EXPECT_EQ(1u, written);
    // The close at the end of the filter's load, then create and write passed
    // the filter; its routine ran on its own device.
    EXPECT_EQ(3u, Filter().routineCalls);
    EXPECT_EQ(filterDriver->DeviceObject, Filter().routineDevice);
    EXPECT_EQ(1u, Filter().routineInformation);
    EXPECT_FALSE(Filter().routineSawPending);
    CloseHandle(port);
}

TEST_F(IrpTest, PendingIsPropagatedThroughTheCompletionRoutine)
{
    Port().mode = PortMode::PendUntilTimer;
    HANDLE port = Open(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    OVERLAPPED overlapped{};
    EXPECT_FALSE(WriteFile(port, "xyz", 3, nullptr, &overlapped));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    machine.AdvanceTicks(1);
    DWORD written = 0;
    ASSERT_TRUE(GetOverlappedResult(port, &overlapped, &written, FALSE));
    EXPECT_EQ(3u, written);
    EXPECT_TRUE(Filter().routineSawPending);
    CloseHandle(port);
}

TEST_F(IrpTest, ForcedPendingAnswersPendingAndRunsTheRoutineFromADpc)
{
    machine.ForcePendingRequests(true);
    HANDLE port = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, "ab", 2, &written, nullptr));
    EXPECT_EQ(2u, written);
    EXPECT_TRUE(Filter().routineSawPending);
    EXPECT_EQ(DISPATCH_LEVEL, Filter().routineIrql);
    CloseHandle(port);
}

TEST_F(IrpTest, RoutineForErrorsOnlyIsSkippedOnSuccessAndRunOnFailure)
{
    Filter().mode = FilterMode::ErrorOnlyRoutine;
    ULONG before = Filter().routineCalls;
    HANDLE port = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, "a", 1, &written, nullptr));
    EXPECT_EQ(before, Filter().routineCalls);
    Port().mode = PortMode::FailNow;
    EXPECT_FALSE(WriteFile(port, "a", 1, &written, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(before + 1, Filter().routineCalls);
    CloseHandle(port);
}

TEST_F(IrpTest, MoreProcessingRequiredStopsCompletionUntilTheFilterCompletesAgain)
{
    Filter().mode = FilterMode::SyncForward;
    Port().mode = PortMode::PendUntilTimer;
    struct Job {
        HANDLE port;
        DWORD written;
    } job{Open(), 0};
    ASSERT_NE(INVALID_HANDLE_VALUE, job.port);
    HANDLE writer = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            auto* work = static_cast<Job*>(parameter);
            return WriteFile(work->port, "ab", 2, &work->written, nullptr);
        },
        &job, 0, nullptr);
    while (WaitForSingleObject(writer, 0) == WAIT_TIMEOUT)
        machine.AdvanceTicks(1);
    DWORD result = 0;
    GetExitCodeThread(writer, &result);
    EXPECT_EQ(1u, result);
    EXPECT_EQ(2u, job.written);
    CloseHandle(writer);
    CloseHandle(job.port);
}

TEST_F(IrpTest, DriverAllocatedRequestIsReusedAndFreedByItsOwner)
{
    PDEVICE_OBJECT target = Filter().lower;
    PIRP irp = IoAllocateIrp(target->StackSize, FALSE);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    ULONG reply = 0;
    for (int round = 0; round < 2; ++round) {
        KeClearEvent(&done);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_PORT_PING;
        next->Parameters.DeviceIoControl.OutputBufferLength = sizeof(reply);
        irp->AssociatedIrp.SystemBuffer = &reply;
        IoSetCompletionRoutine(irp, SignalAndKeep, &done, TRUE, TRUE, TRUE);
        ASSERT_EQ(STATUS_SUCCESS, IoCallDriver(target, irp));
        EXPECT_EQ(1, KeReadStateEvent(&done));
        EXPECT_EQ(sizeof(reply), irp->IoStatus.Information);
    }
    IoFreeIrp(irp);
}

TEST_F(IrpTest, DeviceObjectPointerOpensClosesAndRespectsExclusiveness)
{
    // The filter's load opened, cleaned up and closed the port once.
    EXPECT_EQ((std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}),
              std::vector<UCHAR>(Port().majors, Port().majors + Port().majorCount));
    HANDLE port = Open();
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\Port0");
    PFILE_OBJECT file;
    PDEVICE_OBJECT device;
    EXPECT_EQ(STATUS_ACCESS_DENIED, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device));
    CloseHandle(port);
    ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceObjectPointer(&name, FILE_ALL_ACCESS, &file, &device));
    EXPECT_EQ(filterDriver->DeviceObject, device);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open());  // the file object still holds the port
    ObDereferenceObject(file);
    HANDLE again = Open();
    EXPECT_NE(INVALID_HANDLE_VALUE, again);
    CloseHandle(again);
}

TEST_F(IrpTest, AnUnloadSafeRoutineKeepsTheUnloadedFiltersDeviceUntilItHasRun)
{
    Filter().mode = FilterMode::UnloadSafeRoutine;
    HANDLE port = Open(FILE_FLAG_OVERLAPPED);
    OVERLAPPED overlapped{};
    UnloadTheFilterWhileAWriteIsPending(port, &overlapped);
    machine.AdvanceTicks(1);
    DWORD written = 0;
    EXPECT_TRUE(GetOverlappedResult(port, &overlapped, &written, TRUE));
    machine.FailCompletionRoutineContexts(true);
    PIRP irp = IoAllocateIrp(2, FALSE);
    IoSetNextIrpStackLocation(irp);
    EXPECT_EQ(STATUS_INSUFFICIENT_RESOURCES,
              IoSetCompletionRoutineEx(portDriver->DeviceObject, irp, FilterRoutine, nullptr, TRUE, TRUE, TRUE));
    IoFreeIrp(irp);
    CloseHandle(port);
}

using IrpDeathTest = IrpTest;

TEST_F(IrpDeathTest, CodeOfAnUnloadedDriverStops)
{
    HANDLE port = Open(FILE_FLAG_OVERLAPPED);
    OVERLAPPED overlapped{};
    EXPECT_DEATH(
        {
            UnloadTheFilterWhileAWriteIsPending(port, &overlapped);
            machine.AdvanceTicks(1);
        },
        "a completion routine of driver Filter runs after the driver was unloaded");
    EXPECT_DEATH(machine.UnloadDriver("Port"), "driver Port unloaded while its deleted device .*Port0 still has a "
                                               "device attached above it");
    machine.AdvanceTicks(1);
    CloseHandle(port);
}

TEST_F(IrpDeathTest, RequestCompletedTwiceStops)
{
    Port().mode = PortMode::CompleteTwice;
    HANDLE port = Open();
    DWORD written;
    EXPECT_DEATH(WriteFile(port, "a", 1, &written, nullptr), "completed twice");
    CloseHandle(port);
}

TEST_F(IrpDeathTest, PendingReturnedWithoutTheMarkStops)
{
    Port().mode = PortMode::PendWithoutMark;
    Filter().mode = FilterMode::ErrorOnlyRoutine;
    HANDLE port = Open(FILE_FLAG_OVERLAPPED);
    OVERLAPPED overlapped{};
    EXPECT_DEATH(
        {
            WriteFile(port, "a", 1, nullptr, &overlapped);
            machine.AdvanceTicks(1);
        },
        "without marking the request pending");
    CancelIo(port);
    machine.AdvanceTicks(1);
    CloseHandle(port);
}

TEST_F(IrpDeathTest, MarkedPendingButReturnedSuccessStops)
{
    Port().mode = PortMode::MarkButReturnSuccess;
    HANDLE port = Open();
    DWORD written;
    EXPECT_DEATH(WriteFile(port, "a", 1, &written, nullptr), "marked the request pending");
    CloseHandle(port);
}

TEST(KernelChecksDeathTest, MisuseOfLocksAndRequestsStops)
{
    EXPECT_DEATH(
        {
            sim::Machine machine;
            KSPIN_LOCK lock;
            KeInitializeSpinLock(&lock);
            KeReleaseSpinLock(&lock, PASSIVE_LEVEL);
        },
        "released but not held");
    EXPECT_DEATH(
        {
            sim::Machine machine;
            KSPIN_LOCK lock;
            KIRQL irql;
            KeInitializeSpinLock(&lock);
            KeAcquireSpinLock(&lock, &irql);
            KeAcquireSpinLock(&lock, &irql);
        },
        "acquired again");
    EXPECT_DEATH(
        {
            sim::Machine machine;
            PIRP irp = IoAllocateIrp(1, FALSE);
            IoSetCancelRoutine(irp, [](PDEVICE_OBJECT, PIRP) {});
            IoFreeIrp(irp);
        },
        "cancel routine is still set");
    EXPECT_DEATH(
        {
            sim::Machine machine;
            KEVENT event;
            KeInitializeEvent(&event, NotificationEvent, FALSE);
            KIRQL irql;
            KeRaiseIrql(DISPATCH_LEVEL, &irql);
            KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        },
        "DISPATCH_LEVEL");
}

TEST(StackLayoutTest, SecondParameterWordIsSharedByReadKeyAndControlInputLength)
{
    EXPECT_EQ(offsetof(IO_STACK_LOCATION, Parameters.Read.Key),
              offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.InputBufferLength));
    EXPECT_EQ(offsetof(IO_STACK_LOCATION, Parameters.Write.Length),
              offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.OutputBufferLength));
    EXPECT_EQ(4u, sizeof(ULONG));
    EXPECT_EQ(8u, sizeof(ULONG_PTR));
    EXPECT_EQ(2u, sizeof(WCHAR));
}

}  // namespace

namespace {

PVOID LookUp(const char16_t* name)
{
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    return MmGetSystemRoutineAddress(&text);
}

// A driver finds the calls of its system by name, and none that a test hid
// to play an older Windows.
TEST(SystemRoutineTest, ExportsAreFoundByNameUnlessTheSystemLacksThem)
{
    sim::Machine machine;
    EXPECT_EQ(reinterpret_cast<PVOID>(&IoAttachDeviceToDeviceStack), LookUp(u"IoAttachDeviceToDeviceStack"));
    EXPECT_EQ(nullptr, LookUp(u"IoAttachDeviceToDeviceStackUnknown"));
    machine.HideSystemRoutine("IoAttachDeviceToDeviceStack");
    EXPECT_EQ(nullptr, LookUp(u"IoAttachDeviceToDeviceStack"));
    EXPECT_NE(nullptr, LookUp(u"KeQuerySystemTime"));
}

}  // namespace
