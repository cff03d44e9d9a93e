// The one dispatch routine and the filter path: every request to a captured
// port passes down unchanged; when the port driver has completed it, it
// becomes a capture record delivered to the port's control devices.
#include "FilterDriver.h"

volatile LONG g_Cycling = 0;
volatile LONG g_FilterDispatches = 0;
RequestGate g_RecordProduction;

namespace {

// Size of the request's buffered-I/O buffer as its parameters describe it;
// a record never copies more than this, whatever lengths the request carries.
ULONG SystemBufferSize(PIO_STACK_LOCATION stack)
{
    switch (stack->MajorFunction) {
    case IRP_MJ_READ: return stack->Parameters.Read.Length;
    case IRP_MJ_WRITE: return stack->Parameters.Write.Length;
    case IRP_MJ_DEVICE_CONTROL:
    case IRP_MJ_INTERNAL_DEVICE_CONTROL: {
        ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
        ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
        bool buffered = (stack->Parameters.DeviceIoControl.IoControlCode & 3) == METHOD_BUFFERED;
        return buffered && out > in ? out : in;
    }
    case IRP_MJ_QUERY_INFORMATION: return stack->Parameters.QueryFile.Length;
    case IRP_MJ_SET_INFORMATION: return stack->Parameters.SetFile.Length;
    default: return 0;
    }
}

// Header fields of the completed request. The field the payload length is
// read from always equals the payload carried (an open's create options are
// no length), so the monitor never reads past a record.
void FillHeader(CaptureRecord* record, PIRP irp, PIO_STACK_LOCATION stack, PDEVICE_OBJECT filter, ULONG payload)
{
    RtlZeroMemory(record, CAPTURE_RECORD_HEADER_SIZE);
    record->kind = stack->MajorFunction;
    record->minorFunction = stack->MinorFunction;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL)
        record->ioControlCode = stack->Parameters.DeviceIoControl.IoControlCode;
    record->sourceDevice = FilterOf(filter)->sourceNumber;
    record->portIndex = FilterOf(filter)->portIndex;
    record->inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    // An open that reports information (some port drivers do) or a failed
    // request carries none.
    record->dataLength = irp->IoStatus.Information != 0 ? payload : 0;
    if (record->dataLength == 0)
        record->inputLength = payload;
}

// A read or write to a direct-I/O port carries the caller's pages as an MDL
// and no system buffer (Wine gives both; the MDL is the one to use).
PMDL TransferMdl(PIRP irp, PIO_STACK_LOCATION stack)
{
    bool transfer = stack->MajorFunction == IRP_MJ_READ || stack->MajorFunction == IRP_MJ_WRITE;
    return transfer ? irp->MdlAddress : nullptr;
}

bool IsControlRequest(PIO_STACK_LOCATION stack)
{
    return stack->MajorFunction == IRP_MJ_DEVICE_CONTROL || stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL;
}

// The bytes the port driver reported as transferred; for a control request
// that succeeded and returned none, the caller's input (the I/O manager
// copied it into the system buffer). A failed request carries none: the
// rest of its buffer was never written.
ULONG PayloadOf(PIRP irp, PIO_STACK_LOCATION stack)
{
    PMDL mdl = TransferMdl(irp, stack);
    if (stack->MajorFunction == IRP_MJ_CREATE || NT_ERROR(irp->IoStatus.Status) ||
        (irp->AssociatedIrp.SystemBuffer == nullptr && mdl == nullptr))
        return 0;
    ULONG_PTR wanted = irp->IoStatus.Information;
    if (wanted == 0 && IsControlRequest(stack))
        wanted = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG room = SystemBufferSize(stack);
    if (mdl != nullptr && MmGetMdlByteCount(mdl) < room)
        room = MmGetMdlByteCount(mdl);
    return wanted < room ? static_cast<ULONG>(wanted) : room;
}

// The request's data: the caller's pages mapped into system space for a
// direct-I/O transfer (the port driver's mapping when it made one), else
// the system buffer. NULL when the system has no room for the mapping.
const void* RequestData(PIRP irp, PIO_STACK_LOCATION stack)
{
    PMDL mdl = TransferMdl(irp, stack);
    if (mdl == nullptr)
        return irp->AssociatedIrp.SystemBuffer;
#ifdef VANTREL_NT4_KERNEL
    // Windows NT 4.0 has no mapping call that may fail: its own stops the system.
    return MmGetSystemAddressForMdl(mdl);
#else
    return MmGetSystemAddressForMdlSafe(mdl, g_MappingPriority);
#endif
}

// Most records are a few bytes of data: those are built on the stack, and
// only the receivers' own copies come from the pool.
constexpr ULONG kStackRecordBytes = CAPTURE_RECORD_HEADER_SIZE + 256;

// The record in `stackBuffer` when it fits there, else in a pool block the
// caller frees. nullptr when its bytes cannot be had (no pool, no mapping):
// `stackBuffer` then holds its header, for the receivers to count the loss.
CaptureRecord* BuildRecord(PIRP irp, PDEVICE_OBJECT filter, UCHAR* stackBuffer, ULONG* size)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG payload = PayloadOf(irp, stack);
    // Larger than any byte limit: counted as lost, by its header.
    bool storable = payload <= kMaxCaptureBytes - CAPTURE_RECORD_HEADER_SIZE;
    *size = storable ? CAPTURE_RECORD_HEADER_SIZE + payload : CAPTURE_RECORD_HEADER_SIZE;
    const void* data = payload != 0 && storable ? RequestData(irp, stack) : nullptr;
    void* block = nullptr;
    if (payload == 0 || data != nullptr)
        block = *size <= kStackRecordBytes ? stackBuffer : ExAllocatePoolWithTag(g_NonPagedPool, *size, kPoolTag);
    auto* record = static_cast<CaptureRecord*>(block != nullptr ? block : stackBuffer);
    FillHeader(record, irp, stack, filter, payload);
    if (block == nullptr)
        return nullptr;
    if (payload != 0)
        RtlCopyMemory(CaptureRecordData(record), data, payload);
    return record;
}

typedef void (*RecordReceiver)(ControlExtension* control, CaptureRecord* record, ULONG size);

// Every receiver gets the record by a direct call: this runs in the port
// driver's completion context, possibly at DISPATCH_LEVEL, where no request
// may be waited for.
void DeliverToReceivers(FilterExtension* filter, CaptureRecord* record, ULONG size, RecordReceiver receive)
{
    receive(ControlOf(filter->controlDevice), record, size);
    for (ULONG i = 0; i < filter->listenerCount; ++i) {
        record->portIndex = filter->listenerPortIndex[i];
        receive(ControlOf(filter->listeners[i]), record, size);
    }
}

void ProduceRecord(PIRP irp, PDEVICE_OBJECT filterDevice)
{
    FilterExtension* filter = FilterOf(filterDevice);
    if (g_Cycling == 0 || filter->captureEnabled == 0 || filter->controlDevice == nullptr)
        return;
    UCHAR stackBuffer[kStackRecordBytes];
    ULONG size;
    CaptureRecord* record = BuildRecord(irp, filterDevice, stackBuffer, &size);
    if (record == nullptr) {
        auto* header = reinterpret_cast<CaptureRecord*>(stackBuffer);
        DeliverToReceivers(filter, header, CAPTURE_RECORD_HEADER_SIZE, CountLostRecord);
        return;
    }
    DeliverToReceivers(filter, record, size, AddCapturedRecord);
    if (record != static_cast<void*>(stackBuffer))
        ExFreePoolWithTag(record, kPoolTag);
}

// Records are produced only until the unload begins: the control devices
// that receive them may be gone after it.
void CaptureCompleted(PIRP irp, PDEVICE_OBJECT filterDevice)
{
    if (GateEnter(&g_RecordProduction)) {
        ProduceRecord(irp, filterDevice);
        GateLeave(&g_RecordProduction);
    }
}

// A request that reaches a filter whose port was removed is refused; closing
// a handle that was opened before always works.
NTSTATUS RefuseAfterRemoval(PIRP irp, PIO_STACK_LOCATION stack)
{
    bool closing = stack->MajorFunction == IRP_MJ_CLOSE || stack->MajorFunction == IRP_MJ_CLEANUP;
    return CompleteRequest(irp, closing ? STATUS_SUCCESS : STATUS_DELETE_PENDING, 0);
}

NTSTATUS PassThroughFilter(PDEVICE_OBJECT device, PIRP irp)
{
    FilterExtension* filter = FilterOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (!GateEnter(&filter->gate))
        return RefuseAfterRemoval(irp, stack);
    if (filter->lowerDevice == nullptr) {
        GateLeave(&filter->gate);
        return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (IsPortRemoval(stack))
        return FilterPortRemoval(device, irp);
    return CaptureAndPassDown(device, irp);
}

// Counted while it runs, up to its return: the unload waits for running
// dispatch routines (they never wait long), not for requests in flight.
NTSTATUS FilterDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    InterlockedIncrement(&g_FilterDispatches);
    NTSTATUS status = PassThroughFilter(device, irp);
    InterlockedDecrement(&g_FilterDispatches);
    return status;
}

// An open by the filter's own name (the file object names the filter, not
// the port) that asked for no read access: the filter's DACL admitted it, as
// any DACL admits an open that asks for no right.
bool IsBareOpenOfFilterName(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    return stack->MajorFunction == IRP_MJ_CREATE && stack->FileObject != nullptr &&
           stack->FileObject->DeviceObject == device && !OpenedForReading(stack);
}

}  // namespace

NTSTATUS CaptureAndPassDown(PDEVICE_OBJECT filterDevice, PIRP irp)
{
    FilterExtension* filter = FilterOf(filterDevice);
    PDEVICE_OBJECT lower = filter->lowerDevice;
    if (g_Cycling != 0) {
        IoCopyCurrentIrpStackLocationToNext(irp);
        if (SetFilterCompletion(filterDevice, irp, CaptureCompleted, UnloadSafeCompletion<CaptureCompleted>))
            return IofCallDriver(lower, irp);
        // No pool to follow it: the request goes on uncaptured.
        DeliverRequestHeader(filterDevice, IoGetCurrentIrpStackLocation(irp), true);
    }
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS status = IofCallDriver(lower, irp);
    GateLeave(&filter->gate);
    return status;
}

void DeliverRequestHeader(PDEVICE_OBJECT filterDevice, PIO_STACK_LOCATION stack, bool lost)
{
    FilterExtension* filter = FilterOf(filterDevice);
    if (filter->captureEnabled == 0 || filter->controlDevice == nullptr || !GateEnter(&g_RecordProduction))
        return;
    CaptureRecord header;
    RtlZeroMemory(&header, sizeof header);
    header.kind = stack->MajorFunction;
    header.minorFunction = stack->MinorFunction;
    header.sourceDevice = filter->sourceNumber;
    header.portIndex = filter->portIndex;
    DeliverToReceivers(filter, &header, CAPTURE_RECORD_HEADER_SIZE, lost ? CountLostRecord : AddCapturedRecord);
    GateLeave(&g_RecordProduction);
}

// Only a request that the driver completes itself starts from no
// information; a filter passes requests on as they came (a Plug and Play
// request may carry a pointer there).
NTSTATUS NTAPI TestCom_Dispatch(PDEVICE_OBJECT device, PIRP irp)
{
    if (HeadOf(device)->kind == kControlDeviceKind) {
        irp->IoStatus.Information = 0;
        return ControlDeviceDispatch(device, irp);
    }
    if (IsBareOpenOfFilterName(device, irp))
        return CompleteRequest(irp, STATUS_ACCESS_DENIED, 0);
    return FilterDispatch(device, irp);
}
