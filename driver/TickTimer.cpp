// The virtual port's tick timer. A periodic timer DPC works on Windows and
// under Wine alike (Wine never runs a DPC queued by KeInsertQueueDpc).
#include "TickTimer.h"

namespace {

constexpr LONG kTickMilliseconds = 10;

VOID NTAPI TickDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    ZRProcessTick(static_cast<TickTimer*>(context));
}

}  // namespace

void ZRPrepareCustomTimer(TickTimer* timer)
{
    KeInitializeTimerEx(&timer->timer, NotificationTimer);
    KeInitializeDpc(&timer->dpc, TickDpc, timer);
    KeInitializeSpinLock(&timer->lock);
    timer->tickCount = 0;
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
    KeFlushQueuedDpcs();
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
