#include "Window.h"

namespace {

const wchar_t kAcceleratorProperty[] = L"VantrelAccelerators";

// The keys of the top-level window that `msg` goes to, as its command.
bool TranslateWindowKeys(MSG& msg)
{
    HWND topLevel = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    auto keys = static_cast<HACCEL>(topLevel != nullptr ? GetPropW(topLevel, kAcceleratorProperty) : nullptr);
    return keys != nullptr && TranslateAcceleratorW(topLevel, keys, &msg) != 0;
}

}  // namespace

Window::~Window()
{
    if (hwnd_ == nullptr) {
        return;
    }
    HWND hwnd = hwnd_;
    Detach();
    DestroyWindow(hwnd);
}

bool Window::StartTimer(UINT_PTR id, UINT periodMs)
{
    return SetTimer(hwnd_, id, periodMs, nullptr) != 0;
}

void Window::StopTimer(UINT_PTR id)
{
    KillTimer(hwnd_, id);
}

bool Window::RegisterWindowClass(const wchar_t* className, HBRUSH background)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProcThunk;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = background;
    wc.lpszClassName = className;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool Window::CreateFromParams(const WindowParams& params)
{
    HWND hwnd =
        CreateWindowExW(params.exStyle, params.className, params.title, params.style, params.x, params.y, params.width,
                        params.height, params.parent, params.menu, GetModuleHandleW(nullptr), this);
    return hwnd != nullptr;
}

bool Window::CreateChildWindow(const wchar_t* className, HBRUSH background, HWND parent, DWORD style, DWORD exStyle)
{
    if (!RegisterWindowClass(className, background)) {
        return false;
    }
    WindowParams params;
    params.className = className;
    params.style = style;
    params.exStyle = exStyle;
    params.x = params.y = params.width = params.height = 0;
    params.parent = parent;
    return CreateFromParams(params);
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate() ? 0 : -1;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_TIMER:
        if (OnTimer(wParam)) {
            return 0;
        }
        break;
    default: break;
    }
    return DefaultHandling(message, wParam, lParam);
}

LRESULT Window::DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::WindowProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        static_cast<Window*>(create->lpCreateParams)->Attach(hwnd);
    }
    Window* owner = OwnerOf(hwnd);
    if (owner == nullptr) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    LRESULT result = owner->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemovePropW(hwnd, kAcceleratorProperty);
        owner->Detach();
    }
    return result;
}

Window* Window::OwnerOf(HWND hwnd)
{
    return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

void Window::Attach(HWND hwnd)
{
    hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void Window::Detach()
{
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
}

int RunMessageLoop()
{
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            return -1;
        }
        if (!TranslateWindowKeys(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

void SetWindowAccelerators(HWND topLevel, HACCEL keys)
{
    SetPropW(topLevel, kAcceleratorProperty, keys);
}
