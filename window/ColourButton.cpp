#include "ColourButton.h"

#include "Color.h"
#include "GdiPaint.h"

#include <string>

namespace {

constexpr int kBevelWidth = 2;
// Between the bevel and the focus rectangle.
constexpr int kFocusInset = 2;
// How far the caption moves while the button is held down.
constexpr int kPressedShift = 1;

void DrawBevel(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight)
{
    FillSolid(dc, {rect.left, rect.top, rect.right, rect.top + kBevelWidth}, topLeft);
    FillSolid(dc, {rect.left, rect.top, rect.left + kBevelWidth, rect.bottom}, topLeft);
    FillSolid(dc, {rect.left, rect.bottom - kBevelWidth, rect.right, rect.bottom}, bottomRight);
    FillSolid(dc, {rect.right - kBevelWidth, rect.top, rect.right, rect.bottom}, bottomRight);
}

std::wstring CaptionOf(HWND button)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(button)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(button, &text[0], static_cast<int>(text.size()))));
    return text;
}

void DrawCaption(HDC dc, HWND button, RECT area, COLORREF color, bool pressed)
{
    if (pressed) {
        OffsetRect(&area, kPressedShift, kPressedShift);
    }
    const std::wstring caption = CaptionOf(button);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColor = SetTextColor(dc, color);
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
}

}  // namespace

bool ColourButton::Create(UINT id, HWND dialog, COLORREF face, COLORREF caption)
{
    hwnd_ = GetDlgItem(dialog, static_cast<int>(id));
    if (hwnd_ == nullptr) {
        return false;
    }
    const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    SetWindowLongPtrW(hwnd_, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
    SetColours(face, caption, true);
    return true;
}

// CLR_INVALID (-1) leaves that colour as it is.
void ColourButton::SetColours(COLORREF face, COLORREF caption, bool repaint)
{
    if (face != CLR_INVALID) {
        face_ = face;
    }
    if (caption != CLR_INVALID) {
        caption_ = caption;
    }
    if (repaint && hwnd_ != nullptr) {
        InvalidateRect(hwnd_, nullptr, FALSE);
        UpdateWindow(hwnd_);
    }
}

void ColourButton::Draw(const DRAWITEMSTRUCT& item) const
{
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const COLORREF light = Lighten(face_);
    const COLORREF dark = DarkShade(face_);
    DrawBevel(item.hDC, item.rcItem, pressed ? dark : light, pressed ? light : dark);
    RECT inside = item.rcItem;
    InflateRect(&inside, -kBevelWidth, -kBevelWidth);
    FillSolid(item.hDC, inside, face_);
    DrawCaption(item.hDC, item.hwndItem, inside, caption_, pressed);
    if ((item.itemState & ODS_FOCUS) != 0) {
        InflateRect(&inside, -kFocusInset, -kFocusInset);
        DrawFocusRect(item.hDC, &inside);
    }
}
