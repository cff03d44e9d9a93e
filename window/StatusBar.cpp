#include "StatusBar.h"

#include "Window.h"

#include <commctrl.h>

#include <utility>

namespace {

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

bool StatusBar::Create(HWND parent, UINT id, PaneLayout layout)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    layout_ = std::move(layout);
    hwnd_ =
        CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | SBARS_SIZEGRIP, 0, 0, 0, 0,
                        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ == nullptr) {
        return false;
    }
    FitToParent();
    return true;
}

bool StatusBar::SetFont(const std::wstring& face, int points)
{
    font_ = CreatePointFont(face, points);
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
    RECT client;
    GetClientRect(hwnd_, &client);
    std::vector<int> edges = layout_(client.right);
    SendMessageW(hwnd_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void StatusBar::SetPaneText(int pane, const std::wstring& text)
{
    SendMessageW(hwnd_, SB_SETTEXTW, pane, reinterpret_cast<LPARAM>(text.c_str()));
}
