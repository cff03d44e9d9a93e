#include "Clock.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
// Seconds between 1601-01-01 and 1970-01-01.
constexpr uint64_t EpochDifference = 11644473600ull;

uint64_t HostSystemTime()
{
    auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    auto units = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(sinceUnixEpoch);
    return static_cast<uint64_t>(units.count()) + EpochDifference * 10000000ull;
}
}  // namespace

Clock::Clock(ClockMode mode)
    : mode_(mode), startTime_(mode == ClockMode::Manual ? ManualStartTime : HostSystemTime()),
      hostStart_(std::chrono::steady_clock::now())
{}

uint64_t Clock::Elapsed() const
{
    if (mode_ == ClockMode::Manual)
        return manualElapsed_.load();
    auto elapsed = std::chrono::steady_clock::now() - hostStart_;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100);
}

uint64_t Clock::Now() const
{
    return startTime_ + Elapsed();
}

uint32_t Clock::TickCount() const
{
    int64_t ms = static_cast<int64_t>(Elapsed() / 10000) + tickOffset_.load();
    return static_cast<uint32_t>(ms);  // wraps after 49.7 days, as on Windows
}

void Clock::SetTickCount(uint32_t ms)
{
    tickOffset_.store(static_cast<int64_t>(ms) - static_cast<int64_t>(Elapsed() / 10000));
}

void Clock::Advance(uint64_t interval)
{
    if (mode_ != ClockMode::Manual) {
        std::fprintf(stderr, "sim: the clock can be advanced by hand only in manual mode\n");
        std::abort();
    }
    manualElapsed_.fetch_add(interval);
}

std::chrono::steady_clock::time_point Clock::HostInstant(uint64_t time) const
{
    uint64_t offset = time > startTime_ ? time - startTime_ : 0;
    return hostStart_ + std::chrono::nanoseconds(static_cast<int64_t>(offset) * 100);
}

}  // namespace sim
