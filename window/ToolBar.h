// The frame's toolbar: flat buttons from one strip bitmap, tooltips asked
// from the parent, docked at the top.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <stddef.h>

// Command 0 in a button list stands for a separator.
constexpr UINT TOOLBAR_SEPARATOR = 0;

class ToolBar {
public:
    ToolBar() = default;
    ToolBar(const ToolBar&) = delete;
    ToolBar& operator=(const ToolBar&) = delete;
    ~ToolBar();

    // The bitmap holds one 16x15 image per command, in button order, on a
    // magenta background that is drawn transparent.
    bool Create(HWND parent, UINT bitmapId, const UINT* commands, size_t count);
    HWND Handle() const { return hwnd_; }
    // Height taken from the frame's client area; 0 while hidden.
    int Height() const;
    void FitToParent();
    void EnableButton(UINT command, bool enabled);

private:
    bool AddImages(UINT bitmapId);
    bool AddButtons(const UINT* commands, size_t count);

    HWND hwnd_ = nullptr;
    HIMAGELIST images_ = nullptr;
};
