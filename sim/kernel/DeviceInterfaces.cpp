// Device interfaces and Plug and Play notification. A driver registers an
// interface of a class on its device and enables it; every driver that
// registered for that class hears of the arrival, and of the removal when
// the interface is disabled or its device goes. Callbacks run at
// PASSIVE_LEVEL in a system worker thread, one event after the other; the
// interfaces that exist when a driver registers with
// PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES are reported before
// the registration returns. A registration holds a reference on the driver
// object; the driver must remove it before it unloads.
#include "Kernel.h"

#include <wdmguid.h>

#include "../Machine.h"
#include "../system/SystemState.h"

#include <cstdio>

namespace sim {

namespace {

constexpr ULONG kInterfaceNameTag = 0x73506E50;  // "PnPs"

std::string GuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

void CheckPassive(const char* call)
{
    if (CurrentThread().irql != PASSIVE_LEVEL)
        Fail("%s called at IRQL %d (must be PASSIVE_LEVEL)", call, CurrentThread().irql);
}

// A physical device object is the bottom of its stack and has a name.
bool IsPhysicalDevice(PDEVICE_OBJECT device, std::string* name)
{
    IoManager& io = Machine::Current().io();
    std::lock_guard<std::mutex> guard(io.lock);
    IoManager::DeviceRecord* record = io.FindDevice(device);
    if (record == nullptr || record->deleted || record->attachedTo != nullptr || record->name.empty())
        return false;
    *name = record->name;
    return true;
}

// ROOT\<SERVICE>\NNNN, made for the device on first use. Lock held.
std::string InstanceOf(PlugAndPlayManager& pnp, PDEVICE_OBJECT device)
{
    auto found = pnp.instances.find(device);
    if (found != pnp.instances.end())
        return found->second;
    char number[8];
    std::snprintf(number, sizeof number, "%04u", pnp.instancesMade++ % 10000);
    std::string instance = "ROOT\\" + UpperAscii(ToUtf8(&device->DriverObject->DriverName).substr(8)) + "\\" + number;
    pnp.instances[device] = instance;
    return instance;
}

NTSTATUS CopyToCallerString(const std::string& text, PUNICODE_STRING out)
{
    std::u16string wide = ToUtf16(text);
    size_t bytes = (wide.size() + 1) * sizeof(WCHAR);
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, kInterfaceNameTag));
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    memcpy(buffer, wide.c_str(), bytes);
    out->Buffer = buffer;
    out->Length = static_cast<USHORT>(bytes - sizeof(WCHAR));
    out->MaximumLength = static_cast<USHORT>(bytes);
    return STATUS_SUCCESS;
}

// Queues the event for every registration of the interface's class. Lock held.
void QueueInterfaceEvent(PlugAndPlayManager& pnp, const GUID& interfaceClass, const GUID& event,
                         const std::string& link)
{
    for (const auto& entry : pnp.registrations) {
        std::shared_ptr<PlugAndPlayManager::Registration> registration = entry.second;
        if (!registration->active || !IsEqualGUID(registration->interfaceClass, interfaceClass))
            continue;
        pnp.events.Queue([&pnp, registration, event, link] { pnp.Notify(registration, event, link); });
    }
}

// Enables or disables an interface: its link, then the event. Lock held.
NTSTATUS ChangeInterfaceState(PlugAndPlayManager& pnp, PlugAndPlayManager::Interface& entry, bool enable)
{
    if (enable == entry.enabled)
        return enable ? STATUS_OBJECT_NAME_EXISTS : STATUS_OBJECT_NAME_NOT_FOUND;
    ObjectNamespace& names = Machine::Current().names();
    if (enable) {
        NTSTATUS status = names.InsertLink(entry.link, entry.deviceName);
        if (!NT_SUCCESS(status))
            return status;
    } else {
        names.RemoveLink(entry.link);
    }
    entry.enabled = enable;
    QueueInterfaceEvent(pnp, entry.interfaceClass,
                        enable ? GUID_DEVICE_INTERFACE_ARRIVAL : GUID_DEVICE_INTERFACE_REMOVAL, entry.link);
    return STATUS_SUCCESS;
}

// Ex: no callback runs once it returns (but a callback may remove its own
// registration). Without Ex a running callback may still end afterwards.
NTSTATUS Unregister(PVOID NotificationEntry, bool waitForCallbacks)
{
    CheckPassive("IoUnregisterPlugPlayNotification");
    PlugAndPlayManager& pnp = Machine::Current().pnp();
    std::unique_lock<std::mutex> guard(pnp.lock);
    auto found = pnp.registrations.find(NotificationEntry);
    if (found == pnp.registrations.end())
        Fail("IoUnregisterPlugPlayNotification of %p, which is no registration (removed twice?)", NotificationEntry);
    std::shared_ptr<PlugAndPlayManager::Registration> registration = found->second;
    pnp.registrations.erase(found);
    registration->active = false;
    bool ownCallback = CurrentThread().notifying == registration.get();
    if (waitForCallbacks && !ownCallback)
        pnp.callbackEnded.wait(guard, [&] { return registration->running == 0; });
    guard.unlock();
    ObDereferenceObject(registration->driver);
    return STATUS_SUCCESS;
}

}  // namespace

void PlugAndPlayManager::Notify(const std::shared_ptr<Registration>& registration, const GUID& event,
                                const std::string& link)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!registration->active)
            return;
        ++registration->running;
    }
    std::u16string wide = ToUtf16(link);
    UNICODE_STRING name{static_cast<USHORT>(wide.size() * sizeof(WCHAR)),
                        static_cast<USHORT>(wide.size() * sizeof(WCHAR)),
                        const_cast<PWSTR>(reinterpret_cast<const WCHAR*>(wide.c_str()))};
    DEVICE_INTERFACE_CHANGE_NOTIFICATION change{1, sizeof(DEVICE_INTERFACE_CHANGE_NOTIFICATION), event,
                                                registration->interfaceClass, &name};
    {
        DriverScope scope(registration->driver, "a Plug and Play notification callback");
        const void* saved = CurrentThread().notifying;
        CurrentThread().notifying = registration.get();
        registration->callback(&change, registration->context);
        CurrentThread().notifying = saved;
        if (CurrentThread().irql != PASSIVE_LEVEL)
            Fail("a Plug and Play notification callback returned at IRQL %d", CurrentThread().irql);
    }
    std::lock_guard<std::mutex> guard(lock);
    --registration->running;
    callbackEnded.notify_all();
}

void PlugAndPlayManager::DeviceDeleted(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(lock);
    for (auto& entry : interfaces) {
        if (entry.second.device == device && entry.second.enabled)
            ChangeInterfaceState(*this, entry.second, false);
    }
    instances.erase(device);
}

void PlugAndPlayManager::CheckNoRegistrationsOf(PDRIVER_OBJECT driver, const std::string& service)
{
    std::lock_guard<std::mutex> guard(lock);
    for (const auto& entry : registrations) {
        if (entry.second->driver == driver)
            Fail("driver %s unloaded with a Plug and Play notification still registered (the registration holds "
                 "its driver object, and its callback would run in an unloaded driver)",
                 service.c_str());
    }
}

}  // namespace sim

using sim::Fail;
using sim::Machine;
using sim::PlugAndPlayManager;

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName)
{
    sim::CheckPassive("IoRegisterDeviceInterface");
    std::string deviceName;
    if (!sim::IsPhysicalDevice(PhysicalDeviceObject, &deviceName))
        return STATUS_INVALID_DEVICE_REQUEST;
    PlugAndPlayManager& pnp = Machine::Current().pnp();
    std::lock_guard<std::mutex> guard(pnp.lock);
    std::string instance = sim::InstanceOf(pnp, PhysicalDeviceObject);
    for (char& c : instance) {
        if (c == '\\')
            c = '#';
    }
    std::string link = "\\??\\" + instance + "#" + sim::GuidText(*InterfaceClassGuid);
    if (ReferenceString != nullptr && ReferenceString->Length != 0)
        link += "\\" + sim::ToUtf8(ReferenceString);
    auto& entry = pnp.interfaces[sim::UpperAscii(link)];
    if (entry.enabled && entry.device != PhysicalDeviceObject)
        Fail("IoRegisterDeviceInterface: interface %s is still enabled for another device", link.c_str());
    entry.link = link;
    entry.interfaceClass = *InterfaceClassGuid;
    entry.device = PhysicalDeviceObject;
    entry.deviceName = deviceName;
    return SymbolicLinkName != nullptr ? sim::CopyToCallerString(link, SymbolicLinkName) : STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable)
{
    sim::CheckPassive("IoSetDeviceInterfaceState");
    PlugAndPlayManager& pnp = Machine::Current().pnp();
    std::string link = sim::ToUtf8(SymbolicLinkName);
    std::lock_guard<std::mutex> guard(pnp.lock);
    auto found = pnp.interfaces.find(sim::UpperAscii(link));
    if (found == pnp.interfaces.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    return sim::ChangeInterfaceState(pnp, found->second, Enable != FALSE);
}

NTSTATUS IoGetDeviceInterfaces(const GUID* InterfaceClassGuid, PDEVICE_OBJECT PhysicalDeviceObject, ULONG Flags,
                               PWSTR* SymbolicLinkList)
{
    sim::CheckPassive("IoGetDeviceInterfaces");
    if (PhysicalDeviceObject != nullptr || Flags != 0)
        return STATUS_NOT_IMPLEMENTED;  // the simulation lists a class's enabled interfaces only
    PlugAndPlayManager& pnp = Machine::Current().pnp();
    std::u16string list;
    {
        std::lock_guard<std::mutex> guard(pnp.lock);
        for (const auto& entry : pnp.interfaces) {
            if (entry.second.enabled && IsEqualGUID(entry.second.interfaceClass, *InterfaceClassGuid))
                list += sim::ToUtf16(entry.second.link) + u'\0';
        }
    }
    list += u'\0';
    size_t bytes = list.size() * sizeof(WCHAR);
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, sim::kInterfaceNameTag));
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    memcpy(buffer, list.data(), bytes);
    *SymbolicLinkList = buffer;
    return STATUS_SUCCESS;
}

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType, ACCESS_MASK DesiredAccess,
                                 PHANDLE DevInstRegKey)
{
    sim::CheckPassive("IoOpenDeviceRegistryKey");
    std::string deviceName;
    if (DevInstKeyType != PLUGPLAY_REGKEY_DEVICE || !sim::IsPhysicalDevice(DeviceObject, &deviceName))
        return STATUS_INVALID_PARAMETER;
    PlugAndPlayManager& pnp = Machine::Current().pnp();
    std::string instance;
    {
        std::lock_guard<std::mutex> guard(pnp.lock);
        instance = sim::InstanceOf(pnp, DeviceObject);
    }
    sim::Registry& registry = sim::CurrentRegistry();
    sim::RegistryKeyPtr key;
    bool created = false;
    std::u16string path =
        sim::ToUtf16("\\Machine\\System\\CurrentControlSet\\Enum\\" + instance + "\\Device Parameters");
    if (registry.Create(registry.Root(), path, true, key, created) != sim::RegistryResult::Ok)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    *DevInstRegKey = reinterpret_cast<HANDLE>(registry.AddHandle(key, DesiredAccess));
    return STATUS_SUCCESS;
}

PDEVICE_OBJECT IoGetDeviceAttachmentBaseRef(PDEVICE_OBJECT DeviceObject)
{
    sim::IoManager& io = Machine::Current().io();
    PDEVICE_OBJECT base = DeviceObject;
    {
        std::lock_guard<std::mutex> guard(io.lock);
        for (auto* record = io.FindDevice(base); record != nullptr && record->attachedTo != nullptr;
             record = io.FindDevice(base))
            base = record->attachedTo;
    }
    ObReferenceObject(base);
    return base;
}

NTSTATUS IoRegisterPlugPlayNotification(IO_NOTIFICATION_EVENT_CATEGORY EventCategory, ULONG EventCategoryFlags,
                                        PVOID EventCategoryData, PDRIVER_OBJECT DriverObject,
                                        PDRIVER_NOTIFICATION_CALLBACK_ROUTINE CallbackRoutine, PVOID Context,
                                        PVOID* NotificationEntry)
{
    sim::CheckPassive("IoRegisterPlugPlayNotification");
    if (EventCategory != EventCategoryDeviceInterfaceChange || EventCategoryData == nullptr)
        return STATUS_NOT_IMPLEMENTED;  // the only category the simulation delivers
    auto registration = std::make_shared<PlugAndPlayManager::Registration>();
    registration->interfaceClass = *static_cast<const GUID*>(EventCategoryData);
    registration->driver = DriverObject;
    registration->callback = CallbackRoutine;
    registration->context = Context;
    ObReferenceObject(DriverObject);
    PlugAndPlayManager& pnp = Machine::Current().pnp();
    std::vector<std::string> existing;
    {
        std::lock_guard<std::mutex> guard(pnp.lock);
        pnp.registrations[registration.get()] = registration;
        for (const auto& entry : pnp.interfaces) {
            if (entry.second.enabled && IsEqualGUID(entry.second.interfaceClass, registration->interfaceClass))
                existing.push_back(entry.second.link);
        }
    }
    *NotificationEntry = registration.get();
    if ((EventCategoryFlags & PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES) != 0) {
        for (const std::string& link : existing)
            pnp.Notify(registration, GUID_DEVICE_INTERFACE_ARRIVAL, link);
    }
    return STATUS_SUCCESS;
}

NTSTATUS IoUnregisterPlugPlayNotification(PVOID NotificationEntry)
{
    return sim::Unregister(NotificationEntry, false);
}

NTSTATUS IoUnregisterPlugPlayNotificationEx(PVOID NotificationEntry)
{
    return sim::Unregister(NotificationEntry, true);
}
