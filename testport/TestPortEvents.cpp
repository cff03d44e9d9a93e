// Events and modem lines of a port end: the wait mask and wait on mask, the
// null-modem wiring (this end's RTS is the peer's CTS, its DTR the peer's
// DSR and carrier detect), line errors, and purge.
#include "TestPort.h"

namespace testportdriver {

namespace {

const ULONG kKnownEvents = 0x1FFF;
const ULONG kPurgeFlags = SERIAL_PURGE_TXABORT | SERIAL_PURGE_RXABORT | SERIAL_PURGE_TXCLEAR | SERIAL_PURGE_RXCLEAR;

PIRP PendingWait(TestPortEnd* end)
{
    return IsListEmpty(&end->waits) ? NULL : CONTAINING_RECORD(end->waits.Flink, IRP, Tail.Overlay.ListEntry);
}

void FinishWait(PIRP irp, ULONG events, Completions* done)
{
    *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = events;
    AddCompletion(done, irp, STATUS_SUCCESS, sizeof(ULONG));
}

// Events that the peer sees when this end's lines change.
ULONG PeerEventsOf(ULONG changed)
{
    ULONG events = 0;
    if (changed & SERIAL_RTS_STATE)
        events |= SERIAL_EV_CTS;
    if (changed & SERIAL_DTR_STATE)
        events |= SERIAL_EV_DSR | SERIAL_EV_RLSD;
    return events;
}

ULONG ErrorEventsOf(ULONG errors)
{
    ULONG events = 0;
    if (errors & SERIAL_ERROR_BREAK)
        events |= SERIAL_EV_BREAK;
    if (errors & (SERIAL_ERROR_FRAMING | SERIAL_ERROR_OVERRUN | SERIAL_ERROR_PARITY))
        events |= SERIAL_EV_ERR;
    return events;
}

}  // namespace

void RaiseEvents(TestPortEnd* end, ULONG events, Completions* done)
{
    events &= end->waitMask;
    if (events == 0)
        return;
    PIRP wait = PendingWait(end);
    if (wait != NULL && ClaimQueued(wait)) {
        FinishWait(wait, end->events | events, done);
        end->events = 0;
    } else {
        end->events |= events;
    }
}

void RaiseErrors(TestPortEnd* end, ULONG errors, Completions* done)
{
    end->errors |= errors;
    if (errors & SERIAL_ERROR_FRAMING)
        ++end->stats.FrameErrorCount;
    if (errors & SERIAL_ERROR_OVERRUN)
        ++end->stats.SerialOverrunErrorCount;
    if (errors & SERIAL_ERROR_PARITY)
        ++end->stats.ParityErrorCount;
    RaiseEvents(end, ErrorEventsOf(errors), done);
    // With error abort a line error ends the reads that wait.
    if (AbortedByError(end))
        CancelReads(end, done);
}

void SetLines(TestPortEnd* end, ULONG lines, Completions* done)
{
    ULONG changed = end->lines ^ lines;
    end->lines = lines;
    if (changed != 0 && end->peer->open)
        RaiseEvents(end->peer, PeerEventsOf(changed), done);
}

ULONG ModemStatusOf(const TestPortEnd* end)
{
    ULONG peerLines = end->peer->lines;
    ULONG status = 0;
    if (peerLines & SERIAL_RTS_STATE)
        status |= SERIAL_CTS_STATE;
    if (peerLines & SERIAL_DTR_STATE)
        status |= SERIAL_DSR_STATE | SERIAL_DCD_STATE;
    return status;
}

NTSTATUS SetWaitMask(TestPortEnd* end, ULONG mask, Completions* done)
{
    if (mask & ~kKnownEvents)
        return STATUS_INVALID_PARAMETER;
    // A new mask ends the pending wait with no event.
    PIRP wait = PendingWait(end);
    if (wait != NULL && ClaimQueued(wait))
        FinishWait(wait, 0, done);
    end->waitMask = mask;
    end->events = 0;
    return STATUS_SUCCESS;
}

NTSTATUS WaitOnMask(TestPortEnd* end, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG))
        return CompleteNow(irp, STATUS_BUFFER_TOO_SMALL, 0);  // completed
    irp->IoStatus.Information = 0;
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    if (end->waitMask == 0 || PendingWait(end) != NULL) {
        KeReleaseSpinLock(end->lock, irql);
        return CompleteNow(irp, STATUS_INVALID_PARAMETER, 0);  // completed: no mask, or a wait is pending
    }
    ULONG events = end->events;
    if (events != 0) {
        end->events = 0;
        KeReleaseSpinLock(end->lock, irql);
        *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = events;
        return CompleteNow(irp, STATUS_SUCCESS, sizeof(ULONG));  // completed: events happened before
    }
    bool queued = QueueCancellable(&end->waits, irp);
    KeReleaseSpinLock(end->lock, irql);
    if (!queued)
        return CompleteNow(irp, STATUS_CANCELLED, 0);  // completed: cancelled before it was queued
    return STATUS_PENDING;                             // pended
}

NTSTATUS Purge(TestPortEnd* end, ULONG mask, Completions* done)
{
    if (mask == 0 || (mask & ~kPurgeFlags))
        return STATUS_INVALID_PARAMETER;
    if (mask & SERIAL_PURGE_RXABORT)
        CancelReads(end, done);
    if (mask & SERIAL_PURGE_RXCLEAR)
        end->receivedCount = 0;
    // Writes never wait and nothing is kept for sending: the transmit flags have
    // nothing to do.
    return STATUS_SUCCESS;
}

}  // namespace testportdriver
