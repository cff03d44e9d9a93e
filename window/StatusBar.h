// A status bar along the bottom of a frame. Its owner gives the rule that
// places the panes for a bar of a given width; the bar applies it whenever
// it follows its parent's size. It may carry a font of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class StatusBar {
public:
    // The right edge of every pane for a bar this wide; -1 runs to the end.
    using PaneLayout = std::function<std::vector<int>(int width)>;

    StatusBar() = default;
    StatusBar(const StatusBar&) = delete;
    StatusBar& operator=(const StatusBar&) = delete;
    // The window goes before the font it uses.
    ~StatusBar();

    bool Create(HWND parent, UINT id, PaneLayout layout);
    // A fixed-pitch face at this point size instead of the system's font.
    bool SetFont(const std::wstring& face, int points);
    HWND Handle() const { return hwnd_; }
    // Height taken from the parent's client area; 0 while hidden.
    int Height() const;
    // Takes the parent's width and places the panes for it.
    void FitToParent();
    void SetPaneText(int pane, const std::wstring& text);

private:
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    PaneLayout layout_;
};
