#include "Splitter.h"

#include <windowsx.h>

#include <algorithm>

namespace {

const wchar_t kSplitterClass[] = L"VantrelSplitter";
constexpr int kBarHeight = 6;

}  // namespace

bool Splitter::Create(HWND parent, int topHeight)
{
    wantedTopHeight_ = std::max(0, topHeight);
    return CreateChildWindow(kSplitterClass, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), parent);
}

void Splitter::SetPanes(HWND top, HWND bottom)
{
    top_ = top;
    bottom_ = bottom;
    Layout();
}

void Splitter::MoveTo(const RECT& area)
{
    MoveWindow(Handle(), area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
}

int Splitter::TopHeight() const
{
    // A short window squeezes row 0; the wanted height returns when it grows.
    return std::min(wantedTopHeight_, std::max(0, ClientHeight() - kBarHeight));
}

int Splitter::ColumnWidth() const
{
    RECT client;
    GetClientRect(Handle(), &client);
    return client.right;
}

int Splitter::BarHeight()
{
    return kBarHeight;
}

int Splitter::ClientHeight() const
{
    RECT client;
    GetClientRect(Handle(), &client);
    return client.bottom;
}

void Splitter::Layout()
{
    if (top_ == nullptr || bottom_ == nullptr) {
        return;
    }
    int width = ColumnWidth();
    int topHeight = TopHeight();
    int bottomTop = topHeight + kBarHeight;
    MoveWindow(top_, 0, 0, width, topHeight, TRUE);
    MoveWindow(bottom_, 0, bottomTop, width, std::max(0, ClientHeight() - bottomTop), TRUE);
}

bool Splitter::IsOnBar(int y) const
{
    int barTop = TopHeight();
    return y >= barTop && y < barTop + kBarHeight;
}

void Splitter::StartDrag(int y)
{
    dragging_ = true;
    dragOffset_ = y - TopHeight();
    SetCapture(Handle());
}

void Splitter::Drag(int y)
{
    wantedTopHeight_ = std::clamp(y - dragOffset_, 0, std::max(0, ClientHeight() - kBarHeight));
    Layout();
}

LRESULT Splitter::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: Layout(); return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT) {
            SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32645)));  // IDC_SIZENS
            return TRUE;
        }
        break;
    case WM_LBUTTONDOWN:
        if (IsOnBar(GET_Y_LPARAM(lParam))) {
            StartDrag(GET_Y_LPARAM(lParam));
        }
        return 0;
    case WM_MOUSEMOVE:
        if (dragging_) {
            Drag(GET_Y_LPARAM(lParam));
        }
        return 0;
    case WM_LBUTTONUP:
        if (dragging_) {
            ReleaseCapture();
        }
        return 0;
    case WM_CAPTURECHANGED: dragging_ = false; return 0;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}
