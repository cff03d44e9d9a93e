// The child window that shows the monitor's off-screen surface. It owns
// nothing: painting copies the surface (no layout pass), and clicks and keys
// go to the frame, which decides about the selection.
#pragma once

#include "GdiSurface.h"
#include "Window.h"

#include <functional>

class MonitorViewWindow : public Window {
public:
    struct Input {
        std::function<void(int y)> click;     // left button down, client y
        std::function<bool(WPARAM key)> key;  // true when the key was used
    };

    bool Create(HWND parent, const GdiSurface& surface, Input input);
    int ClientHeight() const;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Paint();

    const GdiSurface* surface_ = nullptr;
    Input input_;
};
