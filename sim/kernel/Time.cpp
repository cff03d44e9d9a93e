// System time and delays, from the machine clock.
#include "Kernel.h"

#include "../Machine.h"

namespace {

// The clock interrupt of most Windows systems (KeQueryTimeIncrement): the
// plain system time moves in these steps.
constexpr uint64_t kTimeIncrement = 156250;

}  // namespace

void KeQuerySystemTime(PLARGE_INTEGER CurrentTime)
{
    const sim::Clock& clock = sim::Machine::Current().clock();
    const uint64_t elapsed = clock.Elapsed();
    CurrentTime->QuadPart = static_cast<LONGLONG>(clock.Now() - elapsed + elapsed / kTimeIncrement * kTimeIncrement);
}

void KeQuerySystemTimePrecise(PLARGE_INTEGER CurrentTime)
{
    CurrentTime->QuadPart = static_cast<LONGLONG>(sim::Machine::Current().clock().Now());
}

ULONGLONG KeQueryInterruptTime(void)
{
    return sim::Machine::Current().clock().Elapsed();
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval)
{
    if (sim::CurrentThread().irql >= DISPATCH_LEVEL)
        sim::Fail("KeDelayExecutionThread at DISPATCH_LEVEL or above");
    sim::Machine& machine = sim::Machine::Current();
    uint64_t now = machine.clock().Now();
    uint64_t until = Interval->QuadPart < 0 ? now + static_cast<uint64_t>(-Interval->QuadPart)
                                            : static_cast<uint64_t>(Interval->QuadPart);
    if (machine.Mode() == sim::ClockMode::Manual) {
        // A sleeping thread moves the manual clock itself, tick by tick.
        while (machine.clock().Now() < until)
            machine.AdvanceTicks(1);
        return STATUS_SUCCESS;
    }
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    DISPATCHER_HEADER* header = &never.Header;
    machine.dispatcher().Wait(&header, 1, false, until);
    return STATUS_SUCCESS;
}
