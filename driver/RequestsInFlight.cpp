// Requests that a filter passed down with its completion routine. A program
// may keep such a request pending below the filter for ever (a terminal's
// wait for an event on a quiet port), and a program's handle on the port
// never defers the filter's unload, so the unload must not wait for them.
//
// Where the system has IoSetCompletionRoutineEx (Windows XP and later), the
// I/O manager keeps the filter's device, and so the image, until the routine
// has returned: the routine runs after the unload, records nothing, and no
// entry is kept. Elsewhere (Windows NT 4.0 and 2000, and Wine, whose export
// is a stub) each request is listed until its routine runs, and the unload
// takes the routine back from every listed one (the I/O manager then
// completes it past the filter as if none had been set, the pending mark
// included) and waits only for routines that had already started.
#include "FilterDriver.h"
#include "KernelText.h"
#include "SystemRoutines.h"

namespace {

struct InFlight {
    LIST_ENTRY link;
    PIO_STACK_LOCATION routineLevel;  // the level below the filter's, which holds the routine
    PDEVICE_OBJECT filter;
    CompletionWork work;
    BOOLEAN takenBack;
};

KSPIN_LOCK g_InFlightLock;
LIST_ENTRY g_InFlight;
volatile LONG g_RoutinesRunning = 0;

typedef NTSTATUS(NTAPI* SetCompletionRoutineExCall)(PDEVICE_OBJECT, PIRP, PIO_COMPLETION_ROUTINE, PVOID, BOOLEAN,
                                                     BOOLEAN, BOOLEAN);
SetCompletionRoutineExCall g_SetCompletionRoutineEx = nullptr;

constexpr UCHAR kInvokeBits = SL_INVOKE_ON_SUCCESS | SL_INVOKE_ON_ERROR | SL_INVOKE_ON_CANCEL;

// True when the routine still owns the entry (the unload did not take it back).
bool Unlist(InFlight* entry)
{
    KIRQL irql;
    KeAcquireSpinLock(&g_InFlightLock, &irql);
    bool owned = entry->takenBack == FALSE;
    if (owned)
        RemoveEntryList(&entry->link);
    KeReleaseSpinLock(&g_InFlightLock, irql);
    return owned;
}

// The count is raised first and lowered last: the unload waits for it.
NTSTATUS NTAPI FilterCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    InterlockedIncrement(&g_RoutinesRunning);
    auto* entry = static_cast<InFlight*>(context);
    PDEVICE_OBJECT filter = entry->filter;
    bool owned = Unlist(entry);
    if (owned) {
        entry->work(irp, filter);
        ExFreePoolWithTag(entry, kPoolTag);
        FinishFilterCompletion(irp, filter);
    } else if (irp->PendingReturned) {
        IoMarkIrpPending(irp);
    }
    InterlockedDecrement(&g_RoutinesRunning);
    return STATUS_SUCCESS;
}

void SleepWhileRoutinesRun()
{
    LARGE_INTEGER interval;
    interval.QuadPart = -100000;  // 10 ms
    // A routine that the I/O manager picked just before it was taken back
    // is entered at once; one interval lets it raise the count.
    do
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    while (InterlockedCompareExchange(&g_RoutinesRunning, 0, 0) != 0);
}

}  // namespace

void InitializeRequestsInFlight()
{
    KeInitializeSpinLock(&g_InFlightLock);
    InitializeListHead(&g_InFlight);
    InterlockedExchange(&g_RoutinesRunning, 0);
    g_SetCompletionRoutineEx =
        reinterpret_cast<SetCompletionRoutineExCall>(FindSystemRoutine(KTEXT("IoSetCompletionRoutineEx")));
}

void FinishFilterCompletion(PIRP irp, PDEVICE_OBJECT filter)
{
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    GateLeave(&FilterOf(filter)->gate);
}

bool SetFilterCompletion(PDEVICE_OBJECT filter, PIRP irp, CompletionWork work, PIO_COMPLETION_ROUTINE unloadSafe)
{
    // The system's call fails only when it has no room for its own context.
    if (g_SetCompletionRoutineEx != nullptr &&
        NT_SUCCESS(g_SetCompletionRoutineEx(filter, irp, unloadSafe, filter, TRUE, TRUE, TRUE)))
        return true;
    auto* entry = static_cast<InFlight*>(ExAllocatePoolWithTag(g_NonPagedPool, sizeof(InFlight), kPoolTag));
    if (entry == nullptr)
        return false;
    entry->routineLevel = IoGetNextIrpStackLocation(irp);
    entry->filter = filter;
    entry->work = work;
    entry->takenBack = FALSE;
    IoSetCompletionRoutine(irp, FilterCompletion, entry, TRUE, TRUE, TRUE);
    KIRQL irql;
    KeAcquireSpinLock(&g_InFlightLock, &irql);
    InsertTailList(&g_InFlight, &entry->link);
    KeReleaseSpinLock(&g_InFlightLock, irql);
    return true;
}

void TakeBackCompletionRoutines()
{
    LIST_ENTRY takenBack;
    InitializeListHead(&takenBack);
    KIRQL irql;
    KeAcquireSpinLock(&g_InFlightLock, &irql);
    while (!IsListEmpty(&g_InFlight)) {
        auto* entry = CONTAINING_RECORD(RemoveHeadList(&g_InFlight), InFlight, link);
        entry->routineLevel->CompletionRoutine = nullptr;
        entry->routineLevel->Control &= static_cast<UCHAR>(~kInvokeBits);
        entry->takenBack = TRUE;
        InsertTailList(&takenBack, &entry->link);
    }
    KeReleaseSpinLock(&g_InFlightLock, irql);
    SleepWhileRoutinesRun();
    while (!IsListEmpty(&takenBack)) {
        auto* entry = CONTAINING_RECORD(RemoveHeadList(&takenBack), InFlight, link);
        GateLeave(&FilterOf(entry->filter)->gate);
        ExFreePoolWithTag(entry, kPoolTag);
    }
}
