#include "SystemSettings.h"

#include "Settings.h"

namespace {

const char kTimerKey[] = "Timer";
const char kLimitKey[] = "Limit";
constexpr uint32_t kRgbMask = 0x00FFFFFF;

constexpr uint32_t DEFAULT_COLORS[SYSTEM_COLOR_COUNT] = {
    16512,     // received data
    16711680,  // sent data
    32896,     // time counters
    0,         // separator lines
    255,       // line error codes
    16776960,  // row labels
    16777215,  // background
    16761024,  // background of selected lines
};

int32_t ReadSigned(const char* key, int32_t defaultValue)
{
    return static_cast<int32_t>(ReadInt(SETTINGS_SYSTEM, key, static_cast<uint32_t>(defaultValue)));
}

bool IsColorNumber(int number)
{
    return number >= 1 && number <= SYSTEM_COLOR_COUNT;
}

}  // namespace

uint32_t DefaultColor(int number)
{
    return IsColorNumber(number) ? DEFAULT_COLORS[number - 1] : 0;
}

uint32_t ReadColor(int number)
{
    return ReadInt(SETTINGS_SYSTEM, NumberedName("Color", number).c_str(), DefaultColor(number)) & kRgbMask;
}

bool WriteColor(int number, uint32_t color, const char* file)
{
    return IsColorNumber(number) &&
           WriteInt(SETTINGS_SYSTEM, NumberedName("Color", number).c_str(), static_cast<int32_t>(color), file);
}

uint32_t ReadTimer()
{
    return ReadInt(SETTINGS_SYSTEM, kTimerKey, DEFAULT_TIMER);
}

uint32_t ReadLimit()
{
    return ReadInt(SETTINGS_SYSTEM, kLimitKey, DEFAULT_LIMIT);
}

bool WriteTimer(uint32_t timer, const char* file)
{
    return WriteInt(SETTINGS_SYSTEM, kTimerKey, static_cast<int32_t>(timer), file);
}

bool WriteLimit(uint32_t limit, const char* file)
{
    return WriteInt(SETTINGS_SYSTEM, kLimitKey, static_cast<int32_t>(limit), file);
}

SystemSettings ReadSystemSettings()
{
    SystemSettings settings{};
    settings.WinType = ReadSigned("WinType", 0);
    settings.WinPosX = ReadSigned("WinPosX", 0);
    settings.WinPosY = ReadSigned("WinPosY", 0);
    settings.WinSizeX = ReadSigned("WinSizeX", 0);
    settings.WinSizeY = ReadSigned("WinSizeY", 0);
    settings.Split1Row = ReadSigned("Split1Row", 400);
    settings.Split1Col = ReadSigned("Split1Col", 200);
    settings.DataCount = ReadSigned("DataCount", 0);
    settings.CapWinSizeX = ReadSigned("CapWinSizeX", 0);
    settings.CapWinSizeY = ReadSigned("CapWinSizeY", 0);
    settings.Timer = ReadTimer();
    settings.Limit = ReadLimit();
    for (int number = 1; number <= SYSTEM_COLOR_COUNT; ++number)
        settings.Color[number - 1] = ReadColor(number);
    settings.PrintTop = ReadSigned("PrintTop", 0);
    settings.PrintBottom = ReadSigned("PrintBottom", 0);
    settings.PrintLeft = ReadSigned("PrintLeft", 0);
    settings.PrintRight = ReadSigned("PrintRight", 0);
    return settings;
}
