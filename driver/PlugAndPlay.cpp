// Plug and Play requests that reach a port filter. The filter is a legacy
// driver's device attached to the port, so it sees the port's removal when
// its adapter is unplugged: it lets the monitor know, passes the requests
// down as a filter must, and on the removal itself waits for its requests on
// that port, detaches and lets the port's device go. The filter device stays
// (its name and the control device's port table name it) and refuses what
// reaches it afterwards, until the port comes back (PortArrival.cpp); it goes
// at unload.
#include "FilterDriver.h"

bool IsPortRemoval(PIO_STACK_LOCATION stack)
{
    return stack->MajorFunction == IRP_MJ_PNP &&
           (stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL || stack->MinorFunction == IRP_MN_REMOVE_DEVICE);
}

NTSTATUS FilterPortRemoval(PDEVICE_OBJECT device, PIRP irp)
{
    FilterExtension* filter = FilterOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL) {
        // Recorded once the port has ended its pending requests: the
        // monitor shows them before the removal.
        InterlockedExchange(&filter->removalSeen, 1);
        return CaptureAndPassDown(device, irp);
    }
    // An orderly removal comes without a surprise removal before it.
    if (InterlockedExchange(&filter->removalSeen, 1) == 0)
        DeliverRequestHeader(device, stack, false);
    filter->captureEnabled = 0;
    GateCloseAndWait(&filter->gate, true);
    PDEVICE_OBJECT lower = filter->lowerDevice;
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS status = IofCallDriver(lower, irp);
    DetachFromPort(filter);
    InterlockedExchange(&filter->away, 1);
    LookForReturnedPort(device);
    return status;
}

void DeliverPortEvent(PDEVICE_OBJECT filter, UCHAR minor)
{
    IO_STACK_LOCATION event;
    RtlZeroMemory(&event, sizeof event);
    event.MajorFunction = IRP_MJ_PNP;
    event.MinorFunction = minor;
    DeliverRequestHeader(filter, &event, false);
}
