// The machine clock: system time in 100-ns units since 1601 and the
// millisecond tick count, either following real time or advanced by hand.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace sim {

enum class ClockMode {
    Manual,    // time moves only when the test (or a sleeping thread) advances it
    RealTime,  // time follows the host's steady clock
};

class Clock {
public:
    static constexpr uint64_t TickLength = 100000;                      // 10 ms in 100-ns units
    static constexpr uint64_t ManualStartTime = 133485408000000000ull;  // 2024-01-01 00:00 UTC

    explicit Clock(ClockMode mode);

    ClockMode Mode() const { return mode_; }
    uint64_t Now() const;  // system time, 100-ns units since 1601-01-01 UTC
    uint32_t TickCount() const;
    void SetTickCount(uint32_t ms);
    // Manual mode only: moves time forward.
    void Advance(uint64_t interval);
    // Real-time mode: the host instant at which the machine reaches `time`.
    std::chrono::steady_clock::time_point HostInstant(uint64_t time) const;
    uint64_t Elapsed() const;  // 100-ns units since the machine started

private:
    ClockMode mode_;
    uint64_t startTime_;
    std::chrono::steady_clock::time_point hostStart_;
    std::atomic<uint64_t> manualElapsed_{0};
    std::atomic<int64_t> tickOffset_{0};  // ms added to the elapsed time for GetTickCount
};

}  // namespace sim
