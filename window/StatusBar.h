// The frame's status bar: a stretching message pane and a clock pane of
// fixed width, in a font of its own.
#pragma once

#include <windows.h>

#include <string>

class StatusBar {
public:
    StatusBar() = default;
    StatusBar(const StatusBar&) = delete;
    StatusBar& operator=(const StatusBar&) = delete;
    // The window goes before the font it uses.
    ~StatusBar();

    bool Create(HWND parent, const std::wstring& fontFace, int points);
    HWND Handle() const { return hwnd_; }
    // Height taken from the frame's client area; 0 while hidden.
    int Height() const;
    void FitToParent();
    void SetMessageText(const std::wstring& text);
    void SetClockText(const std::wstring& text);

private:
    void SetPanes();

    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
};
