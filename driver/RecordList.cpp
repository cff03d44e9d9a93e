// The record list operations (ZR_). Nodes and their record copies come from
// the non-paged pool: records arrive from completion contexts.
#include "FilterDriver.h"

#include "CaptureIoctl.h"

namespace {

void Lock(RecordList* list)
{
    KIRQL irql;
    KeAcquireSpinLock(&list->lock, &irql);
    list->savedIrql = irql;
}

void Unlock(RecordList* list)
{
    KeReleaseSpinLock(&list->lock, list->savedIrql);
}

bool IsSmallRecord(ULONG size)
{
    return size <= CAPTURE_RECORD_HEADER_SIZE + kSmallRecordDataBytes;
}

// The node and its record copy share one block: one allocation per record,
// freed together. Small records all get the small size, so that any spare
// fits any of them.
RecordNode* AllocateNode(ULONG size)
{
    ULONG room = IsSmallRecord(size) ? CAPTURE_RECORD_HEADER_SIZE + kSmallRecordDataBytes : size;
    SIZE_T blockSize = sizeof(RecordNode) + static_cast<SIZE_T>(room);
    return static_cast<RecordNode*>(ExAllocatePoolWithTag(g_NonPagedPool, blockSize, kPoolTag));
}

void FillNode(RecordNode* node, ULONG consumed, ULONG size, const void* source)
{
    node->consumed = consumed;
    node->size = size;
    node->next = nullptr;
    node->prev = nullptr;
    node->data = nullptr;
    if (size != 0) {
        node->data = node + 1;
        RtlCopyMemory(node->data, source, size);
    }
}

void FreeNode(RecordNode* node)
{
    ExFreePoolWithTag(node, kPoolTag);
}

// Caller holds the lock.
RecordNode* TakeSpareLocked(RecordList* list)
{
    RecordNode* node = list->spares;
    if (node != nullptr) {
        list->spares = node->next;
        --list->spareCount;
    }
    return node;
}

// Caller holds the lock; the node is unlinked. False when it is not kept:
// the caller frees it once the lock is released.
bool KeepSpareLocked(RecordList* list, RecordNode* node)
{
    if (!IsSmallRecord(node->size) || list->count + list->spareCount >= list->spareLimit)
        return false;
    node->next = list->spares;
    list->spares = node;
    ++list->spareCount;
    return true;
}

// Caller holds the lock.
void AppendLocked(RecordList* list, RecordNode* node)
{
    node->prev = list->tail;
    node->next = nullptr;
    if (list->tail != nullptr)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    ++list->count;
    list->bytes += node->size;
}

// Caller holds the lock; the node is only unlinked, the caller frees it.
void UnlinkLocked(RecordList* list, RecordNode* node)
{
    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next != nullptr)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;
    --list->count;
    list->bytes -= node->size;
    if (list->count == 0) {
        list->head = nullptr;
        list->tail = nullptr;
        list->bytes = 0;
    }
}

// The data bytes a lost record took away from the user: those of reads and writes.
ULONG TransferredBytes(const void* data, ULONG size)
{
    if (size < CAPTURE_RECORD_HEADER_SIZE)
        return 0;
    const auto* record = static_cast<const CaptureRecord*>(data);
    bool transfer = record->kind == RecordKind_Read || record->kind == RecordKind_Write;
    return transfer ? record->dataLength : 0;
}

// Caller holds the lock.
void CountLossLocked(RecordList* list, const void* data, ULONG size, ULONG* statusFlags)
{
    list->droppedRecords = SaturatingAdd(list->droppedRecords, 1);
    list->droppedBytes = SaturatingAdd(list->droppedBytes, TransferredBytes(data, size));
    *statusFlags |= CAPTURE_FLAG_DATA_LOST;
}

// Caller holds the lock: unlinks the oldest nodes whose sizes add up to at
// most room, in order, and returns them as a chain.
RecordNode* UnlinkOldestFittingLocked(RecordList* list, ULONG room, ULONG* count)
{
    RecordNode* first = list->head;
    RecordNode* last = nullptr;
    ULONG bytes = 0;
    *count = 0;
    for (RecordNode* node = first; node != nullptr && node->size <= room - bytes; node = node->next) {
        bytes += node->size;
        last = node;
        ++*count;
    }
    if (last == nullptr)
        return nullptr;
    list->head = last->next;
    if (list->head != nullptr)
        list->head->prev = nullptr;
    else
        list->tail = nullptr;
    last->next = nullptr;
    list->count -= *count;
    list->bytes -= bytes;
    return first;
}

void FreeChain(RecordNode* chain)
{
    while (chain != nullptr) {
        RecordNode* next = chain->next;
        FreeNode(chain);
        chain = next;
    }
}

// Keeps what it can of a chain of unlinked nodes as spares, frees the rest.
void RecycleChain(RecordList* list, RecordNode* chain)
{
    RecordNode* unkept = nullptr;
    Lock(list);
    while (chain != nullptr) {
        RecordNode* next = chain->next;
        if (!KeepSpareLocked(list, chain)) {
            chain->next = unkept;
            unkept = chain;
        }
        chain = next;
    }
    Unlock(list);
    FreeChain(unkept);
}

}  // namespace

void ZR_InitializeList(RecordList* list, ULONG maxBytes)
{
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    list->bytes = 0;
    list->droppedRecords = 0;
    list->droppedBytes = 0;
    list->spares = nullptr;
    list->spareCount = 0;
    // The list drops records only once it holds more than maxBytes, so it
    // can hold one record of header alone past that.
    list->spareLimit = maxBytes / CAPTURE_RECORD_HEADER_SIZE + 2;
    KeInitializeSpinLock(&list->lock);
    list->savedIrql = PASSIVE_LEVEL;
}

void ZR_CountLoss(RecordList* list, const void* record, ULONG size, ULONG* statusFlags)
{
    Lock(list);
    CountLossLocked(list, record, size, statusFlags);
    Unlock(list);
}

NTSTATUS ZR_AddBufferCopy(RecordList* list, ULONG consumed, ULONG size, const void* source, ULONG maxBytes,
                          ULONG* statusFlags, bool* dropped)
{
    *dropped = false;
    Lock(list);
    if (size > maxBytes) {
        // It would push out everything else and still not fit.
        CountLossLocked(list, source, size, statusFlags);
        Unlock(list);
        return STATUS_BUFFER_OVERFLOW;
    }
    RecordNode* node = IsSmallRecord(size) ? TakeSpareLocked(list) : nullptr;
    if (node == nullptr) {
        Unlock(list);
        node = AllocateNode(size);
        Lock(list);
    }
    if (node == nullptr) {
        // Lost as surely as a dropped one, and reported the same way.
        CountLossLocked(list, source, size, statusFlags);
        Unlock(list);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    FillNode(node, consumed, size, source);
    RecordNode* unkept = nullptr;
    while (list->bytes > maxBytes && list->head != nullptr) {
        RecordNode* oldest = list->head;
        UnlinkLocked(list, oldest);
        CountLossLocked(list, oldest->data, oldest->size, statusFlags);
        *dropped = true;
        if (!KeepSpareLocked(list, oldest)) {
            oldest->next = unkept;
            unkept = oldest;
        }
    }
    AppendLocked(list, node);
    Unlock(list);
    FreeChain(unkept);
    return STATUS_SUCCESS;
}

ULONG ZR_TakeOldest(RecordList* list, PVOID output, ULONG room, ULONG* statusFlags)
{
    Lock(list);
    RecordNode* oldest = list->head;
    if (oldest == nullptr || oldest->size > room || oldest->size < CAPTURE_RECORD_HEADER_SIZE) {
        Unlock(list);
        return 0;
    }
    RtlCopyMemory(output, oldest->data, oldest->size);
    static_cast<CaptureRecord*>(output)->flags = *statusFlags;
    *statusFlags &= ~CAPTURE_FLAG_DATA_LOST;
    UnlinkLocked(list, oldest);
    ULONG size = oldest->size;
    bool kept = KeepSpareLocked(list, oldest);
    Unlock(list);
    if (!kept)
        FreeNode(oldest);
    return size;
}

ULONG ZR_TakeBatch(RecordList* list, PVOID output, ULONG room, ULONG* statusFlags)
{
    if (room < sizeof(CaptureBatchHeader))
        return 0;
    CaptureBatchHeader header;
    Lock(list);
    ULONG count = 0;
    RecordNode* chain = UnlinkOldestFittingLocked(list, room - sizeof header, &count);
    header.recordCount = count;
    header.nextRecordSize = list->head != nullptr ? list->head->size : 0;
    header.droppedRecords = list->droppedRecords;
    header.droppedBytes = list->droppedBytes;
    list->droppedRecords = 0;
    list->droppedBytes = 0;
    // Only the first record taken can follow a drop; the ones after it follow
    // each other without a gap.
    ULONG firstFlags = *statusFlags;
    if (chain != nullptr)
        *statusFlags &= ~CAPTURE_FLAG_DATA_LOST;
    Unlock(list);

    RtlCopyMemory(output, &header, sizeof header);
    ULONG written = sizeof header;
    ULONG flags = firstFlags;
    for (RecordNode* node = chain; node != nullptr; node = node->next) {
        auto* record = reinterpret_cast<CaptureRecord*>(static_cast<UCHAR*>(output) + written);
        RtlCopyMemory(record, node->data, node->size);
        record->flags = flags;
        flags = firstFlags & ~CAPTURE_FLAG_DATA_LOST;
        written += node->size;
    }
    RecycleChain(list, chain);
    return written;
}

bool ZR_VisitOldest(RecordList* list, RecordVisitor visit, PVOID context)
{
    Lock(list);
    RecordNode* oldest = list->head;
    if (oldest == nullptr) {
        Unlock(list);
        return false;
    }
    bool remove = visit(oldest, context);
    bool freeIt = false;
    if (remove) {
        UnlinkLocked(list, oldest);
        freeIt = !KeepSpareLocked(list, oldest);
    }
    Unlock(list);
    if (freeIt)
        FreeNode(oldest);
    return true;
}

RecordListState ZR_GetState(RecordList* list, const ULONG* statusFlags)
{
    Lock(list);
    RecordListState state;
    state.statusFlags = *statusFlags;
    state.headSize = list->head != nullptr ? list->head->size : 0;
    state.count = list->count;
    state.bytes = list->bytes;
    Unlock(list);
    return state;
}

void ZR_DeleteList(RecordList* list)
{
    Lock(list);
    RecordNode* chain = list->head;
    RecordNode* spares = list->spares;
    list->head = nullptr;
    list->tail = nullptr;
    list->count = 0;
    list->bytes = 0;
    list->spares = nullptr;
    list->spareCount = 0;
    Unlock(list);
    FreeChain(chain);
    FreeChain(spares);
}
