#include "LockedList.h"

#include <cstdlib>
#include <cstring>

LockedList::~LockedList()
{
    FreeAllLocked();
}

// Chunks start with the link to the previous one; blocks keep the 16-byte
// alignment of malloc.
constexpr size_t kChunkHeaderBytes = 16;

void* LockedList::CarveLocked(size_t bytes)
{
    if (chunkCursor_ == nullptr || static_cast<size_t>(chunkEnd_ - chunkCursor_) < bytes) {
        auto* chunk = static_cast<char*>(std::malloc(kChunkBytes));
        if (chunk == nullptr)
            return nullptr;
        *reinterpret_cast<void**>(chunk) = chunks_;
        chunks_ = chunk;
        chunkCursor_ = chunk + kChunkHeaderBytes;
        chunkEnd_ = chunk + kChunkBytes;
    }
    void* block = chunkCursor_;
    chunkCursor_ += bytes;
    return block;
}

// A node with room for inlineBytes after it. Small nodes of one class all
// have the class's full room, so any spare of the class will do.
ListNode* LockedList::NewNodeLocked(uint32_t inlineBytes)
{
    if (inlineBytes > kSmallDataBytes)
        return static_cast<ListNode*>(std::malloc(sizeof(ListNode) + inlineBytes));
    uint32_t sizeClass = SizeClassOf(inlineBytes);
    ListNode* node = spares_[sizeClass];
    if (node == nullptr)
        return static_cast<ListNode*>(CarveLocked(sizeof(ListNode) + sizeClass * kClassBytes));
    spares_[sizeClass] = node->next;
    return node;
}

void LockedList::ReleaseNodeLocked(ListNode* node)
{
    if (node->length > kSmallDataBytes) {
        std::free(node);
        return;
    }
    uint32_t sizeClass = SizeClassOf(node->length);
    node->next = spares_[sizeClass];
    spares_[sizeClass] = node;
}

void LockedList::LinkLocked(ListNode* node)
{
    node->next = nullptr;
    node->prev = tail_;
    if (tail_ != nullptr)
        tail_->next = node;
    else
        head_.store(node, std::memory_order_release);
    tail_ = node;
    ++count_;
    byteTotal_ += node->length;
}

bool LockedList::AppendCopy(int32_t value, uint32_t length, const void* source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ListNode* node = NewNodeLocked(length);
    if (node == nullptr)
        return false;
    *node = ListNode{value, length, length != 0 ? node + 1 : nullptr, nullptr, nullptr};
    if (length != 0)
        std::memcpy(node + 1, source, length);
    LinkLocked(node);
    return true;
}

void LockedList::Remove(ListNode* node)
{
    if (node == nullptr)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        head_.store(node->next, std::memory_order_release);
    if (node->next != nullptr)
        node->next->prev = node->prev;
    else
        tail_ = node->prev;
    --count_;
    byteTotal_ -= node->length;
    ReleaseNodeLocked(node);
}

void LockedList::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    FreeAllLocked();
}

void LockedList::FreeAllLocked()
{
    ListNode* node = head_.load(std::memory_order_relaxed);
    while (node != nullptr) {
        ListNode* next = node->next;
        if (node->length > kSmallDataBytes)
            std::free(node);
        node = next;
    }
    while (chunks_ != nullptr) {
        void* previous = *static_cast<void**>(chunks_);
        std::free(chunks_);
        chunks_ = previous;
    }
    for (ListNode*& spare : spares_)
        spare = nullptr;
    chunkCursor_ = nullptr;
    chunkEnd_ = nullptr;
    head_.store(nullptr, std::memory_order_release);
    tail_ = nullptr;
    count_ = 0;
    byteTotal_ = 0;
}

ListNode* LockedList::Tail() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return tail_;
}

ListNode* LockedList::Next(const ListNode* node) const
{
    if (node == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    return node->next;
}

ListNode* LockedList::Nth(int32_t n) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    ListNode* node = head_.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < n && node != nullptr; ++i)
        node = node->next;
    return node;
}

int32_t LockedList::Count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    int32_t n = 0;
    for (const ListNode* node = head_.load(std::memory_order_relaxed); node != nullptr; node = node->next)
        ++n;
    return n;
}

int32_t LockedList::NodeCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return count_;
}

uint32_t LockedList::ByteTotal() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return byteTotal_;
}
