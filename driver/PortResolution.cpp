// Finding the device object of a port to capture, by its device path.
//
// Windows: IoGetDeviceObjectPointer opens the port and gives its device.
// Wine 8 implements that call as a stub that reports success with no file
// object and a dummy device (stack size -128), which must never be attached
// to. Wine does look up driver objects by name (\Driver\<service>) among the
// drivers of its own process, and only drivers of that process can be
// attached to anyway. So when the result is unusable the port is searched in
// the device lists of the loaded kernel services: each service key names a
// candidate driver, and the device whose object name is the device path is
// the port.
#include "FilterDriver.h"

#ifdef _WIN32
// Declared by the file-system kit's headers, not by the driver kit's.
extern "C" {
extern __declspec(dllimport) POBJECT_TYPE* IoDriverObjectType;
NTKERNELAPI NTSTATUS NTAPI ObReferenceObjectByName(PUNICODE_STRING ObjectName, ULONG Attributes,
                                                   PACCESS_STATE AccessState, ACCESS_MASK DesiredAccess,
                                                   POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                                   PVOID ParseContext, PVOID* Object);
NTKERNELAPI NTSTATUS NTAPI ObQueryNameString(PVOID Object, POBJECT_NAME_INFORMATION ObjectNameInfo, ULONG Length,
                                             PULONG ReturnLength);
}
#endif

namespace {

constexpr ULONG kNameBufferBytes = 512;

bool IsUsable(PFILE_OBJECT file, PDEVICE_OBJECT device)
{
    return file != nullptr && device != nullptr && device->StackSize > 0;
}

bool HasName(PDEVICE_OBJECT device, PUNICODE_STRING name, POBJECT_NAME_INFORMATION buffer)
{
    ULONG returned = 0;
    if (!NT_SUCCESS(ObQueryNameString(device, buffer, kNameBufferBytes, &returned)))
        return false;
    return RtlEqualUnicodeString(&buffer->Name, name, TRUE) != FALSE;
}

// The device of a loaded driver named \Driver\<service>, referenced.
PDEVICE_OBJECT FindInDriver(const KEY_BASIC_INFORMATION* service, PUNICODE_STRING devicePath, PVOID scratch)
{
    auto* driverName = static_cast<PWSTR>(scratch);
    const WCHAR prefix[] = {'\\', 'D', 'r', 'i', 'v', 'e', 'r', '\\'};
    if (sizeof prefix + service->NameLength > kNameBufferBytes)
        return nullptr;
    RtlCopyMemory(driverName, prefix, sizeof prefix);
    RtlCopyMemory(driverName + 8, service->Name, service->NameLength);
    UNICODE_STRING name;
    name.Buffer = driverName;
    name.Length = static_cast<USHORT>(sizeof prefix + service->NameLength);
    name.MaximumLength = name.Length;
    PVOID object = nullptr;
    if (!NT_SUCCESS(ObReferenceObjectByName(&name, OBJ_CASE_INSENSITIVE, nullptr, 0, *IoDriverObjectType, KernelMode,
                                            nullptr, &object)))
        return nullptr;
    auto* driver = static_cast<PDRIVER_OBJECT>(object);
    PDEVICE_OBJECT found = nullptr;
    auto* nameInfo = static_cast<POBJECT_NAME_INFORMATION>(scratch);
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr && found == nullptr;
         device = device->NextDevice) {
        if (HasName(device, devicePath, nameInfo))
            found = device;
    }
    if (found != nullptr)
        ObReferenceObject(found);
    ObDereferenceObject(driver);
    return found;
}

PDEVICE_OBJECT FindInLoadedServices(PUNICODE_STRING devicePath, PVOID enumeration, PVOID scratch)
{
    UNICODE_STRING servicesPath;
    RtlInitUnicodeString(&servicesPath, KTEXT("\\Registry\\Machine\\System\\CurrentControlSet\\Services"));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &servicesPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE services;
    if (!NT_SUCCESS(ZwOpenKey(&services, KEY_READ, &attributes)))
        return nullptr;
    PDEVICE_OBJECT found = nullptr;
    auto* service = static_cast<KEY_BASIC_INFORMATION*>(enumeration);
    for (ULONG index = 0; found == nullptr; ++index) {
        ULONG resultLength = 0;
        NTSTATUS status =
            ZwEnumerateKey(services, index, KeyBasicInformation, service, kNameBufferBytes, &resultLength);
        if (status == STATUS_NO_MORE_ENTRIES)
            break;
        if (status == STATUS_SUCCESS)
            found = FindInDriver(service, devicePath, scratch);
    }
    ZwClose(services);
    return found;
}

NTSTATUS FindPortAmongDrivers(PUNICODE_STRING devicePath, PDEVICE_OBJECT* port)
{
    PVOID enumeration = ExAllocatePoolWithTag(PagedPool, kNameBufferBytes, kPoolTag);
    PVOID scratch = ExAllocatePoolWithTag(PagedPool, kNameBufferBytes, kPoolTag);
    PDEVICE_OBJECT found = nullptr;
    if (enumeration != nullptr && scratch != nullptr)
        found = FindInLoadedServices(devicePath, enumeration, scratch);
    if (enumeration != nullptr)
        ExFreePoolWithTag(enumeration, kPoolTag);
    if (scratch != nullptr)
        ExFreePoolWithTag(scratch, kPoolTag);
    if (found == nullptr)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    *port = found;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS ReferencePortDevice(PUNICODE_STRING devicePath, PDEVICE_OBJECT* port)
{
    PFILE_OBJECT file = nullptr;
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoGetDeviceObjectPointer(devicePath, FILE_ALL_ACCESS, &file, &device);
    if (!NT_SUCCESS(status))
        return status;
    if (!IsUsable(file, device))
        return FindPortAmongDrivers(devicePath, port);
    ObReferenceObject(device);
    ObfDereferenceObject(file);  // closes the port again: it stays free for programs
    *port = device;
    return STATUS_SUCCESS;
}
