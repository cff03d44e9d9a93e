// Pending requests: the one place where the cancel routine and the driver's
// own completion settle who completes a queued request, and the list of
// requests completed after the pair lock is released.
#include "TestPort.h"

namespace testportdriver {

namespace {

PLIST_ENTRY LinkOf(PIRP irp)
{
    return &irp->Tail.Overlay.ListEntry;
}

PIRP IrpOf(PLIST_ENTRY link)
{
    return CONTAINING_RECORD(link, IRP, Tail.Overlay.ListEntry);
}

// Whoever takes the cancel routine away owns the request: the cancel routine
// below when the I/O manager took it, the driver in ClaimQueued otherwise.
// Unlinking leaves the entry pointing at itself, so a second unlink is harmless.
void Unlink(PIRP irp)
{
    RemoveEntryList(LinkOf(irp));
    InitializeListHead(LinkOf(irp));
}

VOID NTAPI CancelQueued(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    TestPortEnd* end = EndOf(device);
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    Unlink(irp);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_READ)
        GiveBackRead(end, irp);
    // A cancelled first read makes way for the next one.
    ServeReads(end, &done);
    KeReleaseSpinLock(end->lock, irql);
    CompleteNow(irp, STATUS_CANCELLED, 0);
    CompleteAll(&done);
}

}  // namespace

void InitCompletions(Completions* done)
{
    InitializeListHead(&done->irps);
}

void AddCompletion(Completions* done, PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    InsertTailList(&done->irps, LinkOf(irp));
}

void CompleteAll(Completions* done)
{
    while (!IsListEmpty(&done->irps))
        IoCompleteRequest(IrpOf(RemoveHeadList(&done->irps)), IO_SERIAL_INCREMENT);
}

NTSTATUS CompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
    return status;
}

bool QueueCancellable(PLIST_ENTRY queue, PIRP irp)
{
    // The I/O manager sets Cancel and takes the routine under the cancel spin
    // lock, so under it the two cannot cross.
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    bool cancelled = irp->Cancel != FALSE;
    if (!cancelled)
        IoSetCancelRoutine(irp, CancelQueued);
    IoReleaseCancelSpinLock(irql);
    if (cancelled)
        return false;
    IoMarkIrpPending(irp);
    InsertTailList(queue, LinkOf(irp));
    return true;
}

bool ClaimQueued(PIRP irp)
{
    Unlink(irp);
    return IoSetCancelRoutine(irp, NULL) != NULL;
}

void CancelQueue(PLIST_ENTRY queue, Completions* done)
{
    while (!IsListEmpty(queue)) {
        PIRP irp = IrpOf(queue->Flink);
        if (ClaimQueued(irp))
            AddCompletion(done, irp, STATUS_CANCELLED, 0);
    }
}

}  // namespace testportdriver
