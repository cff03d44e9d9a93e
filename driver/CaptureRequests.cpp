// Requests to a control device: the five capture requests, open and close
// (one handle at a time), and the serial-port side that a virtual output
// port answers.
#include "FilterDriver.h"

#include "CaptureIoctl.h"

namespace {

ULONG PayloadLength(const CaptureRecord* record)
{
    return CaptureRecordPayloadLength(*record);
}

// IOCTL_CAPTURE_ADD is reachable from user mode on a device any program may
// open: only a complete, self-consistent record is taken.
bool IsCompleteRecord(const void* input, ULONG inputLength)
{
    if (input == nullptr || inputLength < CAPTURE_RECORD_HEADER_SIZE)
        return false;
    const auto* record = static_cast<const CaptureRecord*>(input);
    return PayloadLength(record) == inputLength - CAPTURE_RECORD_HEADER_SIZE;
}

NTSTATUS AddRecord(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    PVOID input = irp->AssociatedIrp.SystemBuffer;
    if (!IsCompleteRecord(input, inputLength))
        return CompleteRequest(irp, STATUS_INVALID_PARAMETER, 0);
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    static_cast<CaptureRecord*>(input)->timestamp = static_cast<uint64_t>(now.QuadPart);
    bool dropped;
    if (NT_SUCCESS(ZR_AddBufferCopy(&control->records, 0, inputLength, input, control->maxBytes, &control->statusFlags,
                                    &dropped)))
        VirtualPortRecordAdded(control, static_cast<const CaptureRecord*>(input), inputLength, dropped);
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
}

NTSTATUS QueryRecords(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof(CaptureQueryReply))
        return CompleteRequest(irp, STATUS_SUCCESS, 0);
    RecordListState state = ZR_GetState(&control->records, &control->statusFlags);
    auto* reply = static_cast<CaptureQueryReply*>(irp->AssociatedIrp.SystemBuffer);
    reply->statusFlags = state.statusFlags;
    reply->nextRecordSize = state.headSize;
    reply->pendingRecords = state.count;
    reply->pendingBytes = state.bytes;
    return CompleteRequest(irp, STATUS_SUCCESS, sizeof(CaptureQueryReply));
}

NTSTATUS FetchRecord(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    PVOID output = irp->AssociatedIrp.SystemBuffer;
    ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG copied = output != nullptr ? ZR_TakeOldest(&control->records, output, room, &control->statusFlags) : 0;
    return CompleteRequest(irp, STATUS_SUCCESS, copied);
}

NTSTATUS FetchBatch(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    PVOID output = irp->AssociatedIrp.SystemBuffer;
    ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG written = output != nullptr ? ZR_TakeBatch(&control->records, output, room, &control->statusFlags) : 0;
    return CompleteRequest(irp, STATUS_SUCCESS, written);
}

NTSTATUS ReturnPortNames(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    ULONG bytes = control->portCount * kPortNameBytes;
    if (bytes == 0 || stack->Parameters.DeviceIoControl.OutputBufferLength < bytes)
        return CompleteRequest(irp, STATUS_SUCCESS, 0);
    RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, control->portNames, bytes);
    return CompleteRequest(irp, STATUS_SUCCESS, bytes);
}

bool IsSerialCode(ULONG code)
{
    return (code >> 16) == FILE_DEVICE_SERIAL_PORT;
}

NTSTATUS DeviceControl(ControlExtension* control, PIRP irp, PIO_STACK_LOCATION stack)
{
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    switch (code) {
    case IOCTL_CAPTURE_ADD: return AddRecord(control, irp, stack);
    case IOCTL_CAPTURE_QUERY: return QueryRecords(control, irp, stack);
    case IOCTL_CAPTURE_FETCH: return FetchRecord(control, irp, stack);
    case IOCTL_CAPTURE_PORT_NAMES: return ReturnPortNames(control, irp, stack);
    case IOCTL_CAPTURE_FETCH_BATCH: return FetchBatch(control, irp, stack);
    default:
        if (IsSerialCode(code))
            return ComFunc_SerialControl(control, irp, stack);
        return CompleteRequest(irp, STATUS_SUCCESS, 0);
    }
}

}  // namespace

NTSTATUS ControlDeviceDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ControlExtension* control = ControlOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE: return ComFunc_CreateFile(control, irp);
    case IRP_MJ_CLOSE: return ComFunc_CloseHandle(control, irp);
    case IRP_MJ_CLEANUP: return ComFunc_DeviceCleanup(control, irp);
    case IRP_MJ_READ: return ComFunc_ReadFile(control, irp);
    case IRP_MJ_DEVICE_CONTROL: return DeviceControl(control, irp, stack);
    default: return CompleteRequest(irp, STATUS_SUCCESS, 0);
    }
}
