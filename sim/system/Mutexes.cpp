#include "Mutexes.h"

#include <windows.h>

#include "../Machine.h"
#include "SystemState.h"

namespace sim {

void MutexObject::Acquire(uint32_t thread) {
    std::lock_guard<std::mutex> guard(lock_);
    owner_ = thread;
    ++count_;
}

bool MutexObject::Release(uint32_t thread) {
    std::lock_guard<std::mutex> guard(lock_);
    if (count_ == 0 || owner_ != thread) return false;
    if (--count_ == 0) owner_ = 0;
    return true;
}

std::shared_ptr<MutexObject> Mutexes::Open(const std::string& name, bool& existed) {
    std::lock_guard<std::mutex> guard(lock_);
    std::shared_ptr<MutexObject> mutex = named_[name].lock();
    existed = mutex != nullptr;
    if (!existed) {
        mutex = std::make_shared<MutexObject>();
        named_[name] = mutex;
    }
    return mutex;
}

}  // namespace sim

using namespace sim;

// Names are case-sensitive, as in the kernel's object namespace.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    bool existed = false;
    std::shared_ptr<MutexObject> mutex =
        lpName ? CurrentSystem().mutexes.Open(lpName, existed) : std::make_shared<MutexObject>();
    if (!existed && bInitialOwner) mutex->Acquire(GetCurrentThreadId());
    HANDLE handle = Machine::Current().handles().Insert(mutex);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    std::shared_ptr<MutexObject> mutex = Machine::Current().handles().FindAs<MutexObject>(hMutex);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->Release(GetCurrentThreadId())) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
