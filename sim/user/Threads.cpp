// Events, threads and waits; Sleep; CloseHandle for every handle kind.
#include "User.h"

#include "../Machine.h"

#include <atomic>

namespace sim {

namespace {

std::atomic<uint32_t> g_nextThreadId{0x100};

uint32_t NewThreadId()
{
    return g_nextThreadId.fetch_add(4);
}

class ThreadHandle : public HandleObject {
public:
    ThreadHandle() : id(NewThreadId())
    {
        header.Type = ThreadObject;
        header.SignalState = 0;
    }
    DISPATCHER_HEADER* WaitHeader() override { return &header; }

    DISPATCHER_HEADER header{};
    const uint32_t id;
    std::atomic<DWORD> exitCode{STILL_ACTIVE};
};

std::optional<uint64_t> DeadlineAfter(DWORD milliseconds)
{
    if (milliseconds == INFINITE)
        return std::nullopt;
    return Machine::Current().clock().Now() + static_cast<uint64_t>(milliseconds) * 10000;
}

DWORD WaitResult(NTSTATUS status)
{
    return status == STATUS_TIMEOUT ? WAIT_TIMEOUT : static_cast<DWORD>(status);
}

}  // namespace

EventHandle::EventHandle(bool manualReset, bool initialState)
{
    KeInitializeEvent(&event_, manualReset ? NotificationEvent : SynchronizationEvent, initialState);
}

}  // namespace sim

using sim::Machine;

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR)
{
    return Machine::Current().handles().Insert(std::make_shared<sim::EventHandle>(bManualReset, bInitialState));
}

static BOOL SetEventState(HANDLE hEvent, LONG state)
{
    auto event = Machine::Current().handles().FindAs<sim::EventHandle>(hEvent);
    if (!event)
        return sim::FailWithError(ERROR_INVALID_HANDLE);
    Machine::Current().dispatcher().SetSignal(event->WaitHeader(), state);
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, 1);
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    return SetEventState(hEvent, 0);
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (dwCreationFlags != 0)
        sim::Fail("CreateThread: creation flags 0x%X are not simulated", dwCreationFlags);
    Machine& machine = Machine::Current();
    auto thread = std::make_shared<sim::ThreadHandle>();
    if (lpThreadId != nullptr)
        *lpThreadId = thread->id;
    machine.handles().ThreadStarted();
    std::thread([&machine, thread, lpStartAddress, lpParameter] {
        sim::CurrentThread().threadId = thread->id;
        thread->exitCode = lpStartAddress(lpParameter);
        machine.dispatcher().AbandonMutantsOf(thread->id);
        machine.dispatcher().SetSignal(&thread->header, 1);
        machine.handles().ThreadEnded();
    }).detach();
    return machine.handles().Insert(thread);
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    auto thread = Machine::Current().handles().FindAs<sim::ThreadHandle>(hThread);
    if (!thread)
        return sim::FailWithError(ERROR_INVALID_HANDLE);
    *lpExitCode = thread->exitCode;
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void)
{
    sim::ThreadState& state = sim::CurrentThread();
    if (state.threadId == 0)
        state.threadId = sim::NewThreadId();
    return state.threadId;
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS) {
        sim::FailWithError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Machine& machine = Machine::Current();
    std::vector<std::shared_ptr<sim::HandleObject>> objects;  // alive during the wait
    std::vector<DISPATCHER_HEADER*> headers;
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = machine.handles().Find(lpHandles[i]);
        if (!object || object->WaitHeader() == nullptr) {
            sim::FailWithError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        headers.push_back(object->WaitHeader());
        objects.push_back(std::move(object));
    }
    NTSTATUS status =
        machine.dispatcher().Wait(headers.data(), headers.size(), bWaitAll != 0, sim::DeadlineAfter(dwMilliseconds));
    return sim::WaitResult(status);
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(dwMilliseconds) * 10000;
    if (dwMilliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    KeDelayExecutionThread(UserMode, FALSE, &interval);
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    auto object = Machine::Current().handles().Remove(hObject);
    if (!object)
        return sim::FailWithError(ERROR_INVALID_HANDLE);
    object->OnClose();
    return TRUE;
}
