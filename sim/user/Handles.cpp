#include "Handles.h"

namespace sim {

HANDLE HandleTable::Insert(std::shared_ptr<HandleObject> object)
{
    std::lock_guard<std::mutex> guard(lock_);
    uintptr_t value = next_;
    next_ += 4;
    objects_[value] = std::move(object);
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> HandleTable::Find(HANDLE handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
    return found == objects_.end() ? nullptr : found->second;
}

std::shared_ptr<HandleObject> HandleTable::Remove(HANDLE handle)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = objects_.find(reinterpret_cast<uintptr_t>(handle));
    if (found == objects_.end())
        return nullptr;
    auto object = std::move(found->second);
    objects_.erase(found);
    return object;
}

void HandleTable::ThreadStarted()
{
    std::lock_guard<std::mutex> guard(lock_);
    ++runningThreads_;
}

void HandleTable::ThreadEnded()
{
    std::lock_guard<std::mutex> guard(lock_);
    --runningThreads_;
    threadsChanged_.notify_all();
}

void HandleTable::WaitForThreads()
{
    std::unique_lock<std::mutex> guard(lock_);
    threadsChanged_.wait(guard, [this] { return runningThreads_ == 0; });
}

}  // namespace sim
