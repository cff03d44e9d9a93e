#include "DisplaySettings.h"

MonitorTiming ReadTimingForDialog()
{
    return MonitorTiming{TIMER_RANGE.ValueOr(ReadTimer(), DEFAULT_TIMER),
                         LIMIT_RANGE.ValueOr(ReadLimit(), DEFAULT_LIMIT)};
}

bool WriteTiming(const MonitorTiming& timing)
{
    return ChangeSettingsAsOne(
        [&](const char* file) { return WriteTimer(timing.timer, file) && WriteLimit(timing.limit, file); });
}

std::string TimingRefusal(RangeCheck check, SettingRange range)
{
    return RefusalMessage(check, range, "整数を入力してください。");
}

MonitorColours ReadColoursForDialog()
{
    MonitorColours colours{};
    for (int number = 1; number <= SYSTEM_COLOR_COUNT; ++number)
        colours[number - 1] = ReadColor(number);
    return colours;
}

bool WriteColours(const MonitorColours& colours)
{
    return ChangeSettingsAsOne([&](const char* file) {
        for (int number = 1; number <= SYSTEM_COLOR_COUNT; ++number) {
            if (!WriteColor(number, colours[number - 1], file))
                return false;
        }
        return true;
    });
}
