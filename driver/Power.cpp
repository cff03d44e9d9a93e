// The power pass-through of the build for Windows 2000 and later: power
// requests go to the port with the power manager's calls and are not recorded.
#include "FilterDriver.h"

namespace {

NTSTATUS NTAPI VA_PowerComplete(PDEVICE_OBJECT, PIRP irp, PVOID)
{
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    PoStartNextPowerIrp(irp);
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS NTAPI VA_Power(PDEVICE_OBJECT device, PIRP irp)
{
    PDEVICE_OBJECT lower = HeadOf(device)->kind == kFilterDeviceKind ? FilterOf(device)->lowerDevice : nullptr;
    if (lower == nullptr) {
        PoStartNextPowerIrp(irp);
        return CompleteRequest(irp, STATUS_SUCCESS, 0);
    }
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, VA_PowerComplete, nullptr, TRUE, TRUE, TRUE);
    return PoCallDriver(lower, irp);
}
