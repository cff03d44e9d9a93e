#include "LockedList.h"

#include <cstdlib>
#include <cstring>
#include <new>

LockedList::~LockedList()
{
    FreeAllLocked();
}

bool LockedList::AppendOwned(int32_t value, uint32_t length, void* data)
{
    ListNode* node = new (std::nothrow) ListNode{value, length, data, nullptr, nullptr};
    if (node == nullptr) {
        std::free(data);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    node->prev = tail_;
    if (tail_ != nullptr)
        tail_->next = node;
    else
        head_.store(node, std::memory_order_release);
    tail_ = node;
    ++count_;
    byteTotal_ += length;
    return true;
}

bool LockedList::AppendCopy(int32_t value, uint32_t length, const void* source)
{
    void* copy = nullptr;
    if (length != 0) {
        copy = std::malloc(length);
        if (copy == nullptr)
            return false;
        std::memcpy(copy, source, length);
    }
    return AppendOwned(value, length, copy);
}

void LockedList::Remove(ListNode* node)
{
    if (node == nullptr)
        return;
    {
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
    }
    std::free(node->data);
    delete node;
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
        std::free(node->data);
        delete node;
        node = next;
    }
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
