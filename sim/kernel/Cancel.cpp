// Cancellation: cancel routines, the cancel spin lock and IoCancelIrp.
#include "Kernel.h"

#include "../Machine.h"

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine)
{
    return reinterpret_cast<PDRIVER_CANCEL>(InterlockedExchangePointer(
        reinterpret_cast<PVOID volatile*>(&Irp->CancelRoutine), reinterpret_cast<PVOID>(CancelRoutine)));
}

void IoAcquireCancelSpinLock(PKIRQL Irql)
{
    KeAcquireSpinLock(&sim::Machine::Current().io().cancelLock, Irql);
}

void IoReleaseCancelSpinLock(KIRQL Irql)
{
    KeReleaseSpinLock(&sim::Machine::Current().io().cancelLock, Irql);
}

BOOLEAN IoCancelIrp(PIRP Irp)
{
    sim::HoldIrp(Irp);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    Irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        sim::ReleaseIrp(Irp);
        return FALSE;
    }
    if (Irp->CurrentLocation > Irp->StackCount)
        sim::Fail("a cancel routine was set on a request that is not with a driver");
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device = Irp->Tail.Overlay.CurrentStackLocation->DeviceObject;
    {
        // The routine releases the cancel spin lock itself.
        sim::DriverScope scope(device->DriverObject, "a cancel routine");
        routine(device, Irp);
    }
    sim::ReleaseIrp(Irp);
    return TRUE;
}
