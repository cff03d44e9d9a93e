// The eight colours of a capture monitor, keys Color1..Color8 of the
// settings file; the initial values are the defaults.
#pragma once

#include "Surface.h"

struct MonitorColors {
    Color Color1 = 0x004080;  // received data cells and the received counter
    Color Color2 = 0xFF0000;  // sent data cells and the sent counter
    Color Color3 = 0x008080;  // time counters and the idle time
    Color Color4 = 0x000000;  // separator line above each display line
    Color Color5 = 0x0000FF;  // line error codes and their "E" mark
    Color Color6 = 0xFFFF00;  // row labels "R" and "S"
    Color Color7 = 0xFFFFFF;  // view background
    Color Color8 = 0xFFC0C0;  // background of selected lines
};

constexpr Color COLOR_WHITE = 0xFFFFFF;
constexpr Color COLOR_BLACK = 0x000000;
