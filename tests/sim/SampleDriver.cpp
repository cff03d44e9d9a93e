#include "SampleDriver.h"

#include "KernelText.h"

namespace {

PCWSTR const kDeviceName = KTEXT("\\Device\\VtrlSimSample0");
PCWSTR const kLinkName = KTEXT("\\DosDevices\\VtrlSimSample");
constexpr ULONG SampleTag = 0x20706D53;  // "Smp "

struct SampleExtension {
    KSPIN_LOCK lock;
    PIRP pendingRead;  // guarded by lock
    ULONG delayMs;
    KTIMER timer;
    KDPC dpc;
    PVOID scratch;  // a pool block owned by the device
    BOOLEAN leakOnUnload;
};

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Takes the pending read if its cancel routine has not started.
PIRP TakePendingRead(SampleExtension* extension)
{
    KIRQL irql;
    KeAcquireSpinLock(&extension->lock, &irql);
    PIRP irp = extension->pendingRead;
    if (irp != nullptr && IoSetCancelRoutine(irp, nullptr) != nullptr)
        extension->pendingRead = nullptr;
    else
        irp = nullptr;
    KeReleaseSpinLock(&extension->lock, irql);
    return irp;
}

VOID NTAPI ReadTimerDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* extension = static_cast<SampleExtension*>(context);
    PIRP irp = TakePendingRead(extension);
    if (irp == nullptr)
        return;
    ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    RtlFillMemory(irp->AssociatedIrp.SystemBuffer, length, SAMPLE_FILL_BYTE);
    Complete(irp, STATUS_SUCCESS, length);
}

VOID NTAPI CancelRead(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto* extension = static_cast<SampleExtension*>(device->DeviceExtension);
    KIRQL irql;
    KeAcquireSpinLock(&extension->lock, &irql);
    if (extension->pendingRead == irp)
        extension->pendingRead = nullptr;
    KeReleaseSpinLock(&extension->lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

NTSTATUS QueueRead(SampleExtension* extension, PIRP irp)
{
    KIRQL irql;
    KeAcquireSpinLock(&extension->lock, &irql);
    if (extension->pendingRead != nullptr) {
        KeReleaseSpinLock(&extension->lock, irql);
        return Complete(irp, STATUS_DEVICE_BUSY, 0);
    }
    IoSetCancelRoutine(irp, CancelRead);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        KeReleaseSpinLock(&extension->lock, irql);
        return Complete(irp, STATUS_CANCELLED, 0);
    }
    IoMarkIrpPending(irp);
    extension->pendingRead = irp;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(extension->delayMs) * 10000;
    KeSetTimer(&extension->timer, due, &extension->dpc);
    KeReleaseSpinLock(&extension->lock, irql);
    return STATUS_PENDING;
}

NTSTATUS NTAPI SampleDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* extension = static_cast<SampleExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_READ:
        if (stack->Parameters.Read.Length == 0)
            return Complete(irp, STATUS_SUCCESS, 0);
        return QueueRead(extension, irp);
    case IRP_MJ_DEVICE_CONTROL:
        if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_SAMPLE_SET_DELAY)
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
        if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG))
            return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        extension->delayMs = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
        return Complete(irp, STATUS_SUCCESS, 0);
    default: return Complete(irp, STATUS_SUCCESS, 0);
    }
}

VOID NTAPI SampleUnload(PDRIVER_OBJECT driver)
{
    PDEVICE_OBJECT device = driver->DeviceObject;
    auto* extension = static_cast<SampleExtension*>(device->DeviceExtension);
    KeCancelTimer(&extension->timer);
    KeFlushQueuedDpcs();
    if (!extension->leakOnUnload)
        ExFreePoolWithTag(extension->scratch, SampleTag);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(device);
}

NTSTATUS CreateSample(PDRIVER_OBJECT driver, BOOLEAN leakOnUnload)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, kDeviceName);
    RtlInitUnicodeString(&link, kLinkName);
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(SampleExtension), &name, FILE_DEVICE_UNKNOWN, 0, TRUE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    auto* extension = static_cast<SampleExtension*>(device->DeviceExtension);
    KeInitializeSpinLock(&extension->lock);
    KeInitializeTimer(&extension->timer);
    KeInitializeDpc(&extension->dpc, ReadTimerDpc, extension);
    extension->delayMs = 100;
    extension->leakOnUnload = leakOnUnload;
    extension->scratch = ExAllocatePoolWithTag(NonPagedPool, 64, SampleTag);
    if (extension->scratch == nullptr) {
        IoDeleteDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    for (auto& function : driver->MajorFunction)
        function = SampleDispatch;
    driver->DriverUnload = SampleUnload;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(extension->scratch, SampleTag);
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    return CreateSample(driver, FALSE);
}

NTSTATUS LeakingSampleDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    return CreateSample(driver, TRUE);
}
