#include "StatusBar.h"

#include "Window.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr int kMessagePaneMinWidth = 40;
constexpr int kClockPaneWidth = 140;
constexpr int kMessagePane = 0;
constexpr int kClockPane = 1;

HFONT CreatePointFont(const std::wstring& face, int points)
{
    HDC screen = GetDC(nullptr);
    int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, face.c_str());
}

}  // namespace

StatusBar::~StatusBar()
{
    if (hwnd_ != nullptr && IsWindow(hwnd_)) {
        DestroyWindow(hwnd_);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
}

bool StatusBar::Create(HWND parent, const std::wstring& fontFace, int points)
{
    hwnd_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBARS_SIZEGRIP, 0, 0,
        0, 0, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr) {
        return false;
    }
    font_ = CreatePointFont(fontFace, points);
    if (font_ == nullptr) {
        return false;
    }
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    FitToParent();
    return true;
}

int StatusBar::Height() const
{
    if (hwnd_ == nullptr || !HasVisibleStyle(hwnd_)) {
        return 0;
    }
    RECT rect;
    GetWindowRect(hwnd_, &rect);
    return rect.bottom - rect.top;
}

void StatusBar::FitToParent()
{
    SendMessageW(hwnd_, WM_SIZE, 0, 0);
    SetPanes();
}

void StatusBar::SetPanes()
{
    RECT client;
    GetClientRect(hwnd_, &client);
    int edges[2] = {std::max(kMessagePaneMinWidth, static_cast<int>(client.right) - kClockPaneWidth), -1};
    SendMessageW(hwnd_, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(edges));
}

void StatusBar::SetMessageText(const std::wstring& text)
{
    SendMessageW(hwnd_, SB_SETTEXTW, kMessagePane, reinterpret_cast<LPARAM>(text.c_str()));
}

void StatusBar::SetClockText(const std::wstring& text)
{
    SetPanes();
    SendMessageW(hwnd_, SB_SETTEXTW, kClockPane, reinterpret_cast<LPARAM>(text.c_str()));
}
