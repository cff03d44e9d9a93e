// The read engine: pending reads are queued and served in order by the read
// worker, one completion per check, with total and interval timeouts counted
// in 10-ms ticks.
#include "FilterDriver.h"
#include "VirtualPortQueue.h"

using namespace vport;

namespace {

constexpr ULONG kMaxDword = 0xFFFFFFFF;
constexpr ULONG kNextReadTicks = 10;
constexpr ULONG kPurgeReadAbort = 0x02;
// The longest total timeout a read keeps (about 248 days of ticks).
constexpr ULONG kMaxTotalTicks = 0x7FFFFFFF;

// The timing words of a queued read, after its queue link. The context holds
// four pointers, 16 bytes on x86: the flag shares the last word.
struct ReadTiming {
    PIRP next;
    ULONG lastDataTick;
    ULONG startTick;
    ULONG totalTicks : 31;
    ULONG checked : 1;
};
static_assert(sizeof(ReadTiming) <= sizeof(static_cast<IRP*>(nullptr)->Tail.Overlay.DriverContext),
              "read timing fits the driver context");

ReadTiming* TimingOf(PIRP irp)
{
    return reinterpret_cast<ReadTiming*>(irp->Tail.Overlay.DriverContext);
}

enum ReadWork { Read_Poll, Read_New, Read_Cancelled };

struct ReadPass {
    ControlExtension* control;
    Completions done;
};

ULONG ReadLengthOf(PIRP irp)
{
    return IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
}

// Under the read lock. Every record polls the read queue, and nearly always
// finds it empty with the slot already idle: that disarm is skipped. The slot
// is armed only here, so a slot recorded as idle is idle.
void ArmReadSlot(ControlExtension* control, ULONG ticks)
{
    if (ticks == 0 && control->port.readSlotTicks == 0)
        return;
    control->port.readSlotTicks = ticks;
    ZRSetCustomTimer(&control->tickTimer, kReadWorkerSlot, ticks);
}

ULONG TotalTicks(const SERIAL_TIMEOUTS& timeouts, ULONG want)
{
    ULONGLONG total = timeouts.ReadTotalTimeoutMultiplier == kMaxDword
                          ? 0
                          : static_cast<ULONGLONG>(timeouts.ReadTotalTimeoutMultiplier) * want;
    total += timeouts.ReadTotalTimeoutConstant;
    if (total == 0)
        return 0;
    ULONGLONG ticks = total / 10 + 1;
    return ticks > kMaxTotalTicks ? kMaxTotalTicks : static_cast<ULONG>(ticks);
}

bool ReturnsAtOnce(const SERIAL_TIMEOUTS& t)
{
    if (t.ReadIntervalTimeout != kMaxDword)
        return false;
    bool noTotal = t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    bool maxMultiplier = t.ReadTotalTimeoutMultiplier == kMaxDword &&
                         (t.ReadTotalTimeoutConstant == 0 || t.ReadTotalTimeoutConstant == kMaxDword);
    return noTotal || maxMultiplier;
}

// ReadIntervalTimeout MAXDWORD with a total timeout: the read returns as soon
// as it holds a byte, else when the total has passed.
bool ReturnsWithFirstBytes(const SERIAL_TIMEOUTS& t)
{
    return t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutConstant != kMaxDword && !ReturnsAtOnce(t);
}

bool WaitsForWholeLength(const SERIAL_TIMEOUTS& t)
{
    return t.ReadIntervalTimeout == 0 && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
}

void CompleteHead(ReadPass* pass)
{
    VirtualPortState* port = &pass->control->port;
    PIRP irp = port->readQueue;
    port->readQueue = *NextOf(irp);
    if (TakeFromCancel(irp))
        AddCompletion(&pass->done, irp, STATUS_SUCCESS, irp->IoStatus.Information);
    ArmReadSlot(pass->control, kNextReadTicks);
}

// Fills the head read with what the renderer has; true when it is complete.
bool FillHead(ControlExtension* control, PIRP irp, ULONG now)
{
    VirtualPortState* port = &control->port;
    bool signalForm = control->outputForm == CAPTURE_FORM_SIGNAL_SELECTED;
    ULONG want = ReadLengthOf(irp);
    ULONG done = static_cast<ULONG>(irp->IoStatus.Information);
    if (signalForm && done == 0)
        port->modemStatus &= ~(kModemReceivedData | kModemSentData);
    auto* buffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    ULONG got = ComFunc_ReadDataGet(control, buffer + done, want - done);
    if (got != 0) {
        TimingOf(irp)->lastDataTick = now;
        done += got;
        irp->IoStatus.Information = done;
    }
    // A form-4 read carries data of one direction only.
    return done == want || (signalForm && port->modemStatus != 0);
}

// The total and interval timeouts: the ticks still to wait, or true in
// *expired.
ULONG RemainingTicks(const SERIAL_TIMEOUTS& timeouts, const ReadTiming* timing, ULONG now, ULONG done, bool* expired)
{
    *expired = false;
    ULONG wait = 0;
    if (timing->totalTicks != 0) {
        ULONG elapsed = now - timing->startTick;
        if (elapsed >= timing->totalTicks) {
            *expired = true;
            return 0;
        }
        wait = timing->totalTicks - elapsed;
    }
    ULONG intervalTicks = timeouts.ReadIntervalTimeout / 10;
    if (timeouts.ReadIntervalTimeout != 0 && done != 0) {
        // Counted from the last byte (tick 0 included): a check that brought
        // none moves nothing.
        ULONG sinceData = now - timing->lastDataTick;
        if (sinceData > intervalTicks) {
            *expired = true;
            return 0;
        }
        intervalTicks -= sinceData;
    }
    if (wait == 0 || wait > intervalTicks)
        wait = intervalTicks != 0 ? intervalTicks : 1;
    return wait;
}

// One look at the head read: it completes when it is full or its time is up;
// otherwise it stays at the head, with the tick armed when a timeout applies.
void ComFunc_ReadCheck(ReadPass* pass)
{
    ControlExtension* control = pass->control;
    VirtualPortState* port = &control->port;
    PIRP irp = port->readQueue;
    ReadTiming* timing = TimingOf(irp);
    ULONG now = ZRGetTimeCount(&control->tickTimer);
    if (FillHead(control, irp, now)) {
        CompleteHead(pass);
        return;
    }
    if (timing->checked == 0) {
        timing->checked = 1;
        timing->startTick = now;
        timing->totalTicks = TotalTicks(port->timeouts, ReadLengthOf(irp));
    }
    if (ReturnsAtOnce(port->timeouts) || (ReturnsWithFirstBytes(port->timeouts) && irp->IoStatus.Information != 0)) {
        CompleteHead(pass);
        return;
    }
    if (WaitsForWholeLength(port->timeouts))
        return;
    bool expired;
    ULONG wait = RemainingTicks(port->timeouts, timing, now, static_cast<ULONG>(irp->IoStatus.Information), &expired);
    if (expired)
        CompleteHead(pass);
    else
        ArmReadSlot(control, wait);
}

// A cancelled read keeps the bytes it already holds: they were taken from
// the records and exist nowhere else, so it completes with success and them.
// One that holds none completes as cancelled.
void AddCancelledRead(ReadPass* pass, PIRP irp)
{
    ULONG_PTR held = irp->IoStatus.Information;
    AddCompletion(&pass->done, irp, held != 0 ? STATUS_SUCCESS : STATUS_CANCELLED, held);
}

void CancelAllReads(ReadPass* pass)
{
    VirtualPortState* port = &pass->control->port;
    while (port->readQueue != nullptr) {
        PIRP irp = port->readQueue;
        port->readQueue = *NextOf(irp);
        if (TakeFromCancel(irp))
            AddCancelledRead(pass, irp);
    }
}

VOID NTAPI ComFunc_CancelRead(PDEVICE_OBJECT device, PIRP irp);

void AcceptRead(ReadPass* pass, PIRP irp)
{
    IoSetCancelRoutine(irp, ComFunc_CancelRead);
    if (irp->Cancel && TakeFromCancel(irp)) {
        AddCancelledRead(pass, irp);
        return;
    }
    // Cancelled but its cancel routine already runs: it finds the request queued.
    ReadTiming* timing = TimingOf(irp);
    timing->lastDataTick = 0;
    timing->startTick = 0;
    timing->totalTicks = 0;
    timing->checked = 0;
    VirtualPortState* port = &pass->control->port;
    AppendRequest(&port->readQueue, irp);
    if (port->readQueue == irp)
        ComFunc_ReadCheck(pass);
}

void DropCancelledRead(ReadPass* pass, PIRP irp)
{
    VirtualPortState* port = &pass->control->port;
    bool wasHead = port->readQueue == irp;
    RemoveRequest(&port->readQueue, irp);
    AddCancelledRead(pass, irp);
    if (wasHead && port->readQueue != nullptr)
        ComFunc_ReadCheck(pass);
}

bool MustCancelQueuedReads(ControlExtension* control)
{
    const VirtualPortState* port = &control->port;
    if ((port->purgeFlags & kPurgeReadAbort) != 0)
        return true;
    return (port->handFlow.ControlHandShake & SERIAL_ERROR_ABORT) != 0 && IsErrorCounterRaised(control);
}

// All work on the read queue, under the read lock; the finished requests are
// completed after it is released.
void ComFunc_ServiceReadQueue(ControlExtension* control, ReadWork work, PIRP irp)
{
    ReadPass pass = {control, {nullptr}};
    KIRQL irql;
    KeAcquireSpinLock(&control->port.readLock, &irql);
    switch (work) {
    case Read_New: AcceptRead(&pass, irp); break;
    case Read_Cancelled: DropCancelledRead(&pass, irp); break;
    case Read_Poll:
        if (control->port.readQueue == nullptr)
            ArmReadSlot(control, 0);
        else
            ComFunc_ReadCheck(&pass);
        break;
    }
    if (MustCancelQueuedReads(control))
        CancelAllReads(&pass);
    KeReleaseSpinLock(&control->port.readLock, irql);
    CompleteAll(&pass.done);
}

// The cancel lock is released first: the worker may spin on the read lock.
VOID NTAPI ComFunc_CancelRead(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    ComFunc_ServiceReadQueue(ControlOf(device), Read_Cancelled, irp);
}

}  // namespace

void RunReadWorker(ControlExtension* control)
{
    ComFunc_ServiceReadQueue(control, Read_Poll, nullptr);
}

VOID ReadWorkerTick(PVOID control)
{
    RunReadWorker(static_cast<ControlExtension*>(control));
}

NTSTATUS ComFunc_ReadFile(ControlExtension* control, PIRP irp)
{
    if (IsErrorAbortPending(control))
        return CompleteRequest(irp, STATUS_REQUEST_ABORTED, 0);
    if (ReadLengthOf(irp) == 0 || irp->AssociatedIrp.SystemBuffer == nullptr)
        return CompleteRequest(irp, STATUS_SUCCESS, 0);
    // Pending before the hand-over: a timer or a cancel may complete it at once.
    IoMarkIrpPending(irp);
    ComFunc_ServiceReadQueue(control, Read_New, irp);
    return STATUS_PENDING;
}
