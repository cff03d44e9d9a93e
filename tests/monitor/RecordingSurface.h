// A surface that records every drawing operation, for asserting what the
// layout pass drew, where, in which font and colours.
#pragma once

#include "Surface.h"

#include <string>
#include <vector>

enum class SurfaceOpKind { Fill, Text, Line, GlyphFill, GlyphText, GlyphCopy };

struct SurfaceOp {
    SurfaceOpKind kind;
    Rect rect;         // Fill: the area; GlyphCopy: the source in the glyph box
    int x, y;          // Text, GlyphText, GlyphCopy: the point; Line: the start
    int x2, y2;        // Line: the end
    int penWidth;      // Line
    Font font;         // Text
    Color color;       // fill, text or pen colour
    Color background;  // Text, GlyphText
    std::string text;  // Text, GlyphText: cp932 bytes
};

class RecordingSurface : public Surface {
public:
    // Text widths: 8 px per byte in the data font, 6 in the small font.
    static constexpr int DATA_BYTE_WIDTH = 8;
    static constexpr int SMALL_BYTE_WIDTH = 6;

    void FillRect(const Rect& rect, Color color) override
    {
        ops.push_back(SurfaceOp{SurfaceOpKind::Fill, rect, 0, 0, 0, 0, 0, Font::Data, color, 0, {}});
    }

    void DrawText(int x, int y, Font font, Color textColor, Color background, std::string_view text) override
    {
        ops.push_back(
            SurfaceOp{SurfaceOpKind::Text, {}, x, y, 0, 0, 0, font, textColor, background, std::string(text)});
    }

    void DrawLine(int x1, int y1, int x2, int y2, int penWidth, Color color) override
    {
        ops.push_back(SurfaceOp{SurfaceOpKind::Line, {}, x1, y1, x2, y2, penWidth, Font::Data, color, 0, {}});
    }

    int TextWidth(Font font, std::string_view text) override
    {
        return static_cast<int>(text.size()) * (font == Font::Data ? DATA_BYTE_WIDTH : SMALL_BYTE_WIDTH);
    }

    void FillGlyphBox(Color color) override
    {
        ops.push_back(SurfaceOp{
            SurfaceOpKind::GlyphFill, {0, 0, GLYPH_BOX_SIZE, GLYPH_BOX_SIZE}, 0, 0, 0, 0, 0, Font::Data, color, 0, {}});
    }

    void DrawGlyphBoxText(int x, int y, Color textColor, Color background, std::string_view text) override
    {
        ops.push_back(SurfaceOp{
            SurfaceOpKind::GlyphText, {}, x, y, 0, 0, 0, Font::Data, textColor, background, std::string(text)});
    }

    void CopyFromGlyphBox(const Rect& source, int x, int y) override
    {
        ops.push_back(SurfaceOp{SurfaceOpKind::GlyphCopy, source, x, y, 0, 0, 0, Font::Data, 0, 0, {}});
    }

    std::vector<SurfaceOp> OfKind(SurfaceOpKind kind) const
    {
        std::vector<SurfaceOp> result;
        for (const SurfaceOp& op : ops) {
            if (op.kind == kind)
                result.push_back(op);
        }
        return result;
    }

    // Texts drawn at exactly (x, y), in drawing order.
    std::vector<SurfaceOp> TextsAt(int x, int y) const
    {
        std::vector<SurfaceOp> result;
        for (const SurfaceOp& op : ops) {
            if (op.kind == SurfaceOpKind::Text && op.x == x && op.y == y)
                result.push_back(op);
        }
        return result;
    }

    std::vector<SurfaceOp> ops;
};
