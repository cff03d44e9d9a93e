// Load and unload: the pairs named in the service's Parameters key become
// two serial port devices each, with their DOS names and their entries in the
// serial device map.
#include "TestPort.h"

#ifndef STATUS_DEVICE_CONFIGURATION_ERROR
#define STATUS_DEVICE_CONFIGURATION_ERROR ((NTSTATUS)0xC0000182L)
#endif

namespace testportdriver {

namespace {

const ULONG kValueBufferSize = 1024;

struct PortNames {
    WCHAR first[TESTPORT_MAX_NAME + 1];
    WCHAR second[TESTPORT_MAX_NAME + 1];
};

void InitBuffer(PUNICODE_STRING text, PWSTR buffer, USHORT bytes)
{
    text->Buffer = buffer;
    text->Length = 0;
    text->MaximumLength = bytes;
}

bool IsNameChar(WCHAR c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Reads one name of letters and digits from `text`, up to `end` or a comma.
bool ParseName(const WCHAR*& text, const WCHAR* end, WCHAR* name)
{
    ULONG length = 0;
    while (text < end && *text == ' ')
        ++text;
    while (text < end && IsNameChar(*text)) {
        if (length == TESTPORT_MAX_NAME)
            return false;
        name[length++] = *text++;
    }
    while (text < end && *text == ' ')
        ++text;
    name[length] = 0;
    return length > 0;
}

bool SameName(const WCHAR* a, const WCHAR* b)
{
    for (; *a != 0 || *b != 0; ++a, ++b) {
        WCHAR x = (*a >= 'a' && *a <= 'z') ? static_cast<WCHAR>(*a - 32) : *a;
        WCHAR y = (*b >= 'a' && *b <= 'z') ? static_cast<WCHAR>(*b - 32) : *b;
        if (x != y)
            return false;
    }
    return true;
}

// "COM11,COM12": the text ends at its first zero or at its length.
bool ParsePair(const WCHAR* text, ULONG chars, PortNames* names)
{
    const WCHAR* end = text;
    while (end < text + chars && *end != 0)
        ++end;
    if (!ParseName(text, end, names->first) || text == end || *text++ != ',')
        return false;
    return ParseName(text, end, names->second) && text == end && !SameName(names->first, names->second);
}

NTSTATUS CreatePair(PDRIVER_OBJECT driver, ULONG number, const PortNames& names)
{
    TestPortEnd* first;
    TestPortEnd* second;
    NTSTATUS status = CreateEnd(driver, number, names.first, &first);
    if (!NT_SUCCESS(status))
        return status;
    status = CreateEnd(driver, number + 1, names.second, &second);
    if (!NT_SUCCESS(status)) {
        DeleteEnd(first);
        return status;
    }
    first->pairIndex = number / 2;
    second->pairIndex = number / 2;
    KeInitializeSpinLock(&first->pairLock);
    first->lock = &first->pairLock;
    second->lock = &first->pairLock;
    // Each end keeps its peer's device (and the pair lock in it) until it goes
    // itself, whichever of the two is unplugged first.
    ObReferenceObject(first->device);
    ObReferenceObject(second->device);
    first->peer = second;
    second->peer = first;
    ObReferenceObject(first->device);
    second->lockDevice = first->device;
    return STATUS_SUCCESS;
}

// A REG_SZ value of the Parameters key, or false for any other value.
bool PairOfValue(const KEY_VALUE_FULL_INFORMATION* info, ULONG size, PortNames* names)
{
    if (info->Type != REG_SZ || info->DataOffset > size || info->DataLength > size - info->DataOffset)
        return false;
    const WCHAR* text = reinterpret_cast<const WCHAR*>(reinterpret_cast<const UCHAR*>(info) + info->DataOffset);
    return ParsePair(text, info->DataLength / sizeof(WCHAR), names);
}

// A REG_DWORD option value of the Parameters key named `option`.
bool DwordOptionOfValue(const KEY_VALUE_FULL_INFORMATION* info, ULONG size, PCWSTR option, ULONG* value)
{
    UNICODE_STRING expected;
    RtlInitUnicodeString(&expected, option);
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(info->Name);
    name.Length = static_cast<USHORT>(info->NameLength);
    name.MaximumLength = name.Length;
    if (info->Type != REG_DWORD || info->DataLength != sizeof(ULONG) || info->DataOffset > size ||
        size - info->DataOffset < sizeof(ULONG) || !RtlEqualUnicodeString(&name, &expected, TRUE))
        return false;
    RtlCopyMemory(value, reinterpret_cast<const UCHAR*>(info) + info->DataOffset, sizeof(ULONG));
    return true;
}

struct PortOptions {
    ULONG openInformation;  // of every open
    ULONG directIoPairs;    // bit n: the n-th pair uses direct I/O
    ULONG removablePairs;   // bit n: the n-th pair can be unplugged
};

bool OptionOfValue(const KEY_VALUE_FULL_INFORMATION* info, ULONG size, PortOptions* options)
{
    return DwordOptionOfValue(info, size, KTEXT_OF(TESTPORT_OPEN_INFORMATION_VALUE), &options->openInformation) ||
           DwordOptionOfValue(info, size, KTEXT_OF(TESTPORT_DIRECT_IO_PAIRS_VALUE), &options->directIoPairs) ||
           DwordOptionOfValue(info, size, KTEXT_OF(TESTPORT_REMOVABLE_PAIRS_VALUE), &options->removablePairs);
}

// Options may follow the pairs in the key, so they apply once all ends exist.
void ApplyOptions(PDRIVER_OBJECT driver, const PortOptions& options)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != NULL; device = device->NextDevice) {
        TestPortEnd* end = EndOf(device);
        end->openInformation = options.openInformation;
        if ((options.directIoPairs >> end->pairIndex & 1) != 0)
            UseDirectIo(end);
        end->removable = (options.removablePairs >> end->pairIndex & 1) != 0;
        if (end->removable)
            PublishPortInterface(end);
    }
}

ULONG CreatePairsOfKey(PDRIVER_OBJECT driver, HANDLE key, KEY_VALUE_FULL_INFORMATION* info)
{
    ULONG pairs = 0;
    PortOptions options = {0, 0, 0};
    for (ULONG index = 0; pairs < TESTPORT_MAX_PAIRS; ++index) {
        ULONG size = 0;
        NTSTATUS status = ZwEnumerateValueKey(key, index, KeyValueFullInformation, info, kValueBufferSize, &size);
        if (status == STATUS_NO_MORE_ENTRIES)
            break;
        if (!NT_SUCCESS(status) || OptionOfValue(info, size, &options))
            continue;
        PortNames names;
        // Values too long for the buffer are no pair and are skipped.
        if (PairOfValue(info, size, &names) && NT_SUCCESS(CreatePair(driver, 2 * pairs, names)))
            ++pairs;
    }
    ApplyOptions(driver, options);
    g_EndsMade = 2 * pairs;
    return pairs;
}

ULONG CreatePairs(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    USHORT pathBytes = static_cast<USHORT>(registryPath->Length + sizeof(KTEXT("\\" TESTPORT_PARAMETERS_KEY)));
    UCHAR* buffer =
        static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, pathBytes + kValueBufferSize, TESTPORT_POOL_TAG));
    if (buffer == NULL)
        return 0;
    UNICODE_STRING path;
    InitBuffer(&path, reinterpret_cast<PWSTR>(buffer + kValueBufferSize), pathBytes);
    RtlAppendUnicodeStringToString(&path, registryPath);
    RtlAppendUnicodeToString(&path, KTEXT("\\" TESTPORT_PARAMETERS_KEY));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    HANDLE key;
    ULONG pairs = 0;
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        pairs = CreatePairsOfKey(driver, key, reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(buffer));
        ZwClose(key);
    }
    ExFreePoolWithTag(buffer, TESTPORT_POOL_TAG);
    return pairs;
}

NTSTATUS NTAPI TestPortUnsupported(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);  // completed
}

NTSTATUS NTAPI TestPortFlush(PDEVICE_OBJECT, PIRP irp)
{
    return CompleteNow(irp, STATUS_SUCCESS, 0);  // completed: nothing is ever kept for sending
}

// Wine unloads while handles are still open: everything pending ends first.
VOID NTAPI TestPortUnload(PDRIVER_OBJECT driver)
{
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != NULL; device = device->NextDevice)
        CloseEnd(EndOf(device));
    KeFlushQueuedDpcs();
    while (driver->DeviceObject != NULL)
        DeleteEnd(EndOf(driver->DeviceObject));
}

}  // namespace

ULONG g_EndsMade = 0;

NTSTATUS CreateEnd(PDRIVER_OBJECT driver, ULONG number, const WCHAR* portName, TestPortEnd** created)
{
    WCHAR nameBuffer[40];
    WCHAR digitBuffer[12];
    UNICODE_STRING name;
    UNICODE_STRING digits;
    InitBuffer(&name, nameBuffer, sizeof nameBuffer);
    InitBuffer(&digits, digitBuffer, sizeof digitBuffer);
    RtlAppendUnicodeToString(&name, KTEXT_OF(TESTPORT_DEVICE_PREFIX));
    RtlIntegerToUnicodeString(number, 10, &digits);
    RtlAppendUnicodeStringToString(&name, &digits);
    nameBuffer[name.Length / sizeof(WCHAR)] = 0;

    PDEVICE_OBJECT device;
    NTSTATUS status = IoCreateDevice(driver, sizeof(TestPortEnd), &name, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
    if (!NT_SUCCESS(status))
        return status;
    device->Flags |= DO_BUFFERED_IO;
    TestPortEnd* end = EndOf(device);
    RtlZeroMemory(end, sizeof *end);
    end->device = device;
    RtlCopyMemory(end->deviceName, nameBuffer, sizeof nameBuffer);
    RtlCopyMemory(end->portName, portName, sizeof end->portName);
    InitializeListHead(&end->reads);
    InitializeListHead(&end->waits);
    InitReadTiming(end);

    WCHAR linkBuffer[32];
    UNICODE_STRING link;
    InitBuffer(&link, linkBuffer, sizeof linkBuffer);
    RtlAppendUnicodeToString(&link, KTEXT("\\DosDevices\\"));
    RtlAppendUnicodeToString(&link, end->portName);
    status = IoCreateSymbolicLink(&link, &name);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(device);
        return status;
    }
    end->linked = TRUE;
    // Port enumeration lists the port through the serial device map.
    ULONG nameBytes = 0;
    while (end->portName[nameBytes / sizeof(WCHAR)] != 0)
        nameBytes += sizeof(WCHAR);
    end->mapped = NT_SUCCESS(RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, KTEXT("SERIALCOMM"), end->deviceName, REG_SZ,
                                                   end->portName, nameBytes + sizeof(WCHAR)));
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    *created = end;
    return STATUS_SUCCESS;
}

void RemoveNames(TestPortEnd* end)
{
    if (end->mapped)
        RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, KTEXT("SERIALCOMM"), end->deviceName);
    end->mapped = FALSE;
    if (end->linked) {
        WCHAR linkBuffer[32];
        UNICODE_STRING link;
        InitBuffer(&link, linkBuffer, sizeof linkBuffer);
        RtlAppendUnicodeToString(&link, KTEXT("\\DosDevices\\"));
        RtlAppendUnicodeToString(&link, end->portName);
        IoDeleteSymbolicLink(&link);
    }
    end->linked = FALSE;
}

void DeleteEnd(TestPortEnd* end)
{
    RemoveNames(end);
    WithdrawPortInterface(end);
    if (end->peer != NULL)
        ObDereferenceObject(end->peer->device);
    if (end->lockDevice != NULL)
        ObDereferenceObject(end->lockDevice);
    IoDeleteDevice(end->device);
}

NTSTATUS Start(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) {
        driver->MajorFunction[i] = TestPortDispatch;
        g_Handlers[i] = TestPortUnsupported;
    }
    g_Handlers[IRP_MJ_CREATE] = TestPortCreate;
    g_Handlers[IRP_MJ_CLOSE] = TestPortClose;
    g_Handlers[IRP_MJ_CLEANUP] = TestPortCleanup;
    g_Handlers[IRP_MJ_READ] = TestPortRead;
    g_Handlers[IRP_MJ_WRITE] = TestPortWrite;
    g_Handlers[IRP_MJ_DEVICE_CONTROL] = TestPortDeviceControl;
    g_Handlers[IRP_MJ_FLUSH_BUFFERS] = TestPortFlush;
    g_Handlers[IRP_MJ_PNP] = TestPortPlugAndPlay;
    driver->DriverUnload = TestPortUnload;
    return CreatePairs(driver, registryPath) > 0 ? STATUS_SUCCESS : STATUS_DEVICE_CONFIGURATION_ERROR;
}

}  // namespace testportdriver

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    return testportdriver::Start(driver, registryPath);
}
