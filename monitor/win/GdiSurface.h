// The monitor's screen surface: a memory DC with a 1600 x 1200 bitmap, the
// 20 x 20 glyph box and the two fonts. Captured bytes are drawn by the cp932
// rules whatever the system's ANSI code page is.
#pragma once

#include <windows.h>
// Surface::DrawText, not the user32 macro of that name.
#undef DrawText

#include "MonitorView.h"
#include "Surface.h"

#include <memory>
#include <string>
#include <string_view>

class GdiSurface : public Surface {
public:
    // Null when a DC, bitmap or font cannot be made. The screen's surface is
    // 1600 x 1200; a printed page's is 640 wide.
    static std::unique_ptr<GdiSurface> Create(int width = OFFSCREEN_WIDTH, int height = OFFSCREEN_HEIGHT);
    ~GdiSurface() override;
    GdiSurface(const GdiSurface&) = delete;
    GdiSurface& operator=(const GdiSurface&) = delete;

    // Copies the surface's top-left width x height onto target at (0, 0).
    void CopyTo(HDC target, int width, int height) const;
    // The top-left width x height as a bottom-up 24-bit image without
    // compression; `bits` holds height rows of width x 3 bytes, 4-aligned.
    bool ReadBits(int width, int height, BITMAPINFO& info, unsigned char* bits) const;
    // The face the data font was realised with.
    std::wstring FaceName(Font font) const;

    void FillRect(const Rect& rect, Color color) override;
    void DrawText(int x, int y, Font font, Color textColor, Color background, std::string_view text) override;
    void DrawLine(int x1, int y1, int x2, int y2, int penWidth, Color color) override;
    int TextWidth(Font font, std::string_view text) override;

    void FillGlyphBox(Color color) override;
    void DrawGlyphBoxText(int x, int y, Color textColor, Color background, std::string_view text) override;
    void CopyFromGlyphBox(const Rect& source, int x, int y) override;

private:
    // One memory DC with its own bitmap; the DC's first bitmap is put back
    // before both are deleted.
    struct MemoryDc {
        HDC dc = nullptr;
        HBITMAP bitmap = nullptr;
        HGDIOBJ original = nullptr;
    };

    GdiSurface() = default;
    bool Init(int width, int height);
    static bool MakeMemoryDc(HDC reference, int width, int height, MemoryDc& target);
    static void FreeMemoryDc(MemoryDc& target);
    HFONT FontOf(Font font) const { return font == Font::Data ? dataFont_ : smallFont_; }

    MemoryDc surface_;
    MemoryDc glyphBox_;
    HFONT dataFont_ = nullptr;
    HFONT smallFont_ = nullptr;
    HGDIOBJ originalFont_ = nullptr;
};
