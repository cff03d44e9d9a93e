// Interrupt levels, spin locks, the dispatcher (events and waits) and the
// interlocked operations.
#include "Kernel.h"

#include <windows.h>

#include "../Machine.h"

#include <thread>

namespace sim {

namespace {

bool IsOwnedBy(const DISPATCHER_HEADER* object, uint32_t thread)
{
    return object->Type == MutantObject && reinterpret_cast<const Mutant*>(object)->owner == thread;
}

}  // namespace

NTSTATUS Dispatcher::Wait(DISPATCHER_HEADER* const* objects, size_t count, bool waitAll,
                          std::optional<uint64_t> deadline)
{
    const uint32_t thread = GetCurrentThreadId();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        size_t index = 0;
        if (Satisfied(objects, count, waitAll, thread, &index)) {
            if (waitAll) {
                bool abandoned = false;
                for (size_t i = 0; i < count; ++i)
                    abandoned = Consume(objects[i], thread) || abandoned;
                return abandoned ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0;
            }
            NTSTATUS first = Consume(objects[index], thread) ? STATUS_ABANDONED_WAIT_0 : STATUS_WAIT_0;
            return static_cast<NTSTATUS>(first + index);
        }
        if (deadline && clock_.Now() >= *deadline)
            return STATUS_TIMEOUT;
        if (deadline && clock_.Mode() == ClockMode::RealTime)
            changed_.wait_until(guard, clock_.HostInstant(*deadline));
        else
            changed_.wait(guard);
    }
}

bool Dispatcher::Satisfied(DISPATCHER_HEADER* const* objects, size_t count, bool waitAll, uint32_t thread,
                           size_t* index) const
{
    for (size_t i = 0; i < count; ++i) {
        bool signalled = objects[i]->SignalState > 0 || IsOwnedBy(objects[i], thread);
        if (signalled && !waitAll) {
            *index = i;
            return true;
        }
        if (!signalled && waitAll)
            return false;
    }
    return waitAll;
}

bool Dispatcher::Consume(DISPATCHER_HEADER* object, uint32_t thread)
{
    if (object->Type == MutantObject) {
        auto* mutant = reinterpret_cast<Mutant*>(object);
        --object->SignalState;
        mutant->owner = thread;
        ownedMutants_.insert(mutant);
        bool abandoned = mutant->abandoned;
        mutant->abandoned = false;
        return abandoned;
    }
    // Synchronization objects release one waiter and reset themselves.
    if (object->Type == EventSynchronizationObject || object->Type == TimerSynchronizationObject)
        object->SignalState = 0;
    return false;
}

bool Dispatcher::ReleaseMutant(Mutant* mutant, uint32_t thread)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (mutant->owner != thread || mutant->header.SignalState > 0)
        return false;
    if (++mutant->header.SignalState == 1) {
        mutant->owner = 0;
        ownedMutants_.erase(mutant);
        changed_.notify_all();
    }
    return true;
}

void Dispatcher::AbandonMutantsOf(uint32_t thread)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = ownedMutants_.begin(); it != ownedMutants_.end();) {
        Mutant* mutant = *it;
        if (mutant->owner != thread) {
            ++it;
            continue;
        }
        mutant->owner = 0;
        mutant->header.SignalState = 1;
        mutant->abandoned = true;
        it = ownedMutants_.erase(it);
        changed_.notify_all();
    }
}

void Dispatcher::ForgetMutant(Mutant* mutant)
{
    std::lock_guard<std::mutex> guard(lock_);
    ownedMutants_.erase(mutant);
}

LONG Dispatcher::SetSignal(DISPATCHER_HEADER* object, LONG state)
{
    std::lock_guard<std::mutex> guard(lock_);
    LONG previous = object->SignalState;
    object->SignalState = state;
    if (state > 0)
        changed_.notify_all();
    return previous;
}

LONG Dispatcher::ReadSignal(const DISPATCHER_HEADER* object)
{
    std::lock_guard<std::mutex> guard(lock_);
    return object->SignalState;
}

void Dispatcher::ClockMoved()
{
    std::lock_guard<std::mutex> guard(lock_);
    changed_.notify_all();
}

}  // namespace sim

using sim::CurrentThread;
using sim::Fail;

namespace {

// The per-thread state is looked up once per call: spin locks are taken for
// every record, and the lookup is most of their cost here.
ULONG_PTR OwnerToken(sim::ThreadState& thread)
{
    return reinterpret_cast<ULONG_PTR>(&thread) | 1;
}

void TakeSpinLock(PKSPIN_LOCK SpinLock, sim::ThreadState& thread)
{
    ULONG_PTR token = OwnerToken(thread);
    for (;;) {
        ULONG_PTR expected = 0;
        if (__atomic_compare_exchange_n(SpinLock, &expected, token, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
            return;
        if (expected == token)
            Fail("spin lock %p acquired again by the thread that holds it (deadlock)", static_cast<void*>(SpinLock));
        std::this_thread::yield();
    }
}

void DropSpinLock(PKSPIN_LOCK SpinLock, sim::ThreadState& thread)
{
    ULONG_PTR expected = OwnerToken(thread);
    if (!__atomic_compare_exchange_n(SpinLock, &expected, 0, false, __ATOMIC_RELEASE, __ATOMIC_RELAXED))
        Fail("spin lock %p released but not held by this thread", static_cast<void*>(SpinLock));
}

void RaiseIrql(sim::ThreadState& thread, KIRQL NewIrql, PKIRQL OldIrql)
{
    if (NewIrql < thread.irql)
        Fail("KeRaiseIrql to %u below the current level %u", NewIrql, thread.irql);
    *OldIrql = thread.irql;
    thread.irql = NewIrql;
}

void LowerIrql(sim::ThreadState& thread, KIRQL NewIrql)
{
    if (NewIrql > thread.irql)
        Fail("KeLowerIrql to %u above the current level %u", NewIrql, thread.irql);
    thread.irql = NewIrql;
    if (NewIrql < DISPATCH_LEVEL && !thread.deferredDpcs.empty())
        sim::Machine::Current().timers().RunDeferredDpcs();
}

std::optional<uint64_t> DeadlineOf(PLARGE_INTEGER timeout)
{
    if (timeout == nullptr)
        return std::nullopt;
    uint64_t now = sim::Machine::Current().clock().Now();
    if (timeout->QuadPart < 0)
        return now + static_cast<uint64_t>(-timeout->QuadPart);
    return static_cast<uint64_t>(timeout->QuadPart);
}

}  // namespace

KIRQL KeGetCurrentIrql(void)
{
    return CurrentThread().irql;
}

void KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql)
{
    RaiseIrql(CurrentThread(), NewIrql, OldIrql);
}

KIRQL KeRaiseIrqlToDpcLevel(void)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}

void KeLowerIrql(KIRQL NewIrql)
{
    LowerIrql(CurrentThread(), NewIrql);
}

void KeInitializeSpinLock(PKSPIN_LOCK SpinLock)
{
    __atomic_store_n(SpinLock, 0, __ATOMIC_RELEASE);
}

void KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql)
{
    sim::ThreadState& thread = CurrentThread();
    RaiseIrql(thread, DISPATCH_LEVEL, OldIrql);
    TakeSpinLock(SpinLock, thread);
}

void KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql)
{
    sim::ThreadState& thread = CurrentThread();
    DropSpinLock(SpinLock, thread);
    LowerIrql(thread, NewIrql);
}

void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock)
{
    sim::ThreadState& thread = CurrentThread();
    if (thread.irql < DISPATCH_LEVEL)
        Fail("KeAcquireSpinLockAtDpcLevel called below DISPATCH_LEVEL");
    TakeSpinLock(SpinLock, thread);
}

void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock)
{
    DropSpinLock(SpinLock, CurrentThread());
}

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State)
{
    Event->Header.Type = Type == NotificationEvent ? EventNotificationObject : EventSynchronizationObject;
    Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
    Event->Header.SignalState = State ? 1 : 0;
    Event->Header.WaitListHead.Flink = &Event->Header.WaitListHead;
    Event->Header.WaitListHead.Blink = &Event->Header.WaitListHead;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN)
{
    return sim::Machine::Current().dispatcher().SetSignal(&Event->Header, 1);
}

void KeClearEvent(PRKEVENT Event)
{
    sim::Machine::Current().dispatcher().SetSignal(&Event->Header, 0);
}

LONG KeResetEvent(PRKEVENT Event)
{
    return sim::Machine::Current().dispatcher().SetSignal(&Event->Header, 0);
}

LONG KeReadStateEvent(PRKEVENT Event)
{
    return sim::Machine::Current().dispatcher().ReadSignal(&Event->Header);
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout)
{
    bool blocking = Timeout == nullptr || Timeout->QuadPart != 0;
    if (blocking && CurrentThread().irql >= DISPATCH_LEVEL)
        Fail("KeWaitForSingleObject with a timeout other than 0 at DISPATCH_LEVEL or above");
    auto* header = static_cast<DISPATCHER_HEADER*>(Object);
    return sim::Machine::Current().dispatcher().Wait(&header, 1, false, DeadlineOf(Timeout));
}

LONG InterlockedIncrement(LONG volatile* Addend)
{
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(LONG volatile* Addend)
{
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedExchange(LONG volatile* Target, LONG Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand)
{
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comparand;
}

LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value)
{
    return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}

PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

PVOID InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comparand)
{
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comparand;
}
