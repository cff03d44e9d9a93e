// A doubly linked list of nodes, each holding a copy of its data right after
// it, guarded by its own mutex. Used for the highlight conditions (the record
// store packs its records itself). Nodes with up to kSmallDataBytes
// of data are carved from chunks of kChunkBytes and, once removed, kept for
// the next appends of their size class: a list that fills and empties again
// allocates nothing. Chunks go back when the list is cleared or destroyed.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

struct ListNode {
    int32_t value;    // caller's value (a record's cell count)
    uint32_t length;  // size of the data block in bytes
    void* data;       // just after the node; null for length 0
    ListNode* next;
    ListNode* prev;
};

class LockedList {
public:
    LockedList() = default;
    ~LockedList();
    LockedList(const LockedList&) = delete;
    LockedList& operator=(const LockedList&) = delete;

    // Appends a copy of length bytes of source, kept with the node (no data
    // for length 0). False when memory ran out.
    bool AppendCopy(int32_t value, uint32_t length, const void* source);
    void Remove(ListNode* node);
    void Clear();

    // Without the mutex: iteration is only safe where no other thread removes.
    ListNode* Head() const { return head_.load(std::memory_order_acquire); }
    ListNode* Tail() const;
    ListNode* Next(const ListNode* node) const;
    // n <= 0 gives the head; null past the end.
    ListNode* Nth(int32_t n) const;
    // Number of nodes, by walking the list.
    int32_t Count() const;

    int32_t NodeCount() const;
    uint32_t ByteTotal() const;

    static constexpr uint32_t kSmallDataBytes = 256;
    static constexpr uint32_t kChunkBytes = 16384;

private:
    static constexpr uint32_t kClassBytes = 16;
    static constexpr uint32_t kSmallClasses = kSmallDataBytes / kClassBytes + 1;

    static uint32_t SizeClassOf(uint32_t inlineBytes) { return (inlineBytes + kClassBytes - 1) / kClassBytes; }
    void* CarveLocked(size_t bytes);
    ListNode* NewNodeLocked(uint32_t inlineBytes);
    void ReleaseNodeLocked(ListNode* node);
    void LinkLocked(ListNode* node);
    void FreeAllLocked();

    mutable std::mutex mutex_;
    std::atomic<ListNode*> head_{nullptr};
    ListNode* tail_ = nullptr;
    int32_t count_ = 0;
    uint32_t byteTotal_ = 0;
    ListNode* spares_[kSmallClasses] = {};  // removed small nodes by size class, linked by next
    void* chunks_ = nullptr;                // linked by their first word
    char* chunkCursor_ = nullptr;
    char* chunkEnd_ = nullptr;
};
