#include "LockedList.h"

#include <cstdlib>
#include <cstring>

namespace {

bool HasInlineData(const ListNode* node)
{
    return node->data == static_cast<const void*>(node + 1);
}

}  // namespace

LockedList::~LockedList()
{
    FreeAllLocked();
}

// A node with room for inlineBytes after it: a spare of its size class when
// there is one. Spares of a class all have the class's full room.
ListNode* LockedList::NewNodeLocked(uint32_t inlineBytes)
{
    if (inlineBytes > kSpareDataBytes)
        return static_cast<ListNode*>(std::malloc(sizeof(ListNode) + inlineBytes));
    uint32_t spareClass = (inlineBytes + kSpareClassBytes - 1) / kSpareClassBytes;
    ListNode* node = spares_[spareClass];
    if (node != nullptr) {
        spares_[spareClass] = node->next;
        --spareCount_;
        return node;
    }
    return static_cast<ListNode*>(std::malloc(sizeof(ListNode) + spareClass * kSpareClassBytes));
}

void LockedList::ReleaseNodeLocked(ListNode* node)
{
    uint32_t inlineBytes = HasInlineData(node) ? node->length : 0;
    if (!HasInlineData(node))
        std::free(node->data);
    if (inlineBytes > kSpareDataBytes || spareCount_ >= kMostSpares) {
        std::free(node);
        return;
    }
    uint32_t spareClass = (inlineBytes + kSpareClassBytes - 1) / kSpareClassBytes;
    node->next = spares_[spareClass];
    spares_[spareClass] = node;
    ++spareCount_;
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

bool LockedList::AppendOwned(int32_t value, uint32_t length, void* data)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ListNode* node = NewNodeLocked(0);
    if (node == nullptr) {
        std::free(data);
        return false;
    }
    *node = ListNode{value, length, data, nullptr, nullptr};
    LinkLocked(node);
    return true;
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
        if (!HasInlineData(node))
            std::free(node->data);
        std::free(node);
        node = next;
    }
    for (ListNode*& spare : spares_) {
        while (spare != nullptr) {
            ListNode* next = spare->next;
            std::free(spare);
            spare = next;
        }
    }
    spareCount_ = 0;
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
