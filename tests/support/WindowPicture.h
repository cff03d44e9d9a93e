// A picture of a window as the screen shows it, for checking colours and
// for saving as a BMP file to look at.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct WindowPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;  // top-down rows of 0x00RRGGBB

    // Colour values as windows use them: 0x00BBGGRR.
    uint32_t ColorAt(int x, int y) const;
    int CountColor(const RECT& area, uint32_t color) const;
};

// The whole window, frame included.
WindowPicture TakeWindowPicture(HWND hwnd);
// The same once its painting has settled, for a window of another thread
// that may still be painting itself for the first time.
WindowPicture TakeSettledPicture(HWND hwnd);
bool WriteBmp(const WindowPicture& picture, const char* path);
// The screen part that the windows cover, each window pasted where it
// shows, bottom to top: the picture a screenshot would give of them.
WindowPicture TakeWindowsPicture(const std::vector<HWND>& bottomToTop);
// Where a child's client area starts inside its top-level window's picture.
POINT ClientOriginInWindow(HWND child, HWND window);
