// The power pass-through of the build for Windows 2000 and later: power
// requests go to the port with the power manager's calls and are not
// recorded. They pass the filter's gate and are counted like every other
// request, so that neither a removal nor the unload lets the filter go while
// one of them is still below it.
#include "FilterDriver.h"

namespace {

void VA_PowerComplete(PIRP irp, PDEVICE_OBJECT)
{
    PoStartNextPowerIrp(irp);
}

NTSTATUS PassPowerDown(PDEVICE_OBJECT device, PIRP irp)
{
    PDEVICE_OBJECT lower = HeadOf(device)->kind == kFilterDeviceKind ? FilterOf(device)->lowerDevice : nullptr;
    if (lower == nullptr || !GateEnter(&FilterOf(device)->gate)) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, lower == nullptr ? STATUS_SUCCESS : STATUS_DELETE_PENDING, 0);
    }
    IoCopyCurrentIrpStackLocationToNext(irp);
    if (SetFilterCompletion(device, irp, VA_PowerComplete, UnloadSafeCompletion<VA_PowerComplete>))
        return PoCallDriver(lower, irp);
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    NTSTATUS status = PoCallDriver(lower, irp);
    GateLeave(&FilterOf(device)->gate);
    return status;
}

}  // namespace

NTSTATUS NTAPI VA_Power(PDEVICE_OBJECT device, PIRP irp)
{
    InterlockedIncrement(&g_FilterDispatches);
    NTSTATUS status = PassPowerDown(device, irp);
    InterlockedDecrement(&g_FilterDispatches);
    return status;
}
