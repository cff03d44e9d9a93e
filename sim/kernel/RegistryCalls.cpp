// The kernel's registry calls over the machine's one registry: names under
// \Registry\..., UTF-16 data as stored, the information layouts and the
// buffer rules of Windows.
#include <wdm.h>

#include "../Machine.h"
#include "../system/Registry.h"
#include "../system/SystemState.h"
#include "../user/Handles.h"
#include "Kernel.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace sim {
namespace {

NTSTATUS ToNtStatus(RegistryResult result)
{
    switch (result) {
    case RegistryResult::Ok: return STATUS_SUCCESS;
    case RegistryResult::NotFound: return STATUS_OBJECT_NAME_NOT_FOUND;
    case RegistryResult::KeyDeleted: return STATUS_KEY_DELETED;
    case RegistryResult::HasSubkeys: return STATUS_CANNOT_DELETE;
    case RegistryResult::AccessDenied: return STATUS_ACCESS_DENIED;
    case RegistryResult::InvalidHandle: return STATUS_INVALID_HANDLE;
    }
    return STATUS_UNSUCCESSFUL;
}

// Registry calls may wait on the hive lock: only at passive level.
void CheckPassiveLevel(const char* call)
{
    if (CurrentThread().irql != PASSIVE_LEVEL)
        Fail("%s called at IRQL %d (must be PASSIVE_LEVEL)", call, CurrentThread().irql);
}

std::u16string Text(PCUNICODE_STRING text)
{
    if (!text || !text->Buffer)
        return std::u16string();
    return std::u16string(text->Buffer, text->Length / sizeof(WCHAR));
}

std::u16string Text(PCWSTR text)
{
    return text ? std::u16string(text) : std::u16string();
}

// The key an object name leads from and the rest of the path: the root
// directory handle's key, or \Registry for an absolute name.
NTSTATUS ResolveBase(POBJECT_ATTRIBUTES attributes, RegistryKeyPtr& base, std::u16string& path)
{
    if (!attributes || !attributes->ObjectName)
        return STATUS_INVALID_PARAMETER;
    Registry& registry = CurrentRegistry();
    path = Text(attributes->ObjectName);
    if (attributes->RootDirectory) {
        if (!path.empty() && path[0] == u'\\')
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        return ToNtStatus(registry.LookupHandle(reinterpret_cast<uintptr_t>(attributes->RootDirectory), 0, base));
    }
    if (path.empty() || path[0] != u'\\')
        return STATUS_OBJECT_PATH_SYNTAX_BAD;
    std::vector<std::u16string> parts = SplitRegistryPath(path);
    if (parts.empty() || CompareRegistryNames(parts[0], u"Registry") != 0)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    base = registry.Root();
    path = path.substr(path.find(u'\\', 1) == std::u16string::npos ? path.size() : path.find(u'\\', 1));
    return STATUS_SUCCESS;
}

NTSTATUS LookupKey(HANDLE handle, uint32_t access, RegistryKeyPtr& key)
{
    return ToNtStatus(CurrentRegistry().LookupHandle(reinterpret_cast<uintptr_t>(handle), access, key));
}

// An information record: its fixed part, then the name, then (for full value
// information) the data at a ULONG-aligned offset.
class Record {
public:
    explicit Record(size_t fixedSize) : bytes_(fixedSize), fixedSize_(fixedSize) {}
    void Put(size_t offset, ULONG value) { std::memcpy(&bytes_[offset], &value, sizeof value); }
    void Append(const void* data, size_t length)
    {
        const uint8_t* begin = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), begin, begin + length);
    }
    void AlignToUlong() { bytes_.resize((bytes_.size() + 3) & ~size_t{3}); }
    size_t Size() const { return bytes_.size(); }

    // Too small for the fixed part: nothing copied. Too small for all of it:
    // the fixed part and what fits, STATUS_BUFFER_OVERFLOW. The result length
    // is always the size that all of it needs.
    NTSTATUS CopyTo(PVOID buffer, ULONG length, PULONG resultLength) const
    {
        if (!resultLength)
            return STATUS_INVALID_PARAMETER;
        *resultLength = static_cast<ULONG>(bytes_.size());
        if (length < fixedSize_)
            return STATUS_BUFFER_TOO_SMALL;
        if (!buffer)
            return STATUS_INVALID_PARAMETER;
        size_t copied = length < bytes_.size() ? length : bytes_.size();
        std::memcpy(buffer, bytes_.data(), copied);
        return copied < bytes_.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
    }

private:
    std::vector<uint8_t> bytes_;
    size_t fixedSize_;
};

ULONG ByteLength(const std::u16string& name)
{
    return static_cast<ULONG>(name.size() * sizeof(WCHAR));
}

NTSTATUS CopyKeyInformation(const std::u16string& name, KEY_INFORMATION_CLASS kind, PVOID buffer, ULONG length,
                            PULONG resultLength)
{
    if (kind == KeyBasicInformation) {
        Record record(offsetof(KEY_BASIC_INFORMATION, Name));
        record.Put(offsetof(KEY_BASIC_INFORMATION, NameLength), ByteLength(name));
        record.Append(name.data(), ByteLength(name));
        return record.CopyTo(buffer, length, resultLength);
    }
    if (kind == KeyNodeInformation) {
        Record record(offsetof(KEY_NODE_INFORMATION, Name));
        record.Put(offsetof(KEY_NODE_INFORMATION, ClassOffset), 0xFFFFFFFFu);  // no class
        record.Put(offsetof(KEY_NODE_INFORMATION, NameLength), ByteLength(name));
        record.Append(name.data(), ByteLength(name));
        return record.CopyTo(buffer, length, resultLength);
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS CopyValueInformation(const RegistryValue& value, KEY_VALUE_INFORMATION_CLASS kind, PVOID buffer, ULONG length,
                              PULONG resultLength)
{
    ULONG dataLength = static_cast<ULONG>(value.data.size());
    if (kind == KeyValueBasicInformation) {
        Record record(offsetof(KEY_VALUE_BASIC_INFORMATION, Name));
        record.Put(offsetof(KEY_VALUE_BASIC_INFORMATION, Type), value.type);
        record.Put(offsetof(KEY_VALUE_BASIC_INFORMATION, NameLength), ByteLength(value.name));
        record.Append(value.name.data(), ByteLength(value.name));
        return record.CopyTo(buffer, length, resultLength);
    }
    if (kind == KeyValueFullInformation) {
        Record record(offsetof(KEY_VALUE_FULL_INFORMATION, Name));
        record.Put(offsetof(KEY_VALUE_FULL_INFORMATION, Type), value.type);
        record.Put(offsetof(KEY_VALUE_FULL_INFORMATION, DataLength), dataLength);
        record.Put(offsetof(KEY_VALUE_FULL_INFORMATION, NameLength), ByteLength(value.name));
        record.Append(value.name.data(), ByteLength(value.name));
        record.AlignToUlong();
        record.Put(offsetof(KEY_VALUE_FULL_INFORMATION, DataOffset), static_cast<ULONG>(record.Size()));
        record.Append(value.data.data(), dataLength);
        return record.CopyTo(buffer, length, resultLength);
    }
    if (kind == KeyValuePartialInformation) {
        Record record(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data));
        record.Put(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Type), value.type);
        record.Put(offsetof(KEY_VALUE_PARTIAL_INFORMATION, DataLength), dataLength);
        record.Append(value.data.data(), dataLength);
        return record.CopyTo(buffer, length, resultLength);
    }
    return STATUS_INVALID_PARAMETER;
}

std::u16string RelativeRoot(ULONG relativeTo)
{
    switch (relativeTo & ~(RTL_REGISTRY_OPTIONAL | RTL_REGISTRY_HANDLE)) {
    case RTL_REGISTRY_ABSOLUTE: return u"";
    case RTL_REGISTRY_SERVICES: return u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\";
    case RTL_REGISTRY_CONTROL: return u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\";
    case RTL_REGISTRY_WINDOWS_NT: return u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\";
    case RTL_REGISTRY_DEVICEMAP: return u"\\Registry\\Machine\\Hardware\\DeviceMap\\";
    case RTL_REGISTRY_USER: return u"\\Registry\\User\\.Default\\";
    default: return u"?";
    }
}

// Opens (or creates, like ZwCreateKey: only the last part) the key that an
// Rtl*RegistryValue path names.
NTSTATUS OpenRelativeKey(ULONG relativeTo, PCWSTR path, bool create, HANDLE& handle, bool& ownHandle)
{
    ownHandle = false;
    if (relativeTo & RTL_REGISTRY_HANDLE) {
        handle = reinterpret_cast<HANDLE>(const_cast<PWSTR>(path));
        return STATUS_SUCCESS;
    }
    std::u16string root = RelativeRoot(relativeTo);
    if (root == u"?")
        return STATUS_INVALID_PARAMETER;
    std::u16string full = root + Text(path);
    UNICODE_STRING name{static_cast<USHORT>(ByteLength(full)), static_cast<USHORT>(ByteLength(full)),
                        const_cast<PWSTR>(full.c_str())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    NTSTATUS status = create ? ZwCreateKey(&handle, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, nullptr)
                             : ZwOpenKey(&handle, KEY_ALL_ACCESS, &attributes);
    ownHandle = NT_SUCCESS(status);
    return status;
}

}  // namespace
}  // namespace sim

using namespace sim;

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes)
{
    CheckPassiveLevel("ZwOpenKey");
    if (!KeyHandle)
        return STATUS_INVALID_PARAMETER;
    RegistryKeyPtr base;
    std::u16string path;
    if (NTSTATUS status = ResolveBase(ObjectAttributes, base, path); !NT_SUCCESS(status))
        return status;
    RegistryKeyPtr key;
    Registry& registry = CurrentRegistry();
    if (NTSTATUS status = ToNtStatus(registry.Open(base, path, key)); !NT_SUCCESS(status))
        return status;
    *KeyHandle = reinterpret_cast<HANDLE>(registry.AddHandle(key, DesiredAccess));
    return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes, ULONG,
                     PUNICODE_STRING, ULONG, PULONG Disposition)
{
    CheckPassiveLevel("ZwCreateKey");
    if (!KeyHandle)
        return STATUS_INVALID_PARAMETER;
    RegistryKeyPtr base;
    std::u16string path;
    if (NTSTATUS status = ResolveBase(ObjectAttributes, base, path); !NT_SUCCESS(status))
        return status;
    RegistryKeyPtr key;
    bool created = false;
    Registry& registry = CurrentRegistry();
    if (NTSTATUS status = ToNtStatus(registry.Create(base, path, false, key, created)); !NT_SUCCESS(status))
        return status;
    *KeyHandle = reinterpret_cast<HANDLE>(registry.AddHandle(key, DesiredAccess));
    if (Disposition)
        *Disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return STATUS_SUCCESS;
}

NTSTATUS ZwEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass, PVOID KeyInformation,
                        ULONG Length, PULONG ResultLength)
{
    CheckPassiveLevel("ZwEnumerateKey");
    RegistryKeyPtr key;
    if (NTSTATUS status = LookupKey(KeyHandle, KEY_ENUMERATE_SUB_KEYS, key); !NT_SUCCESS(status))
        return status;
    std::u16string name;
    RegistryResult result = CurrentRegistry().EnumerateKey(key, Index, name);
    if (result == RegistryResult::NotFound)
        return STATUS_NO_MORE_ENTRIES;
    if (result != RegistryResult::Ok)
        return ToNtStatus(result);
    return CopyKeyInformation(name, KeyInformationClass, KeyInformation, Length, ResultLength);
}

NTSTATUS ZwEnumerateValueKey(HANDLE KeyHandle, ULONG Index, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                             PVOID KeyValueInformation, ULONG Length, PULONG ResultLength)
{
    CheckPassiveLevel("ZwEnumerateValueKey");
    RegistryKeyPtr key;
    if (NTSTATUS status = LookupKey(KeyHandle, KEY_QUERY_VALUE, key); !NT_SUCCESS(status))
        return status;
    RegistryValue value;
    RegistryResult result = CurrentRegistry().EnumerateValue(key, Index, value);
    if (result == RegistryResult::NotFound)
        return STATUS_NO_MORE_ENTRIES;
    if (result != RegistryResult::Ok)
        return ToNtStatus(result);
    return CopyValueInformation(value, KeyValueInformationClass, KeyValueInformation, Length, ResultLength);
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation, ULONG Length,
                         PULONG ResultLength)
{
    CheckPassiveLevel("ZwQueryValueKey");
    RegistryKeyPtr key;
    if (NTSTATUS status = LookupKey(KeyHandle, KEY_QUERY_VALUE, key); !NT_SUCCESS(status))
        return status;
    RegistryValue value;
    if (NTSTATUS status = ToNtStatus(CurrentRegistry().QueryValue(key, Text(ValueName), value)); !NT_SUCCESS(status))
        return status;
    return CopyValueInformation(value, KeyValueInformationClass, KeyValueInformation, Length, ResultLength);
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data, ULONG DataSize)
{
    CheckPassiveLevel("ZwSetValueKey");
    if (!Data && DataSize)
        return STATUS_INVALID_PARAMETER;
    RegistryKeyPtr key;
    if (NTSTATUS status = LookupKey(KeyHandle, KEY_SET_VALUE, key); !NT_SUCCESS(status))
        return status;
    return ToNtStatus(
        CurrentRegistry().SetValue(key, Text(ValueName), Type, static_cast<const uint8_t*>(Data), DataSize));
}

NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName)
{
    CheckPassiveLevel("ZwDeleteValueKey");
    RegistryKeyPtr key;
    if (NTSTATUS status = LookupKey(KeyHandle, KEY_SET_VALUE, key); !NT_SUCCESS(status))
        return status;
    return ToNtStatus(CurrentRegistry().DeleteValue(key, Text(ValueName)));
}

// Registry keys, or any other object of the machine's handle table.
NTSTATUS ZwClose(HANDLE Handle)
{
    if (CurrentRegistry().CloseHandle(reinterpret_cast<uintptr_t>(Handle)))
        return STATUS_SUCCESS;
    std::shared_ptr<HandleObject> object = Machine::Current().handles().Remove(Handle);
    if (!object)
        return STATUS_INVALID_HANDLE;
    object->OnClose();
    return STATUS_SUCCESS;
}

NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType, PVOID ValueData,
                               ULONG ValueLength)
{
    HANDLE key = nullptr;
    bool ownHandle = false;
    if (NTSTATUS status = OpenRelativeKey(RelativeTo, Path, true, key, ownHandle); !NT_SUCCESS(status))
        return status;
    std::u16string name = Text(ValueName);
    UNICODE_STRING valueName{static_cast<USHORT>(ByteLength(name)), static_cast<USHORT>(ByteLength(name)),
                             const_cast<PWSTR>(name.c_str())};
    NTSTATUS status = ZwSetValueKey(key, &valueName, 0, ValueType, ValueData, ValueLength);
    if (ownHandle)
        ZwClose(key);
    return status;
}

NTSTATUS RtlDeleteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName)
{
    HANDLE key = nullptr;
    bool ownHandle = false;
    if (NTSTATUS status = OpenRelativeKey(RelativeTo, Path, false, key, ownHandle); !NT_SUCCESS(status))
        return status;
    std::u16string name = Text(ValueName);
    UNICODE_STRING valueName{static_cast<USHORT>(ByteLength(name)), static_cast<USHORT>(ByteLength(name)),
                             const_cast<PWSTR>(name.c_str())};
    NTSTATUS status = ZwDeleteValueKey(key, &valueName);
    if (ownHandle)
        ZwClose(key);
    return status;
}
