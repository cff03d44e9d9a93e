// Named and unnamed mutexes of CreateMutexA. A named mutex lives while any
// handle to it is open; the next creation after the last close makes a new one.
#pragma once

#include "../kernel/Kernel.h"
#include "../user/Handles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

class MutexObject : public HandleObject {
public:
    explicit MutexObject(Dispatcher& dispatcher) : dispatcher_(dispatcher) {}
    ~MutexObject() override { dispatcher_.ForgetMutant(&mutant_); }
    DISPATCHER_HEADER* WaitHeader() override { return &mutant_.header; }
    // The creator's initial ownership.
    void Acquire();
    // By the calling thread; false when it does not own the mutex. Waits
    // (WaitForSingleObject) take it; a thread that ends owning it abandons it.
    bool Release();

private:
    Dispatcher& dispatcher_;
    Mutant mutant_;
};

class Mutexes {
public:
    // The existing mutex of that name, or a new one (`existed` false).
    std::shared_ptr<MutexObject> Open(const std::string& name, bool& existed);
    static std::shared_ptr<MutexObject> Create();

private:
    std::mutex lock_;
    std::map<std::string, std::weak_ptr<MutexObject>> named_;
};

}  // namespace sim
