// The virtual port's 10-ms tick: a periodic kernel timer that counts ticks
// and runs the worker of every slot whose interval has passed. A slot armed
// with t ticks fires on the (t+1)-th tick after arming.
#pragma once

#include <ntddk.h>

constexpr ULONG kTickSlots = 3;
constexpr ULONG kReadWorkerSlot = 0;

typedef VOID (*TickWorker)(PVOID context);
typedef VOID(NTAPI* FlushQueuedDpcsRoutine)(VOID);

struct TickSlot {
    TickWorker worker;  // none: the slot never fires
    PVOID context;
    ULONG interval;  // ticks; 0 = disarmed
    ULONG startTick;
};

struct TickTimer {
    KTIMER timer;
    KDPC dpc;
    KSPIN_LOCK lock;
    ULONG tickCount;  // guarded by lock
    TickSlot slots[kTickSlots];
    FlushQueuedDpcsRoutine flushQueuedDpcs;  // none before Windows XP SP2
    volatile LONG ticksRunning;              // tick DPCs between their entry and exit
};

// Once, when the owning device is made (PASSIVE_LEVEL): the timer objects
// and slot workers.
void ZRPrepareCustomTimer(TickTimer* timer);
void ZRSetSlotWorker(TickTimer* timer, ULONG slot, TickWorker worker, PVOID context);

// Counts from 0 again with every slot disarmed and starts the periodic ticks.
void ZRStartCustomTimer(TickTimer* timer);
// Stops the ticks and waits for a tick that is still queued or running.
// PASSIVE_LEVEL.
void ZRStopCustomTimer(TickTimer* timer);
// Ticks since the start.
ULONG ZRGetTimeCount(TickTimer* timer);
// Arms a slot for one run of its worker, as above; 0 ticks disarm it.
void ZRSetCustomTimer(TickTimer* timer, ULONG slot, ULONG ticks);
// One tick: counts it and runs the workers of the slots that are due. The
// timer's DPC calls it.
void ZRProcessTick(TickTimer* timer);
