// Requests to a control device: the five capture requests, open and close
// (one handle at a time), and the serial-port side that a virtual output
// port answers.
#include "FilterDriver.h"

#include "CaptureIoctl.h"
#include "KernelText.h"
#include "SystemRoutines.h"

namespace {

using QuerySystemTimeRoutine = VOID(NTAPI*)(PLARGE_INTEGER);
// Windows 8 and later: the time to the clock's own precision, where
// KeQuerySystemTime steps with the clock interrupt (15.6 ms on most systems).
QuerySystemTimeRoutine g_QuerySystemTimePrecise = nullptr;

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
    // Records come only from the filters, by a direct call: an add request
    // from a program would forge traffic.
    case IOCTL_CAPTURE_ADD: return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
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

void InitializeRecordStamps()
{
    g_QuerySystemTimePrecise =
        reinterpret_cast<QuerySystemTimeRoutine>(FindSystemRoutine(KTEXT("KeQuerySystemTimePrecise")));
}

void AddCapturedRecord(ControlExtension* control, CaptureRecord* record, ULONG size)
{
    LARGE_INTEGER now;
    if (g_QuerySystemTimePrecise != nullptr)
        g_QuerySystemTimePrecise(&now);
    else
        KeQuerySystemTime(&now);
    record->timestamp = static_cast<uint64_t>(now.QuadPart);
    bool dropped;
    if (NT_SUCCESS(
            ZR_AddBufferCopy(&control->records, 0, size, record, control->maxBytes, &control->statusFlags, &dropped)))
        VirtualPortRecordAdded(control, record, size, dropped);
}

void CountLostRecord(ControlExtension* control, CaptureRecord* record, ULONG size)
{
    ZR_CountLoss(&control->records, record, size, &control->statusFlags);
}

NTSTATUS ControlDeviceDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ControlExtension* control = ControlOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
        if (!OpenedForReading(stack))
            return CompleteRequest(irp, STATUS_ACCESS_DENIED, 0);
        return ComFunc_CreateFile(control, irp);
    case IRP_MJ_CLOSE: return ComFunc_CloseHandle(control, irp);
    case IRP_MJ_CLEANUP: return ComFunc_DeviceCleanup(control, irp);
    case IRP_MJ_READ: return ComFunc_ReadFile(control, irp);
    case IRP_MJ_DEVICE_CONTROL: return DeviceControl(control, irp, stack);
    default: return CompleteRequest(irp, STATUS_SUCCESS, 0);
    }
}
