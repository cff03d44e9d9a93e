// The window layer: one window procedure for every window class of the
// application forwards each message to the C++ object that owns the window.
#pragma once

#include <windows.h>

// What CreateWindowExW needs, besides the owning object.
struct WindowParams {
    const wchar_t* className = nullptr;
    const wchar_t* title = L"";
    DWORD style = WS_OVERLAPPEDWINDOW;
    DWORD exStyle = 0;
    int x = CW_USEDEFAULT;
    int y = CW_USEDEFAULT;
    int width = CW_USEDEFAULT;
    int height = CW_USEDEFAULT;
    HWND parent = nullptr;
    HMENU menu = nullptr;
};

class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // Destroys a window that is still alive, without calling back into the
    // half-destroyed object.
    virtual ~Window();

    HWND Handle() const { return hwnd_; }

    bool StartTimer(UINT_PTR id, UINT periodMs);
    void StopTimer(UINT_PTR id);

protected:
    // Registers a class whose messages reach the owning Window; registering
    // a class twice (several windows of one kind) is not an error.
    static bool RegisterWindowClass(const wchar_t* className, HBRUSH background);
    // Fails when the class is unknown or OnCreate refuses.
    bool CreateFromParams(const WindowParams& params);
    // A visible child of `parent` in a class of its own, placed later by the
    // parent's layout.
    bool CreateChildWindow(const wchar_t* className, HBRUSH background, HWND parent,
                           DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, DWORD exStyle = 0);

    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandling(UINT message, WPARAM wParam, LPARAM lParam);

    virtual bool OnCreate() { return true; }
    virtual void OnDestroy() {}
    // False leaves the timer to the default handling.
    virtual bool OnTimer(UINT_PTR) { return false; }

private:
    static LRESULT CALLBACK WindowProcThunk(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static Window* OwnerOf(HWND hwnd);
    void Attach(HWND hwnd);
    void Detach();

    HWND hwnd_ = nullptr;
};

// Keys of a top-level window, which the message loop translates into its
// commands for every window inside it. The table is the caller's.
void SetWindowAccelerators(HWND topLevel, HACCEL keys);

// Runs the thread's message loop until WM_QUIT; returns its exit code.
int RunMessageLoop();

// Shown by its own style, whether or not its parent is visible yet.
inline bool HasVisibleStyle(HWND hwnd)
{
    return (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
}
