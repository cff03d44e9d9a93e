// The handle table of the machine's programs: files, events, threads and the
// objects of other areas (mutexes, processes) behind one HANDLE type.
#pragma once

#include <wdm.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace sim {

class HandleObject {
public:
    virtual ~HandleObject() = default;
    // The dispatcher object that WaitForSingleObject waits on; none if not waitable.
    virtual DISPATCHER_HEADER* WaitHeader() { return nullptr; }
    // Runs when the handle is closed.
    virtual void OnClose() {}
};

class HandleTable {
public:
    HANDLE Insert(std::shared_ptr<HandleObject> object);
    std::shared_ptr<HandleObject> Find(HANDLE handle);
    template <class T>
    std::shared_ptr<T> FindAs(HANDLE handle)
    {
        return std::dynamic_pointer_cast<T>(Find(handle));
    }
    std::shared_ptr<HandleObject> Remove(HANDLE handle);

    // Threads of CreateThread: the machine waits for them before it goes away.
    void ThreadStarted();
    void ThreadEnded();
    void WaitForThreads();

private:
    std::mutex lock_;
    std::map<uintptr_t, std::shared_ptr<HandleObject>> objects_;
    uintptr_t next_ = 0x100;  // handles are not reused, so a stale one is reported invalid
    std::condition_variable threadsChanged_;
    int runningThreads_ = 0;
};

}  // namespace sim
