// DPCs and kernel timers on the machine clock.
#include "Kernel.h"

#include "../Clock.h"
#include "../Machine.h"

#include <algorithm>

namespace sim {

TimerEngine::TimerEngine(Clock& clock, Dispatcher& dispatcher) : clock_(clock), dispatcher_(dispatcher)
{
    if (clock_.Mode() == ClockMode::RealTime) {
        threads_.emplace_back([this] { RunTimerThread(); });
        // Two workers, so that completions arrive on more than one thread.
        threads_.emplace_back([this] { RunDpcWorker(); });
        threads_.emplace_back([this] { RunDpcWorker(); });
    }
}

TimerEngine::~TimerEngine()
{
    Stop();
}

void TimerEngine::Stop()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        changed_.notify_all();
    }
    for (auto& thread : threads_)
        thread.join();
    threads_.clear();
}

BOOLEAN TimerEngine::SetTimer(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc)
{
    uint64_t now = clock_.Now();
    uint64_t due =
        dueTime.QuadPart < 0 ? now + static_cast<uint64_t>(-dueTime.QuadPart) : static_cast<uint64_t>(dueTime.QuadPart);
    dispatcher_.SetSignal(&timer->Header, 0);
    std::lock_guard<std::mutex> guard(lock_);
    bool wasSet = timers_.erase(timer) != 0;
    timers_[timer] = Armed{due, period, dpc, sequence_++};
    timer->Dpc = dpc;
    timer->Period = period;
    changed_.notify_all();
    return wasSet;
}

BOOLEAN TimerEngine::CancelTimer(PKTIMER timer)
{
    std::lock_guard<std::mutex> guard(lock_);
    return timers_.erase(timer) != 0;
}

BOOLEAN TimerEngine::InsertDpc(PKDPC dpc, PVOID argument1, PVOID argument2)
{
    std::unique_lock<std::mutex> guard(lock_);
    if (queued_.count(dpc) != 0)
        return FALSE;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    if (clock_.Mode() == ClockMode::RealTime) {
        queued_.insert(dpc);
        dpcQueue_.push_back(dpc);
        changed_.notify_all();
        return TRUE;
    }
    // Manual clock: as on one processor, the DPC runs as soon as the level
    // of the queuing thread drops below DISPATCH_LEVEL.
    if (CurrentThread().irql >= DISPATCH_LEVEL) {
        queued_.insert(dpc);
        CurrentThread().deferredDpcs.push_back(dpc);
        return TRUE;
    }
    DpcCall call = CallOf(dpc);
    guard.unlock();
    RunDpc(dpc, call);
    return TRUE;
}

BOOLEAN TimerEngine::RemoveDpc(PKDPC dpc)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (queued_.erase(dpc) == 0)
        return FALSE;
    dpcQueue_.erase(std::remove(dpcQueue_.begin(), dpcQueue_.end(), dpc), dpcQueue_.end());
    auto& deferred = CurrentThread().deferredDpcs;
    deferred.erase(std::remove(deferred.begin(), deferred.end(), dpc), deferred.end());
    return TRUE;
}

void TimerEngine::FlushDpcs()
{
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return dpcQueue_.empty() && runningDpcs_ == 0; });
}

void TimerEngine::RunDeferredDpcs()
{
    auto& deferred = CurrentThread().deferredDpcs;
    while (!deferred.empty()) {
        PKDPC dpc = deferred.front();
        deferred.erase(deferred.begin());
        DpcCall call;
        {
            std::lock_guard<std::mutex> guard(lock_);
            queued_.erase(dpc);
            call = CallOf(dpc);
        }
        RunDpc(dpc, call);
    }
}

TimerEngine::DpcCall TimerEngine::CallOf(PKDPC dpc)
{
    return DpcCall{dpc->DeferredRoutine, dpc->DeferredContext, dpc->SystemArgument1, dpc->SystemArgument2,
                   dpc->OwnerDriver};
}

void TimerEngine::RunDpc(PKDPC dpc, const DpcCall& call)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    {
        DriverScope scope(static_cast<PDRIVER_OBJECT>(call.ownerDriver), "a DPC");
        call.routine(dpc, call.context, call.argument1, call.argument2);
    }
    KeLowerIrql(old);
}

std::optional<std::pair<PKTIMER, PKDPC>> TimerEngine::TakeNextDueTimer()
{
    uint64_t now = clock_.Now();
    auto next = timers_.end();
    for (auto entry = timers_.begin(); entry != timers_.end(); ++entry) {
        if (entry->second.due > now)
            continue;
        if (next == timers_.end() || entry->second.due < next->second.due ||
            (entry->second.due == next->second.due && entry->second.sequence < next->second.sequence))
            next = entry;
    }
    if (next == timers_.end())
        return std::nullopt;
    std::pair<PKTIMER, PKDPC> fired{next->first, next->second.dpc};
    if (next->second.period > 0) {
        next->second.due += static_cast<uint64_t>(next->second.period) * 10000;
        next->second.sequence = sequence_++;
    } else {
        timers_.erase(next);
    }
    return fired;
}

void TimerEngine::Fire(const std::pair<PKTIMER, PKDPC>& timer)
{
    dispatcher_.SetSignal(&timer.first->Header, 1);
    if (timer.second != nullptr)
        InsertDpc(timer.second, nullptr, nullptr);
}

void TimerEngine::AdvanceTicks(uint32_t ticks)
{
    std::lock_guard<std::mutex> advancing(advanceLock_);
    for (uint32_t tick = 0; tick < ticks; ++tick) {
        clock_.Advance(Clock::TickLength);
        dispatcher_.ClockMoved();
        // One timer at a time, so that a DPC that sets or cancels another
        // timer is seen by the next pick.
        for (;;) {
            std::optional<std::pair<PKTIMER, PKDPC>> next;
            {
                std::lock_guard<std::mutex> guard(lock_);
                next = TakeNextDueTimer();
            }
            if (!next)
                break;
            Fire(*next);
        }
    }
}

void TimerEngine::RunTimerThread()
{
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopping_) {
        auto next = TakeNextDueTimer();
        if (next) {
            guard.unlock();
            Fire(*next);
            guard.lock();
            continue;
        }
        if (timers_.empty()) {
            changed_.wait(guard);
            continue;
        }
        uint64_t earliest = UINT64_MAX;
        for (const auto& entry : timers_)
            earliest = std::min(earliest, entry.second.due);
        changed_.wait_until(guard, clock_.HostInstant(earliest));
    }
}

void TimerEngine::RunDpcWorker()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [this] { return stopping_ || !dpcQueue_.empty(); });
        if (stopping_)
            return;
        PKDPC dpc = dpcQueue_.front();
        dpcQueue_.erase(dpcQueue_.begin());
        queued_.erase(dpc);
        ++runningDpcs_;
        DpcCall call = CallOf(dpc);
        guard.unlock();
        RunDpc(dpc, call);
        guard.lock();
        --runningDpcs_;
        changed_.notify_all();
    }
}

void TimerEngine::CheckNothingArmedWithin(const void* memory, size_t size, const char* what)
{
    auto inside = [memory, size](const void* object) {
        auto address = reinterpret_cast<uintptr_t>(object);
        auto start = reinterpret_cast<uintptr_t>(memory);
        return address >= start && address < start + size;
    };
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& entry : timers_) {
        if (inside(entry.first))
            Fail("a timer that is still set lies in %s (KeCancelTimer first)", what);
        if (entry.second.dpc != nullptr && inside(entry.second.dpc))
            Fail("the DPC of a timer that is still set lies in %s", what);
    }
    for (PKDPC dpc : queued_) {
        if (inside(dpc))
            Fail("a queued DPC lies in %s", what);
    }
}

void TimerEngine::CheckNothingArmedFor(PDRIVER_OBJECT driver, const char* service)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& entry : timers_) {
        if (entry.second.dpc != nullptr && entry.second.dpc->OwnerDriver == driver)
            Fail("driver %s unloaded with a timer still set", service);
    }
    for (PKDPC dpc : queued_) {
        if (dpc->OwnerDriver == driver)
            Fail("driver %s unloaded with a DPC still queued", service);
    }
}

}  // namespace sim

void KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext)
{
    Dpc->Type = 19;
    Dpc->Importance = 1;
    Dpc->Number = 0;
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
    Dpc->SystemArgument1 = nullptr;
    Dpc->SystemArgument2 = nullptr;
    Dpc->DpcData = nullptr;
    Dpc->OwnerDriver = sim::CurrentThread().driver;
}

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2)
{
    return sim::Machine::Current().timers().InsertDpc(Dpc, SystemArgument1, SystemArgument2);
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc)
{
    return sim::Machine::Current().timers().RemoveDpc(Dpc);
}

void KeFlushQueuedDpcs(void)
{
    sim::Machine::Current().timers().FlushDpcs();
}

void KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type)
{
    Timer->Header.Type = Type == NotificationTimer ? TimerNotificationObject : TimerSynchronizationObject;
    Timer->Header.SignalState = 0;
    Timer->DueTime.QuadPart = 0;
    Timer->Dpc = nullptr;
    Timer->Period = 0;
}

void KeInitializeTimer(PKTIMER Timer)
{
    KeInitializeTimerEx(Timer, NotificationTimer);
}

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc)
{
    return sim::Machine::Current().timers().SetTimer(Timer, DueTime, Period, Dpc);
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc)
{
    return KeSetTimerEx(Timer, DueTime, 0, Dpc);
}

BOOLEAN KeCancelTimer(PKTIMER Timer)
{
    return sim::Machine::Current().timers().CancelTimer(Timer);
}

BOOLEAN KeReadStateTimer(PKTIMER Timer)
{
    return sim::Machine::Current().dispatcher().ReadSignal(&Timer->Header) > 0;
}
