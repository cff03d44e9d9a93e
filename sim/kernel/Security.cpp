// Device security: security descriptors, ACLs and SIDs as a driver builds
// them, a device's DACL set through a kernel handle on it, and the I/O manager's
// access check when a program opens a device.
#include "Kernel.h"

#include <ntifs.h>

#include "../Machine.h"
#include "../user/Handles.h"

#include <cstring>

namespace sim {

namespace {

constexpr ULONG kMaxSubAuthorities = 15;
constexpr ULONG kSidHeaderBytes = 8;

// The generic rights as the file object type maps them.
constexpr ACCESS_MASK kFileAppendData = 0x0004;
constexpr ACCESS_MASK kFileReadEa = 0x0008;
constexpr ACCESS_MASK kFileWriteEa = 0x0010;
constexpr ACCESS_MASK kFileExecute = 0x0020;
constexpr ACCESS_MASK kFileReadAttributes = 0x0080;
constexpr ACCESS_MASK kFileWriteAttributes = 0x0100;
constexpr ACCESS_MASK kFileGenericRead =
    STANDARD_RIGHTS_READ | FILE_READ_DATA | kFileReadAttributes | kFileReadEa | SYNCHRONIZE;
constexpr ACCESS_MASK kFileGenericWrite = STANDARD_RIGHTS_WRITE | FILE_WRITE_DATA | kFileWriteAttributes |
                                          kFileWriteEa | kFileAppendData | SYNCHRONIZE;
constexpr ACCESS_MASK kFileGenericExecute = STANDARD_RIGHTS_READ | kFileReadAttributes | kFileExecute | SYNCHRONIZE;

ACCESS_MASK MapGenericFileRights(ACCESS_MASK mask)
{
    ACCESS_MASK mapped = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (mask & GENERIC_READ)
        mapped |= kFileGenericRead;
    if (mask & GENERIC_WRITE)
        mapped |= kFileGenericWrite;
    if (mask & GENERIC_EXECUTE)
        mapped |= kFileGenericExecute;
    if (mask & GENERIC_ALL)
        mapped |= FILE_ALL_ACCESS;
    return mapped;
}

ULONG SidLength(const SID* sid)
{
    return kSidHeaderBytes + sid->SubAuthorityCount * sizeof(ULONG);
}

bool IsValidSid(const SID* sid)
{
    return sid != nullptr && sid->Revision == SID_REVISION && sid->SubAuthorityCount <= kMaxSubAuthorities;
}

// Bytes the ACEs of `acl` take after its header; false when they overrun it.
bool UsedAclBytes(const ACL* acl, ULONG* used)
{
    const auto* bytes = reinterpret_cast<const UCHAR*>(acl);
    ULONG offset = sizeof(ACL);
    for (USHORT i = 0; i < acl->AceCount; ++i) {
        if (offset + sizeof(ACE_HEADER) > acl->AclSize)
            return false;
        const auto* header = reinterpret_cast<const ACE_HEADER*>(bytes + offset);
        if (header->AceSize < sizeof(ACE_HEADER) || offset + header->AceSize > acl->AclSize)
            return false;
        offset += header->AceSize;
    }
    *used = offset;
    return true;
}

// The groups of the program that opens a device: a user logged on at the
// machine, with or without the Administrators group.
std::vector<std::vector<uint8_t>> CallerGroups(bool standardUser)
{
    auto sid = [](UCHAR authority, std::initializer_list<ULONG> rids) {
        std::vector<uint8_t> bytes(kSidHeaderBytes + rids.size() * sizeof(ULONG));
        bytes[0] = SID_REVISION;
        bytes[1] = static_cast<uint8_t>(rids.size());
        bytes[7] = authority;
        size_t offset = kSidHeaderBytes;
        for (ULONG rid : rids) {
            memcpy(bytes.data() + offset, &rid, sizeof rid);
            offset += sizeof rid;
        }
        return bytes;
    };
    std::vector<std::vector<uint8_t>> groups = {
        sid(1, {SECURITY_WORLD_RID}),
        sid(5, {SECURITY_INTERACTIVE_RID}),
        sid(5, {SECURITY_AUTHENTICATED_USER_RID}),
        sid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}),
    };
    if (!standardUser)
        groups.push_back(sid(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}));
    return groups;
}

bool HoldsGroup(const std::vector<std::vector<uint8_t>>& groups, const SID* sid)
{
    for (const auto& group : groups) {
        if (group.size() == SidLength(sid) && memcmp(group.data(), sid, group.size()) == 0)
            return true;
    }
    return false;
}

}  // namespace

// A kernel handle on a device: it keeps the device referenced until closed.
class DeviceObjectHandle : public HandleObject {
public:
    explicit DeviceObjectHandle(PDEVICE_OBJECT device) : device_(device) {}
    void OnClose() override { ObDereferenceObject(device_); }
    PDEVICE_OBJECT device() const { return device_; }

private:
    PDEVICE_OBJECT device_;
};

NTSTATUS CheckOpenAccess(const IoManager::DeviceRecord& device, ACCESS_MASK* desiredAccess, bool kernel,
                         bool standardUser)
{
    *desiredAccess = MapGenericFileRights(*desiredAccess);
    // A kernel-mode open is not checked; without a DACL everybody is admitted.
    if (kernel || !device.dacl)
        return STATUS_SUCCESS;
    const auto* acl = reinterpret_cast<const ACL*>(device.dacl->data());
    const UCHAR* bytes = device.dacl->data();
    std::vector<std::vector<uint8_t>> groups = CallerGroups(standardUser);
    bool maximum = (*desiredAccess & MAXIMUM_ALLOWED) != 0;
    ACCESS_MASK remaining = *desiredAccess & ~MAXIMUM_ALLOWED;
    ACCESS_MASK granted = 0;
    ULONG offset = sizeof(ACL);
    for (USHORT i = 0; i < acl->AceCount; ++i) {
        const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(bytes + offset);
        offset += ace->Header.AceSize;
        if (!HoldsGroup(groups, reinterpret_cast<const SID*>(&ace->SidStart)))
            continue;
        ACCESS_MASK mask = MapGenericFileRights(ace->Mask);
        if (ace->Header.AceType == ACCESS_DENIED_ACE_TYPE && (mask & remaining) != 0)
            return STATUS_ACCESS_DENIED;
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE) {
            granted |= mask;
            remaining &= ~mask;
        }
    }
    // As on Windows, an open that asks for no right passes any DACL.
    if (remaining != 0 || (maximum && granted == 0))
        return STATUS_ACCESS_DENIED;
    if (maximum)
        *desiredAccess = granted;
    return STATUS_SUCCESS;
}

}  // namespace sim

using sim::Fail;

NTSTATUS RtlCreateSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, ULONG Revision)
{
    if (Revision != SECURITY_DESCRIPTOR_REVISION)
        return STATUS_UNKNOWN_REVISION;
    memset(SecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
    return STATUS_SUCCESS;
}

NTSTATUS RtlSetDaclSecurityDescriptor(PSECURITY_DESCRIPTOR SecurityDescriptor, BOOLEAN DaclPresent, PACL Dacl,
                                      BOOLEAN DaclDefaulted)
{
    auto* descriptor = static_cast<SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION)
        return STATUS_UNKNOWN_REVISION;
    if (descriptor->Control & SE_SELF_RELATIVE)
        return STATUS_INVALID_SECURITY_DESCR;
    descriptor->Control &= static_cast<SECURITY_DESCRIPTOR_CONTROL>(~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
    descriptor->Dacl = nullptr;
    if (DaclPresent) {
        descriptor->Control |= SE_DACL_PRESENT;
        descriptor->Dacl = Dacl;
        if (DaclDefaulted)
            descriptor->Control |= SE_DACL_DEFAULTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlCreateAcl(PACL Acl, ULONG AclLength, ULONG AclRevision)
{
    if (AclLength < sizeof(ACL))
        return STATUS_BUFFER_TOO_SMALL;
    if (AclRevision != ACL_REVISION || AclLength > 0xFFFF)
        return STATUS_INVALID_PARAMETER;
    memset(Acl, 0, sizeof(ACL));
    Acl->AclRevision = static_cast<UCHAR>(AclRevision);
    Acl->AclSize = static_cast<USHORT>(AclLength & ~3u);
    return STATUS_SUCCESS;
}

NTSTATUS RtlAddAccessAllowedAce(PACL Acl, ULONG AceRevision, ACCESS_MASK AccessMask, PSID Sid)
{
    auto* sid = static_cast<const SID*>(Sid);
    if (!sim::IsValidSid(sid))
        return STATUS_INVALID_SID;
    ULONG used;
    if (Acl->AclRevision != ACL_REVISION || AceRevision != ACL_REVISION || !sim::UsedAclBytes(Acl, &used))
        return STATUS_INVALID_ACL;
    ULONG aceSize = offsetof(ACCESS_ALLOWED_ACE, SidStart) + sim::SidLength(sid);
    if (used + aceSize > Acl->AclSize)
        return STATUS_ALLOTTED_SPACE_EXCEEDED;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(reinterpret_cast<UCHAR*>(Acl) + used);
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = 0;
    ace->Header.AceSize = static_cast<USHORT>(aceSize);
    ace->Mask = AccessMask;
    memcpy(&ace->SidStart, sid, sim::SidLength(sid));
    ++Acl->AceCount;
    return STATUS_SUCCESS;
}

ULONG RtlLengthSid(PSID Sid)
{
    return sim::SidLength(static_cast<const SID*>(Sid));
}

NTSTATUS ObOpenObjectByPointer(PVOID Object, ULONG HandleAttributes, PACCESS_STATE PassedAccessState,
                               ACCESS_MASK, POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode, PHANDLE Handle)
{
    if (AccessMode != KernelMode || PassedAccessState != nullptr || !(HandleAttributes & OBJ_KERNEL_HANDLE))
        Fail("ObOpenObjectByPointer: the simulation opens kernel handles in kernel mode only");
    if (ObjectType != nullptr && ObjectType != *IoDeviceObjectType)
        Fail("ObOpenObjectByPointer: the simulation opens device objects only");
    sim::Machine& machine = sim::Machine::Current();
    {
        std::lock_guard<std::mutex> guard(machine.io().lock);
        sim::IoManager::DeviceRecord* device = machine.io().FindDevice(static_cast<PDEVICE_OBJECT>(Object));
        if (device == nullptr || device->deleted)
            Fail("ObOpenObjectByPointer of %p, which is not a device (the simulation opens devices only)", Object);
    }
    ObReferenceObject(Object);
    *Handle = machine.handles().Insert(std::make_shared<sim::DeviceObjectHandle>(static_cast<PDEVICE_OBJECT>(Object)));
    return STATUS_SUCCESS;
}

NTSTATUS ZwSetSecurityObject(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR SecurityDescriptor)
{
    if (sim::CurrentThread().irql != PASSIVE_LEVEL)
        Fail("ZwSetSecurityObject above PASSIVE_LEVEL");
    if (SecurityInformation != DACL_SECURITY_INFORMATION)
        Fail("ZwSetSecurityObject: the simulation sets only a DACL (information 0x%X)",
             static_cast<unsigned>(SecurityInformation));
    sim::Machine& machine = sim::Machine::Current();
    auto handle = machine.handles().FindAs<sim::DeviceObjectHandle>(Handle);
    if (!handle)
        return STATUS_INVALID_HANDLE;
    auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(SecurityDescriptor);
    if (descriptor->Revision != SECURITY_DESCRIPTOR_REVISION || (descriptor->Control & SE_SELF_RELATIVE))
        return STATUS_INVALID_SECURITY_DESCR;
    std::optional<std::vector<uint8_t>> dacl;
    if ((descriptor->Control & SE_DACL_PRESENT) && descriptor->Dacl != nullptr) {
        const ACL* acl = descriptor->Dacl;
        ULONG used;
        if (acl->AclRevision != ACL_REVISION || !sim::UsedAclBytes(acl, &used))
            return STATUS_INVALID_ACL;
        const auto* bytes = reinterpret_cast<const uint8_t*>(acl);
        dacl.emplace(bytes, bytes + used);
    }
    std::lock_guard<std::mutex> guard(machine.io().lock);
    sim::IoManager::DeviceRecord* device = machine.io().FindDevice(handle->device());
    // A DACL-present descriptor with a NULL DACL admits everybody, as no descriptor does.
    device->dacl = std::move(dacl);
    return STATUS_SUCCESS;
}
