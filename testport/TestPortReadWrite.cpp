// Reads and writes: a write hands its bytes to the peer's receive queue at
// once; reads are served in order from that queue with Windows' read-timeout
// rules, timed by a 10-ms tick that runs while the end is open.
#include "TestPort.h"

namespace testportdriver {

namespace {

const LONGLONG kTick = -100000;  // 10 ms, relative, in 100-ns units
const LONG kTickPeriod = 10;     // ms

// Timing words of a queued read, kept in the request's driver context.
struct ReadClock {
    ULONG startTick;
    ULONG lastDataTick;
    BOOLEAN started;
};
static_assert(sizeof(ReadClock) <= sizeof(((IRP*)0)->Tail.Overlay.DriverContext), "read clock fits");

ReadClock* ClockOf(PIRP irp)
{
    return reinterpret_cast<ReadClock*>(irp->Tail.Overlay.DriverContext);
}

PIRP HeadRead(TestPortEnd* end)
{
    return CONTAINING_RECORD(end->reads.Flink, IRP, Tail.Overlay.ListEntry);
}

ULONG ReadLength(PIRP irp)
{
    return IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
}

ULONG TicksOf(ULONGLONG milliseconds)
{
    ULONGLONG ticks = (milliseconds + 9) / 10;
    return ticks > 0xFFFFFFF0ull ? 0xFFFFFFF0u : static_cast<ULONG>(ticks);
}

// How long a read may wait, from the port's timeouts.
struct ReadLimits {
    BOOLEAN immediate;    // return at once with what is there
    BOOLEAN anyByte;      // return as soon as one byte is there
    ULONG totalTicks;     // 0: no total timeout
    ULONG intervalTicks;  // 0: no interval timeout
};

ReadLimits LimitsOf(const SERIAL_TIMEOUTS& t, ULONG length)
{
    ReadLimits limits = {FALSE, FALSE, 0, 0};
    if (t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
        limits.immediate = TRUE;
        return limits;
    }
    if (t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == MAXULONG &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXULONG) {
        limits.anyByte = TRUE;
        limits.totalTicks = TicksOf(t.ReadTotalTimeoutConstant);
        return limits;
    }
    ULONGLONG total = static_cast<ULONGLONG>(t.ReadTotalTimeoutMultiplier) * length + t.ReadTotalTimeoutConstant;
    if (total != 0)
        limits.totalTicks = TicksOf(total);
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXULONG)
        limits.intervalTicks = TicksOf(t.ReadIntervalTimeout);
    return limits;
}

ULONG TakeReceived(TestPortEnd* end, UCHAR* target, ULONG room)
{
    ULONG taken = 0;
    while (taken < room && end->receivedCount > 0) {
        target[taken++] = end->received[end->receivedStart];
        end->receivedStart = (end->receivedStart + 1) % TESTPORT_RECEIVE_QUEUE;
        --end->receivedCount;
    }
    return taken;
}

ULONG PutReceived(TestPortEnd* end, const UCHAR* data, ULONG length)
{
    ULONG put = 0;
    while (put < length && end->receivedCount < TESTPORT_RECEIVE_QUEUE) {
        end->received[(end->receivedStart + end->receivedCount) % TESTPORT_RECEIVE_QUEUE] = data[put++];
        ++end->receivedCount;
    }
    return put;
}

// Puts bytes back at the front of the receive queue, as far as there is room.
void PutBack(TestPortEnd* end, const UCHAR* data, ULONG length)
{
    ULONG room = TESTPORT_RECEIVE_QUEUE - end->receivedCount;
    ULONG count = length < room ? length : room;
    for (ULONG i = count; i > 0; --i) {
        end->receivedStart = (end->receivedStart + TESTPORT_RECEIVE_QUEUE - 1) % TESTPORT_RECEIVE_QUEUE;
        end->received[end->receivedStart] = data[i - 1];
    }
    end->receivedCount += count;
}

// The bytes of a read or write: the system buffer of a buffered end; for a
// direct-I/O end the caller's pages mapped into system space (the mapping
// is kept in the MDL, so later calls cost nothing). NULL when the request
// has no MDL or the mapping fails.
UCHAR* TransferBuffer(TestPortEnd* end, PIRP irp)
{
    if (!end->directIo)
        return static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    if (irp->MdlAddress == NULL)
        return NULL;
    return static_cast<UCHAR*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
}

void FillRead(TestPortEnd* end, PIRP irp)
{
    ULONG done = static_cast<ULONG>(irp->IoStatus.Information);
    UCHAR* buffer = TransferBuffer(end, irp);
    ULONG got = TakeReceived(end, buffer + done, ReadLength(irp) - done);
    if (got == 0)
        return;
    irp->IoStatus.Information = done + got;
    ClockOf(irp)->lastDataTick = end->ticks;
}

enum ReadState { ReadWaits, ReadDone, ReadTimedOut };

ReadState CheckRead(TestPortEnd* end, PIRP irp)
{
    ULONG got = static_cast<ULONG>(irp->IoStatus.Information);
    ULONG length = ReadLength(irp);
    if (got == length)
        return ReadDone;
    ReadLimits limits = LimitsOf(end->timeouts, length);
    if (limits.immediate || (limits.anyByte && got > 0))
        return ReadDone;
    ReadClock* clock = ClockOf(irp);
    if (limits.totalTicks != 0 && end->ticks - clock->startTick >= limits.totalTicks)
        return ReadTimedOut;
    if (limits.intervalTicks != 0 && got > 0 && end->ticks - clock->lastDataTick >= limits.intervalTicks)
        return ReadTimedOut;
    return ReadWaits;
}

VOID NTAPI Tick(PKDPC, PVOID context, PVOID, PVOID)
{
    TestPortEnd* end = static_cast<TestPortEnd*>(context);
    Completions done;
    InitCompletions(&done);
    KeAcquireSpinLockAtDpcLevel(end->lock);
    ++end->ticks;
    ServeReads(end, &done);
    KeReleaseSpinLockFromDpcLevel(end->lock);
    CompleteAll(&done);
}

// Completes a write at once: every byte counts as sent, whether or not the
// peer had room (the peer then reports a queue overrun).
NTSTATUS WriteNow(TestPortEnd* end, PIRP irp, const UCHAR* data, ULONG length)
{
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    NTSTATUS status = STATUS_SUCCESS;
    if (AbortedByError(end)) {
        status = STATUS_CANCELLED;
        length = 0;
    } else {
        if (end->peer->open)
            Receive(end->peer, data, length, &done);
        end->stats.TransmittedCount += length;
        RaiseEvents(end, SERIAL_EV_TXEMPTY, &done);
    }
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    return CompleteNow(irp, status, length);
}

}  // namespace

bool AbortedByError(const TestPortEnd* end)
{
    return (end->handflow.ControlHandShake & SERIAL_ERROR_ABORT) != 0 && end->errors != 0;
}

void InitReadTiming(TestPortEnd* end)
{
    KeInitializeTimer(&end->tickTimer);
    KeInitializeDpc(&end->tickDpc, Tick, end);
}

// A periodic timer, set and cancelled outside the pair lock and never from its
// own DPC: Wine's timer cancel waits for a running DPC.
void StartReadTiming(TestPortEnd* end)
{
    LARGE_INTEGER due;
    due.QuadPart = kTick;
    KeSetTimerEx(&end->tickTimer, due, kTickPeriod, &end->tickDpc);
}

void StopReadTiming(TestPortEnd* end)
{
    KeCancelTimer(&end->tickTimer);
}

void UseDirectIo(TestPortEnd* end)
{
    end->directIo = TRUE;
    end->device->Flags = (end->device->Flags & ~DO_BUFFERED_IO) | DO_DIRECT_IO | DO_POWER_PAGABLE;
    end->device->Characteristics |= FILE_DEVICE_SECURE_OPEN | FILE_CHARACTERISTIC_PNP_DEVICE;
}

void GiveBackRead(TestPortEnd* end, PIRP irp)
{
    PutBack(end, TransferBuffer(end, irp), static_cast<ULONG>(irp->IoStatus.Information));
    irp->IoStatus.Information = 0;
}

void CancelReads(TestPortEnd* end, Completions* done)
{
    // Queued behind the first read, the others hold no bytes: giving back in
    // queue order keeps the bytes in order.
    while (!IsListEmpty(&end->reads)) {
        PIRP irp = HeadRead(end);
        if (ClaimQueued(irp)) {
            GiveBackRead(end, irp);
            AddCompletion(done, irp, STATUS_CANCELLED, 0);
        }
    }
}

void ServeReads(TestPortEnd* end, Completions* done)
{
    while (!IsListEmpty(&end->reads)) {
        PIRP irp = HeadRead(end);
        ReadClock* clock = ClockOf(irp);
        if (!clock->started) {
            clock->started = TRUE;
            clock->startTick = end->ticks;
        }
        FillRead(end, irp);
        ReadState state = CheckRead(end, irp);
        if (state == ReadWaits)
            return;
        if (ClaimQueued(irp))
            AddCompletion(done, irp, state == ReadDone ? STATUS_SUCCESS : STATUS_TIMEOUT, irp->IoStatus.Information);
    }
}

void Receive(TestPortEnd* end, const UCHAR* data, ULONG length, Completions* done)
{
    ULONG delivered = 0;
    while (delivered < length) {
        ULONG put = PutReceived(end, data + delivered, length - delivered);
        delivered += put;
        ServeReads(end, done);
        if (put == 0)
            break;
    }
    end->stats.ReceivedCount += delivered;
    ULONG events = delivered > 0 ? SERIAL_EV_RXCHAR : 0;
    for (ULONG i = 0; i < delivered; ++i) {
        if (data[i] == end->chars.EventChar)
            events |= SERIAL_EV_RXFLAG;
    }
    RaiseEvents(end, events, done);
    if (delivered < length) {
        ++end->stats.BufferOverrunErrorCount;
        RaiseErrors(end, SERIAL_ERROR_QUEUEOVERRUN, done);
    }
}

NTSTATUS NTAPI TestPortRead(PDEVICE_OBJECT device, PIRP irp)
{
    TestPortEnd* end = EndOf(device);
    if (ReadLength(irp) == 0)
        return CompleteNow(irp, STATUS_SUCCESS, 0);  // completed
    if (TransferBuffer(end, irp) == NULL)
        return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES, 0);  // completed: no buffer to fill
    irp->IoStatus.Information = 0;
    ClockOf(irp)->started = FALSE;
    Completions done;
    InitCompletions(&done);
    KIRQL irql;
    KeAcquireSpinLock(end->lock, &irql);
    if (AbortedByError(end)) {
        KeReleaseSpinLock(end->lock, irql);
        return CompleteNow(irp, STATUS_CANCELLED, 0);  // completed
    }
    if (!QueueCancellable(&end->reads, irp)) {
        KeReleaseSpinLock(end->lock, irql);
        return CompleteNow(irp, STATUS_CANCELLED, 0);  // completed: cancelled before it was queued
    }
    ServeReads(end, &done);
    KeReleaseSpinLock(end->lock, irql);
    CompleteAll(&done);
    return STATUS_PENDING;  // pended (possibly completed already above)
}

NTSTATUS NTAPI TestPortWrite(PDEVICE_OBJECT device, PIRP irp)
{
    ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    if (length == 0)
        return CompleteNow(irp, STATUS_SUCCESS, 0);  // completed
    TestPortEnd* end = EndOf(device);
    const UCHAR* data = TransferBuffer(end, irp);
    if (data == NULL)
        return CompleteNow(irp, STATUS_INSUFFICIENT_RESOURCES, 0);  // completed: no bytes to send
    return WriteNow(end, irp, data, length);                        // completed
}

}  // namespace testportdriver
