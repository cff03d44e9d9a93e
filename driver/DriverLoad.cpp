// Load and unload: the service key's DeviceType, the walk over the
// Parameters subkeys, the control and port filter devices with their names,
// links and device-map entries, attachment to the captured ports.
#include "FilterDriver.h"
#include "SystemRoutines.h"

namespace {

constexpr ULONG kMaxSubkeys = 100;
constexpr ULONG kMaxValues = 100;
constexpr ULONG kMaxValueDataBytes = 128;
constexpr USHORT kNameChars = 32;  // the 64-byte name buffers
constexpr ULONG kDefaultMaxBytes = 1000000;
constexpr ULONG kServiceKeyAccess = 0x20019;
constexpr ULONG kEnumerationBufferBytes = 512;

// Filters made since load: the next one's source number is one more.
ULONG g_FiltersMade = 0;

// Windows 8 and later have no-execute non-paged pool and mappings; earlier
// systems reject them.
void ChooseMemoryTypes()
{
    ULONG major = 0;
    ULONG minor = 0;
    PsGetVersion(&major, &minor, nullptr, nullptr);
    bool noExecute = major > 6 || (major == 6 && minor >= 2);
    g_NonPagedPool = noExecute ? NonPagedPoolNx : NonPagedPool;
    g_MappingPriority = static_cast<MM_PAGE_PRIORITY>(NormalPagePriority | (noExecute ? MdlMappingNoExecute : 0));
}

struct NameText {
    WCHAR chars[kNameChars];
    USHORT length;  // characters
};

USHORT TextLength(PCWSTR text)
{
    USHORT length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

bool StartsWith(const WCHAR* text, ULONG length, PCWSTR prefix)
{
    ULONG prefixLength = TextLength(prefix);
    if (length < prefixLength)
        return false;
    for (ULONG i = 0; i < prefixLength; ++i) {
        if (text[i] != prefix[i])
            return false;
    }
    return true;
}

// Takes text up to its first zero or its length; false when it is empty or
// longer than the name buffers.
bool ToNameText(const WCHAR* text, ULONG length, NameText* out)
{
    ULONG used = 0;
    while (used < length && text[used] != 0)
        ++used;
    if (used == 0 || used > kNameChars)
        return false;
    RtlCopyMemory(out->chars, text, used * sizeof(WCHAR));
    out->length = static_cast<USHORT>(used);
    return true;
}

void AppendText(UNICODE_STRING* name, const WCHAR* text, USHORT length)
{
    RtlCopyMemory(reinterpret_cast<UCHAR*>(name->Buffer) + name->Length, text, length * sizeof(WCHAR));
    name->Length = static_cast<USHORT>(name->Length + length * sizeof(WCHAR));
}

// prefix + text + suffix as an owned counted string (zero-terminated too).
NTSTATUS BuildName(UNICODE_STRING* name, PCWSTR prefix, const NameText& text, PCWSTR suffix)
{
    USHORT chars = static_cast<USHORT>(TextLength(prefix) + text.length + TextLength(suffix));
    name->Length = 0;
    name->MaximumLength = static_cast<USHORT>((chars + 1) * sizeof(WCHAR));
    name->Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(g_NonPagedPool, name->MaximumLength, kPoolTag));
    if (name->Buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    AppendText(name, prefix, TextLength(prefix));
    AppendText(name, text.chars, text.length);
    AppendText(name, suffix, TextLength(suffix));
    name->Buffer[chars] = 0;
    return STATUS_SUCCESS;
}

void FreeName(UNICODE_STRING* name)
{
    if (name->Buffer != nullptr)
        ExFreePoolWithTag(name->Buffer, kPoolTag);
    name->Buffer = nullptr;
    name->Length = 0;
    name->MaximumLength = 0;
}

NTSTATUS ToCreateDeviceName(UNICODE_STRING* name, const NameText& base)
{
    return BuildName(name, KTEXT("\\Device\\"), base, KTEXT("0"));
}

NTSTATUS ToCreateSymbolName(UNICODE_STRING* name, const NameText& base)
{
    return BuildName(name, KTEXT("\\DosDevices\\"), base, KTEXT(""));
}

}  // namespace

// Data of a named value, copied only when it fits the caller's buffer.
bool GetRegistryKeyValue(HANDLE key, PCWSTR valueName, ULONG valueNameBytes, PVOID data, ULONG dataBytes,
                         ULONG* returnedBytes)
{
    ULONGLONG buffer[(sizeof(KEY_VALUE_PARTIAL_INFORMATION) + kMaxValueDataBytes) / sizeof(ULONGLONG) + 1];
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(valueName);
    name.Length = static_cast<USHORT>(valueNameBytes);
    name.MaximumLength = name.Length;
    ULONG resultLength = 0;
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    NTSTATUS status = ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof buffer, &resultLength);
    if (status != STATUS_SUCCESS || info->DataLength > dataBytes)
        return false;
    RtlCopyMemory(data, info->Data, info->DataLength);
    *returnedBytes = info->DataLength;
    return true;
}

namespace {

ULONG ReadDword(HANDLE key, PCWSTR valueName, ULONG fallback)
{
    ULONG value = 0;
    ULONG bytes = 0;
    if (!GetRegistryKeyValue(key, valueName, TextLength(valueName) * sizeof(WCHAR), &value, sizeof value, &bytes) ||
        bytes != sizeof value)
        return fallback;
    return value;
}

// MaxByte, bounded so that no byte count of the list can wrap.
ULONG ReadByteLimit(HANDLE key)
{
    ULONG maxBytes = ReadDword(key, CAPTURE_VALUE_MAX_BYTES_W, kDefaultMaxBytes);
    return maxBytes < kMaxCaptureBytes ? maxBytes : kMaxCaptureBytes;
}

bool ReadNameValue(HANDLE key, const WCHAR* valueName, ULONG valueNameBytes, NameText* text)
{
    WCHAR data[kMaxValueDataBytes / sizeof(WCHAR)];
    ULONG bytes = 0;
    if (!GetRegistryKeyValue(key, valueName, valueNameBytes, data, sizeof data, &bytes))
        return false;
    return ToNameText(data, bytes / sizeof(WCHAR), text);
}

NTSTATUS OpenKey(HANDLE* key, PUNICODE_STRING path, HANDLE root, ACCESS_MASK access)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, root, nullptr);
    return ZwOpenKey(key, access, &attributes);
}

// Releases what the head owns (link, device-map entry, names, records) and
// deletes the device. Fields are set only once the thing they own exists.
void ReleaseDevice(PDEVICE_OBJECT device)
{
    DeviceHead* head = HeadOf(device);
    if (head->serialCommValueName != nullptr) {
        RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, KTEXT("SERIALCOMM"), head->serialCommValueName);
        ExFreePoolWithTag(head->serialCommValueName, kPoolTag);
    }
    if (head->linkName.Buffer != nullptr) {
        IoDeleteSymbolicLink(&head->linkName);
        FreeName(&head->linkName);
    }
    FreeName(&head->baseName);
    if (head->kind == kControlDeviceKind)
        ZR_DeleteList(&ControlOf(device)->records);
    IoDeleteDevice(device);
}

NTSTATUS CreateNamedDevice(PDRIVER_OBJECT driver, ULONG extensionSize, const NameText& base, DEVICE_TYPE type,
                           DeviceAudience audience, PDEVICE_OBJECT* device)
{
    UNICODE_STRING deviceName;
    NTSTATUS status = ToCreateDeviceName(&deviceName, base);
    if (!NT_SUCCESS(status))
        return status;
    // Secure open: an open of a name below the device (\\.\ZrVlObj1\x) is
    // checked against the device's security as an open of the device is.
    status = IoCreateDevice(driver, extensionSize, &deviceName, type, FILE_DEVICE_SECURE_OPEN, TRUE, device);
    FreeName(&deviceName);
    if (!NT_SUCCESS(status))
        return status;
    (*device)->Flags |= DO_BUFFERED_IO;
    RtlZeroMemory((*device)->DeviceExtension, extensionSize);
    DeviceHead* head = HeadOf(*device);
    status = BuildName(&head->baseName, KTEXT(""), base, KTEXT(""));
    if (NT_SUCCESS(status))
        status = RestrictDeviceAccess(*device, audience);
    if (!NT_SUCCESS(status))
        ReleaseDevice(*device);
    return status;
}

NTSTATUS CreateLink(PDEVICE_OBJECT device, const NameText& base)
{
    UNICODE_STRING link;
    NTSTATUS status = ToCreateSymbolName(&link, base);
    if (!NT_SUCCESS(status))
        return status;
    UNICODE_STRING deviceName;
    status = ToCreateDeviceName(&deviceName, base);
    if (NT_SUCCESS(status)) {
        status = IoCreateSymbolicLink(&link, &deviceName);
        FreeName(&deviceName);
    }
    if (!NT_SUCCESS(status)) {
        FreeName(&link);
        return status;
    }
    HeadOf(device)->linkName = link;
    return STATUS_SUCCESS;
}

// A virtual port is listed in the serial device map: "V" + base name = base name.
NTSTATUS PublishSerialPort(PDEVICE_OBJECT device, const NameText& base)
{
    UNICODE_STRING valueName;
    NTSTATUS status = BuildName(&valueName, KTEXT("V"), base, KTEXT(""));
    if (!NT_SUCCESS(status))
        return status;
    DeviceHead* head = HeadOf(device);
    status = RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, KTEXT("SERIALCOMM"), valueName.Buffer, REG_SZ,
                                   head->baseName.Buffer, head->baseName.Length + sizeof(WCHAR));
    if (!NT_SUCCESS(status)) {
        FreeName(&valueName);
        return status;
    }
    head->serialCommValueName = valueName.Buffer;
    return STATUS_SUCCESS;
}

bool IsSerialPortName(const WCHAR* text, ULONG length)
{
    return StartsWith(text, length, CAPTURE_PORT_NAME_PREFIX_W);
}

ULONG EffectiveForm(const NameText& base, ULONG form)
{
    if (form != CAPTURE_FORM_STANDARD_MONITOR)
        return form;
    return IsSerialPortName(base.chars, base.length) ? CAPTURE_FORM_TEXT : CAPTURE_FORM_STANDARD_MONITOR;
}

bool IsVirtualPortForm(ULONG form)
{
    return form != CAPTURE_FORM_STANDARD_MONITOR;
}

NTSTATUS CreateCtrlDeviceObject(PDRIVER_OBJECT driver, const NameText& base, ULONG form, ULONG maxBytes,
                                PDEVICE_OBJECT* device)
{
    DEVICE_TYPE type = IsVirtualPortForm(form) ? FILE_DEVICE_SERIAL_PORT : FILE_DEVICE_UNKNOWN;
    DeviceAudience audience = IsVirtualPortForm(form) ? DeviceAudience_InteractiveUsers : DeviceAudience_Administrators;
    NTSTATUS status = CreateNamedDevice(driver, sizeof(ControlExtension), base, type, audience, device);
    if (!NT_SUCCESS(status))
        return status;
    ControlExtension* control = ControlOf(*device);
    control->head.kind = kControlDeviceKind;
    control->maxBytes = maxBytes;
    control->outputForm = form;
    ZR_InitializeList(&control->records, maxBytes);
    VirtualPortPrepare(control);
    status = CreateLink(*device, base);
    if (NT_SUCCESS(status) && IsVirtualPortForm(form))
        status = PublishSerialPort(*device, base);
    if (!NT_SUCCESS(status))
        ReleaseDevice(*device);
    return status;
}

}  // namespace

bool SamePortName(const UCHAR* a, const UCHAR* b)
{
    for (ULONG i = 0; i < kPortNameBytes; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

void ToPortName(const WCHAR* name, ULONG length, UCHAR* portName)
{
    for (ULONG i = 0; i < kPortNameBytes; ++i)
        portName[i] = i < length ? static_cast<UCHAR>(name[i] & 0xFF) : 0;
}

namespace {

// Makes the new filter's control device a listener of every other attached
// filter of this port that has a primary control device and room for one
// more (a filter that is not attached hears nothing to pass on).
ULONG ListenThroughExistingFilters(PDRIVER_OBJECT driver, PDEVICE_OBJECT newFilter)
{
    FilterExtension* added = FilterOf(newFilter);
    const UCHAR* portName = ControlOf(added->controlDevice)->portNames[added->portIndex];
    ULONG listening = 0;
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (device == newFilter || HeadOf(device)->kind != kFilterDeviceKind)
            continue;
        FilterExtension* filter = FilterOf(device);
        if (filter->controlDevice == nullptr || filter->listenerCount >= kMaxListeners ||
            filter->lowerDevice == nullptr)
            continue;
        if (!SamePortName(ControlOf(filter->controlDevice)->portNames[filter->portIndex], portName))
            continue;
        filter->listeners[filter->listenerCount] = added->controlDevice;
        filter->listenerPortIndex[filter->listenerCount] = added->portIndex;
        ++filter->listenerCount;
        ++listening;
    }
    return listening;
}

constexpr ULONG kLowerDeviceFlags = DO_BUFFERED_IO | DO_DIRECT_IO | DO_POWER_PAGABLE;

// A filter shows the device below it to the I/O manager, which sets up a
// request's buffers by the top device's flags, and to the drivers above it:
// type, characteristics, I/O method and power paging are the port's. Secure
// open stays whatever the port chose. Taken on before the attach: a request
// can reach the filter the moment it is on the stack.
void TakeOnLowerDeviceTraits(PDEVICE_OBJECT filter, PDEVICE_OBJECT lower)
{
    filter->DeviceType = lower->DeviceType;
    filter->Characteristics = lower->Characteristics | FILE_DEVICE_SECURE_OPEN;
    filter->Flags = (filter->Flags & ~kLowerDeviceFlags) | (lower->Flags & kLowerDeviceFlags);
    filter->StackSize = static_cast<CCHAR>(lower->StackSize + 1);
}

typedef NTSTATUS(NTAPI* AttachSafeRoutine)(PDEVICE_OBJECT, PDEVICE_OBJECT, PDEVICE_OBJECT*);

// Puts the filter on top of the port's stack with lowerDevice set before a
// request can arrive: the safe attach stores it under the I/O manager's own
// lock; a system without that call (NT 4.0, 2000) is given the device that
// is on top now, which the attach then confirms.
PDEVICE_OBJECT AttachOnTop(PDEVICE_OBJECT device, PDEVICE_OBJECT target)
{
    FilterExtension* filter = FilterOf(device);
    auto attachSafe =
        reinterpret_cast<AttachSafeRoutine>(FindSystemRoutine(KTEXT("IoAttachDeviceToDeviceStackSafe")));
    if (attachSafe != nullptr)
        return NT_SUCCESS(attachSafe(device, target, &filter->lowerDevice)) ? filter->lowerDevice : nullptr;
    filter->lowerDevice = IoGetAttachedDevice(target);
    filter->lowerDevice = IoAttachDeviceToDeviceStack(device, target);
    return filter->lowerDevice;
}

void AttachToPort(PDEVICE_OBJECT device, PUNICODE_STRING devicePath)
{
    PDEVICE_OBJECT target = nullptr;
    if (NT_SUCCESS(ReferencePortDevice(devicePath, &target)))
        AttachToPortDevice(device, target);
}

}  // namespace

// The port's removal may reach the filter the moment it is on the stack and
// then releases targetDevice: it is set before the attach.
bool AttachToPortDevice(PDEVICE_OBJECT device, PDEVICE_OBJECT target)
{
    TakeOnLowerDeviceTraits(device, IoGetAttachedDevice(target));
    FilterOf(device)->targetDevice = target;
    PDEVICE_OBJECT lower = AttachOnTop(device, target);
    if (lower == nullptr) {
        FilterOf(device)->targetDevice = nullptr;
        ObDereferenceObject(target);
        return false;
    }
    // Another driver may have attached in between.
    TakeOnLowerDeviceTraits(device, lower);
    return true;
}

namespace {

// A port that another capture object already captures is shared through that
// object's filter instead of stacking a second filter of ours on the port
// (whose opening at load would itself be captured as traffic). When every
// such filter has its listeners, the object stacks a filter of its own.
void AttachOrListen(PDRIVER_OBJECT driver, PDEVICE_OBJECT device, PUNICODE_STRING devicePath)
{
    if (ListenThroughExistingFilters(driver, device) == 0)
        AttachToPort(device, devicePath);
}

NTSTATUS CreatePortFilter(PDRIVER_OBJECT driver, const NameText& filterName, const NameText& portValueName,
                          const NameText& devicePath, PDEVICE_OBJECT control)
{
    PDEVICE_OBJECT device;
    NTSTATUS status = CreateNamedDevice(driver, sizeof(FilterExtension), filterName, FILE_DEVICE_UNKNOWN,
                                        DeviceAudience_Administrators, &device);
    if (!NT_SUCCESS(status))
        return status;
    FilterExtension* filter = FilterOf(device);
    filter->head.kind = kFilterDeviceKind;
    filter->sourceNumber = ++g_FiltersMade;
    filter->captureEnabled = 1;
    GateInitialize(&filter->gate);
    filter->controlDevice = control;
    ControlExtension* owner = ControlOf(control);
    filter->portIndex = owner->portCount;
    ToPortName(portValueName.chars, portValueName.length, owner->portNames[owner->portCount]);
    ++owner->portCount;
    status = CreateLink(device, filterName);
    if (!NT_SUCCESS(status)) {
        ReleaseDevice(device);
        return status;
    }
    UNICODE_STRING path;
    status = BuildName(&path, KTEXT(""), devicePath, KTEXT(""));
    if (!NT_SUCCESS(status))
        return status;
    AttachOrListen(driver, device, &path);
    FreeName(&path);
    return STATUS_SUCCESS;
}

constexpr ULONG kLetters = 26;

// The subkey's part of a filter name: 'A' to 'Z' for subkeys 0 to 25, then a
// letter and a digit, "A0" to "H3", for 26 to 99. A name that ends in a digit
// has the two-character part and one that ends in a letter the one-character
// part, so no two ports of any subkeys share a filter name.
USHORT ToSubkeySuffix(ULONG subkeyIndex, WCHAR* suffix)
{
    if (subkeyIndex < kLetters) {
        suffix[0] = static_cast<WCHAR>('A' + subkeyIndex);
        return 1;
    }
    ULONG later = subkeyIndex - kLetters;
    suffix[0] = static_cast<WCHAR>('A' + later / 10);
    suffix[1] = static_cast<WCHAR>('0' + later % 10);
    return 2;
}

// "FLT" + port value name + the subkey's part.
bool ToFilterName(const NameText& portValueName, ULONG subkeyIndex, NameText* filterName)
{
    WCHAR suffix[2];
    USHORT suffixLength = ToSubkeySuffix(subkeyIndex, suffix);
    if (3 + portValueName.length + suffixLength > kNameChars)
        return false;
    const WCHAR prefix[] = {'F', 'L', 'T'};
    RtlCopyMemory(filterName->chars, prefix, sizeof prefix);
    RtlCopyMemory(filterName->chars + 3, portValueName.chars, portValueName.length * sizeof(WCHAR));
    RtlCopyMemory(filterName->chars + 3 + portValueName.length, suffix, suffixLength * sizeof(WCHAR));
    filterName->length = static_cast<USHORT>(3 + portValueName.length + suffixLength);
    return true;
}

struct WalkBuffers {
    PVOID enumeration;  // paged pool, kEnumerationBufferBytes
};

// One port value of a subkey. Skipped (success) when it cannot be used.
NTSTATUS AddPortValue(PDRIVER_OBJECT driver, HANDLE key, const KEY_VALUE_BASIC_INFORMATION* value, ULONG subkeyIndex,
                      PDEVICE_OBJECT control)
{
    NameText valueName;
    NameText devicePath;
    NameText filterName;
    if (control == nullptr || ControlOf(control)->portCount >= kMaxPorts ||
        !ToNameText(value->Name, value->NameLength / sizeof(WCHAR), &valueName) ||
        !ToFilterName(valueName, subkeyIndex, &filterName) ||
        !ReadNameValue(key, value->Name, value->NameLength, &devicePath))
        return STATUS_SUCCESS;
    return CreatePortFilter(driver, filterName, valueName, devicePath, control);
}

// The values of one Parameters subkey, in enumeration order: a port value
// feeds the control device of the last base name before it; a port value
// before any base name has nothing to feed and is skipped.
NTSTATUS WalkSubkey(PDRIVER_OBJECT driver, HANDLE key, ULONG subkeyIndex, const WalkBuffers& buffers)
{
    PDEVICE_OBJECT control = nullptr;
    auto* value = static_cast<KEY_VALUE_BASIC_INFORMATION*>(buffers.enumeration);
    for (ULONG index = 0; index < kMaxValues; ++index) {
        ULONG resultLength = 0;
        NTSTATUS status =
            ZwEnumerateValueKey(key, index, KeyValueBasicInformation, value, kEnumerationBufferBytes, &resultLength);
        if (status == STATUS_NO_MORE_ENTRIES)
            break;
        if (status != STATUS_SUCCESS)
            continue;
        ULONG nameLength = value->NameLength / sizeof(WCHAR);
        if (StartsWith(value->Name, nameLength, CAPTURE_VALUE_BASE_NAME_W)) {
            NameText base;
            if (!ReadNameValue(key, value->Name, value->NameLength, &base))
                return STATUS_SUCCESS;
            ULONG maxBytes = ReadByteLimit(key);
            ULONG form = EffectiveForm(base, ReadDword(key, CAPTURE_VALUE_FORM_W, CAPTURE_FORM_STANDARD_MONITOR));
            status = CreateCtrlDeviceObject(driver, base, form, maxBytes, &control);
        } else if (IsSerialPortName(value->Name, nameLength)) {
            status = AddPortValue(driver, key, value, subkeyIndex, control);
        }
        if (!NT_SUCCESS(status))
            return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS OpenParametersKey(PUNICODE_STRING registryPath, HANDLE* key)
{
    PCWSTR suffix = KTEXT("\\Parameters");
    UNICODE_STRING path;
    path.Length = 0;
    path.MaximumLength = static_cast<USHORT>(registryPath->Length + TextLength(suffix) * sizeof(WCHAR));
    path.Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, path.MaximumLength, kPoolTag));
    if (path.Buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    AppendText(&path, registryPath->Buffer, static_cast<USHORT>(registryPath->Length / sizeof(WCHAR)));
    AppendText(&path, suffix, TextLength(suffix));
    NTSTATUS status = OpenKey(key, &path, nullptr, MAXIMUM_ALLOWED);
    ExFreePoolWithTag(path.Buffer, kPoolTag);
    return status;
}

void WalkSubkeys(PDRIVER_OBJECT driver, HANDLE parameters, const WalkBuffers& buffers)
{
    auto* subkey = static_cast<KEY_BASIC_INFORMATION*>(buffers.enumeration);
    for (ULONG index = 0; index < kMaxSubkeys; ++index) {
        ULONG resultLength = 0;
        NTSTATUS status =
            ZwEnumerateKey(parameters, index, KeyBasicInformation, subkey, kEnumerationBufferBytes, &resultLength);
        if (status == STATUS_NO_MORE_ENTRIES)
            return;
        if (status != STATUS_SUCCESS)
            continue;
        UNICODE_STRING name;
        name.Buffer = subkey->Name;
        name.Length = static_cast<USHORT>(subkey->NameLength);
        name.MaximumLength = name.Length;
        HANDLE key;
        if (!NT_SUCCESS(OpenKey(&key, &name, parameters, MAXIMUM_ALLOWED)))
            continue;
        status = WalkSubkey(driver, key, index, buffers);
        ZwClose(key);
        if (!NT_SUCCESS(status))
            return;
    }
}

void CreateCaptureObjects(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    HANDLE parameters;
    if (!NT_SUCCESS(OpenParametersKey(registryPath, &parameters)))
        return;
    WalkBuffers buffers;
    buffers.enumeration = ExAllocatePoolWithTag(PagedPool, kEnumerationBufferBytes, kPoolTag);
    if (buffers.enumeration != nullptr) {
        WalkSubkeys(driver, parameters, buffers);
        ExFreePoolWithTag(buffers.enumeration, kPoolTag);
    }
    ZwClose(parameters);
}

ULONG ReadDeviceType(PUNICODE_STRING registryPath)
{
    HANDLE key;
    if (!NT_SUCCESS(OpenKey(&key, registryPath, nullptr, kServiceKeyAccess)))
        return 1;
    ULONG deviceType = ReadDword(key, KTEXT("DeviceType"), 1);
    ZwClose(key);
    return deviceType;
}

void DetachFilters(PDRIVER_OBJECT driver)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind == kFilterDeviceKind)
            DetachFromPort(FilterOf(device));
    }
}

// Wine unloads while a program still holds a port: its queued requests end here.
void ShutDownVirtualPorts(PDRIVER_OBJECT driver)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr; device = device->NextDevice) {
        if (HeadOf(device)->kind == kControlDeviceKind)
            VirtualPortShutdown(ControlOf(device));
    }
}

void WaitForFilterDispatches()
{
    LARGE_INTEGER interval;
    interval.QuadPart = -100000;  // 10 ms
    while (InterlockedCompareExchange(&g_FilterDispatches, 0, 0) != 0)
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

// Dispatch routines of the filters return quickly once nothing is attached
// any more; requests that they passed down may stay pending for ever (a
// terminal's wait for a port event): their completion routines are taken
// back instead of waited for.
void WaitForRequestsInFlight()
{
    WaitForFilterDispatches();
    GateCloseAndWait(&g_RecordProduction, false);
    TakeBackCompletionRoutines();
}

}  // namespace

POOL_TYPE g_NonPagedPool = NonPagedPool;
MM_PAGE_PRIORITY g_MappingPriority = NormalPagePriority;

void DetachFromPort(FilterExtension* filter)
{
    if (filter->lowerDevice == nullptr || InterlockedExchange(&filter->detached, 1) != 0)
        return;
    IoDetachDevice(filter->lowerDevice);
    ObDereferenceObject(filter->targetDevice);
}

#ifndef VANTREL_SYSTEM_ROUTINE_LOOKUP
// Windows NT 4.0 tells no port arrivals: a removed port is captured again
// from the next start.
void LookForReturnedPort(PDEVICE_OBJECT) {}
#endif

VOID NTAPI TestCom_Unload(PDRIVER_OBJECT driver)
{
#ifdef VANTREL_SYSTEM_ROUTINE_LOOKUP
    StopWatchingPortArrivals();
#endif
    InterlockedExchange(&g_Cycling, 0);
    DetachFilters(driver);
    WaitForRequestsInFlight();
    ShutDownVirtualPorts(driver);
    while (driver->DeviceObject != nullptr)
        ReleaseDevice(driver->DeviceObject);
}

extern "C" NTSTATUS NTAPI ZRVTRLFLT_ENTRY(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    InterlockedExchange(&g_FilterDispatches, 0);
    GateInitialize(&g_RecordProduction);
    InitializeRequestsInFlight();
    InitializeRecordStamps();
    InterlockedExchange(&g_Cycling, 1);
    g_FiltersMade = 0;
    ChooseMemoryTypes();
    ULONG deviceType = ReadDeviceType(registryPath);
    // Requests reach a filter as soon as it is attached, and the walk itself
    // opens ports through the filters it attached before.
    for (ULONG function = 0; function <= IRP_MJ_MAXIMUM_FUNCTION; ++function)
        driver->MajorFunction[function] = TestCom_Dispatch;
#ifdef VANTREL_POWER_PASSTHROUGH
    if (deviceType != 0)
        driver->MajorFunction[IRP_MJ_POWER] = VA_Power;
#else
    (void)deviceType;
#endif
    driver->DriverUnload = TestCom_Unload;
    CreateCaptureObjects(driver, registryPath);
#ifdef VANTREL_SYSTEM_ROUTINE_LOOKUP
    WatchPortArrivals(driver);
#endif
    return STATUS_SUCCESS;
}
