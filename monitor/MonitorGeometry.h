// Where the layout pass puts things, in pixels: the screen, the printed page
// and the text a monitor saves all place the cells by these.
#pragma once

#include <cstdint>

namespace MonitorGeometry {

constexpr int HeaderHeight = 14;  // column heads above the first line
constexpr int LineHeight = 40;
constexpr int PageWidth = 640;
constexpr int BandWidth = 598;
constexpr int CounterX = 2;
constexpr int LabelX = 60;
constexpr int HexColumnX = 70;
constexpr int HexCellWidth = 23;
constexpr int TextColumnX = 450;
constexpr int TextCellWidth = 10;

// Rows inside a display line, relative to its top.
constexpr int ReceivedRow = 6;
constexpr int SentRow = 16;
constexpr int SentCounterRow = 20;
constexpr int LineErrorRow = 13;
constexpr int SecondsRow = 8;
constexpr int MillisecondsRow = 19;

}  // namespace MonitorGeometry
