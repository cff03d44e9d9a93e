// Who may open the driver's devices. The I/O manager checks an open against
// the DACL of the device that was named: a monitor's capture device and a
// filter's own name admit only SYSTEM and administrators (the application
// runs elevated); a virtual port also admits the users logged on at the
// machine (INTERACTIVE), so that a terminal program the user starts reads it,
// while services and network logons do not.
#include "FilterDriver.h"

#include <ntifs.h>

#include "SystemRoutines.h"

namespace {

typedef NTSTATUS(NTAPI* SetSecurityObjectRoutine)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

// A SID of the NT authority with up to two sub-authorities.
struct NtAuthoritySid {
    UCHAR revision;
    UCHAR subAuthorityCount;
    UCHAR authority[6];
    ULONG subAuthority[2];
};

constexpr NtAuthoritySid kLocalSystem = {1, 1, {0, 0, 0, 0, 0, 5}, {SECURITY_LOCAL_SYSTEM_RID, 0}};
constexpr NtAuthoritySid kAdministrators = {
    1, 2, {0, 0, 0, 0, 0, 5}, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
constexpr NtAuthoritySid kInteractive = {1, 1, {0, 0, 0, 0, 0, 5}, {SECURITY_INTERACTIVE_RID, 0}};

constexpr ACCESS_MASK kPortUserAccess = GENERIC_READ | GENERIC_WRITE;

// Room for the ACL header and three allowed ACEs of the SIDs above.
constexpr ULONG kAclBytes = sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + sizeof(NtAuthoritySid));

NTSTATUS AddAllowed(PACL acl, ACCESS_MASK access, const NtAuthoritySid& sid)
{
    return RtlAddAccessAllowedAce(acl, ACL_REVISION, access, const_cast<NtAuthoritySid*>(&sid));
}

NTSTATUS BuildDacl(PACL acl, DeviceAudience audience)
{
    NTSTATUS status = RtlCreateAcl(acl, kAclBytes, ACL_REVISION);
    if (NT_SUCCESS(status))
        status = AddAllowed(acl, GENERIC_ALL, kLocalSystem);
    if (NT_SUCCESS(status))
        status = AddAllowed(acl, GENERIC_ALL, kAdministrators);
    if (NT_SUCCESS(status) && audience == DeviceAudience_InteractiveUsers)
        status = AddAllowed(acl, kPortUserAccess, kInteractive);
    return status;
}

}  // namespace

NTSTATUS RestrictDeviceAccess(PDEVICE_OBJECT device, DeviceAudience audience)
{
    // Windows NT 4.0 (image A) finds no routine and keeps the default security.
    auto setSecurity = reinterpret_cast<SetSecurityObjectRoutine>(FindSystemRoutine(KTEXT("ZwSetSecurityObject")));
    if (setSecurity == nullptr)
        return STATUS_SUCCESS;
    ULONG aclBuffer[kAclBytes / sizeof(ULONG)];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    SECURITY_DESCRIPTOR descriptor;
    NTSTATUS status = BuildDacl(acl, audience);
    if (NT_SUCCESS(status))
        status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (NT_SUCCESS(status))
        status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    HANDLE handle = nullptr;
    if (NT_SUCCESS(status))
        status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &handle);
    if (!NT_SUCCESS(status))
        return status;
    status = setSecurity(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}

bool OpenedForReading(PIO_STACK_LOCATION stack)
{
    // An open that asks for no right passes any DACL; every request of a
    // capture device reads what was captured. (Wine passes no context.)
    PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    return security == nullptr || (security->DesiredAccess & FILE_READ_DATA) != 0;
}
