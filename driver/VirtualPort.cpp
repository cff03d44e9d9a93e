// A control device as a serial port: one handle at a time with fresh
// settings on every open, the clean-up that close also runs (Wine never
// sends a clean-up request), purge, and the serial control requests.
#include "FilterDriver.h"

#include <stddef.h>

namespace {

constexpr ULONG kMaxBaudRate = 921600;
constexpr ULONG kMaxDword = 0xFFFFFFFF;
constexpr ULONG kCleanupPurge = SERIAL_PURGE_RXABORT | SERIAL_PURGE_RXCLEAR;
constexpr ULONG kModemStatusBits = 0xF0;

struct ReadLock : SpinLockGuard {
    explicit ReadLock(ControlExtension* control) : SpinLockGuard(&control->port.readLock) {}
};

void SetDefaults(VirtualPortState* port)
{
    port->baudRate = 9600;
    port->lineControl.StopBits = STOP_BIT_1;
    port->lineControl.Parity = NO_PARITY;
    port->lineControl.WordLength = 8;
    port->chars.EofChar = 0;
    port->chars.ErrorChar = 0;
    port->chars.BreakChar = 0;
    port->chars.EventChar = 0;
    port->chars.XonChar = 0x11;
    port->chars.XoffChar = 0x13;
    port->handFlow.ControlHandShake = 0;
    port->handFlow.FlowReplace = 0;
    port->handFlow.XonLimit = 2000;
    port->handFlow.XoffLimit = 1000;
    port->timeouts.ReadIntervalTimeout = kMaxDword;
    port->timeouts.ReadTotalTimeoutMultiplier = 0;
    port->timeouts.ReadTotalTimeoutConstant = 0;
    port->timeouts.WriteTotalTimeoutMultiplier = 0;
    port->timeouts.WriteTotalTimeoutConstant = 0;
    port->queueIn = 4000;
    port->queueOut = 0;
    port->purgeFlags = 0;
}

void SetPurgeFlags(ControlExtension* control, ULONG flags)
{
    ReadLock lock(control);
    control->port.purgeFlags = flags;
}

void DiscardPreparedText(ControlExtension* control)
{
    ReadLock lock(control);
    DiscardFormattedText(&control->formatted);
}

// Ends every queued read and wait; purgeFlags stays 0x0A until the next open
// or purge.
void RunCleanupSteps(ControlExtension* control)
{
    SetPurgeFlags(control, kCleanupPurge);
    RunReadWorker(control);
    DiscardPreparedText(control);
    StopWaiting(control);
}

// ----- the settings requests: one stored structure each -----

bool IsValidBaudRate(const void* value)
{
    ULONG rate = *static_cast<const ULONG*>(value);
    return rate >= 1 && rate <= kMaxBaudRate;
}

bool IsValidLineControl(const void* value)
{
    const auto* line = static_cast<const SERIAL_LINE_CONTROL*>(value);
    return line->StopBits < 3 && line->Parity < 5 && line->WordLength >= 1 && line->WordLength <= 8;
}

bool IsValidTimeouts(const void* value)
{
    const auto* t = static_cast<const SERIAL_TIMEOUTS*>(value);
    return !(t->ReadIntervalTimeout == kMaxDword && t->ReadTotalTimeoutMultiplier == kMaxDword &&
             t->ReadTotalTimeoutConstant == kMaxDword);
}

struct SettingRequest {
    ULONG setCode;
    ULONG getCode;
    ULONG size;
    size_t offset;                       // in VirtualPortState
    bool (*isValid)(const void* value);  // none: any value
};

const SettingRequest kSettingRequests[] = {
    {IOCTL_SERIAL_SET_BAUD_RATE, IOCTL_SERIAL_GET_BAUD_RATE, 4, offsetof(VirtualPortState, baudRate), IsValidBaudRate},
    {IOCTL_SERIAL_SET_LINE_CONTROL, IOCTL_SERIAL_GET_LINE_CONTROL, 3, offsetof(VirtualPortState, lineControl),
     IsValidLineControl},
    {IOCTL_SERIAL_SET_CHARS, IOCTL_SERIAL_GET_CHARS, 6, offsetof(VirtualPortState, chars), nullptr},
    {IOCTL_SERIAL_SET_HANDFLOW, IOCTL_SERIAL_GET_HANDFLOW, 16, offsetof(VirtualPortState, handFlow), nullptr},
    {IOCTL_SERIAL_SET_TIMEOUTS, IOCTL_SERIAL_GET_TIMEOUTS, 20, offsetof(VirtualPortState, timeouts), IsValidTimeouts},
};

static_assert(sizeof(SERIAL_LINE_CONTROL) == 3 && sizeof(SERIAL_CHARS) == 6 && sizeof(SERIAL_HANDFLOW) == 16 &&
                  sizeof(SERIAL_TIMEOUTS) == 20,
              "serial settings sizes");

UCHAR* SettingIn(ControlExtension* control, const SettingRequest& request)
{
    return reinterpret_cast<UCHAR*>(&control->port) + request.offset;
}

NTSTATUS SetSetting(ControlExtension* control, PIRP irp, ULONG inputLength, const SettingRequest& request)
{
    if (inputLength < request.size)
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    const void* value = irp->AssociatedIrp.SystemBuffer;
    if (request.isValid != nullptr && !request.isValid(value))
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    {
        ReadLock lock(control);
        RtlCopyMemory(SettingIn(control, request), value, request.size);
    }
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS GetSetting(ControlExtension* control, PIRP irp, ULONG outputLength, const SettingRequest& request)
{
    if (outputLength < request.size)
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    {
        ReadLock lock(control);
        RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, SettingIn(control, request), request.size);
    }
    return CompleteRequest(irp, STATUS_SUCCESS, request.size);
}

// Answers a settings request; false when code is not one.
bool AnswerSetting(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack, NTSTATUS* status)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    for (const SettingRequest& request : kSettingRequests) {
        if (code == request.setCode) {
            *status = SetSetting(control, irp, stack->Parameters.DeviceIoControl.InputBufferLength, request);
            return true;
        }
        if (code == request.getCode) {
            *status = GetSetting(control, irp, stack->Parameters.DeviceIoControl.OutputBufferLength, request);
            return true;
        }
    }
    return false;
}

// ----- the other requests -----

NTSTATUS SetQueueSize(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(SERIAL_QUEUE_SIZE))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    const auto* size = static_cast<const SERIAL_QUEUE_SIZE*>(irp->AssociatedIrp.SystemBuffer);
    {
        ReadLock lock(control);
        control->port.queueIn = size->InSize;
        control->port.queueOut = 0;
    }
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS GetCommStatus(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(SERIAL_STATUS))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    auto* status = static_cast<SERIAL_STATUS*>(irp->AssociatedIrp.SystemBuffer);
    RtlZeroMemory(status, sizeof *status);
    status->Errors = TakeErrorWord(control);
    {
        ReadLock lock(control);
        status->AmountInInQueue = control->port.queueIn;
    }
    return CompleteRequest(irp, STATUS_SUCCESS, sizeof(SERIAL_STATUS));
}

NTSTATUS GetModemStatus(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(ULONG))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    ULONG modemStatus;
    {
        ReadLock lock(control);
        modemStatus = control->port.modemStatus & kModemStatusBits;
    }
    *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = modemStatus;
    return CompleteRequest(irp, STATUS_SUCCESS, sizeof(ULONG));
}

// Buffered records are never discarded; the transmit bits do nothing.
NTSTATUS ComFunc_DIOCPurge(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(ULONG))
        return CompleteRequest(irp, STATUS_BUFFER_TOO_SMALL, 0);
    ULONG mask = *static_cast<const ULONG*>(irp->AssociatedIrp.SystemBuffer);
    SetPurgeFlags(control, mask);
    if ((mask & (SERIAL_PURGE_RXABORT | SERIAL_PURGE_RXCLEAR)) != 0)
        RunReadWorker(control);
    SetPurgeFlags(control, 0);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

}  // namespace

void VirtualPortPrepare(ControlExtension* control)
{
    KeInitializeSpinLock(&control->port.readLock);
    KeInitializeSpinLock(&control->port.waitLock);
    ZRPrepareCustomTimer(&control->tickTimer);
    ZRSetSlotWorker(&control->tickTimer, kReadWorkerSlot, ReadWorkerTick, control);
}

void VirtualPortShutdown(ControlExtension* control)
{
    ZRStopCustomTimer(&control->tickTimer);
    RunCleanupSteps(control);
}

NTSTATUS ComFunc_CreateFile(ControlExtension* control, PIRP irp)
{
    if (InterlockedCompareExchange(&control->isOpen, 1, 0) != 0)
        return CompleteRequest(irp, STATUS_ACCESS_DENIED, 0);
    {
        ReadLock lock(control);
        SetDefaults(&control->port);
    }
    ResetWaitState(control);
    ZRStartCustomTimer(&control->tickTimer);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS ComFunc_CloseHandle(ControlExtension* control, PIRP irp)
{
    if (InterlockedCompareExchange(&control->isOpen, 0, 1) != 1)
        return CompleteRequest(irp, STATUS_ACCESS_DENIED, 0);
    ZRStopCustomTimer(&control->tickTimer);
    RunCleanupSteps(control);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS ComFunc_DeviceCleanup(ControlExtension* control, PIRP irp)
{
    RunCleanupSteps(control);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS ComFunc_SerialControl(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    NTSTATUS status;
    if (AnswerSetting(control, irp, stack, &status))
        return status;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_SERIAL_SET_QUEUE_SIZE: return SetQueueSize(control, irp, stack);
    case IOCTL_SERIAL_GET_COMMSTATUS: return GetCommStatus(control, irp, stack);
    case IOCTL_SERIAL_GET_MODEMSTATUS: return GetModemStatus(control, irp, stack);
    case IOCTL_SERIAL_GET_WAIT_MASK: return ComFunc_DIOCGetWaitMask(control, irp, stack);
    case IOCTL_SERIAL_SET_WAIT_MASK: return ComFunc_DIOCSetWaitMask(control, irp, stack);
    case IOCTL_SERIAL_WAIT_ON_MASK: return ComFunc_DIOCWaitOnMask(control, irp, stack);
    case IOCTL_SERIAL_PURGE: return ComFunc_DIOCPurge(control, irp, stack);
    default: return CompleteRequest(irp, STATUS_SUCCESS, 0);
    }
}
