// The virtual port's tick timer. A periodic timer DPC works on Windows and
// under Wine alike (Wine never runs a DPC queued by KeInsertQueueDpc).
#include "TickTimer.h"

#include "KernelText.h"
#include "SystemRoutines.h"

namespace {

constexpr LONG kTickMilliseconds = 10;

VOID NTAPI TickDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto* timer = static_cast<TickTimer*>(context);
    InterlockedIncrement(&timer->ticksRunning);
    ZRProcessTick(timer);
    InterlockedDecrement(&timer->ticksRunning);
}

// Without KeFlushQueuedDpcs (Windows NT 4.0 to XP SP1): a tick the cancelled
// timer queued at its last expiry starts within one tick period, since a
// queued DPC runs before its processor returns below DISPATCH_LEVEL. After
// that wait, the count of running ticks tells when the last one has left.
void WaitForTicksToLeave(TickTimer* timer)
{
    LARGE_INTEGER period;
    period.QuadPart = -10000LL * kTickMilliseconds;
    do {
        KeDelayExecutionThread(KernelMode, FALSE, &period);
    } while (InterlockedCompareExchange(&timer->ticksRunning, 0, 0) != 0);
}

}  // namespace

void ZRPrepareCustomTimer(TickTimer* timer)
{
    KeInitializeTimerEx(&timer->timer, NotificationTimer);
    KeInitializeDpc(&timer->dpc, TickDpc, timer);
    KeInitializeSpinLock(&timer->lock);
    timer->tickCount = 0;
    timer->flushQueuedDpcs = reinterpret_cast<FlushQueuedDpcsRoutine>(FindSystemRoutine(KTEXT("KeFlushQueuedDpcs")));
    timer->ticksRunning = 0;
    for (TickSlot& slot : timer->slots) {
        slot.worker = nullptr;
        slot.context = nullptr;
        slot.interval = 0;
        slot.startTick = 0;
    }
}

void ZRSetSlotWorker(TickTimer* timer, ULONG slot, TickWorker worker, PVOID context)
{
    timer->slots[slot].worker = worker;
    timer->slots[slot].context = context;
}

void ZRStartCustomTimer(TickTimer* timer)
{
    KIRQL irql;
    KeAcquireSpinLock(&timer->lock, &irql);
    timer->tickCount = 0;
    for (TickSlot& slot : timer->slots)
        slot.interval = 0;
    KeReleaseSpinLock(&timer->lock, irql);
    LARGE_INTEGER due;
    due.QuadPart = -10000LL * kTickMilliseconds;
    KeSetTimerEx(&timer->timer, due, kTickMilliseconds, &timer->dpc);
}

void ZRStopCustomTimer(TickTimer* timer)
{
    KeCancelTimer(&timer->timer);
    if (timer->flushQueuedDpcs != nullptr)
        timer->flushQueuedDpcs();
    else
        WaitForTicksToLeave(timer);
}

ULONG ZRGetTimeCount(TickTimer* timer)
{
    KIRQL irql;
    KeAcquireSpinLock(&timer->lock, &irql);
    ULONG now = timer->tickCount;
    KeReleaseSpinLock(&timer->lock, irql);
    return now;
}

void ZRSetCustomTimer(TickTimer* timer, ULONG slot, ULONG ticks)
{
    KIRQL irql;
    KeAcquireSpinLock(&timer->lock, &irql);
    timer->slots[slot].startTick = timer->tickCount;
    timer->slots[slot].interval = ticks;
    KeReleaseSpinLock(&timer->lock, irql);
}

void ZRProcessTick(TickTimer* timer)
{
    bool fired[kTickSlots] = {};
    KIRQL irql;
    KeAcquireSpinLock(&timer->lock, &irql);
    ULONG now = ++timer->tickCount;
    for (ULONG i = 0; i < kTickSlots; ++i) {
        TickSlot& slot = timer->slots[i];
        if (slot.worker == nullptr || slot.interval == 0 || now - slot.startTick <= slot.interval)
            continue;
        slot.interval = 0;
        fired[i] = true;
    }
    KeReleaseSpinLock(&timer->lock, irql);
    // Workers take their own locks: never run them under the timer's.
    for (ULONG i = 0; i < kTickSlots; ++i) {
        if (fired[i])
            timer->slots[i].worker(timer->slots[i].context);
    }
}
