// Plug and Play removal of a device, as the PnP manager sends it when an
// adapter is unplugged: IRP_MN_SURPRISE_REMOVAL at once, IRP_MN_REMOVE_DEVICE
// once no file is open on the device any more, each to the top of the
// device's stack from a system thread at PASSIVE_LEVEL.
#include "Kernel.h"

#include "../Machine.h"

namespace sim {

namespace {

void SendRemovalRequest(PDEVICE_OBJECT device, UCHAR minor)
{
    std::thread system([device, minor] {
        PDEVICE_OBJECT top = IoGetAttachedDevice(device);
        auto request = std::make_shared<UserRequest>();
        KeInitializeEvent(&request->done, NotificationEvent, FALSE);
        PIRP irp = AllocateRequest(top->StackSize, request);
        irp->RequestorMode = KernelMode;
        // The PnP manager starts every request so: a driver that does not
        // handle it passes it on untouched.
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        PIO_STACK_LOCATION stack = FirstStackLocation(irp);
        stack->MajorFunction = IRP_MJ_PNP;
        stack->MinorFunction = minor;
        IoCallDriver(top, irp);
        DISPATCHER_HEADER* done = &request->done.Header;
        Machine::Current().dispatcher().Wait(&done, 1, false, std::nullopt);
    });
    system.join();
}

}  // namespace

void IoManager::SendPendingRemovals()
{
    std::vector<PDEVICE_OBJECT> ready;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto device = removalsPending.begin(); device != removalsPending.end();) {
            if (HasOpenFileOn(*device)) {
                ++device;
                continue;
            }
            ready.push_back(*device);
            device = removalsPending.erase(device);
        }
    }
    for (PDEVICE_OBJECT device : ready) {
        SendRemovalRequest(device, IRP_MN_REMOVE_DEVICE);
        ObDereferenceObject(device);  // the PnP manager's reference
    }
}

bool Machine::UnplugDevice(const std::string& deviceName)
{
    PDEVICE_OBJECT device = names_->ResolveDevice(deviceName);
    if (device == nullptr)
        return false;
    ObReferenceObject(device);
    {
        std::lock_guard<std::mutex> guard(io_->lock);
        io_->FindDevice(device)->removing = true;
    }
    SendRemovalRequest(device, IRP_MN_SURPRISE_REMOVAL);
    {
        std::lock_guard<std::mutex> guard(io_->lock);
        io_->removalsPending.push_back(device);
    }
    io_->SendPendingRemovals();
    return true;
}

}  // namespace sim
