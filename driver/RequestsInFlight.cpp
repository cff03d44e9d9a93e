// Requests that a filter passed down with its completion routine, listed
// until that routine runs. A program may keep such a request pending below
// the filter for ever (a terminal's wait for an event on a quiet port), and a
// program's handle on the port never defers the filter's unload. So the
// unload does not wait for them: it takes the filter's routine back from each
// one (the I/O manager then completes it past the filter as if none had been
// set, the pending mark included) and waits only for routines that had
// already started. No code of the driver runs for them after that.
//
// The system's own way to keep an image for its completion routines
// (IoSetCompletionRoutineEx) is missing before Windows XP, and Wine's is a
// stub that ends the driver host: this way serves every system.
#include "FilterDriver.h"

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
    }
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    if (owned)
        GateLeave(&FilterOf(filter)->gate);
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
}

bool SetFilterCompletion(PDEVICE_OBJECT filter, PIRP irp, CompletionWork work)
{
    auto* entry = static_cast<InFlight*>(ExAllocatePoolWithTag(NonPagedPool, sizeof(InFlight), kPoolTag));
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
