// Plug and Play: an end of a removable pair goes as a plug-in adapter's port
// goes when it is unplugged. Surprise removal ends every pending request and
// drops the end's names and COM port interface; requests other than close
// and clean-up are refused from then on. Removal (sent once the last handle
// has closed) deletes the device; a function driver with nothing below it
// passes nothing down. The end can come back as a new device under the same
// port name, as a re-enumerated adapter's port does.
#include <initguid.h>

#include "TestPort.h"

namespace testportdriver {

PDRIVER_DISPATCH g_Handlers[IRP_MJ_MAXIMUM_FUNCTION + 1];

namespace {

bool IsRemoved(TestPortEnd* end)
{
    return InterlockedCompareExchange(&end->removed, 0, 0) != 0;
}

void Unplug(TestPortEnd* end)
{
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    InterlockedExchange(&end->removed, 1);
    ShutEnd(end, &done);
    end->open = FALSE;
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    StopReadTiming(end);
    RemoveNames(end);
    WithdrawPortInterface(end);
}

// The device that holds the pair lock, referenced once more.
PDEVICE_OBJECT ReferenceLockDevice(TestPortEnd* end)
{
    PDEVICE_OBJECT holder = end->lockDevice != NULL ? end->lockDevice : end->device;
    ObReferenceObject(holder);
    return holder;
}

// The new end takes over the unplugged one's place beside `end`.
void WireToPeer(TestPortEnd* end, TestPortEnd* added, const TestPortEnd* unplugged)
{
    added->pairIndex = end->pairIndex;
    added->openInformation = unplugged->openInformation;
    if (unplugged->directIo)
        UseDirectIo(added);
    added->removable = TRUE;
    added->lock = end->lock;
    added->lockDevice = ReferenceLockDevice(end);
    ObReferenceObject(end->device);
    added->peer = end;
    ObReferenceObject(added->device);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    end->peer = added;
    KeReleaseSpinLock(end->lock, irql);
}

}  // namespace

NTSTATUS NTAPI TestPortDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    bool served = major == IRP_MJ_CLOSE || major == IRP_MJ_CLEANUP || major == IRP_MJ_PNP;
    if (!served && IsRemoved(EndOf(device)))
        return CompleteNow(irp, STATUS_DELETE_PENDING, 0);  // completed
    return g_Handlers[major](device, irp);
}

NTSTATUS NTAPI TestPortPlugAndPlay(PDEVICE_OBJECT device, PIRP irp)
{
    TestPortEnd* end = EndOf(device);
    UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    // A request this driver does not handle keeps the status it came with.
    if (!end->removable || (minor != IRP_MN_SURPRISE_REMOVAL && minor != IRP_MN_REMOVE_DEVICE))
        return CompleteNow(irp, irp->IoStatus.Status, irp->IoStatus.Information);  // completed
    if (!IsRemoved(end))
        Unplug(end);
    if (minor == IRP_MN_REMOVE_DEVICE) {
        KeFlushQueuedDpcs();  // the tick DPC lies in the device extension
        DeleteEnd(end);
    }
    return CompleteNow(irp, STATUS_SUCCESS, 0);  // completed
}

void PublishPortInterface(TestPortEnd* end)
{
    // Fails for a device that is no Plug and Play device (Wine gives a legacy
    // driver's devices no device instance): the end is then found by its
    // DOS name only.
    if (!NT_SUCCESS(IoRegisterDeviceInterface(end->device, &GUID_DEVINTERFACE_COMPORT, NULL, &end->interfaceLink)))
        return;
    HANDLE key;
    if (NT_SUCCESS(IoOpenDeviceRegistryKey(end->device, PLUGPLAY_REGKEY_DEVICE, KEY_WRITE, &key))) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, KTEXT("PortName"));
        ULONG bytes = 0;
        while (end->portName[bytes / sizeof(WCHAR)] != 0)
            bytes += sizeof(WCHAR);
        ZwSetValueKey(key, &name, 0, REG_SZ, end->portName, bytes + sizeof(WCHAR));
        ZwClose(key);
    }
    IoSetDeviceInterfaceState(&end->interfaceLink, TRUE);
}

void WithdrawPortInterface(TestPortEnd* end)
{
    if (end->interfaceLink.Buffer == NULL)
        return;
    IoSetDeviceInterfaceState(&end->interfaceLink, FALSE);
    RtlFreeUnicodeString(&end->interfaceLink);
}

NTSTATUS PlugInPeer(TestPortEnd* end)
{
    TestPortEnd* unplugged = end->peer;
    if (!end->removable)
        return STATUS_INVALID_DEVICE_REQUEST;
    if (!IsRemoved(unplugged))
        return STATUS_INVALID_DEVICE_STATE;
    TestPortEnd* added;
    NTSTATUS status = CreateEnd(end->device->DriverObject, g_EndsMade, unplugged->portName, &added);
    if (!NT_SUCCESS(status))
        return status;
    ++g_EndsMade;
    WireToPeer(end, added, unplugged);
    ObDereferenceObject(unplugged->device);  // this end's hold on its former peer
    PublishPortInterface(added);
    return STATUS_SUCCESS;
}

}  // namespace testportdriver
