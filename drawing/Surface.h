// The drawing operations of the monitor's layout pass. The screen (GDI) and
// the tests each provide a surface; nothing in the pass is bound to a screen.
#pragma once

#include "Color.h"

#include <cstdint>
#include <string_view>

enum class Font : uint8_t {
    Data,   // 20 px: hexadecimal and text cells, the "E" mark
    Small,  // 15 px: header, labels, counters, time counters, error codes
};

struct Rect {
    int x;
    int y;
    int width;
    int height;
};

// Side of the square scratch box in which one two-byte character is drawn
// before its halves are copied onto two text cells.
constexpr int GLYPH_BOX_SIZE = 20;

class Surface {
public:
    virtual ~Surface() = default;

    virtual void FillRect(const Rect& rect, Color color) = 0;
    // text holds cp932 bytes; drawn with an opaque background.
    virtual void DrawText(int x, int y, Font font, Color textColor, Color background, std::string_view text) = 0;
    virtual void DrawLine(int x1, int y1, int x2, int y2, int penWidth, Color color) = 0;
    virtual int TextWidth(Font font, std::string_view text) = 0;

    // The glyph box: filled, drawn into with its own default font (no font
    // is chosen for it), then copied from onto this surface.
    virtual void FillGlyphBox(Color color) = 0;
    virtual void DrawGlyphBoxText(int x, int y, Color textColor, Color background, std::string_view text) = 0;
    virtual void CopyFromGlyphBox(const Rect& source, int x, int y) = 0;
};
