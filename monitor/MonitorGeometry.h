// Where the layout pass puts things, in pixels: the screen, the printed page
// and the text a monitor saves all place the cells by these.
#pragma once

namespace MonitorGeometry {

constexpr int HEADER_HEIGHT = 14;  // column heads above the first line
constexpr int LINE_HEIGHT = 40;
constexpr int PAGE_WIDTH = 640;
constexpr int BAND_WIDTH = 598;
constexpr int COUNTER_X = 2;
constexpr int LABEL_X = 60;
constexpr int HEX_COLUMN_X = 70;
constexpr int HEX_CELL_WIDTH = 23;
constexpr int TEXT_COLUMN_X = 450;
constexpr int TEXT_CELL_WIDTH = 10;

// Rows inside a display line, relative to its top.
constexpr int RECEIVED_ROW = 6;
constexpr int SENT_ROW = 16;
constexpr int SENT_COUNTER_ROW = 20;
constexpr int LINE_ERROR_ROW = 13;
constexpr int SECONDS_ROW = 8;
constexpr int MILLISECONDS_ROW = 19;

}  // namespace MonitorGeometry
