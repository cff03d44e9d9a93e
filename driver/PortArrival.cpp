// Ports that come back. A plug-in adapter's port that was removed during
// capture usually returns under the same COM name (adapters re-enumerate
// when they are reset or reprogrammed). The driver asks to hear of arriving
// COM port interfaces; the notification callback only queues a work item (it
// must not open devices or wait), and the work item, at PASSIVE_LEVEL in a
// system worker thread, reads the arrived port's name as Windows' own tools
// do, from PortName in the port's device key, and attaches every filter that
// waits for a port of that name again. The monitor sees the return as a Plug
// and Play record (start device) before anything of the port after it.
#include <initguid.h>

#include <ntddk.h>
#include <ntddser.h>
#include <wdmguid.h>

#include "FilterDriver.h"
#include "SystemRoutines.h"

namespace {

typedef NTSTATUS(NTAPI* RegisterRoutine)(IO_NOTIFICATION_EVENT_CATEGORY, ULONG, PVOID, PDRIVER_OBJECT,
                                         PDRIVER_NOTIFICATION_CALLBACK_ROUTINE, PVOID, PVOID*);
typedef NTSTATUS(NTAPI* UnregisterRoutine)(PVOID);
typedef PDEVICE_OBJECT(NTAPI* BaseReferenceRoutine)(PDEVICE_OBJECT);
typedef NTSTATUS(NTAPI* InterfacesRoutine)(const GUID*, PDEVICE_OBJECT, ULONG, PWSTR*);

// Arrivals being handled: the callback enters before it queues the work, the
// work leaves when it is done; the unload closes it first of all.
RequestGate g_PortArrivals;
PVOID g_ArrivalRegistration = nullptr;
// 1 while arrivals are heard: from the registration (the gate is ready then)
// until the unload begins.
volatile LONG g_Watching = 0;

struct ArrivalWork {
    PIO_WORKITEM item;
    UNICODE_STRING link;  // the interface's symbolic link, its text following; empty: every present port
};

constexpr ULONG kPortNameChars = 16;

bool SameGuid(const GUID& a, const GUID& b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (ULONG i = 0; i < sizeof a.Data4; ++i) {
        if (a.Data4[i] != b.Data4[i])
            return false;
    }
    return true;
}

PDEVICE_OBJECT FirstFilter(PDRIVER_OBJECT driver)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind == kFilterDeviceKind)
            return device;
    }
    return nullptr;
}

bool AnyFilterAway(PDRIVER_OBJECT driver)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind == kFilterDeviceKind && InterlockedCompareExchange(&FilterOf(device)->away, 0, 0) != 0)
            return true;
    }
    return false;
}

// PortName of the port's device key: the name Device Manager and the COM port
// lists show, whatever DOS link the port's driver made. The key belongs to
// the bottom of the port's stack (looked up: not every system exports the
// call that finds it).
bool ReadPortName(PDEVICE_OBJECT port, UCHAR* portName)
{
    static const WCHAR valueName[] = {'P', 'o', 'r', 't', 'N', 'a', 'm', 'e'};
    auto baseReference =
        reinterpret_cast<BaseReferenceRoutine>(FindSystemRoutine(KTEXT("IoGetDeviceAttachmentBaseRef")));
    if (baseReference == nullptr)
        return false;
    PDEVICE_OBJECT physical = baseReference(port);
    HANDLE key;
    NTSTATUS status = IoOpenDeviceRegistryKey(physical, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    ObDereferenceObject(physical);
    if (!NT_SUCCESS(status))
        return false;
    WCHAR name[kPortNameChars];
    ULONG bytes = 0;
    bool read = GetRegistryKeyValue(key, valueName, sizeof valueName, name, sizeof name, &bytes);
    ZwClose(key);
    ULONG length = 0;
    while (read && length < bytes / sizeof(WCHAR) && name[length] != 0)
        ++length;
    ToPortName(name, length, portName);
    return length > 0;
}

// The filter goes on top of the returned port's stack as at load. The return
// is recorded first, so that the monitor shows it before the port's traffic.
void ResumeCapture(PDEVICE_OBJECT device, PDEVICE_OBJECT port)
{
    FilterExtension* filter = FilterOf(device);
    filter->lowerDevice = nullptr;  // the removed port's: gone
    InterlockedExchange(&filter->removalSeen, 0);
    InterlockedExchange(&filter->detached, 0);
    filter->captureEnabled = 1;
    GateReopen(&filter->gate);
    DeliverPortEvent(device, IRP_MN_START_DEVICE);
    ObReferenceObject(port);
    if (AttachToPortDevice(device, port))
        return;
    // Gone again before the attach: the monitor hears so, the filter waits on.
    DeliverPortEvent(device, IRP_MN_REMOVE_DEVICE);
    filter->captureEnabled = 0;
    GateCloseAndWait(&filter->gate, false);
    InterlockedExchange(&filter->detached, 1);
    InterlockedExchange(&filter->away, 1);
}

// Each waiting filter of that port name is claimed once, whichever work item
// of a repeated arrival comes first.
void ResumeFiltersOf(PDRIVER_OBJECT driver, const UCHAR* portName, PDEVICE_OBJECT port)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind != kFilterDeviceKind)
            continue;
        FilterExtension* filter = FilterOf(device);
        const UCHAR* captured = ControlOf(filter->controlDevice)->portNames[filter->portIndex];
        if (SamePortName(captured, portName) && InterlockedCompareExchange(&filter->away, 0, 1) == 1)
            ResumeCapture(device, port);
    }
}

// Opening an arrived port is left to the moment a captured port is away:
// the port is opened once to be found, as at load, and closed again.
void HandlePort(PDRIVER_OBJECT driver, PUNICODE_STRING link)
{
    PDEVICE_OBJECT port = nullptr;
    UCHAR portName[kPortNameBytes];
    if (AnyFilterAway(driver) && NT_SUCCESS(ReferencePortDevice(link, &port))) {
        if (ReadPortName(port, portName))
            ResumeFiltersOf(driver, portName, port);
        ObDereferenceObject(port);
    }
}

// The COM ports present now, one link after the other (a list of strings,
// ended by an empty one).
void HandlePresentPorts(PDRIVER_OBJECT driver)
{
    auto interfaces = reinterpret_cast<InterfacesRoutine>(FindSystemRoutine(KTEXT("IoGetDeviceInterfaces")));
    PWSTR links = nullptr;
    if (interfaces == nullptr || !NT_SUCCESS(interfaces(&GUID_DEVINTERFACE_COMPORT, nullptr, 0, &links)))
        return;
    for (PWSTR link = links; *link != 0;) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, link);
        HandlePort(driver, &name);
        link += name.Length / sizeof(WCHAR) + 1;
    }
    ExFreePool(links);
}

VOID NTAPI HandlePortArrival(PDEVICE_OBJECT device, PVOID context)
{
    auto* work = static_cast<ArrivalWork*>(context);
    if (work->link.Length != 0)
        HandlePort(device->DriverObject, &work->link);
    else
        HandlePresentPorts(device->DriverObject);
    IoFreeWorkItem(work->item);
    ExFreePoolWithTag(work, kPoolTag);
    GateLeave(&g_PortArrivals);
}

bool QueueArrivalWork(PDEVICE_OBJECT device, PCUNICODE_STRING link)
{
    auto* work =
        static_cast<ArrivalWork*>(ExAllocatePoolWithTag(PagedPool, sizeof(ArrivalWork) + link->Length, kPoolTag));
    if (work == nullptr)
        return false;
    work->item = IoAllocateWorkItem(device);
    if (work->item == nullptr) {
        ExFreePoolWithTag(work, kPoolTag);
        return false;
    }
    work->link.Buffer = reinterpret_cast<PWSTR>(work + 1);
    work->link.Length = link->Length;
    work->link.MaximumLength = link->Length;
    if (link->Length != 0)
        RtlCopyMemory(work->link.Buffer, link->Buffer, link->Length);
    IoQueueWorkItem(work->item, HandlePortArrival, DelayedWorkQueue, work);
    return true;
}

NTSTATUS NTAPI PortInterfaceChanged(PVOID notification, PVOID context)
{
    auto* change = static_cast<PDEVICE_INTERFACE_CHANGE_NOTIFICATION>(notification);
    if (!SameGuid(change->Event, GUID_DEVICE_INTERFACE_ARRIVAL) || !GateEnter(&g_PortArrivals))
        return STATUS_SUCCESS;
    if (!QueueArrivalWork(static_cast<PDEVICE_OBJECT>(context), change->SymbolicLinkName))
        GateLeave(&g_PortArrivals);
    return STATUS_SUCCESS;
}

}  // namespace

// The ports present now were attached by the parameter walk. Existing
// interfaces are reported as well: a port removed and plugged in again
// between the walk and the registration is then not missed, and for the
// others nothing waits, so nothing is opened.
void WatchPortArrivals(PDRIVER_OBJECT driver)
{
    GateInitialize(&g_PortArrivals);
    g_ArrivalRegistration = nullptr;
    auto registerRoutine =
        reinterpret_cast<RegisterRoutine>(FindSystemRoutine(KTEXT("IoRegisterPlugPlayNotification")));
    PDEVICE_OBJECT filter = FirstFilter(driver);
    if (registerRoutine == nullptr || filter == nullptr)
        return;
    PVOID entry = nullptr;
    // Wine's stub reports success and gives no registration.
    if (NT_SUCCESS(registerRoutine(
            EventCategoryDeviceInterfaceChange, PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
            const_cast<GUID*>(&GUID_DEVINTERFACE_COMPORT), driver, PortInterfaceChanged, filter, &entry)))
        g_ArrivalRegistration = entry;
    if (g_ArrivalRegistration != nullptr)
        InterlockedExchange(&g_Watching, 1);
}

// A port removed while a program still held it is let go only when that
// handle closes, which may be after the port came back: the ports present
// then are looked at once more.
void LookForReturnedPort(PDEVICE_OBJECT filter)
{
    UNICODE_STRING none = {0, 0, nullptr};
    if (InterlockedCompareExchange(&g_Watching, 0, 0) != 0 && GateEnter(&g_PortArrivals) &&
        !QueueArrivalWork(filter, &none))
        GateLeave(&g_PortArrivals);
}

// Callbacks that still come find the gate closed and return at once; the Ex
// form of the unregistration (Windows 7 and later) returns once none runs.
void StopWatchingPortArrivals()
{
    InterlockedExchange(&g_Watching, 0);
    GateCloseAndWait(&g_PortArrivals, false);
    if (g_ArrivalRegistration == nullptr)
        return;
    auto unregister =
        reinterpret_cast<UnregisterRoutine>(FindSystemRoutine(KTEXT("IoUnregisterPlugPlayNotificationEx")));
    if (unregister == nullptr)
        unregister = reinterpret_cast<UnregisterRoutine>(FindSystemRoutine(KTEXT("IoUnregisterPlugPlayNotification")));
    if (unregister != nullptr)
        unregister(g_ArrivalRegistration);
    g_ArrivalRegistration = nullptr;
}
