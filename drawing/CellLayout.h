// Where an owner-drawn list puts the text of a cell: aligned by its column
// when it fits with 2 pixels to spare on each side, else cut at a character
// and ended with "...".
#pragma once

#include <functional>
#include <string>
#include <string_view>

enum class CellAlign { Left, Right, Centre };

struct CellText {
    std::u16string text;
    int x;  // from the cell's left edge
};

// The width in pixels that a text takes when drawn.
using TextWidth = std::function<int(std::u16string_view)>;

// A cell narrower than "..." keeps the whole text; the caller clips it.
CellText LayOutCell(int cellWidth, CellAlign align, std::u16string_view text, const TextWidth& width);
