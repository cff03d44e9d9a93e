// The scalar keys of section "System" with their defaults when absent.
#pragma once

#include <stdint.h>

constexpr int SYSTEM_COLOR_COUNT = 8;

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

// Colour number 1..8 as stored under "Color%d", or its default.
uint32_t ReadColor(int number);
void WriteColor(int number, uint32_t color);
uint32_t DefaultColor(int number);
