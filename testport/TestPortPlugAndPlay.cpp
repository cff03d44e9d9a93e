// Plug and Play: an end of a removable pair goes as a plug-in adapter's port
// goes when it is unplugged. Surprise removal ends every pending request and
// drops the end's names; requests other than close and clean-up are refused
// from then on. Removal (sent once the last handle has closed) deletes the
// device; a function driver with nothing below it passes nothing down.
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

}  // namespace testportdriver
