// Requests (IRPs) and their stack of parameter levels: allocation, passing
// down, completion with completion routines, and the I/O manager's final
// step. Checks stricter than Windows stop the process with a message.
#include "Kernel.h"

#include "../Machine.h"

#include <atomic>
#include <new>

namespace sim {

namespace {

constexpr uint32_t IrpMagic = 0x50524953;  // "SIRP"

enum class IrpState { Ready, Dispatched, Completing, Stopped, Done };

// What one stack location saw: dispatches returning and the pending mark.
struct IrpLevel {
    int activeDispatches = 0;
    bool walked = false;  // completion has passed this level
    bool returnedPending = false;
    bool returnedOther = false;
    bool marked = false;
    PDRIVER_OBJECT routineOwner = nullptr;
};

struct IrpPrivate {
    uint32_t magic = IrpMagic;
    ShortLock lock;
    std::atomic<IrpState> state{IrpState::Ready};
    int holds = 0;
    bool released = false;  // freed by IoFreeIrp or finished by the I/O manager
    std::vector<IrpLevel> levels;
    std::shared_ptr<UserRequest> request;
    // Forced pending: the completion routine held back at `deferredLevel`
    // (the level whose dispatch routine completed the request) and the DPC
    // that runs it once that dispatch routine has returned.
    int deferredLevel = 0;
    PIO_COMPLETION_ROUTINE deferredRoutine = nullptr;
    PVOID deferredContext = nullptr;
    PDRIVER_OBJECT deferredOwner = nullptr;
    KDPC resumeDpc{};
};

constexpr size_t PrivateSize = (sizeof(IrpPrivate) + 15) & ~size_t(15);

IrpPrivate* PrivateOf(PIRP irp)
{
    if (irp == nullptr)
        Fail("a null request was passed to the I/O manager");
    auto* state = reinterpret_cast<IrpPrivate*>(reinterpret_cast<char*>(irp) - PrivateSize);
    if (state->magic != IrpMagic)
        Fail("%p is not a request made by IoAllocateIrp or the I/O manager", static_cast<void*>(irp));
    return state;
}

PIO_STACK_LOCATION StackArray(PIRP irp)
{
    return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
}

PIRP NewIrp(CCHAR stackSize)
{
    if (stackSize < 1)
        Fail("a request needs at least one stack location (StackSize %d)", stackSize);
    size_t locations = static_cast<size_t>(stackSize) * sizeof(IO_STACK_LOCATION);
    char* memory = static_cast<char*>(::operator new(PrivateSize + sizeof(IRP) + locations));
    auto* state = new (memory) IrpPrivate();
    state->levels.resize(static_cast<size_t>(stackSize) + 2);
    PIRP irp = reinterpret_cast<PIRP>(memory + PrivateSize);
    memset(static_cast<void*>(irp), 0, sizeof(IRP) + locations);
    irp->Type = 6;
    irp->Size = static_cast<USHORT>(sizeof(IRP) + locations);
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CCHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = StackArray(irp) + stackSize;
    irp->ThreadListEntry.Flink = &irp->ThreadListEntry;
    irp->ThreadListEntry.Blink = &irp->ThreadListEntry;
    return irp;
}

// Frees the request once nobody holds it any more; called with the lock held.
void Unhold(IrpPrivate* state, std::unique_lock<ShortLock>& guard)
{
    --state->holds;
    bool destroy = state->released && state->holds == 0;
    guard.unlock();
    if (destroy) {
        state->~IrpPrivate();
        ::operator delete(static_cast<void*>(state));
    }
}

void CheckPendingAgreement(const IrpLevel& level, int location)
{
    if (level.marked && level.returnedOther)
        Fail("stack location %d marked the request pending (IoMarkIrpPending) but its dispatch routine "
             "returned a status other than STATUS_PENDING",
             location);
    if (!level.marked && level.returnedPending)
        Fail("a dispatch routine at stack location %d returned STATUS_PENDING without marking the request "
             "pending (IoMarkIrpPending)",
             location);
}

void MarkPending(PIRP irp, IrpPrivate* state)
{
    irp->Tail.Overlay.CurrentStackLocation->Control |= SL_PENDING_RETURNED;
    std::lock_guard<ShortLock> guard(state->lock);
    state->levels[irp->CurrentLocation].marked = true;
}

void ClearStackLocation(PIO_STACK_LOCATION stack)
{
    stack->MinorFunction = 0;
    stack->Flags = 0;
    stack->Control = 0;
    memset(&stack->Parameters, 0, sizeof(stack->Parameters));
    stack->FileObject = nullptr;
    stack->CompletionRoutine = nullptr;
    stack->Context = nullptr;
}

bool ShouldInvoke(PIRP irp, UCHAR control)
{
    NTSTATUS status = irp->IoStatus.Status;
    return (NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
           (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) || (irp->Cancel && (control & SL_INVOKE_ON_CANCEL));
}

void CheckWithDriver(PIRP irp, const char* call)
{
    if (irp->CurrentLocation > irp->StackCount)
        Fail("%s on a request that is not with a driver (no current stack location)", call);
    if (PrivateOf(irp)->state.load() == IrpState::Done)
        Fail("%s on a request that was already completed (touched after it was handed on)", call);
}

// Calls the completion routine of the level below the current one. False when
// it returned STATUS_MORE_PROCESSING_REQUIRED: the walk ends there.
bool InvokeRoutine(PIRP irp, IrpPrivate* state, PDRIVER_OBJECT owner, PIO_COMPLETION_ROUTINE routine, PVOID context)
{
    bool hasOwnerLevel = irp->CurrentLocation <= irp->StackCount;
    PDEVICE_OBJECT device = hasOwnerLevel ? irp->Tail.Overlay.CurrentStackLocation->DeviceObject : nullptr;
    // A routine that will return STATUS_MORE_PROCESSING_REQUIRED may wake
    // a thread that completes the request again before it returns.
    state->state = IrpState::Stopped;
    NTSTATUS result;
    {
        DriverScope scope(owner, "a completion routine");
        result = routine(device, irp, context);
    }
    std::unique_lock<ShortLock> guard(state->lock);
    if (result == STATUS_MORE_PROCESSING_REQUIRED) {
        Unhold(state, guard);
        return false;
    }
    if (state->state.load() != IrpState::Stopped)
        Fail("request %p completed twice", static_cast<void*>(irp));
    state->state = IrpState::Completing;
    return true;
}

// Forced pending holds back the routine of a level whose dispatch routine is
// still running: the request completed synchronously below that caller.
bool HoldBackRoutine(IrpPrivate* state, int location, PDRIVER_OBJECT owner, PIO_COMPLETION_ROUTINE routine,
                     PVOID context)
{
    if (!Machine::Current().io().forcePending.load())
        return false;
    std::lock_guard<ShortLock> guard(state->lock);
    IrpLevel& level = state->levels[location];
    if (level.activeDispatches == 0)
        return false;
    level.marked = true;  // the verifier marks it pending for the driver
    state->deferredLevel = location;
    state->deferredRoutine = routine;
    state->deferredContext = context;
    state->deferredOwner = owner;
    return true;
}

void FinishWalk(PIRP irp, IrpPrivate* state)
{
    state->state = IrpState::Done;
    if (!state->request)
        Fail("a request from IoAllocateIrp was completed past its last stack location: its completion "
             "routine must return STATUS_MORE_PROCESSING_REQUIRED");
    FinishRequest(irp, *state->request);
    std::unique_lock<ShortLock> guard(state->lock);
    state->released = true;
    Unhold(state, guard);
}

// Walks the stack locations upwards from the current one, running completion
// routines, until the request is finished, stopped or held back.
void WalkCompletion(PIRP irp, IrpPrivate* state)
{
    while (irp->CurrentLocation <= irp->StackCount) {
        int location = irp->CurrentLocation;
        PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        PDRIVER_OBJECT owner;
        {
            std::lock_guard<ShortLock> guard(state->lock);
            IrpLevel& level = state->levels[location];
            level.walked = true;
            CheckPendingAgreement(level, location);
            owner = level.routineOwner;
            level.routineOwner = nullptr;
        }
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        bool invoke = routine != nullptr && ShouldInvoke(irp, stack->Control);
        ClearStackLocation(stack);
        ++irp->CurrentLocation;
        ++irp->Tail.Overlay.CurrentStackLocation;
        if (invoke) {
            if (HoldBackRoutine(state, location, owner, routine, context))
                return;
            if (!InvokeRoutine(irp, state, owner, routine, context))
                return;
        } else if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            MarkPending(irp, state);
        }
    }
    FinishWalk(irp, state);
}

VOID NTAPI ResumeHeldBackCompletion(PKDPC, PVOID context, PVOID, PVOID)
{
    auto irp = static_cast<PIRP>(context);
    IrpPrivate* state = PrivateOf(irp);
    PIO_COMPLETION_ROUTINE routine;
    PVOID routineContext;
    PDRIVER_OBJECT owner;
    {
        std::lock_guard<ShortLock> guard(state->lock);
        routine = state->deferredRoutine;
        routineContext = state->deferredContext;
        owner = state->deferredOwner;
        state->deferredRoutine = nullptr;
    }
    irp->PendingReturned = TRUE;
    if (InvokeRoutine(irp, state, owner, routine, routineContext))
        WalkCompletion(irp, state);
}

// The dispatch routine at `location` has returned after completing a request
// whose caller's routine was held back: the caller sees STATUS_PENDING, and
// the routine runs from a DPC. Lock held.
void QueueHeldBackCompletion(PIRP irp, IrpPrivate* state)
{
    state->deferredLevel = 0;
    KeInitializeDpc(&state->resumeDpc, ResumeHeldBackCompletion, irp);
    state->resumeDpc.OwnerDriver = nullptr;  // the I/O manager's, not the driver's
}

void SetRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN onSuccess, BOOLEAN onError,
                BOOLEAN onCancel, PDRIVER_OBJECT owner)
{
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (onSuccess)
        next->Control |= SL_INVOKE_ON_SUCCESS;
    if (onError)
        next->Control |= SL_INVOKE_ON_ERROR;
    if (onCancel)
        next->Control |= SL_INVOKE_ON_CANCEL;
    IrpPrivate* state = PrivateOf(irp);
    std::lock_guard<ShortLock> guard(state->lock);
    state->levels[irp->CurrentLocation - 1].routineOwner = owner;
}

// IoSetCompletionRoutineEx: the device stays referenced, so its driver's
// image stays, until the driver's routine has returned.
struct UnloadSafeContext {
    PDEVICE_OBJECT device;
    PIO_COMPLETION_ROUTINE routine;
    PVOID context;
};

NTSTATUS NTAPI UnloadSafeCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    auto* safe = static_cast<UnloadSafeContext*>(context);
    NTSTATUS status;
    {
        DriverScope scope(safe->device->DriverObject, "a completion routine");
        status = safe->routine(device, irp, safe->context);
    }
    ObDereferenceObject(safe->device);
    delete safe;
    return status;
}

// A request to a deleted device reaches a driver that has let the device go.
void CheckDeviceExists(PDEVICE_OBJECT device)
{
    IoManager& io = Machine::Current().io();
    std::lock_guard<std::mutex> guard(io.lock);
    IoManager::DeviceRecord* record = io.FindDevice(device);
    if (record == nullptr || record->deleted)
        Fail("a request was sent to a deleted device%s%s", record != nullptr ? " " : "",
             record != nullptr ? record->name.c_str() : "");
}

}  // namespace

// As uninitialised pool: a pattern that a record or a reply must never carry.
constexpr uint8_t kUnwritten[4] = {0xE5, 0x5E, 0xA5, 0x5A};

void FillUnwritten(uint8_t* buffer, size_t size)
{
    for (size_t i = 0; i < size; ++i)
        buffer[i] = kUnwritten[i % sizeof kUnwritten];
}

bool Machine::LooksUnwritten(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t compared = size < sizeof kUnwritten ? size : sizeof kUnwritten;
    for (size_t i = 0; i < compared; ++i) {
        if (bytes[i] != kUnwritten[i])
            return false;
    }
    return compared != 0;
}

PIRP AllocateRequest(CCHAR stackSize, std::shared_ptr<UserRequest> request)
{
    PIRP irp = NewIrp(stackSize);
    PrivateOf(irp)->request = std::move(request);
    return irp;
}

PIO_STACK_LOCATION FirstStackLocation(PIRP irp)
{
    return irp->Tail.Overlay.CurrentStackLocation - 1;
}

std::shared_ptr<UserRequest> RequestOf(PIRP irp)
{
    return PrivateOf(irp)->request;
}

void HoldIrp(PIRP irp)
{
    IrpPrivate* state = PrivateOf(irp);
    std::lock_guard<ShortLock> guard(state->lock);
    ++state->holds;
}

void ReleaseIrp(PIRP irp)
{
    IrpPrivate* state = PrivateOf(irp);
    std::unique_lock<ShortLock> guard(state->lock);
    Unhold(state, guard);
}

void FinishRequest(PIRP irp, UserRequest& request)
{
    ReleaseRequestMdls(irp);
    NTSTATUS status = irp->IoStatus.Status;
    ULONG_PTR information = irp->IoStatus.Information;
    if (request.copyBack && !NT_ERROR(status) && information > 0) {
        if (information > request.outputLength)
            Fail("request completed with Information %lu, more than the caller's %u-byte buffer",
                 static_cast<unsigned long>(information), request.outputLength);
        memcpy(request.output, irp->AssociatedIrp.SystemBuffer, information);
    }
    request.status = status;
    request.information = information;
    if (request.kernelStatus != nullptr)
        *request.kernelStatus = irp->IoStatus;
    Dispatcher& dispatcher = Machine::Current().dispatcher();
    if (request.overlapped != nullptr) {
        auto* words = static_cast<ULONG_PTR*>(request.overlapped);  // OVERLAPPED: Internal, InternalHigh
        __atomic_store_n(&words[1], information, __ATOMIC_RELAXED);
        __atomic_store_n(&words[0], static_cast<ULONG_PTR>(static_cast<ULONG>(status)), __ATOMIC_RELEASE);
    }
    if (request.file) {
        std::lock_guard<std::mutex> guard(request.file->lock);
        request.file->pending.erase(irp);
        if (request.file->pending.empty())
            dispatcher.SetSignal(&request.file->idle.Header, 1);
        dispatcher.SetSignal(&request.file->completed.Header, 1);
    }
    if (request.callerEvent != nullptr)
        dispatcher.SetSignal(request.callerEvent, 1);
    if (request.kernelEvent != nullptr)
        dispatcher.SetSignal(&request.kernelEvent->Header, 1);
    dispatcher.SetSignal(&request.done.Header, 1);
}

}  // namespace sim

using sim::Fail;
using sim::IrpState;
using sim::PrivateOf;
using sim::ShortLock;

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN)
{
    return sim::NewIrp(StackSize);
}

void IoFreeIrp(PIRP Irp)
{
    sim::IrpPrivate* state = PrivateOf(Irp);
    std::unique_lock<ShortLock> guard(state->lock);
    if (state->released)
        Fail("IoFreeIrp of a request that was already freed");
    if (state->request)
        Fail("IoFreeIrp of a request that the I/O manager owns");
    IrpState current = state->state.load();
    if (current == IrpState::Dispatched || current == IrpState::Completing)
        Fail("IoFreeIrp of a request that is still with a driver (queued or being completed)");
    if (Irp->CancelRoutine != nullptr)
        Fail("IoFreeIrp of a request whose cancel routine is still set");
    state->released = true;
    ++state->holds;
    sim::Unhold(state, guard);
}

void IoReuseIrp(PIRP Irp, NTSTATUS Iostatus)
{
    sim::IrpPrivate* state = PrivateOf(Irp);
    IrpState current = state->state.load();
    if (current == IrpState::Dispatched || current == IrpState::Completing)
        Fail("IoReuseIrp of a request that is still with a driver");
    if (Irp->CancelRoutine != nullptr)
        Fail("IoReuseIrp of a request whose cancel routine is still set");
    std::lock_guard<ShortLock> guard(state->lock);
    state->state = IrpState::Ready;
    for (auto& level : state->levels)
        level = sim::IrpLevel();
    CCHAR stackSize = Irp->StackCount;
    memset(sim::StackArray(Irp), 0, static_cast<size_t>(stackSize) * sizeof(IO_STACK_LOCATION));
    Irp->CurrentLocation = static_cast<CCHAR>(stackSize + 1);
    Irp->Tail.Overlay.CurrentStackLocation = sim::StackArray(Irp) + stackSize;
    Irp->Cancel = FALSE;
    Irp->PendingReturned = FALSE;
    Irp->IoStatus.Status = Iostatus;
    Irp->IoStatus.Information = 0;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    sim::CheckDeviceExists(DeviceObject);
    sim::IrpPrivate* state = PrivateOf(Irp);
    int location;
    {
        std::lock_guard<ShortLock> guard(state->lock);
        if (state->released)
            Fail("IoCallDriver with a request that was freed");
        if (state->state.load() == IrpState::Done)
            Fail("IoCallDriver with a request that was already completed (touched after it was handed on)");
        if (Irp->CurrentLocation <= 1)
            Fail("IoCallDriver: no stack location left in the request (a StackSize is too small)");
        --Irp->CurrentLocation;
        --Irp->Tail.Overlay.CurrentStackLocation;
        location = Irp->CurrentLocation;
        sim::IrpLevel& level = state->levels[location];
        if (level.activeDispatches == 0) {
            PDRIVER_OBJECT owner = level.routineOwner;
            level = sim::IrpLevel();
            level.routineOwner = owner;
        }
        ++level.activeDispatches;
        ++state->holds;
        if (state->state.load() != IrpState::Completing)
            state->state = IrpState::Dispatched;
    }
    PIO_STACK_LOCATION stack = Irp->Tail.Overlay.CurrentStackLocation;
    stack->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    NTSTATUS status;
    {
        sim::DriverScope scope(DeviceObject->DriverObject, "a dispatch routine");
        status = dispatch(DeviceObject, Irp);
    }
    std::unique_lock<ShortLock> guard(state->lock);
    sim::IrpLevel& level = state->levels[location];
    --level.activeDispatches;
    bool heldBack = state->deferredLevel == location;
    if (heldBack) {
        status = STATUS_PENDING;
        sim::QueueHeldBackCompletion(Irp, state);
    }
    if (status == STATUS_PENDING)
        level.returnedPending = true;
    else
        level.returnedOther = true;
    if (level.walked)
        sim::CheckPendingAgreement(level, location);
    sim::Unhold(state, guard);
    if (heldBack)
        KeInsertQueueDpc(&state->resumeDpc, nullptr, nullptr);
    return status;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    return IoCallDriver(DeviceObject, Irp);
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    return IoCallDriver(DeviceObject, Irp);
}

void PoStartNextPowerIrp(PIRP) {}

void IoCompleteRequest(PIRP Irp, CCHAR)
{
    sim::IrpPrivate* state = PrivateOf(Irp);
    {
        std::lock_guard<ShortLock> guard(state->lock);
        IrpState current = state->state.load();
        if (current == IrpState::Completing || current == IrpState::Done)
            Fail("request %p completed twice", static_cast<void*>(Irp));
        if (state->released)
            Fail("IoCompleteRequest of a request that was freed");
        if (current == IrpState::Ready)
            Fail("IoCompleteRequest of a request that was never sent to a driver");
        if (Irp->CancelRoutine != nullptr)
            Fail("request completed with its cancel routine still set (IoSetCancelRoutine(Irp, NULL) first)");
        if (Irp->IoStatus.Status == STATUS_PENDING)
            Fail("request completed with the status STATUS_PENDING");
        if (Irp->CurrentLocation > Irp->StackCount)
            Fail("IoCompleteRequest of a request that is not with a driver");
        state->state = IrpState::Completing;
        ++state->holds;
    }
    sim::WalkCompletion(Irp, state);
}

void IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost)
{
    IoCompleteRequest(Irp, PriorityBoost);
}

PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP Irp)
{
    sim::CheckWithDriver(Irp, "IoGetCurrentIrpStackLocation");
    return Irp->Tail.Overlay.CurrentStackLocation;
}

PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP Irp)
{
    if (Irp->CurrentLocation <= 1)
        Fail("IoGetNextIrpStackLocation: the request has no next stack location (a StackSize is too small)");
    return Irp->Tail.Overlay.CurrentStackLocation - 1;
}

void IoSkipCurrentIrpStackLocation(PIRP Irp)
{
    sim::CheckWithDriver(Irp, "IoSkipCurrentIrpStackLocation");
    ++Irp->CurrentLocation;
    ++Irp->Tail.Overlay.CurrentStackLocation;
}

void IoSetNextIrpStackLocation(PIRP Irp)
{
    if (Irp->CurrentLocation <= 1)
        Fail("IoSetNextIrpStackLocation: the request has no next stack location");
    --Irp->CurrentLocation;
    --Irp->Tail.Overlay.CurrentStackLocation;
}

void IoCopyCurrentIrpStackLocationToNext(PIRP Irp)
{
    PIO_STACK_LOCATION current = IoGetCurrentIrpStackLocation(Irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(Irp);
    memcpy(next, current, offsetof(IO_STACK_LOCATION, CompletionRoutine));
    next->Control = 0;
}

void IoMarkIrpPending(PIRP Irp)
{
    sim::CheckWithDriver(Irp, "IoMarkIrpPending");
    sim::MarkPending(Irp, PrivateOf(Irp));
}

void IoSetCompletionRoutine(PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine, PVOID Context, BOOLEAN InvokeOnSuccess,
                            BOOLEAN InvokeOnError, BOOLEAN InvokeOnCancel)
{
    sim::SetRoutine(Irp, CompletionRoutine, Context, InvokeOnSuccess, InvokeOnError, InvokeOnCancel,
                    sim::CurrentThread().driver);
}

NTSTATUS IoSetCompletionRoutineEx(PDEVICE_OBJECT DeviceObject, PIRP Irp, PIO_COMPLETION_ROUTINE CompletionRoutine,
                                  PVOID Context, BOOLEAN InvokeOnSuccess, BOOLEAN InvokeOnError,
                                  BOOLEAN InvokeOnCancel)
{
    if (sim::Machine::Current().io().failCompletionContexts.load())
        return STATUS_INSUFFICIENT_RESOURCES;
    ObReferenceObject(DeviceObject);
    auto* safe = new sim::UnloadSafeContext{DeviceObject, CompletionRoutine, Context};
    // The I/O manager's routine, not the driver's: it runs after the
    // driver's has returned.
    sim::SetRoutine(Irp, sim::UnloadSafeCompletion, safe, InvokeOnSuccess, InvokeOnError, InvokeOnCancel, nullptr);
    return STATUS_SUCCESS;
}

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject, PVOID InputBuffer,
                                   ULONG InputBufferLength, PVOID OutputBuffer, ULONG OutputBufferLength,
                                   BOOLEAN InternalDeviceIoControl, PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock)
{
    auto request = std::make_shared<sim::UserRequest>();
    KeInitializeEvent(&request->done, NotificationEvent, FALSE);
    request->kernelEvent = Event;
    request->kernelStatus = IoStatusBlock;
    PIRP irp = sim::AllocateRequest(DeviceObject->StackSize, request);
    irp->RequestorMode = KernelMode;
    PIO_STACK_LOCATION stack = sim::FirstStackLocation(irp);
    stack->MajorFunction = InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    stack->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    stack->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    stack->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    if (METHOD_FROM_CTL_CODE(IoControlCode) == METHOD_NEITHER) {
        stack->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
        irp->UserBuffer = OutputBuffer;
        return irp;
    }
    ULONG size = InputBufferLength > OutputBufferLength ? InputBufferLength : OutputBufferLength;
    if (size != 0) {
        request->systemBuffer.reset(new uint8_t[size]);
        sim::FillUnwritten(request->systemBuffer.get(), size);
        if (InputBufferLength != 0)
            memcpy(request->systemBuffer.get(), InputBuffer, InputBufferLength);
        irp->AssociatedIrp.SystemBuffer = request->systemBuffer.get();
    }
    request->copyBack = OutputBufferLength != 0;
    request->output = OutputBuffer;
    request->outputLength = OutputBufferLength;
    return irp;
}
