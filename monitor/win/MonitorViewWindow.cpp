#include "MonitorViewWindow.h"

#include <utility>

namespace {

const wchar_t kViewClass[] = L"VantrelMonitorView";

}  // namespace

bool MonitorViewWindow::Create(HWND parent, const GdiSurface& surface, Input input)
{
    surface_ = &surface;
    input_ = std::move(input);
    return CreateChildWindow(kViewClass, nullptr, parent, WS_CHILD | WS_VISIBLE, WS_EX_STATICEDGE);
}

int MonitorViewWindow::ClientHeight() const
{
    RECT client = {};
    GetClientRect(Handle(), &client);
    return client.bottom;
}

LRESULT MonitorViewWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: Paint(); return 0;
    case WM_ERASEBKGND:  // the copy covers everything
        return 1;
    case WM_LBUTTONDOWN:
        SetFocus(Handle());
        if (input_.click)
            input_.click(static_cast<short>(HIWORD(lParam)));
        return 0;
    case WM_KEYDOWN:
        if (input_.key && input_.key(wParam))
            return 0;
        break;
    default: break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

void MonitorViewWindow::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Handle(), &paint);
    RECT client = {};
    GetClientRect(Handle(), &client);
    surface_->CopyTo(dc, client.right, client.bottom);
    EndPaint(Handle(), &paint);
}
