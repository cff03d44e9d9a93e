#include "Mutexes.h"

#include <windows.h>

#include "../Machine.h"
#include "SystemState.h"

namespace sim {

void MutexObject::Acquire()
{
    // A new mutex is free, so the wait takes it at once.
    DISPATCHER_HEADER* header = &mutant_.header;
    dispatcher_.Wait(&header, 1, false, 0);
}

bool MutexObject::Release()
{
    return dispatcher_.ReleaseMutant(&mutant_, GetCurrentThreadId());
}

std::shared_ptr<MutexObject> Mutexes::Create()
{
    return std::make_shared<MutexObject>(Machine::Current().dispatcher());
}

std::shared_ptr<MutexObject> Mutexes::Open(const std::string& name, bool& existed)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::shared_ptr<MutexObject> mutex = named_[name].lock();
    existed = mutex != nullptr;
    if (!existed) {
        mutex = Create();
        named_[name] = mutex;
    }
    return mutex;
}

}  // namespace sim

using namespace sim;

// Names are case-sensitive, as in the kernel's object namespace.
HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName)
{
    bool existed = false;
    std::shared_ptr<MutexObject> mutex = lpName ? CurrentSystem().mutexes.Open(lpName, existed) : Mutexes::Create();
    if (!existed && bInitialOwner)
        mutex->Acquire();
    HANDLE handle = Machine::Current().handles().Insert(mutex);
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    std::shared_ptr<MutexObject> mutex = Machine::Current().handles().FindAs<MutexObject>(hMutex);
    if (!mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!mutex->Release()) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}
