// A tiny kernel driver for the service conformance test: one device with a
// DOS name that answers open, close and a control request that reverses its
// buffer. Built as a real .sys with mingw, linked into the test natively.
#include <ntddk.h>

#include "EchoDevice.h"
#include "KernelText.h"

namespace {

PCWSTR const kDeviceName = KTEXT("\\Device\\VtrlSimEcho0");
PCWSTR const kLinkName = KTEXT("\\DosDevices\\VtrlSimEcho");

void ReverseBytes(UCHAR* bytes, ULONG length)
{
    for (ULONG i = 0; i < length / 2; ++i) {
        UCHAR swap = bytes[i];
        bytes[i] = bytes[length - 1 - i];
        bytes[length - 1 - i] = swap;
    }
}

NTSTATUS DeviceControl(PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_ECHO_REVERSE)
        return STATUS_INVALID_DEVICE_REQUEST;
    ULONG length = stack->Parameters.DeviceIoControl.InputBufferLength;
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < length)
        return STATUS_BUFFER_TOO_SMALL;
    ReverseBytes(static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer), length);
    irp->IoStatus.Information = length;
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI Dispatch(PDEVICE_OBJECT /*device*/, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Information = 0;
    NTSTATUS status = STATUS_SUCCESS;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL)
        status = DeviceControl(irp, stack);
    else if (stack->MajorFunction != IRP_MJ_CREATE && stack->MajorFunction != IRP_MJ_CLOSE &&
             stack->MajorFunction != IRP_MJ_CLEANUP)
        status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

VOID NTAPI Unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    IoDeleteDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING /*registryPath*/)
{
    UNICODE_STRING name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&name, kDeviceName);
    RtlInitUnicodeString(&link, kLinkName);
    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = Dispatch;
    driver->MajorFunction[IRP_MJ_CLEANUP] = Dispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = Dispatch;
    driver->DriverUnload = Unload;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}
