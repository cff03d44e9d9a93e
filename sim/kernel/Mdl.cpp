// Memory descriptor lists: a caller's buffer described for direct I/O, its
// pages locked and mapped into system space. The system mapping is a copy of
// the caller's bytes in a block of its own, written back when it is unmapped
// and freed then, so a driver that keeps the address past completion touches
// freed memory (AddressSanitizer stops the test).
#include "Kernel.h"

#include "../Machine.h"

#include <cstring>
#include <mutex>
#include <new>

namespace sim {

namespace {

constexpr uint32_t MdlMagic = 0x4C444D53;  // "SMDL"
constexpr ULONG MdlTag = 0x206C644D;       // "Mdl "

struct MdlPrivate {
    uint32_t magic;
    LOCK_OPERATION operation;
};

constexpr size_t PrivateSize = (sizeof(MdlPrivate) + 15) & ~size_t(15);

std::mutex g_mappingLock;  // MdlFlags and MappedSystemVa of every MDL

MdlPrivate* PrivateOf(PMDL mdl, const char* call)
{
    if (mdl == nullptr)
        Fail("%s with a null MDL", call);
    auto* state = reinterpret_cast<MdlPrivate*>(reinterpret_cast<char*>(mdl) - PrivateSize);
    if (state->magic != MdlMagic)
        Fail("%s: %p is not an MDL made by IoAllocateMdl (freed already?)", call, static_cast<void*>(mdl));
    return state;
}

bool HasFlag(PMDL mdl, CSHORT flag)
{
    return (mdl->MdlFlags & flag) != 0;
}

// Lock held. Writes the mapping back to the caller's pages when the
// operation may have changed them, then frees it.
void UnmapLocked(PMDL mdl)
{
    if (!HasFlag(mdl, MDL_MAPPED_TO_SYSTEM_VA))
        return;
    auto* view = static_cast<uint8_t*>(mdl->MappedSystemVa);
    if (PrivateOf(mdl, "MmUnmapLockedPages")->operation != IoReadAccess && mdl->ByteCount != 0)
        memcpy(MmGetMdlVirtualAddress(mdl), view, mdl->ByteCount);
    delete[] view;
    mdl->MappedSystemVa = nullptr;
    mdl->MdlFlags = static_cast<CSHORT>(mdl->MdlFlags & ~MDL_MAPPED_TO_SYSTEM_VA);
}

}  // namespace

PMDL DescribeCallerBuffer(void* buffer, ULONG length, LOCK_OPERATION operation)
{
    PMDL mdl = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, UserMode, operation);
    return mdl;
}

void ReleaseRequestMdls(PIRP irp)
{
    while (irp->MdlAddress != nullptr) {
        PMDL mdl = irp->MdlAddress;
        irp->MdlAddress = mdl->Next;
        if (HasFlag(mdl, MDL_PAGES_LOCKED))
            MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
}

}  // namespace sim

using sim::Fail;

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN, PIRP Irp)
{
    size_t pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(VirtualAddress, Length);
    size_t size = sizeof(MDL) + pages * sizeof(PFN_NUMBER);
    auto* memory = static_cast<char*>(
        sim::Machine::Current().pool().Allocate(sim::PrivateSize + size, sim::MdlTag, sim::CurrentThread().driver, NonPagedPool));
    if (memory == nullptr)
        return nullptr;
    new (memory) sim::MdlPrivate{sim::MdlMagic, IoReadAccess};
    auto mdl = reinterpret_cast<PMDL>(memory + sim::PrivateSize);
    memset(static_cast<void*>(mdl), 0, size);
    mdl->Size = static_cast<CSHORT>(size);
    mdl->StartVa = PAGE_ALIGN(VirtualAddress);
    mdl->ByteOffset = BYTE_OFFSET(VirtualAddress);
    mdl->ByteCount = Length;
    if (Irp != nullptr) {
        PMDL* slot = &Irp->MdlAddress;
        while (SecondaryBuffer && *slot != nullptr)
            slot = &(*slot)->Next;
        if (*slot != nullptr)
            Fail("IoAllocateMdl for a request that has an MDL already (SecondaryBuffer FALSE)");
        *slot = mdl;
    }
    return mdl;
}

void IoFreeMdl(PMDL Mdl)
{
    sim::MdlPrivate* state = sim::PrivateOf(Mdl, "IoFreeMdl");
    if (sim::HasFlag(Mdl, MDL_PAGES_LOCKED))
        Fail("IoFreeMdl of an MDL whose pages are still locked (MmUnlockPages first)");
    state->magic = 0;
    sim::Machine::Current().pool().Free(state, sim::MdlTag);
}

void MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE, LOCK_OPERATION Operation)
{
    sim::MdlPrivate* state = sim::PrivateOf(MemoryDescriptorList, "MmProbeAndLockPages");
    std::lock_guard<std::mutex> guard(sim::g_mappingLock);
    if (sim::HasFlag(MemoryDescriptorList, MDL_PAGES_LOCKED))
        Fail("MmProbeAndLockPages of an MDL whose pages are locked already");
    state->operation = Operation;
    CSHORT flags = MDL_PAGES_LOCKED;
    if (Operation != IoReadAccess)
        flags |= MDL_WRITE_OPERATION;
    MemoryDescriptorList->MdlFlags = static_cast<CSHORT>(MemoryDescriptorList->MdlFlags | flags);
}

void MmUnlockPages(PMDL MemoryDescriptorList)
{
    sim::PrivateOf(MemoryDescriptorList, "MmUnlockPages");
    std::lock_guard<std::mutex> guard(sim::g_mappingLock);
    if (!sim::HasFlag(MemoryDescriptorList, MDL_PAGES_LOCKED))
        Fail("MmUnlockPages of an MDL whose pages are not locked");
    sim::UnmapLocked(MemoryDescriptorList);
    MemoryDescriptorList->MdlFlags =
        static_cast<CSHORT>(MemoryDescriptorList->MdlFlags & ~(MDL_PAGES_LOCKED | MDL_WRITE_OPERATION));
}

PVOID MmMapLockedPagesSpecifyCache(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode, MEMORY_CACHING_TYPE,
                                   PVOID BaseAddress, ULONG BugCheckOnFailure, MM_PAGE_PRIORITY Priority)
{
    sim::PrivateOf(MemoryDescriptorList, "MmMapLockedPagesSpecifyCache");
    if (Priority & MdlMappingNoExecute) {
        if (!sim::SystemHasNoExecuteMemory())
            Fail("MmMapLockedPagesSpecifyCache with MdlMappingNoExecute on a system before Windows 8");
    } else {
        ++sim::Machine::Current().io().executableMappings;
    }
    if (AccessMode != KernelMode || BaseAddress != nullptr)
        Fail("MmMapLockedPagesSpecifyCache: only mappings into system space are simulated");
    std::lock_guard<std::mutex> guard(sim::g_mappingLock);
    if (!sim::HasFlag(MemoryDescriptorList, MDL_PAGES_LOCKED))
        Fail("MmMapLockedPagesSpecifyCache of an MDL whose pages are not locked");
    if (sim::HasFlag(MemoryDescriptorList, MDL_MAPPED_TO_SYSTEM_VA))
        Fail("MmMapLockedPagesSpecifyCache of an MDL that is mapped already (MmGetSystemAddressForMdlSafe reuses it)");
    if (sim::Machine::Current().io().failMappings.load()) {
        if (BugCheckOnFailure)
            Fail("MmMapLockedPagesSpecifyCache failed with BugCheckOnFailure set: the system would stop");
        return nullptr;
    }
    ULONG length = MemoryDescriptorList->ByteCount;
    auto* view = new uint8_t[length == 0 ? 1 : length];
    if (length != 0)
        memcpy(view, MmGetMdlVirtualAddress(MemoryDescriptorList), length);
    MemoryDescriptorList->MappedSystemVa = view;
    MemoryDescriptorList->MdlFlags = static_cast<CSHORT>(MemoryDescriptorList->MdlFlags | MDL_MAPPED_TO_SYSTEM_VA);
    return view;
}

void MmUnmapLockedPages(PVOID BaseAddress, PMDL MemoryDescriptorList)
{
    sim::PrivateOf(MemoryDescriptorList, "MmUnmapLockedPages");
    std::lock_guard<std::mutex> guard(sim::g_mappingLock);
    if (!sim::HasFlag(MemoryDescriptorList, MDL_MAPPED_TO_SYSTEM_VA) ||
        BaseAddress != MemoryDescriptorList->MappedSystemVa)
        Fail("MmUnmapLockedPages of %p, which is not the MDL's system mapping", BaseAddress);
    sim::UnmapLocked(MemoryDescriptorList);
}
