// Control requests that kernel code builds with IoBuildDeviceIoControlRequest:
// the buffered method's shared system buffer and copy-back, the caller's
// status block and event, pending completion, internal control requests and
// the method that passes the caller's buffers unchanged.
#include <wdm.h>

#include <Machine.h>

#include <gtest/gtest.h>

namespace {

constexpr ULONG IOCTL_ADD_ONE = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_ADD_ONE_LATER = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_ADD_ONE_NEITHER = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_NEITHER, FILE_ANY_ACCESS);

// What the device saw of the last request; it completes a pended one from its timer.
struct AdderExtension {
    UCHAR major;
    PVOID systemBuffer;
    PVOID type3Input;
    PVOID userBuffer;
    PIRP pending;
    KTIMER timer;
    KDPC dpc;
};

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Adds one to the ULONG in the system buffer, in place.
NTSTATUS AddOneInPlace(PIRP irp)
{
    auto* value = static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    *value += 1;
    return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
}

void AddLaterDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* adder = static_cast<AdderExtension*>(context);
    PIRP irp = adder->pending;
    adder->pending = nullptr;
    AddOneInPlace(irp);
}

NTSTATUS AdderDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* adder = static_cast<AdderExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    adder->major = stack->MajorFunction;
    adder->systemBuffer = irp->AssociatedIrp.SystemBuffer;
    adder->type3Input = stack->Parameters.DeviceIoControl.Type3InputBuffer;
    adder->userBuffer = irp->UserBuffer;
    if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL && stack->MajorFunction != IRP_MJ_INTERNAL_DEVICE_CONTROL)
        return Complete(irp, STATUS_SUCCESS, 0);
    bool fits = stack->Parameters.DeviceIoControl.InputBufferLength >= sizeof(ULONG) &&
                stack->Parameters.DeviceIoControl.OutputBufferLength >= sizeof(ULONG);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_ADD_ONE: return fits ? AddOneInPlace(irp) : Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
    case IOCTL_ADD_ONE_LATER: {
        IoMarkIrpPending(irp);
        adder->pending = irp;
        LARGE_INTEGER due;
        due.QuadPart = -100000;  // 10 ms
        KeSetTimer(&adder->timer, due, &adder->dpc);
        return STATUS_PENDING;
    }
    case IOCTL_ADD_ONE_NEITHER:
        *static_cast<ULONG*>(irp->UserBuffer) = *static_cast<ULONG*>(adder->type3Input) + 1;
        return Complete(irp, STATUS_SUCCESS, sizeof(ULONG));
    default:
        // Scribbles on the buffer: a failed request must not copy it back.
        if (irp->AssociatedIrp.SystemBuffer != nullptr)
            *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = 0xDEAD;
        return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, sizeof(ULONG));
    }
}

NTSTATUS AdderEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\Adder0");
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(AdderExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    auto* adder = static_cast<AdderExtension*>(device->DeviceExtension);
    KeInitializeTimer(&adder->timer);
    KeInitializeDpc(&adder->dpc, AddLaterDpc, adder);
    for (auto& function : driver->MajorFunction)
        function = AdderDispatch;
    driver->DriverUnload = [](PDRIVER_OBJECT unloading) { IoDeleteDevice(unloading->DeviceObject); };
    return STATUS_SUCCESS;
}

class IoControlRequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(STATUS_SUCCESS, machine.StartDriver("Adder", AdderEntry, &driver));
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        status.Status = STATUS_PENDING;
        status.Information = 0;
    }
    void TearDown() override { EXPECT_TRUE(machine.UnloadDriver("Adder")); }

    AdderExtension& Adder() { return *static_cast<AdderExtension*>(driver->DeviceObject->DeviceExtension); }

    NTSTATUS Send(ULONG code, BOOLEAN internal = FALSE)
    {
        PIRP irp = IoBuildDeviceIoControlRequest(code, driver->DeviceObject, &input, sizeof input, &output,
                                                 sizeof output, internal, &done, &status);
        EXPECT_NE(nullptr, irp);
        return IoCallDriver(driver->DeviceObject, irp);
    }

    bool Done() { return KeReadStateEvent(&done) != 0; }

    sim::Machine machine;
    PDRIVER_OBJECT driver = nullptr;
    KEVENT done;
    IO_STATUS_BLOCK status;
    ULONG input = 41;
    ULONG output = 7;
};

TEST_F(IoControlRequestTest, BufferedRequestSharesOneSystemBufferAndCopiesTheResultBack)
{
    EXPECT_EQ(STATUS_SUCCESS, Send(IOCTL_ADD_ONE));
    EXPECT_EQ(IRP_MJ_DEVICE_CONTROL, Adder().major);
    EXPECT_NE(nullptr, Adder().systemBuffer);
    EXPECT_NE(static_cast<PVOID>(&input), Adder().systemBuffer) << "the device works on a copy";
    EXPECT_NE(static_cast<PVOID>(&output), Adder().systemBuffer);
    EXPECT_EQ(42u, output);
    EXPECT_EQ(41u, input);
    EXPECT_EQ(STATUS_SUCCESS, status.Status);
    EXPECT_EQ(sizeof(ULONG), status.Information);
    EXPECT_TRUE(Done());
}

TEST_F(IoControlRequestTest, InternalRequestGoesToTheInternalControlRoutine)
{
    EXPECT_EQ(STATUS_SUCCESS, Send(IOCTL_ADD_ONE, TRUE));
    EXPECT_EQ(IRP_MJ_INTERNAL_DEVICE_CONTROL, Adder().major);
    EXPECT_EQ(42u, output);
}

TEST_F(IoControlRequestTest, PendingRequestSignalsTheEventWhenItCompletes)
{
    ASSERT_EQ(STATUS_PENDING, Send(IOCTL_ADD_ONE_LATER));
    EXPECT_FALSE(Done());
    EXPECT_EQ(STATUS_PENDING, status.Status) << "the status block is written on completion";
    EXPECT_EQ(7u, output);
    machine.AdvanceTicks(1);
    EXPECT_TRUE(Done());
    EXPECT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, status.Status);
    EXPECT_EQ(42u, output);
}

TEST_F(IoControlRequestTest, FailedRequestReportsItsStatusWithoutCopyingBack)
{
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST,
              Send(CTL_CODE(FILE_DEVICE_UNKNOWN, 0x8FF, METHOD_BUFFERED, FILE_ANY_ACCESS)));
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, status.Status);
    EXPECT_EQ(7u, output);
    EXPECT_TRUE(Done());
}

TEST_F(IoControlRequestTest, NeitherMethodHandsTheCallersBuffersToTheDevice)
{
    EXPECT_EQ(STATUS_SUCCESS, Send(IOCTL_ADD_ONE_NEITHER));
    EXPECT_EQ(static_cast<PVOID>(&input), Adder().type3Input);
    EXPECT_EQ(static_cast<PVOID>(&output), Adder().userBuffer);
    EXPECT_EQ(nullptr, Adder().systemBuffer);
    EXPECT_EQ(42u, output);
}

}  // namespace
