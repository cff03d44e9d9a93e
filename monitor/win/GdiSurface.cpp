#include "GdiSurface.h"

#include "MonitorView.h"
#include "WideText.h"

#include <string_view>

namespace {

struct FontSize {
    int height;
    int replacementWidth;  // one-byte character width that keeps the cell geometry
};
constexpr FontSize DATA_FONT = {20, 10};
constexpr FontSize SMALL_FONT = {15, 7};
constexpr int FONT_WEIGHT = 600;
const wchar_t kFace[] = L"Terminal";
// Stands in where "Terminal" does not exist, narrowed to the cells.
const wchar_t kReplacementFace[] = L"MS Gothic";

HFONT CreateFace(const wchar_t* face, int height, int width)
{
    return CreateFontW(height, width, 0, 0, FONT_WEIGHT, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_CHARACTER_PRECIS,
                       CLIP_CHARACTER_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

// Whether the font mapper gave the asked face rather than a substitute.
bool RealisedAs(HDC dc, HFONT font, const wchar_t* face)
{
    HGDIOBJ previous = SelectObject(dc, font);
    wchar_t realised[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, realised);
    SelectObject(dc, previous);
    return lstrcmpiW(realised, face) == 0;
}

int CharacterWidth(HDC dc, HFONT font)
{
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32W(dc, L"0", 1, &size);
    SelectObject(dc, previous);
    return size.cx;
}

// A synthesised bold widens every character (by one pixel in GDI), so the
// asked width is narrowed by what the realised font overshoots.
HFONT CreateReplacementFont(HDC dc, const FontSize& size)
{
    HFONT font = CreateFace(kReplacementFace, size.height, size.replacementWidth);
    if (font == nullptr)
        return nullptr;
    const int excess = CharacterWidth(dc, font) - size.replacementWidth;
    if (excess <= 0 || excess >= size.replacementWidth)
        return font;
    DeleteObject(font);
    return CreateFace(kReplacementFace, size.height, size.replacementWidth - excess);
}

HFONT CreateMonitorFont(HDC dc, const FontSize& size)
{
    HFONT font = CreateFace(kFace, size.height, 0);
    if (font != nullptr && RealisedAs(dc, font, kFace))
        return font;
    if (font != nullptr)
        DeleteObject(font);
    return CreateReplacementFont(dc, size);
}

void FillSolid(HDC dc, const RECT& rect, Color color)
{
    SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

void DrawOpaqueText(HDC dc, int x, int y, Color textColor, Color background, std::string_view text)
{
    const std::wstring wide = Cp932ToWide(text);
    SetTextColor(dc, textColor);
    SetBkColor(dc, background);
    SetBkMode(dc, OPAQUE);
    TextOutW(dc, x, y, wide.data(), static_cast<int>(wide.size()));
}

}  // namespace

std::unique_ptr<GdiSurface> GdiSurface::Create(int width, int height)
{
    std::unique_ptr<GdiSurface> surface(new GdiSurface());
    if (!surface->Init(width, height))
        return nullptr;
    return surface;
}

GdiSurface::~GdiSurface()
{
    if (originalFont_ != nullptr)
        SelectObject(surface_.dc, originalFont_);
    if (dataFont_ != nullptr)
        DeleteObject(dataFont_);
    if (smallFont_ != nullptr)
        DeleteObject(smallFont_);
    FreeMemoryDc(glyphBox_);
    FreeMemoryDc(surface_);
}

bool GdiSurface::Init(int width, int height)
{
    HDC screen = GetDC(nullptr);
    if (screen == nullptr)
        return false;
    const bool made = MakeMemoryDc(screen, width, height, surface_) &&
                      MakeMemoryDc(screen, GLYPH_BOX_SIZE, GLYPH_BOX_SIZE, glyphBox_);
    ReleaseDC(nullptr, screen);
    if (!made)
        return false;
    dataFont_ = CreateMonitorFont(surface_.dc, DATA_FONT);
    smallFont_ = CreateMonitorFont(surface_.dc, SMALL_FONT);
    if (dataFont_ == nullptr || smallFont_ == nullptr)
        return false;
    originalFont_ = SelectObject(surface_.dc, smallFont_);
    return true;
}

bool GdiSurface::MakeMemoryDc(HDC reference, int width, int height, MemoryDc& target)
{
    target.dc = CreateCompatibleDC(reference);
    if (target.dc == nullptr)
        return false;
    target.bitmap = CreateCompatibleBitmap(reference, width, height);
    if (target.bitmap == nullptr)
        return false;
    target.original = SelectObject(target.dc, target.bitmap);
    return true;
}

void GdiSurface::FreeMemoryDc(MemoryDc& target)
{
    if (target.original != nullptr)
        SelectObject(target.dc, target.original);
    if (target.bitmap != nullptr)
        DeleteObject(target.bitmap);
    if (target.dc != nullptr)
        DeleteDC(target.dc);
    target = MemoryDc{};
}

bool GdiSurface::ReadBits(int width, int height, BITMAPINFO& info, unsigned char* bits) const
{
    info = BITMAPINFO{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    // GetDIBits wants the bitmap out of its DC meanwhile.
    SelectObject(surface_.dc, surface_.original);
    const int rows = GetDIBits(surface_.dc, surface_.bitmap, 0, height, bits, &info, DIB_RGB_COLORS);
    SelectObject(surface_.dc, surface_.bitmap);
    return rows == height;
}

void GdiSurface::CopyTo(HDC target, int width, int height) const
{
    BitBlt(target, 0, 0, width, height, surface_.dc, 0, 0, SRCCOPY);
}

std::wstring GdiSurface::FaceName(Font font) const
{
    HGDIOBJ previous = SelectObject(surface_.dc, FontOf(font));
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(surface_.dc, LF_FACESIZE, face);
    SelectObject(surface_.dc, previous);
    return face;
}

void GdiSurface::FillRect(const Rect& rect, Color color)
{
    FillSolid(surface_.dc, RECT{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height}, color);
}

void GdiSurface::DrawText(int x, int y, Font font, Color textColor, Color background, std::string_view text)
{
    SelectObject(surface_.dc, FontOf(font));
    DrawOpaqueText(surface_.dc, x, y, textColor, background, text);
}

void GdiSurface::DrawLine(int x1, int y1, int x2, int y2, int penWidth, Color color)
{
    HPEN pen = CreatePen(PS_SOLID, penWidth, color);
    if (pen == nullptr)
        return;
    HGDIOBJ previous = SelectObject(surface_.dc, pen);
    MoveToEx(surface_.dc, x1, y1, nullptr);
    LineTo(surface_.dc, x2, y2);
    SelectObject(surface_.dc, previous);
    DeleteObject(pen);
}

int GdiSurface::TextWidth(Font font, std::string_view text)
{
    const std::wstring wide = Cp932ToWide(text);
    SelectObject(surface_.dc, FontOf(font));
    SIZE size = {};
    GetTextExtentPoint32W(surface_.dc, wide.data(), static_cast<int>(wide.size()), &size);
    return size.cx;
}

void GdiSurface::FillGlyphBox(Color color)
{
    FillSolid(glyphBox_.dc, RECT{0, 0, GLYPH_BOX_SIZE, GLYPH_BOX_SIZE}, color);
}

void GdiSurface::DrawGlyphBoxText(int x, int y, Color textColor, Color background, std::string_view text)
{
    DrawOpaqueText(glyphBox_.dc, x, y, textColor, background, text);
}

void GdiSurface::CopyFromGlyphBox(const Rect& source, int x, int y)
{
    BitBlt(surface_.dc, x, y, source.width, source.height, glyphBox_.dc, source.x, source.y, SRCCOPY);
}
