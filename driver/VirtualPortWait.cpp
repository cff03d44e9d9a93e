// The wait engine: event counters raised by arriving records, pending waits
// served in order by the wait worker, and the error word of the port.
#include "FilterDriver.h"
#include "VirtualPortQueue.h"

using namespace vport;

namespace {

// Counter order; a wait result is built from the first nine in this order.
constexpr ULONG kEventBits[kEventCounters] = {SERIAL_EV_RXCHAR, SERIAL_EV_RXFLAG,  SERIAL_EV_TXEMPTY, SERIAL_EV_BREAK,
                                              SERIAL_EV_CTS,    SERIAL_EV_DSR,     SERIAL_EV_ERR,     SERIAL_EV_RING,
                                              SERIAL_EV_RLSD,   SERIAL_EV_RX80FULL};
constexpr ULONG kResultCounters = 9;
constexpr ULONG kReceivedCounter = 0;
constexpr ULONG kEventCharCounter = 1;
constexpr ULONG kErrorCounter = 6;
constexpr ULONG kBufferOverflowError = 0x00000400;

enum WaitWork { Wait_Poll, Wait_New, Wait_Cancelled };

struct WaitPass {
    ControlExtension* control;
    bool errorAbort;
    Completions done;
};

struct WaitLock : SpinLockGuard {
    explicit WaitLock(ControlExtension* control) : SpinLockGuard(&control->port.waitLock) {}
};

ULONG HandShakeOf(ControlExtension* control)
{
    SpinLockGuard lock(&control->port.readLock);
    return control->port.handFlow.ControlHandShake;
}

void CompleteWait(WaitPass* pass, PIRP irp, ULONG events)
{
    *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = events;
    AddCompletion(&pass->done, irp, STATUS_SUCCESS, sizeof(ULONG));
}

// The head wait ends with the counted events, when there are any.
void ComFunc_WaitCheck(WaitPass* pass)
{
    VirtualPortState* port = &pass->control->port;
    if (port->waitQueue == nullptr)
        return;
    ULONG events = 0;
    for (ULONG i = 0; i < kResultCounters; ++i) {
        if (port->counters[i] == 0)
            continue;
        events |= kEventBits[i];
        --port->counters[i];
    }
    if (events == 0)
        return;
    PIRP irp = port->waitQueue;
    port->waitQueue = *NextOf(irp);
    if (TakeFromCancel(irp))
        CompleteWait(pass, irp, events);
}

void EndAllWaits(WaitPass* pass)
{
    VirtualPortState* port = &pass->control->port;
    while (port->waitQueue != nullptr) {
        PIRP irp = port->waitQueue;
        port->waitQueue = *NextOf(irp);
        if (TakeFromCancel(irp))
            CompleteWait(pass, irp, 0);
    }
}

VOID NTAPI ComFunc_CancelWait(PDEVICE_OBJECT device, PIRP irp);

void AcceptWait(WaitPass* pass, PIRP irp)
{
    IoSetCancelRoutine(irp, ComFunc_CancelWait);
    if (irp->Cancel && TakeFromCancel(irp)) {
        CompleteWait(pass, irp, 0);
        return;
    }
    VirtualPortState* port = &pass->control->port;
    AppendRequest(&port->waitQueue, irp);
    if (port->waitQueue == irp)
        ComFunc_WaitCheck(pass);
}

// All work on the wait queue, under the wait lock; the finished requests are
// completed after it is released.
void ComFunc_ServiceWaitQueue(ControlExtension* control, WaitWork work, PIRP irp)
{
    WaitPass pass = {control, (HandShakeOf(control) & SERIAL_ERROR_ABORT) != 0, {nullptr}};
    {
        WaitLock lock(control);
        VirtualPortState* port = &control->port;
        switch (work) {
        case Wait_New: AcceptWait(&pass, irp); break;
        case Wait_Cancelled:
            RemoveRequest(&port->waitQueue, irp);
            CompleteWait(&pass, irp, 0);
            break;
        case Wait_Poll: ComFunc_WaitCheck(&pass); break;
        }
        if ((pass.errorAbort && port->counters[kErrorCounter] != 0) || port->waitMask == 0)
            EndAllWaits(&pass);
    }
    CompleteAll(&pass.done);
}

VOID NTAPI ComFunc_CancelWait(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    ComFunc_ServiceWaitQueue(ControlOf(device), Wait_Cancelled, irp);
}

bool HasByte(const UCHAR* data, ULONG length, UCHAR value)
{
    for (ULONG i = 0; i < length; ++i) {
        if (data[i] == value)
            return true;
    }
    return false;
}

UCHAR EventCharOf(ControlExtension* control)
{
    SpinLockGuard lock(&control->port.readLock);
    return control->port.chars.EventChar;
}

bool CarriesEventChar(ControlExtension* control, const CaptureRecord* record, ULONG size)
{
    if (record->kind != RecordKind_Write || size < CAPTURE_RECORD_HEADER_SIZE)
        return false;
    ULONG available = size - CAPTURE_RECORD_HEADER_SIZE;
    ULONG length = CaptureRecordPayloadLength(*record);
    return HasByte(CaptureRecordData(record), length < available ? length : available, EventCharOf(control));
}

// Raises the counters of the record's events; true when the wait worker
// must look at once.
bool RaiseRecordEvents(ControlExtension* control, const CaptureRecord* record, ULONG size, bool dropped)
{
    bool eventChar = CarriesEventChar(control, record, size);
    WaitLock lock(control);
    VirtualPortState* port = &control->port;
    if ((port->waitMask & SERIAL_EV_RXFLAG) != 0 && eventChar)
        port->counters[kEventCharCounter] = 1;
    if ((port->waitMask & SERIAL_EV_ERR) != 0 && dropped) {
        port->counters[kErrorCounter] = SaturatingAdd(port->counters[kErrorCounter], 1);
        port->errorWord = kBufferOverflowError;
    }
    if ((port->waitMask & SERIAL_EV_RXCHAR) == 0)
        return false;
    port->counters[kReceivedCounter] = 1;
    return true;
}

}  // namespace

void RunWaitWorker(ControlExtension* control)
{
    ComFunc_ServiceWaitQueue(control, Wait_Poll, nullptr);
}

void ResetWaitState(ControlExtension* control)
{
    WaitLock lock(control);
    VirtualPortState* port = &control->port;
    port->waitMask = 0;
    port->errorWord = 0;
    for (ULONG& counter : port->counters)
        counter = 0;
}

void StopWaiting(ControlExtension* control)
{
    {
        WaitLock lock(control);
        control->port.waitMask = 0;
    }
    RunWaitWorker(control);
}

ULONG TakeErrorWord(ControlExtension* control)
{
    WaitLock lock(control);
    ULONG errorWord = control->port.errorWord;
    control->port.errorWord = 0;
    return errorWord;
}

bool IsErrorAbortPending(ControlExtension* control)
{
    if ((HandShakeOf(control) & SERIAL_ERROR_ABORT) == 0)
        return false;
    WaitLock lock(control);
    return control->port.errorWord != 0;
}

bool IsErrorCounterRaised(ControlExtension* control)
{
    WaitLock lock(control);
    return control->port.counters[kErrorCounter] != 0;
}

void RaiseLineError(ControlExtension* control, ULONG errorWord)
{
    WaitLock lock(control);
    control->port.counters[kErrorCounter] = SaturatingAdd(control->port.counters[kErrorCounter], 1);
    control->port.errorWord = errorWord;
}

void VirtualPortRecordAdded(ControlExtension* control, const CaptureRecord* record, ULONG size, bool dropped)
{
    if (RaiseRecordEvents(control, record, size, dropped))
        RunWaitWorker(control);
    RunReadWorker(control);
}

NTSTATUS ComFunc_DIOCSetWaitMask(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG))
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    ULONG mask = *static_cast<const ULONG*>(irp->AssociatedIrp.SystemBuffer);
    {
        WaitLock lock(control);
        VirtualPortState* port = &control->port;
        for (ULONG i = 0; i < kEventCounters; ++i) {
            if ((mask & kEventBits[i]) == 0)
                port->counters[i] = 0;
        }
        port->waitMask = mask;
    }
    if (mask == 0)
        RunWaitWorker(control);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS ComFunc_DIOCGetWaitMask(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    ULONG mask;
    {
        WaitLock lock(control);
        mask = control->port.waitMask;
    }
    *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = mask;
    return CompleteRequest(irp, STATUS_SUCCESS, sizeof(ULONG));
}

NTSTATUS ComFunc_DIOCWaitOnMask(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    if (IsErrorAbortPending(control))
        return CompleteRequest(irp, STATUS_REQUEST_ABORTED, 0);
    IoMarkIrpPending(irp);
    ComFunc_ServiceWaitQueue(control, Wait_New, irp);
    return STATUS_PENDING;
}
