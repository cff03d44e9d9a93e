// Named and unnamed mutexes of CreateMutexA. A named mutex lives while any
// handle to it is open; the next creation after the last close makes a new one.
#pragma once

#include "../user/Handles.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace sim {

class MutexObject : public HandleObject {
public:
    // Ownership counts recursive acquisitions by the owning thread.
    void Acquire(uint32_t thread);
    bool Release(uint32_t thread);

private:
    std::mutex lock_;
    uint32_t owner_ = 0;
    uint32_t count_ = 0;
};

class Mutexes {
public:
    // The existing mutex of that name, or a new one (`existed` false).
    std::shared_ptr<MutexObject> Open(const std::string& name, bool& existed);

private:
    std::mutex lock_;
    std::map<std::string, std::weak_ptr<MutexObject>> named_;
};

}  // namespace sim
