// The display settings of the capture monitors as the colour and system
// settings dialogs show and accept them.
#pragma once

#include "SettingRange.h"
#include "SystemSettings.h"

#include <stdint.h>

#include <array>
#include <string>

// Refresh period and lower time limit in milliseconds.
constexpr SettingRange TIMER_RANGE = {10, 1000};
constexpr SettingRange LIMIT_RANGE = {0, 999999};

struct MonitorTiming {
    uint32_t timer;
    uint32_t limit;
};

// A stored value outside its range shows as the default; a negative Limit
// reads as a huge one and so counts as above the range.
MonitorTiming ReadTimingForDialog();
// Both keys in one step; false, with the file as it was, when it could not
// be written.
bool WriteTiming(const MonitorTiming& timing);
// The message (UTF-8) for a refused field text; empty when accepted.
std::string TimingRefusal(RangeCheck check, SettingRange range);

// Color1..Color8 in 0x00BBGGRR.
using MonitorColours = std::array<uint32_t, SYSTEM_COLOR_COUNT>;

// A stored value beyond 0xFFFFFF (a negative one too) shows as its red,
// green and blue, as the monitors draw it.
MonitorColours ReadColoursForDialog();
// All eight in one step; false, with the file as it was, when it could not
// be written.
bool WriteColours(const MonitorColours& colours);
