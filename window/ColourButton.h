// A push button that draws itself in a face colour with a caption colour and
// a two-pixel bevel derived from the face: light on the top and left, dark on
// the bottom and right, swapped while the button is pressed.
#pragma once

#include <windows.h>

class ColourButton {
public:
    // Takes over the dialog's button `id` (made owner-drawn).
    bool Create(UINT id, HWND dialog, COLORREF face, COLORREF caption);
    HWND Handle() const { return hwnd_; }
    COLORREF Face() const { return face_; }
    COLORREF Caption() const { return caption_; }
    // Repaints at once when asked.
    void SetColours(COLORREF face, COLORREF caption, bool repaint);
    // The dialog forwards WM_DRAWITEM for this button here.
    void Draw(const DRAWITEMSTRUCT& item) const;

private:
    HWND hwnd_ = nullptr;
    COLORREF face_ = 0;
    COLORREF caption_ = 0;
};
