#include "WindowPicture.h"

#include <cstdio>
#include <utility>

uint32_t WindowPicture::ColorAt(int x, int y) const
{
    const uint32_t rgb = pixels[static_cast<size_t>(y) * width + x];
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

int WindowPicture::CountColor(const RECT& area, uint32_t color) const
{
    int count = 0;
    for (int y = area.top; y < area.bottom && y < height; ++y) {
        for (int x = area.left; x < area.right && x < width; ++x)
            count += ColorAt(x, y) == color ? 1 : 0;
    }
    return count;
}

WindowPicture TakeWindowPicture(HWND hwnd)
{
    WindowPicture picture;
    RECT rect = {};
    GetWindowRect(hwnd, &rect);
    picture.width = rect.right - rect.left;
    picture.height = rect.bottom - rect.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC window = GetWindowDC(hwnd);
    HDC memory = CreateCompatibleDC(window);
    HBITMAP bitmap = CreateDIBSection(window, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, picture.width, picture.height, window, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    picture.pixels.assign(pixels, pixels + static_cast<size_t>(picture.width) * picture.height);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(hwnd, window);
    return picture;
}

WindowPicture TakeSettledPicture(HWND hwnd)
{
    // Two pictures in a row agree, each taken while the window's thread is
    // back in its message loop, not in the middle of a paint.
    WindowPicture last;
    for (int tries = 0; tries < 50; ++tries) {
        SendMessageW(hwnd, WM_NULL, 0, 0);
        WindowPicture next = TakeWindowPicture(hwnd);
        if (next.pixels == last.pixels) {
            break;
        }
        last = std::move(next);
        Sleep(100);
    }
    return last;
}

bool WriteBmp(const WindowPicture& picture, const char* path)
{
    const uint32_t imageSize = static_cast<uint32_t>(picture.pixels.size() * 4);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + imageSize;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = -picture.height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr)
        return false;
    const bool written = std::fwrite(&file, sizeof file, 1, out) == 1 &&
                         std::fwrite(&header, sizeof header, 1, out) == 1 &&
                         std::fwrite(picture.pixels.data(), 1, imageSize, out) == imageSize;
    return std::fclose(out) == 0 && written;
}

POINT ClientOriginInWindow(HWND child, HWND window)
{
    POINT origin = {0, 0};
    ClientToScreen(child, &origin);
    RECT rect = {};
    GetWindowRect(window, &rect);
    return POINT{origin.x - rect.left, origin.y - rect.top};
}

WindowPicture TakeWindowsPicture(const std::vector<HWND>& bottomToTop)
{
    RECT all = {};
    for (HWND window : bottomToTop) {
        RECT rect = {};
        GetWindowRect(window, &rect);
        UnionRect(&all, &all, &rect);
    }
    WindowPicture canvas;
    canvas.width = all.right - all.left;
    canvas.height = all.bottom - all.top;
    canvas.pixels.assign(static_cast<size_t>(canvas.width) * canvas.height, 0x3A6EA5);  // the desktop's colour
    for (HWND window : bottomToTop) {
        RECT rect = {};
        GetWindowRect(window, &rect);
        const WindowPicture picture = TakeSettledPicture(window);
        for (int y = 0; y < picture.height; ++y) {
            for (int x = 0; x < picture.width; ++x) {
                canvas.pixels[static_cast<size_t>(rect.top - all.top + y) * canvas.width + (rect.left - all.left + x)] =
                    picture.pixels[static_cast<size_t>(y) * picture.width + x];
            }
        }
    }
    return canvas;
}
