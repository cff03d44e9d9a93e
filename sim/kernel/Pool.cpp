// Pool memory with tags; blocks are charged to the allocating driver so that
// its unload can report what it leaked.
#include "Kernel.h"

#include "../Machine.h"

#include <cstdlib>
#include <cstring>

namespace sim {

void* Pool::Allocate(size_t size, ULONG tag, PDRIVER_OBJECT owner, POOL_TYPE type)
{
    if (type == NonPagedPoolNx && !SystemHasNoExecuteMemory())
        Fail("ExAllocatePoolWithTag with NonPagedPoolNx on a system before Windows 8 (BAD_POOL_CALLER)");
    void* memory = std::malloc(size == 0 ? 1 : size);
    if (memory == nullptr)
        return nullptr;
    std::memset(memory, 0xCD, size);  // pool memory is not zeroed
    std::lock_guard<ShortLock> guard(lock_);
    blocks_[memory] = Block{size, tag, owner, type};
    return memory;
}

Pool::Block Pool::Free(void* memory, std::optional<ULONG> tag)
{
    Block block;
    {
        std::lock_guard<ShortLock> guard(lock_);
        auto found = blocks_.find(memory);
        if (found == blocks_.end())
            Fail("ExFreePool of %p, which is not an allocated pool block (freed twice?)", memory);
        block = found->second;
        if (tag && *tag != block.tag)
            Fail("ExFreePoolWithTag of %p with tag 0x%08X; it was allocated with tag 0x%08X", memory, *tag, block.tag);
        blocks_.erase(found);
    }
    Machine::Current().timers().CheckNothingArmedWithin(memory, block.size, "a freed pool block");
    std::free(memory);
    return block;
}

std::vector<Pool::Block> Pool::BlocksOf(PDRIVER_OBJECT owner)
{
    std::lock_guard<ShortLock> guard(lock_);
    std::vector<Block> found;
    for (const auto& entry : blocks_) {
        if (entry.second.owner == owner)
            found.push_back(entry.second);
    }
    return found;
}

}  // namespace sim

PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag)
{
    return sim::Machine::Current().pool().Allocate(NumberOfBytes, Tag, sim::CurrentThread().driver, PoolType);
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes)
{
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, 0x656E6F4E);  // "None"
}

void ExFreePoolWithTag(PVOID P, ULONG Tag)
{
    sim::Machine::Current().pool().Free(P, Tag);
}

void ExFreePool(PVOID P)
{
    sim::Machine::Current().pool().Free(P, std::nullopt);
}
