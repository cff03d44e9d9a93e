// The counted gate of a filter's requests (and of record production).
#include "FilterDriver.h"

void GateInitialize(RequestGate* gate)
{
    gate->count = 1;
    gate->closed = 0;
    KeInitializeEvent(&gate->drained, NotificationEvent, FALSE);
}

bool GateEnter(RequestGate* gate)
{
    InterlockedIncrement(&gate->count);
    if (InterlockedCompareExchange(&gate->closed, 0, 0) != 0) {
        GateLeave(gate);
        return false;
    }
    return true;
}

void GateLeave(RequestGate* gate)
{
    if (InterlockedDecrement(&gate->count) == 0)
        KeSetEvent(&gate->drained, IO_NO_INCREMENT, FALSE);
}

void GateCloseAndWait(RequestGate* gate, bool callerInside)
{
    InterlockedExchange(&gate->closed, 1);
    if (callerInside)
        GateLeave(gate);
    GateLeave(gate);
    KeWaitForSingleObject(&gate->drained, Executive, KernelMode, FALSE, nullptr);
}

void GateReopen(RequestGate* gate)
{
    // Refused entries still come and go: the count never passes zero again
    // once the gate's own entry is back.
    InterlockedIncrement(&gate->count);
    KeClearEvent(&gate->drained);
    InterlockedExchange(&gate->closed, 0);
}
