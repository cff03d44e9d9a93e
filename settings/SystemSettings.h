// The scalar keys of section "System" with their defaults when absent.
#pragma once

#include "Settings.h"

#include <stdint.h>

constexpr int SYSTEM_COLOR_COUNT = 8;
// The monitor's refresh period and the lower limit of shown time counters, ms.
constexpr uint32_t DEFAULT_TIMER = 100;
constexpr uint32_t DEFAULT_LIMIT = 1;

struct SystemSettings {
    int32_t WinType;
    int32_t WinPosX;
    int32_t WinPosY;
    int32_t WinSizeX;
    int32_t WinSizeY;
    int32_t Split1Row;
    int32_t Split1Col;
    int32_t DataCount;
    int32_t CapWinSizeX;
    int32_t CapWinSizeY;
    uint32_t Timer;
    uint32_t Limit;
    uint32_t Color[SYSTEM_COLOR_COUNT];  // Color1..Color8, 0x00BBGGRR
    int32_t PrintTop;
    int32_t PrintBottom;
    int32_t PrintLeft;
    int32_t PrintRight;
};

// Each key as the file holds it, or its default.
SystemSettings ReadSystemSettings();

uint32_t ReadTimer();
uint32_t ReadLimit();
// As decimal text, to the settings file or a draft of it; false when the
// file could not be written.
bool WriteTimer(uint32_t timer, const char* file = SETTINGS_FILE);
bool WriteLimit(uint32_t limit, const char* file = SETTINGS_FILE);

// Colour number 1..8 as stored under "Color%d", or its default: only its
// red, green and blue, as GDI would read a top byte as a palette index (a
// negative value has one too).
uint32_t ReadColor(int number);
// False for a number outside 1..8 or when the file could not be written.
bool WriteColor(int number, uint32_t color, const char* file = SETTINGS_FILE);
uint32_t DefaultColor(int number);
