// Devices, symbolic links, device stacks and object references; opening and
// closing file objects on devices.
#include "Kernel.h"

#include "../Machine.h"

namespace {
struct _OBJECT_TYPE_STANDIN {
    int unused;
};
_OBJECT_TYPE_STANDIN g_deviceType;
_OBJECT_TYPE_STANDIN g_driverType;
_OBJECT_TYPE_STANDIN g_fileType;
POBJECT_TYPE g_deviceTypePointer = reinterpret_cast<POBJECT_TYPE>(&g_deviceType);
POBJECT_TYPE g_driverTypePointer = reinterpret_cast<POBJECT_TYPE>(&g_driverType);
POBJECT_TYPE g_fileTypePointer = reinterpret_cast<POBJECT_TYPE>(&g_fileType);
}  // namespace

POBJECT_TYPE* IoDeviceObjectType = &g_deviceTypePointer;
POBJECT_TYPE* IoDriverObjectType = &g_driverTypePointer;
POBJECT_TYPE* IoFileObjectType = &g_fileTypePointer;

namespace sim {

IoManager::DeviceRecord* IoManager::FindDevice(PDEVICE_OBJECT device)
{
    auto found = devices.find(device);
    return found == devices.end() ? nullptr : &found->second;
}

PDEVICE_OBJECT IoManager::TopOfStack(PDEVICE_OBJECT device)
{
    while (device->AttachedDevice != nullptr)
        device = device->AttachedDevice;
    return device;
}

void IoManager::ReleaseDeviceIfUnused(PDEVICE_OBJECT device)
{
    DeviceRecord* record = FindDevice(device);
    if (record != nullptr && record->deleted && device->ReferenceCount == 0 && record->pointerReferences == 0 &&
        device->AttachedDevice == nullptr) {
        PDRIVER_OBJECT driver = device->DriverObject;
        devices.erase(device);
        UnmapImageIfUnused(driver);
    }
}

void IoManager::UnmapImageIfUnused(PDRIVER_OBJECT driver)
{
    DriverImage* image = ImageOf(driver);
    if (image == nullptr || !image->unloaded || image->gone)
        return;
    for (const auto& entry : devices) {
        if (entry.first->DriverObject == driver)
            return;
    }
    image->gone = true;
    imagesMappedAfterUnload.erase(UpperAscii(image->service));
    if (image->running.load() != 0)
        Fail("the image of driver %s was unloaded while its code still runs (a dispatch, completion or cancel "
             "routine or a DPC that has not returned)",
             image->service.c_str());
}

bool IoManager::StackBeingRemoved(PDEVICE_OBJECT device)
{
    DeviceRecord* record = FindDevice(device);
    while (record != nullptr && record->attachedTo != nullptr)
        record = FindDevice(record->attachedTo);
    return record != nullptr && record->removing;
}

bool IoManager::HasOpenFileOn(PDEVICE_OBJECT device)
{
    for (const auto& entry : files) {
        if (entry.second->device == device)
            return true;
    }
    return false;
}

NTSTATUS IoManager::OpenFile(PDEVICE_OBJECT device, bool overlapped, bool kernel, std::shared_ptr<FileRecord>* out,
                             ACCESS_MASK desiredAccess)
{
    if (kernel && CurrentThread().notifying != nullptr)
        Fail("a Plug and Play notification callback opened a device (it must not start I/O on a device; queue a "
             "work item that opens it)");
    auto file = std::make_shared<FileRecord>();
    CCHAR stackSize;
    IO_SECURITY_CONTEXT security{};
    {
        std::lock_guard<std::mutex> guard(lock);
        DeviceRecord* record = FindDevice(device);
        if (record == nullptr || record->deleted)
            return STATUS_NO_SUCH_DEVICE;
        NTSTATUS access = CheckOpenAccess(*record, &desiredAccess, kernel, standardUser.load());
        if (!NT_SUCCESS(access))
            return access;
        security.DesiredAccess = desiredAccess;
        if ((device->Flags & DO_EXCLUSIVE) && device->ReferenceCount != 0)
            return STATUS_ACCESS_DENIED;
        ++device->ReferenceCount;
        stackSize = TopOfStack(device)->StackSize;
        file->object.Type = 5;
        file->object.Size = sizeof(FILE_OBJECT);
        file->object.DeviceObject = device;
        file->device = device;
        file->overlapped = overlapped;
        file->kernel = kernel;
        KeInitializeEvent(&file->idle, NotificationEvent, TRUE);
        KeInitializeEvent(&file->completed, NotificationEvent, FALSE);
        files[&file->object] = file;
    }
    auto request = std::make_shared<UserRequest>();
    KeInitializeEvent(&request->done, NotificationEvent, FALSE);
    request->file = file;
    PIRP irp = AllocateRequest(stackSize, request);
    PIO_STACK_LOCATION stack = FirstStackLocation(irp);
    stack->MajorFunction = IRP_MJ_CREATE;
    // As CreateFile asks for an existing device: the request's second
    // parameter word is never 0.
    stack->Parameters.Create.Options =
        FILE_OPEN << 24 | FILE_NON_DIRECTORY_FILE | (overlapped ? 0 : FILE_SYNCHRONOUS_IO_NONALERT);
    stack->Parameters.Create.SecurityContext = &security;
    stack->FileObject = &file->object;
    NTSTATUS status = SendFileRequest(file, irp, true);
    if (!NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> guard(lock);
        files.erase(&file->object);
        --device->ReferenceCount;
        ReleaseDeviceIfUnused(device);
        return status;
    }
    *out = file;
    return STATUS_SUCCESS;
}

NTSTATUS IoManager::SendSimpleRequest(const std::shared_ptr<FileRecord>& file, UCHAR major)
{
    CCHAR stackSize;
    {
        std::lock_guard<std::mutex> guard(lock);
        stackSize = TopOfStack(file->device)->StackSize;
    }
    auto request = std::make_shared<UserRequest>();
    KeInitializeEvent(&request->done, NotificationEvent, FALSE);
    request->file = file;
    PIRP irp = AllocateRequest(stackSize, request);
    PIO_STACK_LOCATION stack = FirstStackLocation(irp);
    stack->MajorFunction = major;
    stack->FileObject = &file->object;
    return SendFileRequest(file, irp, true);
}

void IoManager::CleanupFile(const std::shared_ptr<FileRecord>& file)
{
    SendSimpleRequest(file, IRP_MJ_CLEANUP);
}

void IoManager::CancelFileRequests(const std::shared_ptr<FileRecord>& file)
{
    std::vector<PIRP> pending;
    {
        std::lock_guard<std::mutex> guard(file->lock);
        for (PIRP irp : file->pending) {
            HoldIrp(irp);
            pending.push_back(irp);
        }
    }
    for (PIRP irp : pending) {
        IoCancelIrp(irp);
        ReleaseIrp(irp);
    }
}

void IoManager::CloseFile(const std::shared_ptr<FileRecord>& file)
{
    {
        std::lock_guard<std::mutex> guard(file->lock);
        if (file->closed)
            return;
        file->closed = true;
    }
    CancelFileRequests(file);
    if (!file->kernel)
        CleanupFile(file);
    // The close request goes when the last request of the file has finished.
    DISPATCHER_HEADER* idle = &file->idle.Header;
    machine_.dispatcher().Wait(&idle, 1, false, std::nullopt);
    SendSimpleRequest(file, IRP_MJ_CLOSE);
    {
        std::lock_guard<std::mutex> guard(lock);
        --file->device->ReferenceCount;
        files.erase(&file->object);
        ReleaseDeviceIfUnused(file->device);
    }
    NotifyFileClosed();
}

void IoManager::NotifyFileClosed()
{
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard<std::mutex> guard(lock);
        listeners = fileCloseListeners;
    }
    for (auto& listener : listeners)
        listener();
    SendPendingRemovals();
}

// As the I/O manager decides a legacy driver's unload: a file object names
// the device that was opened, so only files opened on the driver's own
// devices, or a device attached above one of them, keep it loaded. A program
// that holds a port that the driver filters holds the port's device.
bool IoManager::DriverHasOpenFiles(PDRIVER_OBJECT driver)
{
    std::lock_guard<std::mutex> guard(lock);
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (device->ReferenceCount != 0 || device->AttachedDevice != nullptr)
            return true;
    }
    return false;
}

NTSTATUS SendFileRequest(const std::shared_ptr<FileRecord>& file, PIRP irp, bool wait)
{
    Machine& machine = Machine::Current();
    std::shared_ptr<UserRequest> request = RequestOf(irp);
    PDEVICE_OBJECT top;
    {
        // The top of the stack when the request was sized for it: a device
        // attached since then is passed by (Windows sends a request to the
        // device whose stack size it was allocated with).
        std::lock_guard<std::mutex> guard(machine.io().lock);
        top = machine.io().TopOfStack(file->device);
        for (IoManager::DeviceRecord* record = machine.io().FindDevice(top);
             top->StackSize > irp->StackCount && record != nullptr && record->attachedTo != nullptr;
             record = machine.io().FindDevice(top))
            top = record->attachedTo;
    }
    {
        std::lock_guard<std::mutex> guard(file->lock);
        if (file->pending.empty())
            machine.dispatcher().SetSignal(&file->idle.Header, 0);
        file->pending.insert(irp);
    }
    irp->Tail.Overlay.OriginalFileObject = &file->object;
    NTSTATUS status = IoCallDriver(top, irp);
    if (status != STATUS_PENDING) {
        if (machine.dispatcher().ReadSignal(&request->done.Header) == 0)
            Fail("a dispatch routine returned 0x%08X without completing the request", static_cast<unsigned>(status));
        return request->status;
    }
    if (!wait)
        return STATUS_PENDING;
    DISPATCHER_HEADER* done = &request->done.Header;
    machine.dispatcher().Wait(&done, 1, false, std::nullopt);
    return request->status;
}

DriverScope::DriverScope(PDRIVER_OBJECT driver, const char* what)
    : saved_(CurrentThread().driver), image_(ImageOf(driver))
{
    if (image_ != nullptr) {
        if (image_->gone.load())
            Fail("%s of driver %s runs after the driver was unloaded and its image is gone", what,
                 image_->service.c_str());
        ++image_->running;
    }
    CurrentThread().driver = driver;
}

DriverScope::~DriverScope()
{
    CurrentThread().driver = saved_;
    if (image_ != nullptr)
        --image_->running;
}

}  // namespace sim

using sim::Fail;
using sim::Machine;

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                        DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject)
{
    Machine& machine = Machine::Current();
    sim::IoManager::DeviceRecord record;
    record.object = std::make_unique<DEVICE_OBJECT>();
    PDEVICE_OBJECT device = record.object.get();
    if (DeviceExtensionSize != 0)
        record.extension.reset(new uint8_t[DeviceExtensionSize]());
    record.extensionSize = DeviceExtensionSize;
    device->Type = 3;
    device->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT) + DeviceExtensionSize);
    device->DriverObject = DriverObject;
    device->DeviceExtension = record.extension.get();
    device->DeviceType = DeviceType;
    device->Characteristics = DeviceCharacteristics;
    device->StackSize = 1;
    device->Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0);
    if (DeviceName != nullptr && DeviceName->Length != 0) {
        record.name = sim::ToUtf8(DeviceName);
        NTSTATUS status = machine.names().InsertDevice(record.name, device);
        if (!NT_SUCCESS(status))
            return status;
        device->Flags |= DO_DEVICE_HAS_NAME;
    }
    std::lock_guard<std::mutex> guard(machine.io().lock);
    device->NextDevice = DriverObject->DeviceObject;
    DriverObject->DeviceObject = device;
    machine.io().devices[device] = std::move(record);
    *DeviceObject = device;
    return STATUS_SUCCESS;
}

void IoDeleteDevice(PDEVICE_OBJECT DeviceObject)
{
    Machine& machine = Machine::Current();
    machine.pnp().DeviceDeleted(DeviceObject);
    std::lock_guard<std::mutex> guard(machine.io().lock);
    sim::IoManager::DeviceRecord* record = machine.io().FindDevice(DeviceObject);
    if (record == nullptr || record->deleted)
        Fail("IoDeleteDevice of a device that does not exist or was already deleted");
    if (record->attachedTo != nullptr)
        Fail("IoDeleteDevice of a device that is still attached to a device stack (IoDetachDevice first)");
    PDEVICE_OBJECT* link = &DeviceObject->DriverObject->DeviceObject;
    while (*link != DeviceObject)
        link = &(*link)->NextDevice;
    *link = DeviceObject->NextDevice;
    if (!record->name.empty())
        machine.names().RemoveDevice(record->name);
    machine.timers().CheckNothingArmedWithin(record->extension.get(), record->extensionSize,
                                             "the extension of a deleted device");
    record->deleted = true;
    machine.io().ReleaseDeviceIfUnused(DeviceObject);
}

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    return Machine::Current().names().InsertLink(sim::ToUtf8(SymbolicLinkName), sim::ToUtf8(DeviceName));
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName)
{
    return Machine::Current().names().RemoveLink(sim::ToUtf8(SymbolicLinkName));
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject)
{
    Machine& machine = Machine::Current();
    std::lock_guard<std::mutex> guard(machine.io().lock);
    return machine.io().TopOfStack(DeviceObject);
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject)
{
    PDEVICE_OBJECT top = IoGetAttachedDevice(DeviceObject);
    ObReferenceObject(top);
    return top;
}

namespace {

// Links `source` on top of `target`'s stack; the device below is stored in
// *below before the lock is released, then the test's hook runs as a request
// from another thread could. Null when the stack's top was deleted.
PDEVICE_OBJECT AttachToStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice, PDEVICE_OBJECT* below)
{
    Machine& machine = Machine::Current();
    std::function<void(PDEVICE_OBJECT)> hook;
    {
        std::lock_guard<std::mutex> guard(machine.io().lock);
        PDEVICE_OBJECT top = machine.io().TopOfStack(TargetDevice);
        sim::IoManager::DeviceRecord* topRecord = machine.io().FindDevice(top);
        sim::IoManager::DeviceRecord* source = machine.io().FindDevice(SourceDevice);
        if (source == nullptr)
            Fail("IoAttachDeviceToDeviceStack with an unknown source device");
        if (topRecord == nullptr || topRecord->deleted || machine.io().StackBeingRemoved(TargetDevice))
            return nullptr;
        SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
        SourceDevice->AlignmentRequirement = top->AlignmentRequirement;
        *below = top;
        top->AttachedDevice = SourceDevice;
        source->attachedTo = top;
        hook = machine.io().attachHook;
    }
    if (hook)
        hook(SourceDevice);
    return *below;
}

}  // namespace

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice)
{
    PDEVICE_OBJECT below = nullptr;
    return AttachToStack(SourceDevice, TargetDevice, &below);
}

NTSTATUS IoAttachDeviceToDeviceStackSafe(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice,
                                         PDEVICE_OBJECT* AttachedToDeviceObject)
{
    *AttachedToDeviceObject = nullptr;
    return AttachToStack(SourceDevice, TargetDevice, AttachedToDeviceObject) != nullptr ? STATUS_SUCCESS
                                                                                        : STATUS_NO_SUCH_DEVICE;
}

void IoDetachDevice(PDEVICE_OBJECT TargetDevice)
{
    Machine& machine = Machine::Current();
    std::lock_guard<std::mutex> guard(machine.io().lock);
    PDEVICE_OBJECT attached = TargetDevice->AttachedDevice;
    if (attached == nullptr)
        Fail("IoDetachDevice: no device is attached to the target device");
    machine.io().FindDevice(attached)->attachedTo = nullptr;
    TargetDevice->AttachedDevice = nullptr;
    machine.io().ReleaseDeviceIfUnused(TargetDevice);
}

namespace {

// Adds `delta` to the reference count of a device, driver or file object.
void ChangeReference(PVOID Object, LONG delta, const char* call)
{
    Machine& machine = Machine::Current();
    std::shared_ptr<sim::FileRecord> closing;
    {
        std::lock_guard<std::mutex> guard(machine.io().lock);
        auto* device = machine.io().FindDevice(static_cast<PDEVICE_OBJECT>(Object));
        if (device != nullptr) {
            device->pointerReferences += delta;
            if (device->pointerReferences < 0)
                Fail("%s of a device that holds no reference", call);
            machine.io().ReleaseDeviceIfUnused(static_cast<PDEVICE_OBJECT>(Object));
            return;
        }
        auto file = machine.io().files.find(static_cast<PFILE_OBJECT>(Object));
        if (file != machine.io().files.end()) {
            file->second->references += delta;
            if (file->second->references < 0)
                Fail("%s of a file object that holds no reference", call);
            if (file->second->references == 0)
                closing = file->second;
        } else {
            bool found = false;
            for (auto& driver : machine.io().drivers) {
                if (driver.second->object.get() == Object) {
                    driver.second->references += delta;
                    found = true;
                }
            }
            if (!found)
                Fail("%s of %p, which is not a device, driver or file object", call, Object);
        }
    }
    if (closing)
        machine.io().CloseFile(closing);
}

}  // namespace

NTSTATUS ObReferenceObjectByPointer(PVOID Object, ACCESS_MASK, POBJECT_TYPE, KPROCESSOR_MODE)
{
    ChangeReference(Object, 1, "ObReferenceObjectByPointer");
    return STATUS_SUCCESS;
}

void ObReferenceObject(PVOID Object)
{
    ChangeReference(Object, 1, "ObReferenceObject");
}

void ObDereferenceObject(PVOID Object)
{
    ChangeReference(Object, -1, "ObDereferenceObject");
}

LONG_PTR ObfDereferenceObject(PVOID Object)
{
    ChangeReference(Object, -1, "ObfDereferenceObject");
    return 0;
}

NTSTATUS ObReferenceObjectByName(PUNICODE_STRING ObjectName, ULONG, PACCESS_STATE, ACCESS_MASK, POBJECT_TYPE ObjectType,
                                 KPROCESSOR_MODE, PVOID, PVOID* Object)
{
    Machine& machine = Machine::Current();
    std::string name = sim::ToUtf8(ObjectName);
    PVOID found = machine.names().FindDriver(name);
    POBJECT_TYPE foundType = *IoDriverObjectType;
    if (found == nullptr) {
        found = machine.names().ResolveDevice(name);
        foundType = *IoDeviceObjectType;
    }
    if (found == nullptr)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    if (ObjectType != nullptr && ObjectType != foundType)
        return STATUS_OBJECT_TYPE_MISMATCH;
    ChangeReference(found, 1, "ObReferenceObjectByName");
    *Object = found;
    return STATUS_SUCCESS;
}

NTSTATUS ObQueryNameString(PVOID Object, POBJECT_NAME_INFORMATION ObjectNameInfo, ULONG Length, PULONG ReturnLength)
{
    std::optional<std::string> name = Machine::Current().names().DeviceName(static_cast<PDEVICE_OBJECT>(Object));
    std::u16string text = name ? sim::ToUtf16(*name) : std::u16string();
    ULONG needed = static_cast<ULONG>(sizeof(OBJECT_NAME_INFORMATION) + (text.size() + 1) * sizeof(WCHAR));
    *ReturnLength = needed;
    if (Length < needed)
        return STATUS_INFO_LENGTH_MISMATCH;
    auto* buffer = reinterpret_cast<WCHAR*>(ObjectNameInfo + 1);
    memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    ObjectNameInfo->Name.Buffer = buffer;
    ObjectNameInfo->Name.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    ObjectNameInfo->Name.MaximumLength = static_cast<USHORT>((text.size() + 1) * sizeof(WCHAR));
    return STATUS_SUCCESS;
}

NTSTATUS IoGetDeviceObjectPointer(PUNICODE_STRING ObjectName, ACCESS_MASK DesiredAccess, PFILE_OBJECT* FileObject,
                                  PDEVICE_OBJECT* DeviceObject)
{
    Machine& machine = Machine::Current();
    PDEVICE_OBJECT device = machine.names().ResolveDevice(sim::ToUtf8(ObjectName));
    if (device == nullptr)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    std::shared_ptr<sim::FileRecord> file;
    NTSTATUS status = machine.io().OpenFile(device, false, true, &file, DesiredAccess);
    if (!NT_SUCCESS(status))
        return status;
    // The handle of the open is closed at once; the reference keeps the file object.
    machine.io().CleanupFile(file);
    *FileObject = &file->object;
    *DeviceObject = IoGetAttachedDevice(device);
    return STATUS_SUCCESS;
}
